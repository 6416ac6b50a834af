#pragma once
// The journal lines of the saves the window sends, over the LAN or a serial line. The window
// writes whole blocks, so each change is a block, old -> new bytes as hex: the bytes the module
// reported on its last read and the bytes sent. Blocks sent exactly as reported change nothing
// and are left out. No widgets.

#include "app/journal.h"
#include "core/block_store.h"
#include "core/types.h"
#include "lan/save_plan.h"
#include "ui/main/device_list_model.h"

#include <QString>

#include <vector>

namespace varnix {

struct TWrittenBlock {
    QString Name; // "block 0x05" on the LAN (its write command), "base block" on a serial line
    TIdBytes Old; // empty when the module's bytes are not known
    TIdBytes New;
};

// Fills entry.Changes from `blocks` and appends the line. Returns false with `error` set when
// the file cannot be written.
bool JournalBlocks(const QString& programDir, TJournalEntry entry, const std::vector<TWrittenBlock>& blocks,
                   QString* error = nullptr);

// A LAN save of the row's module: each block of the plan against `reported`, a copy of the
// blocks as the replies of the last read brought them (the save encodes into the block store in
// place). Outcome "sent": the window does not wait for the acknowledgements.
bool JournalWindowSave(const QString& programDir, const TDeviceRow& row, const TSavePlan& plan,
                       const TBlockStore& reported, QString* error = nullptr);

} // namespace varnix
