// Health checks in the window: marked rows with the finding as tooltip and a summary line after a
// search; a clean list is left plain; a search nobody answered says what was tried and why.
#include "app/journal.h"
#include "inventory/journal_store.h"
#include "ui/main/device_list_model.h"
#include "ui/main/fleet_view.h"
#include "ui/main/window_journal.h"
#include "window_harness.h"

#include <QTreeView>

#include <gtest/gtest.h>

using namespace varnix;
using namespace varnix::test;

namespace {

bool LogHas(TWindowHarness& h, const QString& part) {
    for (const TPaneLine& l : h.LogLines())
        if (l.Text.contains(part))
            return true;
    return false;
}

void CheckNow(TWindowHarness& h) {
    h.CheckHealth();
}

} // namespace

TEST(SearchHealth, MarksTheAffectedRowsAndLogsASummary) {
    TWindowHarness h;
    // The window binds 127.0.0.1/8: 10.77.0.9 is outside it.
    h.SearchWith({
        {{127, 0, 0, 50}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x01}, 4017, "Pump", 1500},
        {{127, 0, 0, 50}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x02}, 4017, "Valve", 1500},
        {{127, 0, 0, 51}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x03}, 3001, "Pump", 1901},
        {{127, 0, 0, 52}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x04}, 2001, "Old", 1500},
        {{10, 77, 0, 9}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x05}, 4017, "Far", 1500},
        {{127, 0, 0, 53}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x06}, 4017, "Fine", 1500},
    });
    CheckNow(h);
    const TDeviceListModel& m = h.Win().Devices();
    ASSERT_EQ(m.rowCount(), 6);
    EXPECT_TRUE(m.Mark(0).contains(QStringLiteral("127.0.0.50 is used by more than one module")));
    EXPECT_TRUE(m.Mark(0).contains(QStringLiteral("\"Pump\""))); // two findings on one row
    EXPECT_TRUE(m.Mark(1).contains(QStringLiteral("127.0.0.50")));
    EXPECT_TRUE(m.Mark(2).contains(QStringLiteral("\"Pump\"")));
    EXPECT_TRUE(m.Mark(3).contains(QStringLiteral("Incompatible firmware 2001")));
    EXPECT_TRUE(m.Mark(4).contains(QStringLiteral("cannot carry data")));
    EXPECT_TRUE(m.Mark(4).contains(QStringLiteral("127.0.0.1/255.0.0.0")));
    EXPECT_TRUE(m.Mark(5).isEmpty());
    const QModelIndex marked = m.index(3, 1);
    EXPECT_TRUE(m.data(marked, Qt::BackgroundRole).isValid());
    EXPECT_EQ(m.data(marked, Qt::ToolTipRole).toString(), m.Mark(3));
    EXPECT_FALSE(m.data(m.index(5, 1), Qt::BackgroundRole).isValid());
    EXPECT_TRUE(LogHas(h, QStringLiteral("Checks: 4 finding(s) on 5 row(s)")));

    // The next search clears the marks; a clean list stays plain and says so.
    h.SearchWith({{{127, 0, 0, 60}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x07}, 4017, "A", 1500},
                  {{127, 0, 0, 61}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x08}, 3001, "B", 1901}});
    EXPECT_TRUE(m.Mark(0).isEmpty());
    CheckNow(h);
    EXPECT_TRUE(m.Mark(0).isEmpty() && m.Mark(1).isEmpty());
    EXPECT_TRUE(LogHas(h, QStringLiteral("Checks: 2 module(s), nothing to report")));

    // A module that answers after the checks ran has them run again: its address is taken.
    h.Inject(SearchReply({127, 0, 0, 60}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x09}, 4017, "C"), 1500);
    h.Win().FlushPending();
    ASSERT_TRUE(PumpUntil([&] { return !m.Mark(0).isEmpty(); }, TSearchHealth::SettleMs + 2000));
    EXPECT_TRUE(m.Mark(2).contains(QStringLiteral("127.0.0.60 is used by more than one module")));
}

TEST(SearchHealth, AnEmptySearchNamesTheAddressesTriedAndTheLikelyCauses) {
    TWindowHarness h;
    h.SearchWith({});
    // The checks run by themselves once the search has settled.
    ASSERT_TRUE(PumpUntil([&] { return LogHas(h, QStringLiteral("No module answered")); },
                          TSearchHealth::SettleMs + 2000));
    EXPECT_TRUE(LogHas(h, QStringLiteral("The search went from 127.0.0.1 to 127.0.0.1 port 1500")));
    EXPECT_TRUE(LogHas(h, QStringLiteral("firewall-cmd --add-source-port=1500/udp")));
    EXPECT_TRUE(LogHas(h, QStringLiteral("ufw allow proto udp from any port 1500,1901")));
    EXPECT_TRUE(LogHas(h, QStringLiteral("another adapter")));
}

TEST(SearchHealth, WindowSaveIsJournalledWithTheBytesTheModuleReported) {
    TWindowHarness h;
    TReadResult read;
    read.Store.BasePort.fill(0x11);
    read.Store.Modbus = {0x00, 0x01, 0x00, 0xC8, 0x00, 0x03, 0xE8};
    TIdBytes base(read.Store.BasePort.begin(), read.Store.BasePort.begin() + BaseBlockSize);
    base[5] = 0x22;
    const TIdBytes port(read.Store.BasePort.begin() + BaseBlockSize,
                        read.Store.BasePort.begin() + ParamReplySize);
    TSaveReport report;
    report.Steps = {TSaveStep{0x05, 1500, base, 500}, TSaveStep{0x06, 1500, port, 500},
                    TSaveStep{0x24, 1500, {0x01, 0x01, 0x00, 0xC8, 0x00, 0x03, 0xE8}, 0},
                    TSaveStep{0x02, 1500, {}, 0}};
    report.AckOf = {TAck{'K'}, TAck{'K'}, TAck{'P'}, std::nullopt};
    report.Arrived = {{0, TAck{'K'}}, {1, TAck{'K'}}, {2, TAck{'P'}}};
    TFoundModule m;
    m.Ip = "10.77.0.50";
    m.Name = "Line-1";
    m.Mac = "00 1A 2B 3C 4D 5E";
    m.Family = FamilyZ2;
    ASSERT_TRUE(JournalWindowSave(h.Home(), m, read, report));
    const TJournalRead journal = ReadJournalEntries(h.Home());
    ASSERT_EQ(journal.Entries.size(), 1);
    const TJournalEntry& e = journal.Entries.front();
    EXPECT_EQ(e.Family, QStringLiteral("Z2"));
    EXPECT_EQ(e.Outcome, QStringLiteral("password"));
    EXPECT_EQ(e.Acks,
              (QStringList{QStringLiteral("0x05 K"), QStringLiteral("0x06 K"), QStringLiteral("0x24 P")}));
    // The port block goes out as reported, so the base and the Modbus block are the changes.
    ASSERT_EQ(e.Changes.size(), 2);
    EXPECT_EQ(e.Changes[0].Field, QStringLiteral("block 0x05"));
    EXPECT_TRUE(e.Changes[0].Old.toString().startsWith(QStringLiteral("11 11 11 11 11 11 11")));
    EXPECT_TRUE(e.Changes[0].New.toString().startsWith(QStringLiteral("11 11 11 11 11 22 11")));
    EXPECT_EQ(e.Changes[1].Field, QStringLiteral("block 0x24"));
    EXPECT_EQ(e.Changes[1].Old.toString(), QStringLiteral("00 01 00 C8 00 03 E8"));
    EXPECT_EQ(e.Changes[1].New.toString(), QStringLiteral("01 01 00 C8 00 03 E8"));
}
