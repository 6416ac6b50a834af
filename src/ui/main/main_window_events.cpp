// The controls behind the main window's settings keys and its event filters: list keys and
// clicks, and the wheel over the Z2 page; the selected rows.

#include "ui/main/main_window.h"

#include "core/convert.h"
#include "ui/main/lan_link.h"
#include "ui_main_window.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <set>

namespace varnix {

// ---------------------------------------------------------------------------------------------
// Settings controls

void TFrm_Main::setLanguageChecked(bool chinese) {
    (chinese ? ui->mni_Cn : ui->mni_En)->setChecked(true);
}
void TFrm_Main::setRealTimeHelpChecked(bool checked) {
    ui->mni_Hint->setChecked(checked);
}
void TFrm_Main::setLocalCom(const QString& port) {
    ui->cbb_SelectCom->setEditText(port);
}
void TFrm_Main::setModelChecked(int zNum) {
    (zNum == 2 ? ui->rbZ2 : zNum == 3 ? ui->rbZ3 : ui->rbZ1)->setChecked(true);
}
bool TFrm_Main::realTimeHelpChecked() const {
    return ui->mni_Hint->isChecked();
}
QString TFrm_Main::localCom() const {
    return ui->cbb_SelectCom->currentText();
}
int TFrm_Main::checkedModel() const {
    if (ui->rbZ1->isChecked())
        return 1;
    if (ui->rbZ2->isChecked())
        return 2;
    if (ui->rbZ3->isChecked())
        return 3;
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Events: list keys and clicks, hints, the wheel over the Z2 page

bool TFrm_Main::eventFilter(QObject* watched, QEvent* event) {
    // The pointer passing over the list or the hex pane does not take the keyboard focus: a
    // value being typed into a page stays where it is typed.
    if (watched == ui->lv_Dev && event->type() == QEvent::KeyPress)
        return DeviceListKey(static_cast<QKeyEvent*>(event));
    if (watched == ui->lv_Dev && event->type() == QEvent::ContextMenu &&
        static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) {
        OpenRowMenuFromKeyboard();
        return true;
    }
    if (watched == ui->lv_Dev->viewport()) {
        if (event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            if (!ui->lv_Dev->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint()).isValid())
                ui->lv_Dev->clearSelection();
            lv_DevClick();
        }
        return false;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TFrm_Main::DeviceListKey(QKeyEvent* event) {
    // The arrows, Home, End and the page keys move the current row (with Shift or Ctrl they
    // extend the selection or move without selecting), Ctrl+Space toggles a row and Ctrl+A
    // selects every row; Tab moves the focus on; Enter reads the current row; the Menu key and
    // Shift+F10 open its menu. Every other key is swallowed (type-ahead search would move the
    // selection without a read), except the window's shortcuts, which never reach the list.
    static const int moving[] = {Qt::Key_Up,     Qt::Key_Down,     Qt::Key_Home, Qt::Key_End,
                                 Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_Space};
    const int key = event->key();
    if (key == Qt::Key_Menu || (key == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier)) {
        OpenRowMenuFromKeyboard();
        return true;
    }
    // Enter, or Space on the row already selected, reads the current row again.
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain &&
        (key == Qt::Key_Return || key == Qt::Key_Enter ||
         (key == Qt::Key_Space && SelectedRow() && SelectedRow() == ui->lv_Dev->currentIndex().row()))) {
        const QModelIndex current = ui->lv_Dev->currentIndex();
        if (current.isValid() && !SelectedRow())
            ui->lv_Dev->selectionModel()->select(current, QItemSelectionModel::ClearAndSelect |
                                                              QItemSelectionModel::Rows);
        if (SelectedRow())
            lv_DevClick();
        return true;
    }
    if (key == Qt::Key_Tab || key == Qt::Key_Backtab || event->matches(QKeySequence::SelectAll))
        return false;
    if (std::find(std::begin(moving), std::end(moving), key) == std::end(moving))
        return true;
    // The list handles the key after this filter; a row that became current and selected by it
    // (moved to, or selected by Space where it stood) is read then, as a click on it would read it.
    const QPersistentModelIndex before = ui->lv_Dev->currentIndex();
    const bool wasSelected = SelectedRow().has_value();
    QMetaObject::invokeMethod(
        this,
        [this, before, wasSelected] {
            if (SelectedRow() && (ui->lv_Dev->currentIndex() != QModelIndex(before) || !wasSelected))
                lv_DevClick();
        },
        Qt::QueuedConnection);
    return false;
}

std::vector<TFoundModule> TFrm_Main::SelectedModules() const {
    QModelIndexList rows = ui->lv_Dev->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::vector<TFoundModule> modules;
    std::set<std::string> seen;
    for (const QModelIndex& index : rows) {
        const TDeviceRow& r = devices_->Row(index.row());
        if (seen.insert(MacKey(r.Mac.toStdString())).second)
            modules.push_back(TLanLink::ModuleOf(r, udp_->BindingAddress(r.Binding)));
    }
    return modules;
}

bool TFrm_Main::ApplicationEvents1Message(QObject* /*watched*/, QEvent* event) {
    if (event->type() == QEvent::Wheel) {
        // Over the Z2 page's scroll box every wheel step scrolls the box by one line, even when
        // the cursor rests on a drop-down or an edit inside it (which would otherwise take it).
        if (scrollBox_.isNull())
            scrollBox_ = findChild<QScrollArea*>(QStringLiteral("ScrollBox1"));
        if (scrollBox_.isNull() || !scrollBox_->isVisible())
            return false;
        auto* wheel = static_cast<QWheelEvent*>(event);
        const QPoint global = wheel->globalPosition().toPoint();
        const QRect box(scrollBox_->mapToGlobal(QPoint(0, 0)), scrollBox_->size());
        if (!box.contains(global))
            return false;
        scrollBox_->verticalScrollBar()->triggerAction(wheel->angleDelta().y() > 0
                                                           ? QAbstractSlider::SliderSingleStepSub
                                                           : QAbstractSlider::SliderSingleStepAdd);
        return true;
    }
    return false;
}

} // namespace varnix
