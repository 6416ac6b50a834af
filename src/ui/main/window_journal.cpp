#include "ui/main/window_journal.h"

#include "core/convert.h"
#include "lan/lan_protocol.h"

namespace varnix {

namespace {

QString HexText(const TIdBytes& bytes) {
    return QString::fromStdString(BytesToHexDump(bytes)).trimmed();
}

} // namespace

bool JournalBlocks(const QString& programDir, TJournalEntry entry, const std::vector<TWrittenBlock>& blocks,
                   QString* error) {
    for (const TWrittenBlock& b : blocks) {
        if (b.Old == b.New)
            continue;
        entry.Changes.append(TJournalChange{b.Name, b.Old.empty() ? QJsonValue() : QJsonValue(HexText(b.Old)),
                                            HexText(b.New)});
    }
    return AppendJournal(JournalPath(programDir), entry, error);
}

bool JournalWindowSave(const QString& programDir, const TDeviceRow& row, const TSavePlan& plan,
                       const TBlockStore& reported, QString* error) {
    if (!plan.Ok)
        return true;
    TJournalEntry e;
    e.Mac = row.Mac;
    e.Ip = row.IP;
    e.Name = row.Name;
    e.Family = row.Family == FamilyZ3   ? QStringLiteral("Z3")
               : row.Family == FamilyZ2 ? QStringLiteral("Z2")
                                        : QString();
    e.Link = QStringLiteral("lan");
    e.Outcome = QStringLiteral("sent");
    std::vector<TWrittenBlock> blocks;
    for (const TSaveStep& s : plan.Steps) {
        if (s.Payload.empty())
            continue;
        TBlockStore copy = reported;
        const std::span<const std::uint8_t> old = WrittenBlock(copy, s.Code);
        blocks.push_back({QStringLiteral("block 0x%1").arg(s.Code, 2, 16, QLatin1Char('0')),
                          TIdBytes(old.begin(), old.end()), s.Payload});
    }
    return JournalBlocks(programDir, e, blocks, error);
}

} // namespace varnix
