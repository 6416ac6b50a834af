// The demo's arrangement on loopback only: the window bound to 127.0.0.1 sends every datagram
// to a loopback address where varnix-sim listens on the modules' real ports 1500 and 1901 (the
// family follows from them). The address is one of 127.0.0.0/8 picked per process, so
// parallel runs do not meet. Nothing is broadcast.

#include "lan/lan_protocol.h"
#include "sim_process.h"
#include "ui/main/device_list_model.h"
#include "window_harness.h"

#include <QPushButton>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

using namespace varnix;
using namespace varnix::test;

#include <unistd.h>

TEST(WindowOnLoopback, DemoArrangementListsAndReadsTheSimulatedModules) {
    if (qEnvironmentVariable("VARNIX_SIM").isEmpty())
        GTEST_SKIP() << "VARNIX_SIM not set";
    const int pid = static_cast<int>(getpid());
    const QString simAddr = QStringLiteral("127.77.%1.%2").arg(pid % 250).arg(pid / 250 % 250 + 1);
    TSimProcess sim(
        {QStringLiteral("--bind"), simAddr, QStringLiteral("--module"),
         QStringLiteral("z2:00-1A-2B-3C-4D-5E:192.168.1.50:Line-1:4017"), QStringLiteral("--module"),
         QStringLiteral("z3:00-1A-2B-3C-4D-60:192.168.1.52:Press-Z3:3001"), QStringLiteral("--module"),
         QStringLiteral("z2:00-1A-2B-3C-4D-61:192.168.1.53:Old-FW:2001"), QStringLiteral("--duration"),
         QStringLiteral("60")});
    ASSERT_TRUE(sim.Ready()) << sim.ErrorText().toStdString();

    QTemporaryDir home;
    TScriptedPrompts prompts;
    TMainOptions o;
    o.ProgramDir = home.path();
    o.Prompts = &prompts;
    o.SystemIsChinese = false;
    o.Udp.IncludeLoopback = true;
    o.Udp.LocalAddresses = [] { return std::vector<std::string>{"127.0.0.1"}; };
    o.Udp.DestinationAddr = simAddr.toStdString();
    TAppContext context(home.path());
    TFrm_Main w(context, o);
    w.show();
    w.findChild<QPushButton*>(QStringLiteral("btn_Search"))->click();
    ASSERT_TRUE(PumpUntil([&] { return w.DeviceCount() == 3; }, 5000)) << w.DeviceCount();
    std::map<QString, std::pair<std::int32_t, QString>> rows;
    for (const TDeviceRow& r : w.Devices().Rows())
        rows[r.Name] = {r.Family, r.IP};
    EXPECT_EQ(rows[QStringLiteral("Line-1")], std::make_pair(FamilyZ2, QStringLiteral("192.168.1.50")));
    EXPECT_EQ(rows[QStringLiteral("Press-Z3")], std::make_pair(FamilyZ3, QStringLiteral("192.168.1.52")));
    EXPECT_EQ(rows[QStringLiteral("Old-FW")].first, FamilyUnknown);

    int row = -1;
    for (int i = 0; i < w.DeviceCount(); ++i)
        if (w.Devices().Row(i).Name == u"Line-1")
            row = i;
    ASSERT_GE(row, 0);
    auto* list = w.findChild<QTreeView*>(QStringLiteral("lv_Dev"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualRect(list->model()->index(row, 0)).center());
    // The module's parameter reply shows the Z2 page.
    EXPECT_TRUE(PumpUntil([&] { return w.PageMode() == 2; }, 5000));
    w.close();
}
