// On a 1366x768 screen every window lies wholly on the screen: the main window, which the page
// modes of a Z1, Z2 and Z3 module neither move nor resize and which comes back where it was left,
// the debugging window when it opens over the main window, and the upgrade window.

#include "ui/debug/data_debug.h"
#include "ui/main/main_window.h"
#include "ui/upgrade/upgrade_window.h"
#include "window_harness.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

#include <QFile>
#include <QTemporaryDir>

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
    // The first size fits the screen, and no page mode moves or resizes the window.
    EXPECT_TRUE(Area().contains(w.frameGeometry()));
    for (const QPoint start : {QPoint(Area().right() + 1 - w.frameGeometry().width(), 0), QPoint(0, 0)}) {
        w.move(start);
        const QRect before = w.geometry();
        for (const int mode : {2, 3, 1, 2, 0}) {
            w.SetPageMode(mode); // what a read of that family's module does
            SCOPED_TRACE(mode);
            EXPECT_EQ(w.geometry(), before);
            EXPECT_TRUE(Area().contains(w.frameGeometry()));
        }
    }
    // Small enough for 1366x768 at 125 % (1093x614 logical pixels less a task bar), and
    // resizable and maximisable.
    EXPECT_LE(w.minimumWidth(), 1093 - 20);
    EXPECT_LE(w.minimumHeight(), 614 - 80);
    EXPECT_NE(w.minimumSize(), w.maximumSize());
}

TEST(ScreenFit, MainWindowRemembersItsSizeAndPlace) {
    QTemporaryDir home;
    const QRect placed(QPoint(120, 90), QSize(900, 600));
    {
        TWindowHarness h(false, home.path());
        h.Win().setGeometry(placed);
        h.Win().SetPageMode(2);
    } // closed: its settings are written
    QFile ini(home.filePath(QStringLiteral("Cfg.ini")));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    const QByteArray text = ini.readAll();
    // The keys of before keep their order; the window's geometry follows them.
    const qsizetype zNum = text.indexOf("ZNum="), geometry = text.indexOf("MainGeometry=");
    EXPECT_TRUE(text.indexOf("Language=") < text.indexOf("RealTimeHelp=") && zNum >= 0);
    EXPECT_GT(geometry, zNum);
    TWindowHarness again(false, home.path());
    EXPECT_EQ(again.Win().geometry(), placed);
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

// The first size shows a page beside the findings of the module read, wrapped under the list,
// without scrolling: the log's tabs and the page's buttons stay in view.
TEST(ScreenFit, FirstSizeShowsAPageBesideAModulesFindings) {
    TWindowHarness h;
    TFrm_Main& w = h.Win();
    w.show();
    // Outside the loopback binding's subnet and of an incompatible firmware: two findings.
    h.SearchWith({{{10, 77, 0, 52}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x61}, 2001, "Old", 1500}});
    h.CheckHealth();
    h.ClickRow(0);
    w.SetPageMode(2);
    QApplication::processEvents();
    const QString findings = h.Find<QLabel>("lbl_Findings")->text();
    ASSERT_EQ(findings.count(u'\n'), 1) << findings.toStdString();
    auto* panels = h.Find<QScrollArea>("scr_Bg");
    EXPECT_EQ(panels->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(panels->horizontalScrollBar()->maximum(), 0);
}

// The first size shows every family's page whole beside the list, in either language: no page
// scrolls sideways.
TEST(ScreenFit, FirstSizeShowsEveryPageWhole) {
    for (const bool chinese : {false, true}) {
        TWindowHarness h(chinese);
        TFrm_Main& w = h.Win();
        w.show();
        auto* panels = h.Find<QScrollArea>("scr_Bg");
        for (const int mode : {1, 2, 3}) {
            w.SetPageMode(mode);
            QApplication::processEvents();
            EXPECT_EQ(panels->horizontalScrollBar()->maximum(), 0)
                << (chinese ? "Chinese" : "English") << " Z" << mode;
        }
    }
}
