// Parses arbitrary bytes as journal.jsonl; every entry read is written back as a line, and that
// line must read back as the same single entry.
#include "app/journal.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace varnix;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const TJournalRead r = ParseJournal(bytes);
    for (const TJournalEntry& e : r.Entries) {
        if (e.Number < 1)
            std::abort();
        const QByteArray line = JournalLine(e);
        if (line.count('\n') != 1 || !line.endsWith('\n'))
            std::abort();
        const TJournalRead again = ParseJournal(line);
        if (again.Entries.size() != 1 || !again.Warnings.isEmpty())
            std::abort();
        if (again.Entries[0].Mac != e.Mac || again.Entries[0].Changes.size() != e.Changes.size())
            std::abort();
    }
    return 0;
}
