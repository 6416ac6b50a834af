// Writes screenshots of the main window (English and Chinese, with and without a device page)
// and of the two dialogs to the directory given as the first argument. Not a test: a tool for
// looking at the layout. Sends only to loopback sockets of its own.

#include "../dark_palette.h"
#include "ui/main/fleet_view.h"
#include "window_harness.h"

#include <QApplication>
#include <QDir>
#include <QPalette>
#include <QScrollBar>
#include <QTest>
#include <QToolTip>
#include <QTreeView>

using namespace varnix;
using namespace varnix::test;

namespace {

void Shoot(QWidget* w, const QString& path) {
    QApplication::processEvents();
    w->grab().save(path);
}

void Run(bool chinese, const QString& dir) {
    const QString lang = chinese ? QStringLiteral("cn") : QStringLiteral("en");
    TWindowHarness h(chinese);
    h.Win().FlushPending();
    Shoot(&h.Win(), dir + QStringLiteral("/main-start-") + lang + QStringLiteral(".png"));
    h.SearchWith({
        {{10, 77, 0, 50}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, 4017, "Line-1", 1500},
        {{10, 77, 0, 51}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5F}, 4017, "Packing-2", 1500},
        {{10, 77, 0, 52}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x60}, 3001, "Press-Z3", 1901},
        {{10, 77, 0, 53}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x61}, 2001, "Old-FW", 1500},
    });
    // Each page as a click on its module's row shows it: the module answers the read.
    h.ClickRow(0);
    h.Answer(h.Z2, {ParamReply({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E})});
    h.FinishRead();
    h.Win().FlushPending();
    Shoot(&h.Win(), dir + QStringLiteral("/main-z2-") + lang + QStringLiteral(".png"));
    h.ClickRow(2);
    h.Answer(h.Z3, {ParamReply({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x60}, 3)});
    h.FinishRead();
    h.Win().FlushPending();
    Shoot(&h.Win(), dir + QStringLiteral("/main-z3-") + lang + QStringLiteral(".png"));
    h.Win().SetPageMode(1);
    Shoot(&h.Win(), dir + QStringLiteral("/main-z1-") + lang + QStringLiteral(".png"));
    h.Win().SetPageMode(0);
    h.Win().findChild<QTabWidget*>(QStringLiteral("rzpgcntrl_Logs"))->setCurrentIndex(1);
    Shoot(&h.Win(), dir + QStringLiteral("/main-hex-") + lang + QStringLiteral(".png"));
    h.Win().findChild<QTabWidget*>(QStringLiteral("rzpgcntrl_Srch"))->setCurrentIndex(1);
    h.Win().FlushPending();
    Shoot(&h.Win(), dir + QStringLiteral("/main-serial-") + lang + QStringLiteral(".png"));
    // The serial tab with the log showing and the Z2 page's serial save button.
    h.Win().findChild<QTabWidget*>(QStringLiteral("rzpgcntrl_Logs"))->setCurrentIndex(0);
    h.Win().SetPageMode(2);
    h.Win().FlushPending();
    Shoot(&h.Win(), dir + QStringLiteral("/main-serial-z2-") + lang + QStringLiteral(".png"));
    h.Win().SetPageMode(0);
    h.Pswd->show();
    Shoot(h.Pswd.get(), dir + QStringLiteral("/pswd-") + lang + QStringLiteral(".png"));
    h.Pswd->hide();
    h.About->show();
    Shoot(h.About.get(), dir + QStringLiteral("/about-") + lang + QStringLiteral(".png"));
    h.About->hide();
    // Health checks after a search: one IP twice, a name twice, old firmware, a foreign subnet.
    h.SearchWith({
        {{127, 0, 0, 50}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x01}, 4017, "Pump", 1500},
        {{127, 0, 0, 50}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x02}, 4017, "Valve", 1500},
        {{127, 0, 0, 51}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x03}, 3001, "Pump", 1901},
        {{127, 0, 0, 52}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x04}, 2001, "Old-FW", 1500},
        {{10, 77, 0, 9}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x05}, 4017, "Far", 1500},
        {{127, 0, 0, 53}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x06}, 4017, "Fine", 1500},
    });
    h.CheckHealth();
    // The old-firmware row current: its findings in the line under the list.
    auto* rows = h.Find<QTreeView>("lv_Dev");
    rows->setCurrentIndex(rows->model()->index(3, 0));
    h.Win().findChild<QTabWidget*>(QStringLiteral("rzpgcntrl_Logs"))->setCurrentIndex(0);
    h.Win().findChild<QTabWidget*>(QStringLiteral("rzpgcntrl_Srch"))->setCurrentIndex(0);
    h.Win().FlushPending();
    Shoot(&h.Win(), dir + QStringLiteral("/main-checks-") + lang + QStringLiteral(".png"));
    // The tooltip of the first marked row (a window of its own).
    auto* list = h.Find<QTreeView>("lv_Dev");
    QToolTip::showText(list->viewport()->mapToGlobal(QPoint(20, 20)),
                       list->model()->data(list->model()->index(0, 0), Qt::ToolTipRole).toString(), list);
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->inherits("QTipLabel") && w->isVisible())
            Shoot(w, dir + QStringLiteral("/main-checks-tip-") + lang + QStringLiteral(".png"));
    QToolTip::hideText();
}

// A name with ESC, CR and LF in the list, and an operation log that has dropped older lines.
void Hostile(bool chinese, const QString& dir) {
    const QString lang = chinese ? QStringLiteral("cn") : QStringLiteral("en");
    TWindowHarness h(chinese);
    h.SearchWith({
        {{10, 77, 0, 50}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, 4017, "Line-1", 1500},
        {{10, 77, 0, 66}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x66}, 4017, "\x1b[2J\r\nX%3", 1500},
    });
    for (int i = 0; i < 60000; ++i)
        h.Win().LogOk(QStringLiteral("line %1").arg(i));
    h.Win().FlushPending();
    h.Log()->verticalScrollBar()->setValue(0);
    Shoot(&h.Win(), dir + QStringLiteral("/main-hostile-") + lang + QStringLiteral(".png"));
}

// Started in English, switched to Chinese from the language menu with the Z2 page showing.
void Switched(const QString& dir) {
    TWindowHarness h(false);
    h.Win().SetPageMode(2);
    h.Win().SetLanguage(true);
    Shoot(&h.Win(), dir + QStringLiteral("/main-z2-switched-cn.png"));
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    UseDarkPaletteIfAsked();
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/shots");
    QDir().mkpath(dir);
    Run(false, dir);
    Run(true, dir);
    Hostile(false, dir);
    Hostile(true, dir);
    Switched(dir);
    return 0;
}
