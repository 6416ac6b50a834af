// The real window against varnix-sim on a segment like a real one (tests/netns-run --segments 1):
// the window binds the PC's adapter (10.9.0.1) and broadcasts there; the simulated modules live in
// a namespace of their own with factory addresses in a foreign subnet and answer by broadcast.

#include "lan/lan_protocol.h"
#include "sim_process.h"
#include "ui/main/device_list_model.h"
#include "ui/main/log_pane.h"
#include "window_harness.h"

#include <QAction>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

using namespace varnix;
using namespace varnix::test;

namespace {

TMainOptions NamespaceOptions(const QString& home, TScriptedPrompts& prompts) {
    TMainOptions o;
    o.ProgramDir = home;
    o.Prompts = &prompts;
    o.SystemIsChinese = false;
    o.OpenUrl = [](const QUrl&) {};
    // The PC's own adapters, enumerated as on a desktop; every datagram goes to the limited
    // broadcast.
    return o;
}

} // namespace

TEST(WindowAgainstSimulator, SearchListsTheModulesAndAZ2ClickShowsItsReplies) {
    ASSERT_EQ(qEnvironmentVariable("VARNIX_NS_TOPOLOGY"), u"segments")
        << "run through tests/netns-run --segments 1";
    QTemporaryDir simDir;
    const QString state = simDir.filePath(QStringLiteral("state.json"));
    const QString journal = simDir.filePath(QStringLiteral("journal.txt"));
    TSimProcess sim(
        {QStringLiteral("--state"), state, QStringLiteral("--journal"), journal,
         QStringLiteral("--restart-ms"), QStringLiteral("200"), QStringLiteral("--bind"),
         QStringLiteral("0.0.0.0"), QStringLiteral("--iface"), qEnvironmentVariable("VARNIX_NS_SIM_IFACES"),
         QStringLiteral("--module"), QStringLiteral("z2:00-1A-2B-3C-4D-5E:192.168.0.50:Line-1:4017"),
         QStringLiteral("--module"), QStringLiteral("z3:00-1A-2B-3C-4D-60:192.168.0.51:Press:3001"),
         QStringLiteral("--module"), QStringLiteral("z2:00-1A-2B-3C-4D-61:192.168.0.52:Old:2001")});
    ASSERT_TRUE(sim.Ready()) << sim.ErrorText().toStdString();

    QTemporaryDir home;
    TScriptedPrompts prompts;
    TAppContext context(home.path());
    TFrm_Main w(context, NamespaceOptions(home.path(), prompts));
    w.show();
    w.findChild<QPushButton*>(QStringLiteral("btn_Search"))->click();
    ASSERT_TRUE(PumpUntil([&] { return w.DeviceCount() == 3; }, 5000)) << w.DeviceCount();
    QTest::qWait(300); // no further replies
    ASSERT_EQ(w.DeviceCount(), 3);

    std::map<QString, std::pair<std::int32_t, QString>> byMac;
    for (const TDeviceRow& r : w.Devices().Rows())
        byMac[r.Mac] = {r.Family, r.IP};
    EXPECT_EQ(byMac[QStringLiteral("00 1A 2B 3C 4D 5E")],
              std::make_pair(FamilyZ2, QStringLiteral("192.168.0.50")));
    EXPECT_EQ(byMac[QStringLiteral("00 1A 2B 3C 4D 60")],
              std::make_pair(FamilyZ3, QStringLiteral("192.168.0.51")));
    EXPECT_EQ(byMac[QStringLiteral("00 1A 2B 3C 4D 61")].first, FamilyUnknown);

    int z2Row = -1;
    for (int i = 0; i < w.DeviceCount(); ++i)
        if (w.Devices().Row(i).Mac == u"00 1A 2B 3C 4D 5E")
            z2Row = i;
    auto* list = w.findChild<QTreeView*>(QStringLiteral("lv_Dev"));
    w.FlushPending();
    const int hexBefore = w.HexPane().LineCount();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualRect(list->model()->index(z2Row, 0)).center());

    // The read goes out and the module's replies (130, 50, 85, 302 and Modbus) come back.
    ASSERT_TRUE(PumpUntil([&] { return w.PageMode() == 2; }, 5000));
    QTest::qWait(500);
    w.FlushPending();
    std::vector<QString> lengths;
    const auto hex = PaneLines(w.findChild<QPlainTextEdit*>(QStringLiteral("redt_Hex")));
    for (std::size_t i = static_cast<std::size_t>(hexBefore); i + 1 < hex.size(); ++i) {
        if (hex[i].Text.contains(u"\u2190 [ ") && hex[i].Text.endsWith(u" : 1500 ]"))
            lengths.push_back(hex[i + 1].Text);
    }
    const std::vector<QString> expected = {u"[ Length : 130 ]"_qs, u"[ Length : 50 ]"_qs,
                                           u"[ Length : 85 ]"_qs, u"[ Length : 302 ]"_qs,
                                           u"[ Length : 64 ]"_qs};
    EXPECT_EQ(lengths, expected);
    bool sentRead = false;
    for (const auto& l : hex)
        if (l.Text.startsWith(u"FF 13 03 00 1A 2B 3C 4D 5E "))
            sentRead = true;
    EXPECT_TRUE(sentRead);
    EXPECT_EQ(w.CurrentMac(), u"001A2B3C4D5E");

    // A save through the page: every datagram of the plan is acknowledged ('K' logged) and the
    // module holds the new name.
    auto acks = [&] {
        w.FlushPending();
        int n = 0;
        for (const auto& l : PaneLines(w.findChild<QPlainTextEdit*>(QStringLiteral("redt_Log"))))
            n += l.Text.endsWith(u" ACK.");
        return n;
    };
    const int acksBefore = acks();
    w.findChild<QLineEdit*>(QStringLiteral("edt_ModName"))->setText(QStringLiteral("Saved-9"));
    w.findChild<QPushButton*>(QStringLiteral("btn_Z2NetSet"))->click();
    const auto acknowledged = [&] { // what the module acknowledged, by its journal
        QFile f(journal);
        int n = 0;
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray& line : f.readAll().split('\n'))
                n += line.contains("\"result\":\"K\"");
        return n;
    };
    // The plan ends with the restart (0x02); each of its datagrams is acknowledged.
    EXPECT_TRUE(
        PumpUntil([&] { return acknowledged() >= 5 && acks() - acksBefore == acknowledged(); }, 10000))
        << acks() - acksBefore << " logged, " << acknowledged() << " acknowledged";
    const auto savedName = [&] {
        QFile f(state);
        if (!f.open(QIODevice::ReadOnly))
            return QString();
        for (const QJsonValue& m :
             QJsonDocument::fromJson(f.readAll()).object()[QStringLiteral("modules")].toArray())
            if (m.toObject()[QStringLiteral("mac")].toString() == u"00 1A 2B 3C 4D 5E")
                return m.toObject()[QStringLiteral("name")].toString();
        return QString();
    };
    EXPECT_TRUE(PumpUntil([&] { return savedName() == u"Saved-9"; }, 5000)) << savedName().toStdString();

    // File > Save capture: the search's and the lanes' datagrams since the search, the base block
    // written with the new name among them.
    const QString capture = home.filePath(QStringLiteral("support.pcapng"));
    prompts.NextSaveFile(capture);
    w.findChild<QAction*>(QStringLiteral("mni_SaveCapture"))->trigger();
    QFile file(capture);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(bytes.startsWith(QByteArray::fromHex("0a0d0d0a"))) << "not a pcapng file";
    EXPECT_TRUE(bytes.contains(QByteArray::fromHex("ff010102")) && bytes.contains("Saved-9"));
    w.close();
}

// tests/netns-run --segments 2 --bridge: one module behind both of the PC's adapters is listed
// once per adapter, and the checks mark both rows with the adapters it answered through.
TEST(WindowOnTwoAdapters, AModuleSeenThroughBothAdaptersIsMarked) {
    ASSERT_EQ(qEnvironmentVariable("VARNIX_NS_SIM_IFACES"), u"br0")
        << "run through tests/netns-run --segments 2 --bridge";
    TSimProcess sim({QStringLiteral("--bind"), QStringLiteral("0.0.0.0"), QStringLiteral("--iface"),
                     QStringLiteral("br0"), QStringLiteral("--module"),
                     QStringLiteral("z2:00-1A-2B-3C-4D-5E:192.168.0.50:Line-1:4017")});
    ASSERT_TRUE(sim.Ready()) << sim.ErrorText().toStdString();
    QTemporaryDir home;
    TScriptedPrompts prompts;
    TAppContext context(home.path());
    TFrm_Main w(context, NamespaceOptions(home.path(), prompts));
    w.show();
    w.findChild<QPushButton*>(QStringLiteral("btn_Search"))->click();
    ASSERT_TRUE(PumpUntil([&] { return w.DeviceCount() == 2; }, 5000)) << w.DeviceCount();
    const TDeviceListModel& m = w.Devices();
    ASSERT_TRUE(PumpUntil([&] { return !m.Mark(0).isEmpty() && !m.Mark(1).isEmpty(); }, 5000));
    for (int row = 0; row < 2; ++row)
        EXPECT_TRUE(m.Mark(row).contains(
            QStringLiteral("answered through more than one adapter: 10.9.0.1, 10.9.1.1")))
            << m.Mark(row).toStdString();
    w.close();
}
