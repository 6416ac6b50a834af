// The main window's menus and keys: the menu bar, the device list's pop-up menu (by the mouse,
// the Menu key or Shift+F10), the shortcuts, mnemonics and the accessible names of the controls,
// and the question asked before a factory reset.

#include "ui/main/main_window.h"

#include "app/about_dialog.h"
#include "app/pswd_dialog.h"
#include "core/convert.h"
#include "ui/common/colours.h"
#include "ui/common/confirm_text.h"
#include "ui/main/lan_link.h"
#include "ui/main/log_pane.h"
#include "ui/main/menu_keys.h"
#include "ui/main/pages/page_set.h"
#include "ui/main/pages/z2_page.h"
#include "ui/main/pages/z3_page.h"
#include "ui/main/restore_dialog.h"
#include "ui/main/window_inventory.h"
#include "ui_main_window.h"

#include <QAbstractButton>
#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTabBar>
#include <QTreeView>

#include <map>
#include <set>

namespace varnix {

namespace {
void NameControls(QWidget* root);
} // namespace

// ---------------------------------------------------------------------------------------------
// Controls and menus

void TFrm_Main::BuildPopupMenu() {
    pm_NetDev_ = new QMenu(this);
    pm_NetDev_->setObjectName(QStringLiteral("pm_NetDev"));
    auto add = [this](const char* name, const QString& caption) {
        QAction* a = pm_NetDev_->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    add("mniReadTheParam", QStringLiteral("读取参数"))->setVisible(false);
    pm_NetDev_->addSeparator();
    add("mni_OpenWeb", QStringLiteral("打开网页"));
    add("mni_Restart", QStringLiteral("重启设备"));
    add("mni_FirmwareUp", QStringLiteral("固件升级"));
    add("mni_Reset", QStringLiteral("恢复出厂设置"));
    add("mni_Restore", QStringLiteral("恢复配置..."));
    add("mni_Replace", QStringLiteral("替换模块..."));
    pm_NetDev_->addSeparator();
    add("mni_CopyTheMac", QStringLiteral("复制选中MAC"));
    add("mni_CopeAllMac", QStringLiteral("复制所有MAC"));
    connect(pm_NetDev_, &QMenu::triggered, this, &TFrm_Main::mni_LvRightMmClick);
    // File > Inventory: hidden until main.cpp gives the window that lists the inventory.
    inventoryItem_ = new QAction(QStringLiteral("设备清单..."), this);
    inventoryItem_->setObjectName(QStringLiteral("mni_Inventory"));
    inventoryItem_->setVisible(false);
    ui->mni_File->insertAction(ui->mni_Exit, inventoryItem_);
}

void TFrm_Main::SetInventoryOpener(std::function<void()> open) {
    inventoryOpener_ = std::move(open);
    inventoryItem_->setVisible(static_cast<bool>(inventoryOpener_));
}

void TFrm_Main::BuildShortcuts() {
    ui->mniExporDevs->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    ui->mni_Exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    ui->mni_About->setShortcut(QKeySequence(Qt::Key_F1));
    for (QAction* a : {ui->mniExporDevs, ui->mni_Exit, ui->mni_About})
        a->setShortcutContext(Qt::WindowShortcut);
    // F5 searches (from the LAN tab, which it brings forward); Ctrl+S presses the save button the
    // page shows, as a click on it would.
    auto* search = new QShortcut(QKeySequence(Qt::Key_F5), this);
    search->setObjectName(QStringLiteral("key_Search"));
    connect(search, &QShortcut::activated, this, [this] {
        if (ui->rzpgcntrl_Srch->currentIndex() != 0)
            ui->rzpgcntrl_Srch->setCurrentIndex(0);
        Search();
        ui->lv_Dev->setFocus(Qt::ShortcutFocusReason);
    });
    auto* save = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_S), this);
    save->setObjectName(QStringLiteral("key_Save"));
    connect(save, &QShortcut::activated, this, [this] {
        if (QPushButton* button = VisibleSaveButton())
            button->click();
        else
            NoTarget();
    });
}

QPushButton* TFrm_Main::VisibleSaveButton() const {
    if (!ui->rzpgcntrl_Param->isVisibleTo(this))
        return nullptr;
    for (QPushButton* b : ui->rzpgcntrl_Param->currentWidget()->findChildren<QPushButton*>()) {
        static const std::set<QString> saves = {
            QStringLiteral("btn_Z1Set"), QStringLiteral("btn_ComSet"), QStringLiteral("btn_Z2NetSet"),
            QStringLiteral("btn_Z2ComSet"), QStringLiteral("btn_Z3NetSet")};
        if (saves.count(b->objectName()) && b->isVisibleTo(this) && b->isEnabled())
            return b;
    }
    return nullptr;
}

void TFrm_Main::ApplyKeyTexts() {
    // Alt+letter for the menus and their items, after the language's captions were written.
    auto& u = *ui;
    const std::pair<QObject*, char> letters[] = {
        {u.mni_File, 'F'}, {u.mni_Pswd, 'U'},      {u.mniExporDevs, 'E'}, {u.mni_Exit, 'Q'},
        {u.mni_Lang, 'L'}, {u.mni_Help, 'H'},      {u.mni_About, 'A'},    {u.mni_Hint, 'R'},
        {u.mni_Up, 'V'},   {u.mni_WorkOrder, 'W'}, {inventoryItem_, 'I'}};
    for (const auto& [target, letter] : letters) {
        if (auto* action = qobject_cast<QAction*>(target))
            action->setText(WithMnemonic(action->text(), QLatin1Char(letter)));
        else if (auto* menu = qobject_cast<QMenu*>(target))
            menu->setTitle(WithMnemonic(menu->title(), QLatin1Char(letter)));
    }
    const std::pair<const char*, char> items[] = {
        {"mni_OpenWeb", 'O'},    {"mni_Restart", 'R'},    {"mni_FirmwareUp", 'F'}, {"mni_Reset", 'S'},
        {"mni_CopyTheMac", 'C'}, {"mni_CopeAllMac", 'A'}, {"mni_Restore", 'T'},    {"mni_Replace", 'P'}};
    for (const auto& [name, letter] : items) {
        QAction* a = pm_NetDev_->findChild<QAction*>(QString::fromLatin1(name));
        a->setText(WithMnemonic(a->text(), QLatin1Char(letter)));
    }

    // Labels lead to their controls (Alt+letter of a label, and what a screen reader announces).
    u.lbl_SelectCom->setBuddy(u.cbb_SelectCom);
    u.lbl1->setBuddy(u.cbbSoftBitRate);
    u.lblZNum->setBuddy(u.rbZ1);
    u.lv_Dev->setAccessibleName(Text("lang_Acc_DeviceList"));
    u.redt_Log->setAccessibleName(Text("lang_rztbsht_Log"));
    u.redt_Hex->setAccessibleName(Text("lang_rztbsht_Hex"));
    u.lbl_Findings->setAccessibleName(Text("lang_Lv_Findings"));
    NameControls(this);
}

void TFrm_Main::NamePageControls(QWidget* page) {
    NameControls(page);
}

namespace {

void NameControls(QWidget* root) {
    // Every control the keyboard reaches gets a name in the current language: a button its
    // caption, a field the caption of the label that leads to it, else its pop-up help.
    std::map<const QWidget*, QString> labelled;
    for (const QLabel* label : root->findChildren<QLabel*>())
        if (label->buddy() != nullptr)
            labelled[label->buddy()] = WithoutMnemonic(label->text()).trimmed();
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (w->focusPolicy() == Qt::NoFocus || qobject_cast<QLabel*>(w) != nullptr)
            continue;
        QString name;
        if (const auto* button = qobject_cast<QAbstractButton*>(w); button && !button->text().isEmpty())
            name = WithoutMnemonic(button->text());
        else if (auto it = labelled.find(w); it != labelled.end())
            name = it->second;
        else if (!w->accessibleName().isEmpty() && !w->property("varnixNamed").toBool())
            continue; // named on purpose elsewhere
        else
            name = w->toolTip().section(u'\n', 0, 0).trimmed();
        if (name.isEmpty())
            continue;
        w->setAccessibleName(name);
        w->setProperty("varnixNamed", true);
    }
}

} // namespace

void TFrm_Main::ConnectControls() {
    connect(ui->mm1, &QMenuBar::triggered, this, &TFrm_Main::mni_MenuClick);
    connect(ui->btn_Search, &QPushButton::clicked, this, &TFrm_Main::Search);
    connect(ui->rzpgcntrl_Srch, &QTabWidget::tabBarClicked, this, [this](int index) {
        // A click on the tab that is already active changes nothing.
        if (index >= 0 && index != ui->rzpgcntrl_Srch->currentIndex())
            ui->rzpgcntrl_Srch->setCurrentIndex(index);
    });
    connect(ui->rzpgcntrl_Srch, &QTabWidget::currentChanged, this, [this] { rzpgcntrl_SrchTabClick(); });
    connect(ui->lv_Dev, &QWidget::customContextMenuRequested, this, &TFrm_Main::lv_DevContextMenu);
    connect(ui->lv_Dev->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { ShowFindings(); });
    connect(devices_, &QAbstractItemModel::dataChanged, this, [this] { ShowFindings(); });
    connect(devices_, &QAbstractItemModel::modelReset, this, [this] { ShowFindings(); });
    connect(ui->btn1, &QPushButton::clicked, this, [this] { SetPageMode(1); });
    connect(ui->btn2, &QPushButton::clicked, this, [this] { SetPageMode(2); });
    connect(ui->btn3, &QPushButton::clicked, this, [this] { SetPageMode(3); });
    connect(hex_, &TLogPane::Changed, this, [this] {
        // redt_HexChange: the hex stream always shows its last line.
        QScrollBar* bar = ui->redt_Hex->verticalScrollBar();
        bar->setValue(bar->maximum());
    });
}

void TFrm_Main::mni_MenuClick(QAction* item) {
    const QString name = item->objectName();
    if (name == u"mni_Hint") {
        ctx_.Hints().SetEnabled(item->isChecked());
    } else if (name == u"mniExporDevs") {
        ExportDevices();
    } else if (name == u"mni_Exit") {
        close();
    } else if (name == u"mni_About") {
        ShowAbout();
    } else if (name == u"mni_Pswd") {
        ShowPswd();
    } else if (name == u"mni_Cn") {
        SetLanguage(true);
    } else if (name == u"mni_En") {
        SetLanguage(false);
    } else if (name == u"mni_Up") {
        OpenUrl(QUrl(Text("lang_Menu_DownUrl")));
    } else if (name == u"mni_Inventory" && inventoryOpener_) {
        inventoryOpener_();
    }
    // mni_WorkOrder stays hidden: this program has no work-order page to open.
}

void TFrm_Main::ShowPswd() {
    if (pswd_ == nullptr)
        return;
    if (pswd_->isVisible()) {
        pswd_->raise();
        pswd_->activateWindow();
        return;
    }
    pswd_->ShowModal();
}

void TFrm_Main::ShowAbout() {
    if (about_ == nullptr)
        return;
    if (about_->isVisible()) {
        about_->raise();
        about_->activateWindow();
        return;
    }
    about_->ShowModal();
}

void TFrm_Main::SetDataDebugOpener(TDataDebugOpener open) {
    dataDebugOpener_ = std::move(open);
    pages_->SetDataDebugAvailable(static_cast<bool>(dataDebugOpener_));
}

void TFrm_Main::OpenDataDebug() {
    if (!dataDebugOpener_)
        return;
    const TZ2Page& page = pages_->Z2();
    const TResult<QJsonValue> mode = page.FieldValue(QStringLiteral("WorkMode"));
    dataDebugOpener_(mode ? mode->toInt() : 0, page.FieldText(QStringLiteral("RemoteIP")),
                     page.FieldText(QStringLiteral("LocalPort")),
                     page.FieldText(QStringLiteral("RemotePort")));
}

void TFrm_Main::OpenUrl(const QUrl& url) {
    // Failures of the desktop's browser start are not reported.
    if (options_.OpenUrl)
        options_.OpenUrl(url);
    else
        QDesktopServices::openUrl(url);
}

void TFrm_Main::pm_NetDevPopup() {
    lv_DevClick();
}

void TFrm_Main::lv_DevContextMenu(const QPoint& pos) {
    // A right click selects the row under the cursor, or clears the selection below the rows.
    const QModelIndex index = ui->lv_Dev->indexAt(pos);
    if (!index.isValid())
        ui->lv_Dev->clearSelection();
    pm_NetDevPopup();
    SetRowMenuItems();
    pm_NetDev_->popup(ui->lv_Dev->viewport()->mapToGlobal(pos));
}

void TFrm_Main::OpenRowMenuFromKeyboard() {
    // The Menu key or Shift+F10: the menu of the current row, opened under it. The row was read
    // when it became current, so it is not read again.
    QTreeView* list = ui->lv_Dev;
    const QModelIndex current = list->currentIndex();
    if (current.isValid() && !SelectedRow())
        list->selectionModel()->select(current, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    SetRowMenuItems();
    const auto row = SelectedRow();
    const QPoint at =
        row ? list->visualRect(devices_->index(*row, 0)).bottomLeft() + QPoint(8, 0) : QPoint(8, 8);
    pm_NetDev_->popup(list->viewport()->mapToGlobal(at));
    if (QAction* first = FirstEnabledItem(pm_NetDev_))
        pm_NetDev_->setActiveAction(first);
}

QAction* TFrm_Main::FirstEnabledItem(QMenu* menu) {
    for (QAction* a : menu->actions())
        if (a->isVisible() && a->isEnabled() && !a->isSeparator())
            return a;
    return nullptr;
}

void TFrm_Main::SetRowMenuItems() {
    // What the selected row's family allows, whatever page the last read left showing: a Z2 or
    // Z3 module every item, any other row (or none) the upgrade and the copies.
    const auto row = SelectedRow();
    const std::int32_t family = row ? devices_->Row(*row).Family : FamilyUnknown;
    const bool known = family == FamilyZ2 || family == FamilyZ3;
    SetPopupItemsEnabled(known);
    pm_NetDev_->findChild<QAction*>(QStringLiteral("mni_FirmwareUp"))->setEnabled(true);
    // A stored configuration goes only where the inventory can be read and a save can go.
    for (const char* item : {"mni_Restore", "mni_Replace"})
        pm_NetDev_->findChild<QAction*>(QString::fromLatin1(item))->setEnabled(known && inventory_->Usable());
}

void TFrm_Main::OpenRestore(TRestoreMode mode, const TDeviceRow& r) {
    if ((r.Family != FamilyZ2 && r.Family != FamilyZ3) || !inventory_->Usable())
        return;
    const TFoundModule module = TLanLink::ModuleOf(r, udp_->BindingAddress(r.Binding));
    // The differences are shown against the module's last read, and the save is built from it.
    if (lan_->Reading() || !lan_->LastReadIs(module)) {
        LogLine(Text("lang_Hint_ReadFirstLan"), kColourRed);
        return;
    }
    auto* dialog = new TRestoreDialog(mode, r, *lan_->LastRead(), *inventory_, *prompts_, texts_, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog, module, r] {
        LogLine(Text("lang_Restore_Started")
                    .arg(r.IP + QStringLiteral("  ") + r.Name + QStringLiteral("  ") + r.Mac,
                         dialog->SourceText()),
                kColourBlue);
        lan_->SaveAssignments(module, dialog->Assignments());
    });
    dialog->open();
}

bool TFrm_Main::ConfirmOnModules(const char* questionKey, const QAction* item,
                                 const std::vector<TDeviceRow>& rows) {
    std::vector<TModuleLine> lines;
    for (const TDeviceRow& r : rows)
        lines.push_back({r.IP, r.Name, r.Mac});
    const QString text = ConfirmText(Text(questionKey), Text("lang_Confirm_More"), lines);
    return prompts_->Confirm(this, Text("lang_Confirm_Title"), text, WithoutMnemonic(item->text()),
                             Text("lang_Confirm_Cancel"));
}

void TFrm_Main::mni_LvRightMmClick(QAction* item) {
    const QString name = item->objectName();
    const auto row = SelectedRow();
    TDeviceRow r;
    if (row)
        r = devices_->Row(*row);
    if (name == u"mni_CopeAllMac") {
        if (devices_->rowCount() == 0)
            return;
        QStringList macs;
        for (const TDeviceRow& d : devices_->Rows())
            macs << d.Mac;
        QGuiApplication::clipboard()->setText(macs.join(QStringLiteral("\r\n")));
        return;
    }
    if (name == u"mni_FirmwareUp") {
        if (const auto modules = SelectedModules(); modules.size() > 1 && rolloutOpener_) {
            rolloutOpener_(modules);
        } else if (upgradeOpener_) {
            upgradeOpener_(row ? r.IP : QString(), row ? QString(r.Mac).remove(u' ') : QString());
        }
        return;
    }
    if (!row) {
        SetPageMode(0);
        return;
    }
    if (name == u"mniReadTheParam") {
        Search();
    } else if (name == u"mni_OpenWeb") {
        // The address-resolution cache needs no flushing here: the kernel re-resolves by itself.
        QString portText;
        portText = r.Family == FamilyZ3 ? pages_->Z3().FieldText(QStringLiteral("HTTPServerPort"))
                                        : pages_->Z2().FieldText(QStringLiteral("HTTPServerPort"));
        const QString portPart = QStringLiteral(":") + (portText.isEmpty() ? QStringLiteral("80") : portText);
        OpenUrl(QUrl(QStringLiteral("http://") + r.IP + portPart));
    } else if (name == u"mni_Restart") {
        // Restart goes to port 1500 for every family; a module of incompatible firmware too.
        lan_->Command(TLanLink::ModuleOf(r, udp_->BindingAddress(r.Binding)), CmdRestart);
    } else if (name == u"mni_Reset") {
        // A factory reset wipes the module's whole configuration: asked first, naming it.
        if ((r.Family == FamilyZ2 || r.Family == FamilyZ3) &&
            ConfirmOnModules("lang_Confirm_Reset", item, {r}))
            lan_->Command(TLanLink::ModuleOf(r, udp_->BindingAddress(r.Binding)), CmdFactoryReset);
    } else if (name == u"mni_CopyTheMac") {
        QGuiApplication::clipboard()->setText(r.Mac);
    } else if (name == u"mni_Restore") {
        OpenRestore(TRestoreMode::Restore, r);
    } else if (name == u"mni_Replace") {
        OpenRestore(TRestoreMode::Replace, r);
    }
}

} // namespace varnix
