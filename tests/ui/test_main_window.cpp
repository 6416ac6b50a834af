// The main window shell: start-up state, search tabs, status lines, page modes with the pop-up
// items they enable, the traffic lines of the hex pane, the language switch and the hints.

#include "lan/lan_protocol.h"
#include "lang/app_lang.h"
#include "ui/common/colours.h"
#include "ui/main/device_list_model.h"
#include "ui/main/log_pane.h"
#include "window_harness.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QHelpEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QToolTip>
#include <QTreeView>
#include <QWheelEvent>
#include <set>

#include <gtest/gtest.h>

using namespace varnix;
using namespace varnix::test;

namespace {

QString L(const char* key) {
    return EnglishText(key);
}

std::set<QString> EnabledPopupItems(TFrm_Main& w) {
    std::set<QString> out;
    for (QAction* a : w.PopupMenu()->actions())
        if (!a->isSeparator() && a->isEnabled() && a->isVisible())
            out.insert(a->objectName());
    return out;
}

} // namespace

TEST(MainWindow, StartsWithTheLeftPanelAndTheLanTabHint) {
    TWindowHarness h;
    TFrm_Main& w = h.Win();
    EXPECT_EQ(w.PageMode(), 0);
    EXPECT_TRUE(h.Find<QTabWidget>("rzpgcntrl_Param")->isHidden());
    EXPECT_FALSE(h.Find<QWidget>("pnl1")->isHidden());
    // Only the left panel, which takes the whole width the window has.
    EXPECT_EQ(h.Find<QWidget>("pnl1")->maximumWidth(), QWIDGETSIZE_MAX);
    EXPECT_EQ(h.Find<QTabWidget>("rzpgcntrl_Srch")->currentWidget()->objectName(), u"rztbsht_Net");
    EXPECT_EQ(h.Find<QTabWidget>("rzpgcntrl_Logs")->currentWidget()->objectName(), u"rztbsht_Log");

    const auto log = h.LogLines();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].Text, u"Operate Via LAN,please leave CFG pin free");
    EXPECT_EQ(log[0].Colour, kColourMaroon);
    EXPECT_TRUE(h.HexLines().empty());

    EXPECT_EQ(w.windowTitle(), u"Varnix V" VARNIX_VERSION);
    // The language menu is offered, so a user who gets the wrong language can switch it.
    EXPECT_TRUE(h.Find<QMenu>("mni_Lang")->menuAction()->isVisible());
    EXPECT_FALSE(h.Find<QAction>("mni_Up")->isVisible());
    EXPECT_FALSE(h.Find<QAction>("mni_WorkOrder")->isVisible());
    EXPECT_TRUE(h.Find<QAction>("mni_About")->isVisible());
    EXPECT_TRUE(h.Find<QAction>("mni_En")->isChecked());
    EXPECT_FALSE(h.Find<QAction>("mni_Cn")->isChecked());
    // With no saved model, the initial arrangement checks rbZ2.
    EXPECT_EQ(w.checkedModel(), 2);
    auto* list = h.Find<QTreeView>("lv_Dev");
    EXPECT_TRUE(list->isColumnHidden(4));
    EXPECT_TRUE(list->isColumnHidden(5));
    EXPECT_EQ(list->model()->headerData(0, Qt::Horizontal).toString(), u"Device IP");
    EXPECT_EQ(list->model()->headerData(4, Qt::Horizontal).toString(), u"Flag");
    EXPECT_EQ(list->model()->headerData(5, Qt::Horizontal).toString(), u"IpIndex");
}

TEST(MainWindow, SearchTabSwitchWritesOneHintEachTimeAndReturnsToModeZero) {
    TWindowHarness h;
    auto* tabs = h.Find<QTabWidget>("rzpgcntrl_Srch");
    h.Win().SetPageMode(2);
    tabs->setCurrentIndex(1);
    EXPECT_EQ(h.Win().PageMode(), 0);
    // The serial tab shows the serial save buttons and its own controls.
    EXPECT_FALSE(h.Find<QPushButton>("btn_ComSet")->isHidden());
    EXPECT_TRUE(h.Find<QPushButton>("btn_Z1Set")->isHidden());
    EXPECT_TRUE(h.Find<QWidget>("btn_ComRead")->isEnabled());
    EXPECT_FALSE(h.Find<QWidget>("btn_ComRead")->toolTip().isEmpty());
    h.Win().SetPageMode(1);
    tabs->setCurrentIndex(0);
    EXPECT_EQ(h.Win().PageMode(), 0);
    EXPECT_TRUE(h.Find<QPushButton>("btn_ComSet")->isHidden());
    EXPECT_FALSE(h.Find<QPushButton>("btn_Z1Set")->isHidden());

    const auto log = h.LogLines();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1].Text, u"Operate Via COM,please connect CFG to GND");
    EXPECT_EQ(log[2].Text, u"Operate Via LAN,please leave CFG pin free");
    for (const auto& line : log)
        EXPECT_EQ(line.Colour, kColourMaroon);
}

TEST(MainWindow, EveryStatusCodeWritesItsLineInItsColour) {
    struct Case {
        std::int32_t code;
        QString text;
        const char* key; // the line is this key's text (empty key: the literal below)
        QString suffix;
        QString literal;
        QColor colour;
    };
    const std::vector<Case> cases = {
        {stSearchSent, {}, "lang_H_lv_Dev", {}, {}, kColourGreen},
        {stCheckError, QStringLiteral("3A"), "lang_Hint_CheckErr", QStringLiteral("3A"), {}, kColourRed},
        {stAck, QStringLiteral("ACK"), "", {}, QStringLiteral(" ACK."), kColourGreen},
        {stOtherError, QStringLiteral("Other Error"), "lang_Hint_OtherErr", {}, {}, kColourRed},
        {stPswdError, QStringLiteral("x"), "", {}, QStringLiteral(" UsrName or Password Error!"), kColourRed},
        {stPortInUse,
         QStringLiteral("port is used"),
         "",
         {},
         QStringLiteral("1500 Port In Use!"),
         kColourRed},
        {stVerIncompatible, QStringLiteral("x"), "lang_Hint_VerIncompatible", {}, {}, kColourRed},
        {stReceiveOther,
         QStringLiteral("37"),
         "lang_Hint_ReceiveOther",
         QStringLiteral("37"),
         {},
         kColourRed},
    };
    for (const Case& c : cases) {
        TWindowHarness h;
        h.Win().Search();
        h.Win().FlushPending();
        h.Log()->clear();
        h.Win().LogPane().Clear();
        h.Win().ShowStatus(c.code, c.text);
        const auto log = h.LogLines();
        ASSERT_EQ(log.size(), 1u) << c.code;
        const QString expected = *c.key ? L(c.key) + c.suffix : c.literal;
        EXPECT_EQ(log[0].Text, expected) << c.code;
        EXPECT_EQ(log[0].Colour, c.colour) << c.code;
        EXPECT_EQ(h.Pswd->isVisible(), c.code == stPswdError) << c.code;
        const auto boxes = h.Prompts.Messages();
        if (c.code == stPortInUse) {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, QStringLiteral("1500 Port In Use!"));
        } else {
            EXPECT_TRUE(boxes.empty()) << c.code;
        }
    }
    TWindowHarness h;
    h.Win().SetPageMode(2);
    h.Win().ShowStatus(stVerIncompatible, QStringLiteral("x"));
    EXPECT_EQ(h.Win().PageMode(), 0);
    const std::size_t before = h.LogLines().size();
    h.Win().ShowStatus(12345, QStringLiteral("x"));
    EXPECT_EQ(h.LogLines().size(), before);
}

TEST(MainWindow, PasswordAckFromAModuleOpensTheDialogOnce) {
    TWindowHarness h;
    h.Win().Search();
    h.Inject({0xFF, 0x01, 0x05, 0x50}, 1500);
    EXPECT_TRUE(h.Pswd->isVisible());
    EXPECT_EQ(h.Pswd->windowModality(), Qt::ApplicationModal);
    // A second 'P' while it shows raises the same dialog.
    h.Inject({0xFF, 0x01, 0x05, 0x50}, 1500);
    int shown = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<TFrm_Pswd*>(w) != nullptr && w->isVisible())
            ++shown;
    EXPECT_EQ(shown, 1);
    const auto log = h.LogLines();
    EXPECT_EQ(log.back().Text, L("lang_Hint_PswdErr"));
}

TEST(MainWindow, PageModesSetThePageAndThePopupItems) {
    struct Case {
        int mode;
        int page; // -1: page control hidden
        std::set<QString> enabled;
    };
    const QString copy1 = QStringLiteral("mni_CopyTheMac"), copyAll = QStringLiteral("mni_CopeAllMac"),
                  up = QStringLiteral("mni_FirmwareUp"), web = QStringLiteral("mni_OpenWeb"),
                  restart = QStringLiteral("mni_Restart"), reset = QStringLiteral("mni_Reset"),
                  restore = QStringLiteral("mni_Restore"), replace = QStringLiteral("mni_Replace");
    const std::vector<Case> cases = {
        {0, -1, {copy1, copyAll, up}},
        {1, 0, {copy1, copyAll, reset}},
        {2, 1, {copy1, copyAll, up, web, restart, reset, restore, replace}},
        {3, 2, {copy1, copyAll, up, web, restart, reset, restore, replace}},
    };
    TWindowHarness h;
    auto* param = h.Find<QTabWidget>("rzpgcntrl_Param");
    const QSize size = h.Win().size();
    auto* panels = h.Find<QWidget>("pnl_Bg");
    const int leftPanel = h.Find<QWidget>("pnl1")->minimumWidth();
    for (const Case& c : cases) {
        h.Win().SetPageMode(c.mode);
        EXPECT_EQ(h.Win().PageMode(), c.mode);
        EXPECT_EQ(EnabledPopupItems(h.Win()), c.enabled) << "mode " << c.mode;
        // A page mode changes what is shown, never the window's size.
        EXPECT_EQ(h.Win().size(), size) << c.mode;
        if (c.page < 0) {
            EXPECT_TRUE(param->isHidden());
        } else {
            EXPECT_FALSE(param->isHidden()) << c.mode;
            EXPECT_EQ(param->currentIndex(), c.page);
            EXPECT_TRUE(param->tabBar()->isHidden());
            // The panels hold the left panel and the whole active page side by side (they
            // scroll where the window is smaller).
            EXPECT_GE(panels->minimumWidth(), leftPanel + param->currentWidget()->minimumSizeHint().width())
                << c.mode;
        }
    }
    h.Win().SetPageMode(7); // not a mode: nothing changes
    EXPECT_EQ(h.Win().PageMode(), 3);
    // The developer buttons reach the modes too.
    h.Find<QPushButton>("btn1")->click();
    EXPECT_EQ(h.Win().PageMode(), 1);
}

TEST(MainWindow, TrafficLinesOfTheHexPane) {
    TWindowHarness h;
    h.Win().ShowSendTraffic({0xFF, 0x01, 0x01, 0x02}, "255.255.255.255", "192.168.0.5", 1500, 3456);
    h.Win().ShowReceiveTraffic({0x45, 0x3A}, "192.168.0.7", "192.168.0.5", 1901, 3456);
    const auto hex = h.HexLines();
    ASSERT_EQ(hex.size(), 8u);
    const std::vector<std::pair<QString, QColor>> expected = {
        {QString(), QColor()},
        {QStringLiteral("[ 192.168.0.5 : 3456 ] \u2192 [ 255.255.255.255 : 1500 ]"), kColourBlue},
        {QStringLiteral("[ Length : 4 ]"), kColourBlue},
        {QStringLiteral("FF 01 01 02 "), QColor()},
        {QString(), QColor()},
        {QStringLiteral("[ 192.168.0.5 : 3456 ] \u2190 [ 192.168.0.7 : 1901 ]"), kColourGreen},
        {QStringLiteral("[ Length : 2 ]"), kColourGreen},
        {QStringLiteral("45 3A "), QColor()},
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(hex[i].Text, expected[i].first) << i;
        EXPECT_EQ(hex[i].Colour, expected[i].second) << i;
    }
    // A send also writes the green "sent" line to the operation log.
    const auto log = h.LogLines();
    EXPECT_EQ(log.back().Text, L("lang_Hint_Sending"));
    EXPECT_EQ(log.back().Colour, kColourGreen);
}

TEST(MainWindow, PanesWriteInBatchesAndTheHexPaneFollowsItsEnd) {
    TWindowHarness h;
    h.Win().HexPane().Clear();
    for (int i = 0; i < 5000; ++i)
        h.Win().HexPlain(QString::number(i));
    // Nothing is drawn per line: the lines wait for the next flush.
    EXPECT_EQ(h.Win().HexPane().PendingCount(), 5000);
    EXPECT_TRUE(h.Hex()->document()->isEmpty());
    // The timer writes them in bounded batches, giving the event loop turns in between.
    int batches = 0;
    QObject::connect(&h.Win().HexPane(), &TLogPane::Changed, [&batches] { ++batches; });
    EXPECT_TRUE(PumpUntil([&] { return h.Win().HexPane().PendingCount() == 0; }, 2000));
    EXPECT_EQ(batches, (5000 + TLogPane::MaxLinesPerFlush - 1) / TLogPane::MaxLinesPerFlush);
    EXPECT_EQ(h.Hex()->document()->blockCount(), 5000);
    EXPECT_EQ(h.Hex()->document()->lastBlock().text(), u"4999");
    QScrollBar* bar = h.Hex()->verticalScrollBar();
    EXPECT_EQ(bar->value(), bar->maximum());
    // Clearing drops what is still queued.
    h.Win().HexPlain(QStringLiteral("queued"));
    h.Win().HexPane().Clear();
    h.Win().FlushPending();
    EXPECT_TRUE(h.Hex()->document()->isEmpty());
}

TEST(MainWindow, PanesStayBoundedUnderAFloodAndSayWhatTheyDropped) {
    TWindowHarness h;
    TLogPane& pane = h.Win().HexPane();
    pane.Clear();
    // Written as the flush timer would, 10,000 lines at a time: the pane never holds more than
    // MaxLines, and trims in batches down to KeepLines.
    constexpr int Total = 3 * TLogPane::MaxLines;
    for (int i = 0; i < Total; ++i) {
        h.Win().HexPlain(QString::number(i));
        if (i % 10000 == 9999)
            h.Win().FlushPending();
        ASSERT_LE(pane.LineCount(), TLogPane::MaxLines);
    }
    h.Win().FlushPending();
    const QTextDocument* doc = h.Hex()->document();
    EXPECT_GE(pane.LineCount(), TLogPane::KeepLines);
    EXPECT_EQ(pane.DroppedCount() + pane.LineCount(), Total);
    // The first line says how many lines went; the oldest kept line and the last one follow.
    ASSERT_EQ(doc->blockCount(), pane.LineCount() + 1);
    EXPECT_EQ(doc->firstBlock().text(), L("lang_Hint_LinesDropped").arg(pane.DroppedCount()));
    EXPECT_EQ(doc->firstBlock().next().text(), QString::number(pane.DroppedCount()));
    EXPECT_EQ(doc->lastBlock().text(), QString::number(Total - 1));

    // Lines queued faster than they are written are bounded too.
    for (int i = 0; i < Total; ++i)
        h.Win().HexPlain(QStringLiteral("q"));
    EXPECT_LE(pane.PendingCount(), TLogPane::MaxLines);
    h.Win().FlushPending();
    EXPECT_EQ(pane.DroppedCount() + pane.LineCount(), 2 * Total);
    EXPECT_EQ(doc->firstBlock().text(), L("lang_Hint_LinesDropped").arg(pane.DroppedCount()));
    pane.Clear();
    EXPECT_EQ(pane.DroppedCount(), 0);
    EXPECT_TRUE(doc->isEmpty());

    // Long lines (the hex of large datagrams) are bounded by characters, queued and written: the
    // pane keeps the newest whole lines and says how many went.
    const QString wide(20000, u'A');
    for (int i = 0; i < 2 * TLogPane::MaxChars / wide.size(); ++i)
        h.Win().HexPlain(wide + QString::number(i));
    EXPECT_LE(pane.PendingCount(), TLogPane::MaxChars / wide.size() + 1);
    h.Win().FlushPending();
    EXPECT_LE(doc->characterCount(), TLogPane::MaxChars + wide.size() + 100);
    EXPECT_GT(pane.DroppedCount(), 0);
    EXPECT_EQ(doc->lastBlock().text(), wide + QString::number(2 * TLogPane::MaxChars / wide.size() - 1));
    EXPECT_EQ(doc->firstBlock().text(), L("lang_Hint_LinesDropped").arg(pane.DroppedCount()));
}

TEST(MainWindow, ControlCharactersFromTheNetworkAreShownNotActedOn) {
    TWindowHarness h;
    // A forged search reply whose name holds ESC, CR and LF: one row, the characters visible.
    TSearchHit hit;
    hit.Reply = {"10.0.0.9", "A\x1b[2J\r\nB", "00 1A 2B 3C 4D 5E", "4017", 4017, FamilyZ2};
    hit.Binding = 0;
    h.Win().Endpoint().OnSearchReply(hit);
    h.Win().FlushPending();
    ASSERT_EQ(h.Win().DeviceCount(), 1);
    const QModelIndex name = h.Win().Devices().index(0, TDeviceListModel::ColName);
    EXPECT_EQ(name.data().toString(), QStringLiteral("A\\x1B[2J\\x0D\\x0AB"));
    // A status text with a line break stays one line of the log.
    const auto before = h.LogLines().size();
    h.Win().Endpoint().OnStatus(stReceiveOther, "x\r\nforged");
    h.Win().FlushPending();
    const auto log = h.LogLines();
    ASSERT_EQ(log.size(), before + 1);
    EXPECT_TRUE(log.back().Text.endsWith(QStringLiteral("x\\x0D\\x0Aforged")));
}

TEST(MainWindow, LanguageSwitchReappliesEveryWindowAndWritesTheSetting) {
    TWindowHarness h;
    h.Win().SetLanguage(true);
    EXPECT_TRUE(h.Find<QAction>("mni_Cn")->isChecked());
    EXPECT_FALSE(h.Find<QAction>("mni_En")->isChecked());
    EXPECT_EQ(h.Find<QPushButton>("btn_Search")->text(), u"搜索设备");
    EXPECT_EQ(h.Find<QAction>("mni_OpenWeb")->text(), u"打开网页 (&O)");
    EXPECT_EQ(h.Find<QTabWidget>("rzpgcntrl_Logs")->tabText(1), u"数据流");
    EXPECT_EQ(h.Pswd->windowTitle(), u"用户名密码设置");
    EXPECT_EQ(h.About->windowTitle(), u"关于");
    QFile ini(h.Home() + QStringLiteral("/Cfg.ini"));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_TRUE(ini.readAll().contains("Language=1"));
    // The menu item does the same.
    h.Find<QAction>("mni_En")->trigger();
    EXPECT_EQ(h.Find<QPushButton>("btn_Search")->text(), u"Search Device");
}

TEST(MainWindow, RealTimeHelpTogglesEveryHint) {
    TWindowHarness h;
    auto* button = h.Find<QPushButton>("btn_Search");
    EXPECT_EQ(button->toolTip(), L("lang_H_btn_Search"));
    EXPECT_TRUE(h.Win().HintsEnabled());
    h.Find<QAction>("mni_Hint")->trigger();
    EXPECT_FALSE(h.Win().HintsEnabled());
    EXPECT_FALSE(h.Win().realTimeHelpChecked());
    // With hints off the help event never reaches the control.
    QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), button->mapToGlobal(QPoint(2, 2)));
    EXPECT_TRUE(QApplication::sendEvent(button, &help));
    EXPECT_FALSE(QToolTip::isVisible());
    h.Find<QAction>("mni_Hint")->trigger();
    EXPECT_TRUE(h.Win().HintsEnabled());
}

TEST(MainWindow, ClosingSavesTheSettings) {
    TWindowHarness h;
    h.Find<QAction>("mni_Hint")->trigger();
    h.Win().close();
    QFile ini(h.Home() + QStringLiteral("/Cfg.ini"));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    const QByteArray content = ini.readAll();
    EXPECT_TRUE(content.contains("RealTimeHelp=0"));
    EXPECT_TRUE(content.contains("ZNum=2"));
    EXPECT_TRUE(content.contains("Language=0"));
    // The log-in is the password dialog's key: it writes it when the program ends.
    EXPECT_FALSE(content.contains("UserName="));
}

TEST(MainWindow, WheelOverTheZ2PageScrollsItByOneLineWhateverIsUnderTheCursor) {
    TWindowHarness h;
    h.Win().resize(h.Win().width(), h.Win().minimumHeight()); // short: the page's box scrolls
    h.Win().SetPageMode(2);
    QApplication::processEvents();
    auto* box = h.Find<QScrollArea>("ScrollBox1");
    ASSERT_NE(box, nullptr);
    QScrollBar* bar = box->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0) << "the Z2 page fits without scrolling";
    // A drop-down inside the box would take the wheel itself; here the box scrolls instead.
    auto* combo = h.Find<QComboBox>("cbb_BaudRate0");
    ASSERT_NE(combo, nullptr);
    box->ensureWidgetVisible(combo);
    bar->setValue(bar->maximum() / 2);
    const int start = bar->value();
    const int index = combo->currentIndex();
    const QPoint local = combo->rect().center();
    auto wheel = [&](int delta) {
        QWheelEvent e(QPointF(local), QPointF(combo->mapToGlobal(local)), QPoint(), QPoint(0, delta),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(combo, &e);
    };
    wheel(-120);
    EXPECT_EQ(bar->value(), start + bar->singleStep());
    wheel(120);
    wheel(120);
    EXPECT_EQ(bar->value(), start - bar->singleStep());
    EXPECT_EQ(combo->currentIndex(), index);
    // Outside the box the wheel does what it always does.
    QWheelEvent outside(QPointF(5, 5), QPointF(h.Log()->viewport()->mapToGlobal(QPoint(5, 5))), QPoint(),
                        QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(h.Log()->viewport(), &outside);
    EXPECT_EQ(bar->value(), start - bar->singleStep());
}
