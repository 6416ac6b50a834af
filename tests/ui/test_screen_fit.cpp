// On a 1366x768 screen every window lies wholly on the screen: the main window after the page
// modes of a Z1, Z2 and Z3 module have widened it from wherever it stood, the debugging window
// when it opens over the main window, and the upgrade window.

#include "ui/debug/data_debug.h"
#include "ui/main/main_window.h"
#include "ui/upgrade/upgrade_window.h"
#include "window_harness.h"

#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

using namespace varnix;
using varnix::test::TWindowHarness;

namespace {

QRect Area() {
    return QGuiApplication::primaryScreen()->availableGeometry();
}

} // namespace

TEST(ScreenFit, MainWindowStaysOnASmallScreenThroughEveryPageMode) {
    ASSERT_EQ(Area().size(), QSize(1366, 768))
        << "run with QT_QPA_PLATFORM=offscreen:configfile=screen_1366x768.json";
    TWindowHarness h;
    TFrm_Main& w = h.Win();
    // Where a user might have left the narrow window: at the right edge, and low.
    for (const QPoint start : {QPoint(1366 - w.width(), 768 - w.height()), QPoint(900, 200), QPoint(0, 0)}) {
        for (const int mode : {2, 3, 1, 2}) {
            w.SetPageMode(0);
            w.move(start);
            w.SetPageMode(mode); // what a read of that family's module does
            SCOPED_TRACE(mode);
            EXPECT_TRUE(Area().contains(w.frameGeometry()))
                << w.frameGeometry().x() << "," << w.frameGeometry().y() << " " << w.frameGeometry().width()
                << "x" << w.frameGeometry().height();
        }
    }
    // The Z2 page is the widest: it is really wider than the narrow window it started from.
    w.SetPageMode(0);
    const int narrow = w.width();
    w.SetPageMode(2);
    EXPECT_GT(w.width(), narrow + 300);
}

TEST(ScreenFit, DebuggingAndUpgradeWindowsOpenOnTheScreen) {
    TWindowHarness h;
    TFrm_Main& w = h.Win();
    w.SetPageMode(2);
    w.move(Area().right() + 1 - w.frameGeometry().width(), 0);
    TDataDebugOptions debugOptions;
    debugOptions.ProgramDir = h.Home();
    debugOptions.Prompts = &h.Prompts;
    Tfrm_DataDebug debug(*h.Context, debugOptions, &w);
    debug.PrepareShow({});
    debug.show();
    EXPECT_TRUE(Area().contains(debug.frameGeometry()));
    debug.hide();

    TUpgradeWindowOptions upgradeOptions;
    upgradeOptions.Prompts = &h.Prompts;
    upgradeOptions.LocalAddresses = [] { return std::vector<std::string>{"127.0.0.1"}; };
    Tfrm_Upgrade upgrade(*h.Context, upgradeOptions, &w);
    upgrade.Open(QStringLiteral("127.0.0.2"), QStringLiteral("001A2B3C4D5E"));
    EXPECT_TRUE(Area().contains(upgrade.frameGeometry()));
    upgrade.close();
}
