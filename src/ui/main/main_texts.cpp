// The main window's texts in the current language, the language switch, the hint switch and
// the call of a later copy to come forward.

#include "app/settings.h"
#include "lang/apply_texts.h"
#include "lang/error_text.h"
#include "ui/main/device_list_model.h"
#include "ui/main/main_window.h"
#include "ui/main/pages/page_set.h"
#include "ui_main_window.h"

#include <QAction>
#include <QApplication>
#include <QMenu>

namespace varnix {

void TFrm_Main::ApplyMainTexts() {
    auto& u = *ui;
    setWindowTitle(Text("lang_Main_Title") + QStringLiteral(" V") + QStringLiteral(VARNIX_VERSION));
    // The name a task bar or window list shows for the minimised window.
    setWindowIconText(Text("lang_Main_AppTitle"));

    texts_.SetTexts({{u.mni_File, "lang_Menu_File"},
                     {u.mni_Pswd, "lang_Menu_Pswd"},
                     {u.mniExporDevs, "lang_Menu_ExpDev"},
                     {u.mni_Exit, "lang_Menu_Quit"},
                     {u.mni_Lang, "lang_Menu_Lang"},
                     {u.mni_Cn, "lang_Menu_Cn"},
                     {u.mni_En, "lang_Menu_En"},
                     {u.mni_Help, "lang_Menu_Help"},
                     {u.mni_About, "lang_Menu_About"},
                     {u.mni_Hint, "lang_Menu_Hint"},
                     {u.mni_Up, "lang_Menu_Version"},
                     {u.mni_WorkOrder, "lang_Menu_WorkOrder"},
                     {inventoryItem_, "lang_Menu_Inventory"},
                     {u.lbl_SelectCom, "lang_lbl_SelectCom"},
                     // Found case-insensitively as lang_Lbl_Baudrate.
                     {u.lbl1, "lang_lbl_BaudRate"},
                     {u.lblZNum, "lang_lblZNum"},
                     {u.btn_Search, "lang_btn_Search"},
                     {u.btn_ComRead, "lang_btn_ComRead"},
                     {u.rztbsht_Net, "lang_rztbsht_Net"},
                     {u.rztbsht_Com, "lang_rztbsht_Com"},
                     {u.rztbsht_Log, "lang_rztbsht_Log"},
                     {u.rztbsht_Hex, "lang_rztbsht_Hex"}});
    // The serial tab's bit rates: the entry that asks for a rate of one's own.
    texts_.SetItemText(u.cbbSoftBitRate, 1, "lang_BaudRate_Custom");
    devices_->SetCaptions({Text("lang_Lv_DevIP"), Text("lang_Lv_DevName"), Text("lang_Lv_MAC"),
                           Text("lang_Lv_Version"), Text("lang_Lv_Findings")});
    // The pop-up menu's items; the hidden mniReadTheParam keeps its caption.
    for (const char* name : {"mni_OpenWeb", "mni_Restart", "mni_FirmwareUp", "mni_Reset", "mni_Restore",
                             "mni_Replace", "mni_CopyTheMac", "mni_CopeAllMac"}) {
        const QByteArray key = QByteArray("lang_") + name;
        texts_.SetTexts({{pm_NetDev_->findChild<QAction*>(QString::fromLatin1(name)), key.constData()}});
    }
    texts_.SetHints({{u.btn_Search, "lang_H_btn_Search"},
                     {u.btn_ComRead, "lang_H_btn_ComRead"},
                     {u.lv_Dev, "lang_H_lv_Dev"},
                     {u.cbb_SelectCom, "lang_Hint_ComF5"}});

    pages_->ApplyTexts();
    ApplyKeyTexts();
    ShowFindings();
}

void TFrm_Main::SetLanguage(bool chinese) {
    (chinese ? ui->mni_Cn : ui->mni_En)->setChecked(true);
    ctx_.Lang().IsChinese = chinese;
    ApplyMainTexts();
    // About box, password dialog, upgrade window, debugging window, in the order added.
    for (const auto& apply : textAppliers_)
        apply();
    const TStatus saved = SaveLanguage(ctx_.Settings(), chinese);
    if (!saved)
        prompts_->Message(this, windowTitle(), ErrorMessage(saved.Error()), IUserPrompts::Icon::Critical);
    // Longer texts may need a wider page.
    if (pageMode_ >= 0)
        FitPanels();
}

void TFrm_Main::BringToFront() {
    // A window that has closed (a termination signal may close it just before a later copy's
    // request is read) stays closed: showing it again would keep the program running.
    if (closed_)
        return;
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
    if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal != this) {
        modal->raise();
        modal->activateWindow();
    }
}

bool TFrm_Main::HintsEnabled() const {
    return ctx_.Hints().Enabled();
}
int TFrm_Main::HintHidePause() const {
    return ctx_.Hints().HidePause();
}

} // namespace varnix
