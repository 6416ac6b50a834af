// The device list and its actions: search, rows, the click rules per family, the save buttons,
// the pop-up menu (copy, web page, restart, reset, upgrade) and the CSV export.

#include "cli/sheet.h"
#include "core/convert.h"
#include "lan/lan_protocol.h"
#include "lang/app_lang.h"
#include "ui/common/colours.h"
#include "ui/main/device_csv.h"
#include "ui/main/device_list_model.h"
#include "ui/main/log_pane.h"
#include "window_harness.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

using namespace varnix;
using namespace varnix::test;

namespace {

QString L(const char* key) {
    return EnglishText(key);
}

const TSearchRow RowZ2{{10, 0, 0, 50}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, 4017, "Line-1", 1500};
const TSearchRow RowZ3{{10, 0, 0, 51}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x60}, 3001, "Press", 1901};
const TSearchRow RowOld{{10, 0, 0, 52}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x61}, 2001, "Old", 1500};

QTreeView* List(TWindowHarness& h) {
    return h.Find<QTreeView>("lv_Dev");
}

void Trigger(TWindowHarness& h, const char* item) {
    h.Win().PopupMenu()->findChild<QAction*>(QString::fromLatin1(item))->trigger();
}

} // namespace

TEST(DeviceList, SearchClearsTheListAndBothPanesThenListsEveryReply) {
    TWindowHarness h;
    h.SearchWith({RowZ2, RowZ3, RowOld});
    ASSERT_EQ(h.Win().DeviceCount(), 3);
    h.Win().LogLine(QStringLiteral("old line"), kColourRed);
    h.Win().FlushPending();

    h.Find<QPushButton>("btn_Search")->click();
    h.Win().FlushPending();
    EXPECT_EQ(h.Win().DeviceCount(), 0);
    // One send: the search request, then the "search sent" status.
    const auto log = h.LogLines();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].Text, L("lang_Hint_Sending"));
    EXPECT_EQ(log[1].Text, L("lang_H_lv_Dev"));
    for (const auto& l : log)
        EXPECT_EQ(l.Colour, kColourGreen);
    const auto hex = h.HexLines();
    ASSERT_EQ(hex.size(), 4u);
    EXPECT_EQ(hex[3].Text, u"FF 01 01 02 ");
    // The request went to the Z2 port.
    const auto sent = h.Z2.Drain();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (TIdBytes{0xFF, 0x01, 0x01, 0x02}));

    // Replies become rows in arrival order, with the family from the source port and the firmware.
    for (const TSearchRow& r : {RowZ2, RowZ3, RowOld, RowZ2})
        h.Inject(SearchReply(r.IP, r.Mac, r.Firmware, r.Name), r.SourcePort);
    // Rows wait for the next flush of the list.
    EXPECT_EQ(h.Win().DeviceCount(), 0);
    EXPECT_TRUE(PumpUntil([&] { return h.Win().DeviceCount() == 4; }, 1000));
    QAbstractItemModel* m = List(h)->model();
    const std::vector<std::vector<QString>> expected = {
        {u"10.0.0.50"_qs, u"Line-1"_qs, u"00 1A 2B 3C 4D 5E"_qs, u"4017"_qs, u"2"_qs, u"0"_qs},
        {u"10.0.0.51"_qs, u"Press"_qs, u"00 1A 2B 3C 4D 60"_qs, u"3001"_qs, u"36"_qs, u"0"_qs},
        {u"10.0.0.52"_qs, u"Old"_qs, u"00 1A 2B 3C 4D 61"_qs, u"2001"_qs, u"0"_qs, u"0"_qs},
        {u"10.0.0.50"_qs, u"Line-1"_qs, u"00 1A 2B 3C 4D 5E"_qs, u"4017"_qs, u"2"_qs, u"0"_qs},
    };
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 6; ++c)
            EXPECT_EQ(m->index(r, c).data().toString(), expected[r][c]) << r << "," << c;
}

TEST(DeviceList, ClickRulesPerFamily) {
    TWindowHarness h;
    h.SearchWith({RowZ2, RowZ3, RowOld});

    // Z2: read to the Z2 port from the row's binding; the Z2 row becomes the current device.
    h.ClickRow(0);
    auto z2 = h.Z2.Drain();
    ASSERT_EQ(z2.size(), 1u);
    EXPECT_EQ(z2[0].size(), 22u);
    EXPECT_EQ(z2[0][2], CmdRead);
    EXPECT_EQ(MacOf(z2[0]), "00 1A 2B 3C 4D 5E");
    EXPECT_EQ(h.Win().CurrentMac(), u"001A2B3C4D5E");
    auto log = h.LogLines();
    EXPECT_EQ(log[log.size() - 2].Text, L("lang_ts_Read") + QStringLiteral(" [ Mac : 00 1A 2B 3C 4D 5E ]"));
    EXPECT_EQ(log[log.size() - 2].Colour, kColourGreen);

    // Z3: read to the Z3 port.
    h.ClickRow(1);
    auto z3 = h.Z3.Drain();
    ASSERT_EQ(z3.size(), 1u);
    EXPECT_EQ(z3[0][2], CmdRead);
    EXPECT_EQ(MacOf(z3[0]), "00 1A 2B 3C 4D 60");
    EXPECT_TRUE(h.Z2.Drain(50).empty());
    EXPECT_EQ(h.Win().CurrentMac(), u"001A2B3C4D60");

    // Family 0: explained in red, nothing sent, back to the layout without a device.
    h.Win().SetPageMode(2);
    h.ClickRow(2);
    EXPECT_EQ(h.Win().PageMode(), 0);
    EXPECT_TRUE(h.Z2.Drain(50).empty());
    EXPECT_TRUE(h.Z3.Drain(0).empty());
    log = h.LogLines();
    EXPECT_EQ(log.back().Text, L("lang_Hint_VerIncompatible"));
    EXPECT_EQ(log.back().Colour, kColourRed);

    // Empty space below the rows clears the selection and returns to mode 0.
    h.Win().SetPageMode(2);
    h.ClickRow(-1);
    EXPECT_FALSE(h.Win().SelectedDevice().has_value());
    EXPECT_EQ(h.Win().PageMode(), 0);
    // The current device stays until the next click on a row.
    EXPECT_EQ(h.Win().CurrentMac(), u"001A2B3C4D61");
}

TEST(DeviceList, KeysExtendTheSelectionAndTheCurrentRowIsTheOneActedOn) {
    TWindowHarness h;
    h.SearchWith({RowZ2, RowZ3});
    h.ClickRow(0);
    h.DrainSinks();
    List(h)->setFocus();
    // A letter (the list's type-ahead search) moves nothing and reads nothing.
    QTest::keyClick(List(h), Qt::Key_P);
    EXPECT_EQ(h.Win().SelectedDevice()->Mac, u"00 1A 2B 3C 4D 5E");
    // Shift+Down selects both rows; the new current row is read as a click on it would be, and
    // is the one every item but "Firmware upgrade" acts on.
    QTest::keyClick(List(h), Qt::Key_Down, Qt::ShiftModifier);
    ASSERT_TRUE(PumpUntil([&] { return h.Win().CurrentMac() == u"001A2B3C4D60"; }));
    EXPECT_FALSE(h.Z3.Drain(200).empty());
    EXPECT_EQ(h.Win().SelectedDevice()->Mac, u"00 1A 2B 3C 4D 60");
    ASSERT_EQ(h.Win().SelectedModules().size(), 2u);
    EXPECT_EQ(h.Win().SelectedModules()[0].Mac, "00 1A 2B 3C 4D 5E");
    // Ctrl+Space takes the current row out of the selection: no row is current and selected, so
    // nothing is read and a command item has no target, while the other row stays selected.
    QTest::keyClick(List(h), Qt::Key_Space, Qt::ControlModifier);
    EXPECT_FALSE(h.Win().SelectedDevice().has_value());
    EXPECT_EQ(h.Win().SelectedModules().size(), 1u);
    // Space selects the current row again, and it is read.
    h.DrainSinks();
    QTest::keyClick(List(h), Qt::Key_Space);
    ASSERT_TRUE(PumpUntil([&] { return !h.Z3.Drain(20).empty(); }));
    EXPECT_EQ(h.Win().SelectedModules().size(), 2u);
    EXPECT_EQ(h.Win().SelectedDevice()->Mac, u"00 1A 2B 3C 4D 60");
    // Ctrl+Up makes the other selected row current, and it is read.
    QTest::keyClick(List(h), Qt::Key_Up, Qt::ControlModifier);
    ASSERT_TRUE(PumpUntil([&] { return h.Win().CurrentMac() == u"001A2B3C4D5E"; }));
    EXPECT_FALSE(h.Z2.Drain(200).empty());
    EXPECT_EQ(h.Win().SelectedModules().size(), 2u);
    EXPECT_EQ(h.Win().SelectedDevice()->Mac, u"00 1A 2B 3C 4D 5E");
}

TEST(DeviceList, ReadRepliesOfTheClickedZ2RowReachTheHexPaneAndThePage) {
    TWindowHarness h;
    h.SearchWith({RowZ2});
    h.ClickRow(0);
    // A reply of another module (parameter replies carry no envelope MAC) is not shown.
    h.Answer(h.Z2, {ParamReply({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5F})});
    EXPECT_NE(h.Win().PageMode(), 2);
    EXPECT_EQ(h.Find<QLineEdit>("edt_StaticIP")->text(), QString());
    // A 130-byte reply whose user MAC (base bytes 53..58) is the row's.
    TIdBytes reply(130, 0);
    const std::uint8_t mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    std::copy(mac, mac + 6, reply.begin() + 53);
    h.Z2.Reply(reply);
    ASSERT_TRUE(PumpUntil([&] { return h.Win().PageMode() == 2; }));
    const auto hex = h.HexLines();
    ASSERT_GE(hex.size(), 4u);
    EXPECT_TRUE(
        hex[hex.size() - 3].Text.endsWith(QStringLiteral("\u2190 [ 127.0.0.1 : %1 ]").arg(h.Z2.Port())));
    EXPECT_EQ(hex[hex.size() - 2].Text, u"[ Length : 130 ]");
    // Now every pop-up item is enabled.
    for (QAction* a : h.Win().PopupMenu()->actions()) {
        if (!a->isSeparator() && a->isVisible()) {
            EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
        }
    }
}

TEST(DeviceList, AModulesValuesNeverStayUnderAnotherRow) {
    TWindowHarness h;
    h.SearchWith({RowZ2, RowZ3});
    h.ClickRow(0);
    h.Answer(h.Z2, {ParamReply(RowZ2.Mac)});
    h.FinishRead();
    auto* ip = h.Find<QLineEdit>("edt_StaticIP");
    EXPECT_EQ(ip->text(), u"10.0.0.50");
    // The pop-up menu repeats the click on the same row: the page stays until the new reply.
    h.Win().pm_NetDevPopup();
    EXPECT_EQ(ip->text(), u"10.0.0.50");
    EXPECT_TRUE(h.Find<QPushButton>("btn_Z2NetSet")->isEnabled());
    // Another row: the Z2 module's values are gone at once, and its page cannot be saved.
    h.ClickRow(1);
    EXPECT_EQ(ip->text(), QString());
    EXPECT_FALSE(h.Find<QPushButton>("btn_Z2NetSet")->isEnabled());
}

TEST(DeviceList, SaveButtonsDispatchByFamilyAndNeedASelection) {
    TWindowHarness h;
    h.SearchWith({RowZ2, RowZ3});
    auto* z2Save = h.Find<QPushButton>("btn_Z2NetSet");
    auto* z3Save = h.Find<QPushButton>("btn_Z3NetSet");
    auto* z1Save = h.Find<QPushButton>("btn_Z1Set");
    ASSERT_TRUE(z2Save && z3Save && z1Save);

    // No row: back to no device, the hint in red, nothing sent.
    for (QPushButton* b : {z2Save, z3Save, z1Save}) {
        h.Win().SetPageMode(2);
        h.Win().LogPane().Clear();
        b->click();
        EXPECT_EQ(h.Win().PageMode(), 0) << b->objectName().toStdString();
        const auto log = h.LogLines();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back().Text, L("lang_Hint_NoTarget"));
        EXPECT_EQ(log.back().Colour, kColourRed);
    }
    EXPECT_TRUE(h.Z2.Drain(50).empty());
    EXPECT_TRUE(h.Z3.Drain(0).empty());

    // A Z2 row: the Z2 button sends the Z2 sequence ending in the restart; the others send nothing.
    h.ClickRow(0);
    z3Save->click();
    z1Save->click();
    // The module's read reply fills the page, then the save.
    h.Answer(h.Z2, {ParamReply(RowZ2.Mac)});
    h.FinishRead();
    EXPECT_TRUE(h.Z3.Drain(0).empty());
    ASSERT_EQ(h.Win().PageMode(), 2);
    z2Save->click();
    for (const auto& m : h.Prompts.Messages())
        ADD_FAILURE() << m.title.toStdString() << ": " << m.text.toStdString();
    // The steps leave 500 ms apart on the window's clock; the window is not held meanwhile.
    std::vector<TIdBytes> z2 = h.Z2.Drain();
    for (int i = 0; i < 2; ++i) {
        h.Clock.Advance(499);
        EXPECT_TRUE(h.Z2.Drain(30).empty()) << "a step left before its pause was over";
        h.Clock.Advance(1);
        for (const TIdBytes& d : h.Z2.Drain())
            z2.push_back(d);
    }
    // Firmware 4017 has heartbeat and HTTPD blocks, but this module sent none in the read: a save
    // never writes a block it did not read.
    ASSERT_EQ(z2.size(), 3u);
    EXPECT_EQ(z2.front()[2], CmdWriteBase);
    EXPECT_EQ(z2[1][2], CmdWritePort);
    EXPECT_EQ(z2.back()[2], CmdRestart);
    for (const auto& d : z2)
        EXPECT_EQ(MacOf(d), "00 1A 2B 3C 4D 5E");
    EXPECT_TRUE(h.Z3.Drain(0).empty());
    // Nobody acknowledges and nobody answers the search for the read-back: the save ends
    // unverified.
    h.Clock.Advance(20000);
    h.DrainSinks();
    EXPECT_EQ(h.LogLines().back().Text,
              L("lang_Hint_SaveNotSeen").arg(QStringLiteral("00 1A 2B 3C 4D 5E")).arg(15));

    // A Z3 row: its read reply fills the Z3 page, and the Z3 button sends base, port and the end
    // of the save to the Z3 port.
    h.ClickRow(1);
    z2Save->click();
    EXPECT_TRUE(h.Z2.Drain(50).empty());
    z3Save->click(); // before the module's reply: nothing to build the save from
    h.Answer(h.Z3, {ParamReply(RowZ3.Mac, FamilyZ3)});
    h.FinishRead();
    EXPECT_EQ(h.Win().PageMode(), 3);
    EXPECT_EQ(h.Find<QLineEdit>("edt_StaticIPZ3")->text(), u"10.0.0.50");
    h.Find<QLineEdit>("edt_ModNameZ3")->setText(QStringLiteral("Press-2"));
    z3Save->click();
    for (const auto& m : h.Prompts.Messages())
        ADD_FAILURE() << m.title.toStdString() << ": " << m.text.toStdString();
    h.Clock.Advance(1000);
    const auto z3 = h.Z3.Drain();
    ASSERT_EQ(z3.size(), 3u);
    EXPECT_EQ(z3[0][2], CmdWriteBase);
    EXPECT_EQ(z3[1][2], CmdWritePort);
    EXPECT_EQ(z3[2][2], CmdZ3SaveEnd);
    EXPECT_EQ(MacOf(z3[2]), "00 1A 2B 3C 4D 60");
}

TEST(DeviceList, CopyMacs) {
    TWindowHarness h;
    QClipboard* clip = QGuiApplication::clipboard();
    clip->setText(QStringLiteral("untouched"));
    h.Win().Search();
    Trigger(h, "mni_CopeAllMac"); // no rows: nothing copied
    EXPECT_EQ(clip->text(), u"untouched");

    h.SearchWith({RowZ2, RowZ3, RowOld});
    Trigger(h, "mni_CopeAllMac"); // works without a selection
    EXPECT_EQ(clip->text(), u"00 1A 2B 3C 4D 5E\r\n00 1A 2B 3C 4D 60\r\n00 1A 2B 3C 4D 61");
    h.ClickRow(1);
    Trigger(h, "mni_CopyTheMac");
    EXPECT_EQ(clip->text(), u"00 1A 2B 3C 4D 60");
}

TEST(DeviceList, OpenWebUsesTheHttpPortOr80) {
    TWindowHarness h;
    h.SearchWith({RowZ2});
    Trigger(h, "mni_OpenWeb"); // no row: only the layout changes
    EXPECT_TRUE(h.Opened.empty());
    h.ClickRow(0);
    h.Answer(h.Z2, {ParamReply(RowZ2.Mac)});
    h.FinishRead();
    auto* port = h.Find<QLineEdit>("edt_HTTPServerPort");
    ASSERT_NE(port, nullptr);
    port->setText(QString());
    Trigger(h, "mni_OpenWeb");
    port->setText(QStringLiteral("8080"));
    Trigger(h, "mni_OpenWeb");
    ASSERT_EQ(h.Opened.size(), 2u);
    EXPECT_EQ(h.Opened[0].toString(), u"http://10.0.0.50:80");
    EXPECT_EQ(h.Opened[1].toString(), u"http://10.0.0.50:8080");
}

TEST(DeviceList, RestartAndResetPortsPerFamily) {
    struct Case {
        int row;
        const char* item;
        bool toZ2; // else Z3 port
        std::uint8_t code;
    };
    const std::vector<Case> cases = {
        {0, "mni_Restart", true, CmdRestart}, {0, "mni_Reset", true, CmdFactoryReset},
        {1, "mni_Restart", true, CmdRestart}, {1, "mni_Reset", false, CmdFactoryReset},
        {2, "mni_Restart", true, CmdRestart},
    };
    TWindowHarness h;
    h.SearchWith({RowZ2, RowZ3, RowOld});
    for (const Case& c : cases) {
        h.ClickRow(c.row);
        // The items are enabled once a Z2 reply has shown the Z2 page.
        h.Win().SetPageMode(2);
        h.DrainSinks();
        h.Prompts.NextQuestion(true); // a reset is confirmed first
        Trigger(h, c.item);
        const auto on = (c.toZ2 ? h.Z2 : h.Z3).Drain();
        const auto off = (c.toZ2 ? h.Z3 : h.Z2).Drain(30);
        ASSERT_EQ(on.size(), 1u) << c.row << c.item;
        EXPECT_EQ(on[0][2], c.code);
        EXPECT_TRUE(off.empty());
    }
    // Reset of a family-0 row sends nothing.
    h.ClickRow(2);
    h.Win().SetPageMode(2);
    h.DrainSinks();
    Trigger(h, "mni_Reset");
    EXPECT_TRUE(h.Z2.Drain(50).empty());
    EXPECT_TRUE(h.Z3.Drain(0).empty());
    // Without a selection a command item only returns to the layout without a device.
    h.ClickRow(-1);
    h.Win().SetPageMode(2);
    Trigger(h, "mni_Restart");
    EXPECT_EQ(h.Win().PageMode(), 0);
    EXPECT_TRUE(h.Z2.Drain(50).empty());
}

TEST(DeviceList, FirmwareUpgradeItemOpensTheUpgradeWindow) {
    TWindowHarness h;
    h.SearchWith({RowZ2});
    h.ClickRow(0);
    // Without an upgrade window attached the item does nothing (the program always attaches one).
    const std::size_t before = h.LogLines().size();
    Trigger(h, "mni_FirmwareUp");
    EXPECT_EQ(h.LogLines().size(), before);
    QString ip, mac;
    h.Win().SetUpgradeOpener([&](const QString& i, const QString& m) {
        ip = i;
        mac = m;
    });
    Trigger(h, "mni_FirmwareUp");
    EXPECT_EQ(ip, u"10.0.0.50");
    EXPECT_EQ(mac, u"001A2B3C4D5E");
}

TEST(DeviceList, ExportWritesTheListBesideTheProgram) {
    TWindowHarness h;
    h.Find<QAction>("mniExporDevs")->trigger(); // empty list: no file, no message
    EXPECT_TRUE(h.Prompts.Messages().empty());

    TSearchRow comma = RowZ3;
    comma.Name = "Hall, north";
    TSearchRow twin = RowZ2; // the same name twice: a finding on both rows
    twin.Mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x62};
    twin.IP = {10, 0, 0, 53};
    h.SearchWith({RowZ2, comma, RowOld, twin});
    h.CheckHealth();
    // Asked where to save, the file name beside the program offered; a cancelled dialog writes
    // nothing.
    h.Find<QAction>("mniExporDevs")->trigger();
    ASSERT_FALSE(h.Prompts.Shown().empty());
    EXPECT_EQ(h.Prompts.Shown().back().kind, TScriptedPrompts::Kind::SaveFile);
    EXPECT_EQ(h.Prompts.Shown().back().text,
              h.Home() + QStringLiteral("/Export Devices 20240131 142530 - (4).csv"));
    EXPECT_TRUE(h.Prompts.Messages().empty());
    const QString path = h.Home() + QStringLiteral("/chosen.csv");
    h.Prompts.NextSaveFile(path);
    h.Find<QAction>("mniExporDevs")->trigger();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    const QByteArray content = file.readAll();
    const QList<QByteArray> lines = content.split('\n');
    ASSERT_EQ(lines.size(), 6); // header, four rows, and the empty rest after the last CR LF
    EXPECT_EQ(lines[0], "#IP,ModName,MAC,#Ver,#Family,#Findings\r");
    // Family and findings (the harness binds 127.0.0.1/8, so every 10.x module is outside it).
    EXPECT_TRUE(lines[1].startsWith("10.0.0.50,Line-1,00 1A 2B 3C 4D 5E,4017,Z2,")) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains("cannot carry data") && lines[1].contains("\"\"Line-1\"\""))
        << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("10.0.0.51,\"Hall, north\",00 1A 2B 3C 4D 60,3001,Z3,"));
    EXPECT_TRUE(lines[3].startsWith("10.0.0.52,Old,00 1A 2B 3C 4D 61,2001,incompatible,"));
    EXPECT_TRUE(lines[3].contains("Incompatible firmware 2001"));
    // varnix-cli provision reads the file as it is: every row keyed by its MAC, the name a field.
    QStringList errors;
    const auto sheet = cli::ParseSheet(content, &errors);
    ASSERT_TRUE(sheet.has_value()) << errors.join(u'\n').toStdString();
    ASSERT_EQ(sheet->Rows.size(), 4);
    ASSERT_EQ(sheet->Columns.size(), 1);
    EXPECT_EQ(sheet->Columns[0]->Name, u"ModName");
    EXPECT_EQ(sheet->Rows[1].Assignments.value(0).Value.toString(), u"Hall, north");
    const auto log = h.LogLines();
    EXPECT_EQ(log.back().Text, path);
    EXPECT_EQ(log.back().Colour, kColourGreen);
    const auto boxes = h.Prompts.Messages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, path);
}

TEST(DeviceList, ExportThatCannotWriteShowsAnErrorAndLogsNothing) {
    QTemporaryDir dir;
    const QString blocked = dir.path() + QStringLiteral("/file");
    {
        QFile f(blocked);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    // The program directory is a plain file: nothing can be written inside it.
    TWindowHarness h(false, blocked);
    h.SearchWith({RowZ2});
    const std::size_t before = h.LogLines().size();
    h.Prompts.Clear();
    h.Prompts.NextSaveFile(blocked + QStringLiteral("/list.csv"));
    h.Win().ExportDevices();
    EXPECT_EQ(h.LogLines().size(), before);
    const auto boxes = h.Prompts.Messages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].icon, IUserPrompts::Icon::Critical);
    h.Prompts.Clear();
}

TEST(DeviceCsv, QuotesOnlyFieldsThatNeedIt) {
    const std::vector<std::pair<QString, QString>> cases = {
        {u"plain"_qs, u"plain"_qs},
        {u""_qs, u""_qs},
        {u"a,b"_qs, u"\"a,b\""_qs},
        {u"say \"hi\""_qs, u"\"say \"\"hi\"\"\""_qs},
        {u"two\nlines"_qs, u"\"two\nlines\""_qs},
        {u"cr\r"_qs, u"\"cr\r\""_qs},
        {u"  spaced  "_qs, u"  spaced  "_qs},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(CsvField(in), out) << in.toStdString();
    EXPECT_EQ(DeviceExportFileName(u"/tmp/x"_qs, u"Export Devices"_qs,
                                   QDateTime(QDate(2024, 1, 31), QTime(14, 25, 30)), 3),
              u"/tmp/x/Export Devices 20240131 142530 - (3).csv");
    EXPECT_EQ(DeviceCsv({}), QByteArray("#IP,ModName,MAC,#Ver,#Family,#Findings\r\n"));
}
