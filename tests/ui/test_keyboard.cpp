// The main window without a mouse: the device list's keys, its menu by Shift+F10 and the Menu
// key, the question before a factory reset (Cancel the default), the findings of a row with the
// hints off, and a name for every control a screen reader meets. Keys only (QTest key events);
// the window sends to the harness's loopback sockets.

#include "core/types.h"
#include "ui/main/device_list_model.h"
#include "window_harness.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QTreeView>

#include <gtest/gtest.h>

using namespace varnix;
using namespace varnix::test;

namespace {

const TSearchRow RowZ2{{127, 0, 0, 50}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, 4017, "Line-1", 1500};
const TSearchRow RowOld{{127, 0, 0, 52}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x61}, 2001, "Old", 1500};
const TSearchRow RowTwin{{127, 0, 0, 53}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x62}, 4017, "Line-1", 1500};

QTreeView* FocusedList(TWindowHarness& h) {
    h.Win().activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&h.Win()));
    auto* list = h.Find<QTreeView>("lv_Dev");
    list->setFocus(Qt::TabFocusReason);
    return list;
}

std::set<QString> EnabledItems(QMenu* menu) {
    std::set<QString> out;
    for (QAction* a : menu->actions())
        if (!a->isSeparator() && a->isEnabled() && a->isVisible())
            out.insert(a->objectName());
    return out;
}

} // namespace

TEST(Keyboard, RowMenuByShiftF10AndMenuKeyAndAResetThatAsksFirst) {
    TWindowHarness h;
    h.SearchWith({RowZ2, RowOld});
    QTreeView* list = FocusedList(h);

    // The focus makes the first row current; Space selects and reads it, Enter reads it again,
    // and an arrow reads the row it moves to.
    ASSERT_EQ(list->currentIndex().row(), 0);
    QTest::keyClick(list, Qt::Key_Space);
    ASSERT_TRUE(PumpUntil([&] { return !h.Z2.Drain(50).empty(); }, 2000)) << "Space read the row";
    h.DrainSinks();
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_FALSE(h.Z2.Drain(200).empty()) << "Enter read the row";
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Up);
    EXPECT_TRUE(PumpUntil([&] { return !h.Z2.Drain(50).empty(); }, 2000)) << "the arrow read the row";
    h.DrainSinks();

    // Shift+F10: the row's menu with every item a Z2 module allows, whatever page shows.
    h.Win().SetPageMode(0);
    QTest::keyClick(list, Qt::Key_F10, Qt::ShiftModifier);
    QMenu* menu = h.Win().PopupMenu();
    ASSERT_TRUE(PumpUntil([&] { return menu->isVisible(); }, 1000));
    EXPECT_EQ(EnabledItems(menu),
              (std::set<QString>{u"mni_OpenWeb"_qs, u"mni_Restart"_qs, u"mni_FirmwareUp"_qs, u"mni_Reset"_qs,
                                 u"mni_Restore"_qs, u"mni_Replace"_qs, u"mni_CopyTheMac"_qs,
                                 u"mni_CopeAllMac"_qs}));
    // Its mnemonic (Re&set) chooses the reset: asked first, naming the module; the default
    // answer (Cancel) sends nothing.
    QTest::keyClick(menu, Qt::Key_S);
    ASSERT_FALSE(h.Prompts.Shown().empty());
    const TScriptedPrompts::TStep asked = h.Prompts.Shown().back();
    EXPECT_EQ(asked.kind, TScriptedPrompts::Kind::Confirm);
    for (const char* part : {"127.0.0.50", "Line-1", "00 1A 2B 3C 4D 5E"})
        EXPECT_TRUE(asked.text.contains(QLatin1String(part))) << part << " in " << asked.text.toStdString();
    EXPECT_TRUE(h.Z2.Drain(200).empty());
    EXPECT_TRUE(h.Z3.Drain(0).empty());

    // Confirmed, the reset goes out once.
    h.Prompts.NextQuestion(true);
    QTest::keyClick(list, Qt::Key_Menu);
    ASSERT_TRUE(PumpUntil([&] { return menu->isVisible(); }, 1000));
    QTest::keyClick(menu, Qt::Key_S);
    const auto sent = h.Z2.Drain(500);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0][2], CmdFactoryReset);
    EXPECT_EQ(MacOf(sent[0]), "00 1A 2B 3C 4D 5E");

    // The incompatible row below: its menu offers only what such a module allows.
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Menu);
    ASSERT_TRUE(PumpUntil([&] { return menu->isVisible(); }, 1000));
    EXPECT_EQ(EnabledItems(menu),
              (std::set<QString>{u"mni_FirmwareUp"_qs, u"mni_CopyTheMac"_qs, u"mni_CopeAllMac"_qs}));
    QTest::keyClick(menu, Qt::Key_Escape);
}

TEST(Keyboard, TheResetQuestionDefaultsToCancel) {
    // The real dialog: Enter and Esc both answer Cancel; only the action's own button resets.
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape, Qt::Key_Space}) {
        QString defaultText;
        QTimer::singleShot(0, [&defaultText, key] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            defaultText = box->defaultButton()->text();
            QTest::keyClick(box->focusWidget() ? box->focusWidget() : box, key);
        });
        TQtPrompts prompts;
        EXPECT_FALSE(prompts.Confirm(nullptr, u"Please confirm"_qs, u"Reset?"_qs, u"Reset"_qs, u"Cancel"_qs))
            << key;
        EXPECT_EQ(defaultText, u"Cancel");
    }
}

TEST(Keyboard, ARowsFindingsAreReadableWithTheHintsOff) {
    TWindowHarness h;
    h.SearchWith({RowZ2, RowOld, RowTwin});
    h.CheckHealth();
    QAction* hints = h.Find<QAction>("mni_Hint");
    if (hints->isChecked())
        hints->trigger();
    ASSERT_FALSE(h.Win().HintsEnabled());
    QTreeView* list = FocusedList(h);
    QTest::keyClick(list, Qt::Key_Down); // from the first row to the incompatible one
    const QString finding = u"Incompatible firmware 2001"_qs;

    // The line under the list, the row's findings column and the list's description.
    auto* line = h.Find<QLabel>("lbl_Findings");
    EXPECT_TRUE(line->isVisible());
    EXPECT_TRUE(line->text().contains(finding)) << line->text().toStdString();
    EXPECT_TRUE(list->accessibleDescription().contains(finding));
    EXPECT_FALSE(list->isColumnHidden(TDeviceListModel::ColFindings));
    const QModelIndex cell = list->model()->index(1, TDeviceListModel::ColFindings);
    EXPECT_TRUE(cell.data().toString().contains(finding));
    // The two rows named alike say so in their own line.
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_TRUE(line->text().contains(u"\"Line-1\""_qs)) << line->text().toStdString();

    // The row's tooltip shows its findings although the general hints are off.
    const QRect rect = list->visualRect(list->model()->index(1, 0));
    QHelpEvent help(QEvent::ToolTip, rect.center(), list->viewport()->mapToGlobal(rect.center()));
    QApplication::sendEvent(list->viewport(), &help);
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_TRUE(QToolTip::text().contains(finding)) << QToolTip::text().toStdString();
    QToolTip::hideText();
}

TEST(Keyboard, ShortcutsMnemonicsNamesAndNoFocusTakenByThePointer) {
    TWindowHarness h;
    h.SearchWith({RowZ2});
    TFrm_Main& w = h.Win();
    FocusedList(h);
    // F5 searches again (the list is emptied and the request goes out).
    h.DrainSinks();
    QTest::keyClick(&w, Qt::Key_F5);
    EXPECT_EQ(w.DeviceCount(), 0);
    EXPECT_FALSE(h.Z2.Drain(200).empty());
    EXPECT_EQ(h.Find<QAction>("mniExporDevs")->shortcut(), QKeySequence(u"Ctrl+E"_qs));
    EXPECT_EQ(h.Find<QAction>("mni_Exit")->shortcut(), QKeySequence(u"Ctrl+Q"_qs));
    EXPECT_EQ(h.Find<QAction>("mni_About")->shortcut(), QKeySequence(u"F1"_qs));
    // Ctrl+S with nothing read points at the list, as the save button does.
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(h.LogLines().back().Text, EnglishText("lang_Hint_NoTarget"));

    // Every control the keyboard reaches has a name, in each language; menus have mnemonics.
    for (const bool chinese : {false, true}) {
        w.SetLanguage(chinese);
        for (const int mode : {0, 2, 3}) {
            w.SetPageMode(mode);
            for (QWidget* c : w.findChildren<QWidget*>()) {
                if (c->focusPolicy() == Qt::NoFocus || !c->isVisibleTo(&w) || qobject_cast<QLabel*>(c) ||
                    c->window() != &w || c->inherits("QScrollBar") || c->inherits("QAbstractSpinBox") ||
                    qobject_cast<QLineEdit*>(c->parentWidget()) != nullptr || c->inherits("QMenuBar"))
                    continue;
                if (c->parentWidget() && c->parentWidget()->inherits("QComboBox"))
                    continue; // a drop-down's own edit: the drop-down carries the name
                if (c->inherits("QScrollArea") || c->inherits("QTabWidget") || c->inherits("QTabBar"))
                    continue; // containers: a screen reader names their tabs and contents
                EXPECT_FALSE(c->accessibleName().isEmpty())
                    << c->metaObject()->className() << " " << c->objectName().toStdString() << " mode "
                    << mode << (chinese ? " zh" : " en");
            }
        }
        EXPECT_TRUE(h.Find<QMenu>("mni_File")->title().contains(u'&'));
        EXPECT_TRUE(h.Find<QAction>("mniExporDevs")->text().contains(u'&'));
    }
    EXPECT_EQ(h.Find<QTreeView>("lv_Dev")->accessibleName(), u"设备列表");
    w.SetLanguage(false);

    // The pointer moving over the list or the hex pane leaves the focus in the field being typed.
    w.SetPageMode(2);
    auto* name = h.Find<QLineEdit>("edt_ModName");
    name->setFocus(Qt::TabFocusReason);
    for (QWidget* over : {h.Find<QTreeView>("lv_Dev")->viewport(), h.Hex()->viewport()}) {
        QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), over->mapToGlobal(QPointF(5, 5)), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(over, &move);
        EXPECT_TRUE(name->hasFocus());
    }
}

// Tab walks each page's fields in reading order: down the rows, and left to right within a row,
// so that the keyboard never jumps back up the page or across to another group and back.
TEST(Keyboard, TabWalksEveryPageInReadingOrder) {
    TWindowHarness h;
    TFrm_Main& w = h.Win();
    w.resize(1280, 720);
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    for (const int mode : {1, 2, 3}) {
        w.SetPageMode(mode);
        QCoreApplication::processEvents();
        auto* pages = h.Find<QTabWidget>("rzpgcntrl_Param");
        QWidget* page = pages->currentWidget();
        std::vector<QWidget*> chain;
        QWidget* first = nullptr;
        for (QWidget* c = page->nextInFocusChain(); c != page && chain.size() < 500;
             c = c->nextInFocusChain()) {
            if (!page->isAncestorOf(c) || !c->isVisibleTo(page) || !(c->focusPolicy() & Qt::TabFocus))
                continue;
            if (c == first)
                break;
            if (first == nullptr)
                first = c;
            chain.push_back(c);
        }
        ASSERT_GT(chain.size(), 5u) << "mode " << mode;
        // Tab from the log, the control before the page, goes into the page.
        auto* log = h.Find<QPlainTextEdit>("redt_Log");
        log->setFocus(Qt::TabFocusReason);
        QTest::keyClick(log, Qt::Key_Tab);
        EXPECT_TRUE(page->isAncestorOf(QApplication::focusWidget())) << "mode " << mode;
        for (std::size_t i = 1; i < chain.size(); ++i) {
            const QPoint a = chain[i - 1]->mapTo(page, QPoint(0, chain[i - 1]->height() / 2));
            const QPoint b = chain[i]->mapTo(page, QPoint(0, chain[i]->height() / 2));
            // The same row (centres within a few pixels) goes right; otherwise the next is lower.
            const bool sameRow = std::abs(a.y() - b.y()) <= 6;
            EXPECT_TRUE(sameRow ? b.x() > a.x() : b.y() > a.y())
                << "mode " << mode << ": " << chain[i - 1]->objectName().toStdString() << " then "
                << chain[i]->objectName().toStdString();
        }
    }
}
