#pragma once
// The journal lines of the saves the window sends, over the LAN or a serial line. The window
// writes whole blocks, so each change is a block, old -> new bytes as hex: the bytes the module
// reported in the read the save was built from and the bytes sent, the Modbus block included.
// Blocks sent exactly as reported change nothing and are left out. No widgets.

#include "app/journal.h"
#include "core/types.h"
#include "engine/module_ref.h"
#include "engine/read_job.h"
#include "engine/save_job.h"

#include <QString>

#include <vector>

namespace varnix {

struct TWrittenBlock {
    QString Name; // "block 0x05" on the LAN (its write command), "base block" on a serial line
    TIdBytes Old; // empty when the module's bytes are not known
    TIdBytes New;
};

// Fills entry.Changes from `blocks` and appends the line (AppendJournal's failure when the file
// cannot be written).
TStatus JournalBlocks(const QString& programDir, TJournalEntry entry,
                      const std::vector<TWrittenBlock>& blocks);

// Every block a LAN save wrote, old (from `read`) -> new (as sent).
std::vector<TWrittenBlock> WrittenBlocks(const TSaveReport& report, const TReadResult& read);

// A LAN save of `module`: its blocks, the acknowledgements as they came back ("0x05 K"), and the
// outcome they add up to ("acknowledged", "no-answer", "password", "error"): a save is proved by
// its read-back, which the window reports in its log.
TStatus JournalWindowSave(const QString& programDir, const TFoundModule& module, const TReadResult& read,
                          const TSaveReport& report);

} // namespace varnix
