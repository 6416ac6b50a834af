#include "ui/main/window_journal.h"

#include "core/convert.h"
#include "inventory/journal_store.h"
#include "lan/lan_protocol.h"
#include "lan/save_plan.h"
#include "lang/text_codec.h"

#include <algorithm>

namespace varnix {

namespace {

QString HexText(const TIdBytes& bytes) {
    return QString::fromStdString(BytesToHexDump(bytes)).trimmed();
}

QString OutcomeWord(TOutcome o) {
    switch (o) {
    case TOutcome::Ok:
        return QStringLiteral("acknowledged");
    case TOutcome::Password:
        return QStringLiteral("password");
    case TOutcome::ModuleError:
        return QStringLiteral("error");
    default:
        return QStringLiteral("no-answer");
    }
}

} // namespace

TStatus JournalBlocks(const QString& programDir, TJournalEntry entry,
                      const std::vector<TWrittenBlock>& blocks) {
    for (const TWrittenBlock& b : blocks) {
        if (b.Old == b.New)
            continue;
        entry.Changes.append(TJournalChange{b.Name, b.Old.empty() ? QJsonValue() : QJsonValue(HexText(b.Old)),
                                            HexText(b.New)});
    }
    return AppendJournalEntry(programDir, entry);
}

std::vector<TWrittenBlock> WrittenBlocks(const TSaveReport& report, const TReadResult& read) {
    std::vector<TWrittenBlock> blocks;
    for (const TSaveStep& s : report.Steps) {
        if (s.Payload.empty())
            continue;
        TBlockStore copy = read.Store;
        TIdBytes old;
        if (s.Code == CmdWriteModbus) {
            // The Modbus block as the read's reply brought it, as long as the block sent.
            const std::size_t n = std::min(s.Payload.size(), copy.Modbus.size());
            old.assign(copy.Modbus.begin(), copy.Modbus.begin() + static_cast<std::ptrdiff_t>(n));
        } else {
            const std::span<const std::uint8_t> block = WrittenBlock(copy, s.Code);
            old.assign(block.begin(), block.end());
        }
        blocks.push_back({QStringLiteral("block 0x%1").arg(s.Code, 2, 16, QLatin1Char('0')), old, s.Payload});
    }
    return blocks;
}

TStatus JournalWindowSave(const QString& programDir, const TFoundModule& module, const TReadResult& read,
                          const TSaveReport& report) {
    TJournalEntry e;
    e.Mac = QString::fromStdString(module.Mac);
    e.Ip = QString::fromStdString(module.Ip);
    e.Name = BytesToDisplay(module.Name);
    e.Family = FamilyText(module.Family);
    e.Link = QStringLiteral("lan");
    e.Acks = report.Words();
    e.Outcome = OutcomeWord(report.Outcome());
    return JournalBlocks(programDir, e, WrittenBlocks(report, read));
}

} // namespace varnix
