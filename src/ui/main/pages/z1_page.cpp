#include "ui/main/pages/z1_page.h"

#include "lang/app_lang.h"
#include "ui/common/colours.h"
#include "ui/main/pages/page_common.h"
#include "ui/main/pages/page_texts.h"
#include "ui_z1_page.h"

#include <exception>

namespace varnix {

TZ1Page::TZ1Page(IPageHost& host, QWidget* parent)
    : QWidget(parent), host_(host), ui_(std::make_unique<Ui::TZ1PageForm>()) {
    ui_->setupUi(this);
    setObjectName(QStringLiteral("TZ1Page"));
    SetBuddies(this, {"lbl_ModuleWork", "cbb_ModuleWork", "lbl_ModuleIP",   "edt_ModuleIP",   "lbl_Mask",
                      "edt_Mask",       "lbl_Gateway",    "edt_Gateway",    "lbl_BaudRate",   "cbb_BaudRate",
                      "lbl_PDS",        "cbb_P",          "lbl_ModulePort", "edt_ModulePort", "lbl_DeIP",
                      "edt_DeIP",       "lbl_DePort",     "edt_DePort",     "lbl_ID",         "edt_ID"});
    ConnectCustomBaud(ui_->cbb_BaudRate, host_.Prompts());
    connect(ui_->cbb_ModuleWork, &QComboBox::currentIndexChanged, this, [this] { ApplyZ1WorkMode(); });
    connect(ui_->btn_Z1Set, &QPushButton::clicked, this, [this] { btn_Z1SetClick(); });
    connect(ui_->btn_ComSet, &QPushButton::clicked, this, &TZ1Page::SerialSaveRequested);
    ApplyZ1WorkMode();
}

TZ1Page::~TZ1Page() = default;

void TZ1Page::ApplyTexts() {
    auto& u = *ui_;
    SetTexts({{u.btn_Z1Set, "lang_btn_ComSet"},
              {u.btn_ComSet, "lang_btn_ComSet"},
              {u.grp_Param, "lang_grp_Param"},
              {u.grp_Special, "lang_grp_Special"},
              {u.lbl_ModuleWork, "lang_Lbl_WorkMode"},
              {u.lbl_ModuleIP, "lang_lbl_ModuleIP"},
              {u.lbl_Mask, "lang_Lbl_SubnetMask"},
              {u.lbl_Gateway, "lang_Lbl_Gateway"},
              {u.lbl_BaudRate, "lang_lbl_BaudRate"},
              {u.lbl_PDS, "lang_lbl_PDS"},
              {u.lbl_ModulePort, "lang_Lbl_LocalPort"},
              {u.lbl_DeIP, "lang_lbl_DeIP"},
              {u.lbl_DePort, "lang_Lbl_RemotePort"},
              {u.lbl_ID, "lang_Lbl_DevID"},
              {u.lbl_IdTypez1, "lang_Lbl_DevIDType"},
              {u.chk_ConnSendId, "lang_chk_ConnSendId"},
              {u.chk_DataWithId, "lang_chk_DataWithId"}});
    SetItemText(u.cbb_BaudRate, 1, "lang_BaudRate_Custom");
    SetHints({{u.cbb_ModuleWork, "lang_Hint_ModuleWork"},
              {u.edt_ModuleIP, "lang_Hint_ModuleIP"},
              {u.edt_Mask, "lang_Hint_Mask"},
              {u.edt_Gateway, "lang_Hint_Gateway"},
              {u.cbb_BaudRate, "lang_Hint_BaudRate"},
              {u.cbb_P, "lang_Hint_PDS"},
              {u.cbb_D, "lang_Hint_PDS"},
              {u.cbb_S, "lang_Hint_PDS"},
              {u.edt_ModulePort, "lang_Hint_ModulePort"},
              {u.edt_DeIP, "lang_Hint_DeIP"},
              {u.edt_DePort, "lang_Hint_DePort"},
              {u.edt_ID, "lang_Hint_ID"},
              {u.chk_RS485, "lang_Hint_RS485"},
              {u.chk_RS422, "lang_Hint_RS422"},
              {u.chk_Reset, "lang_Hint_Reset"},
              {u.chk_Index, "lang_Hint_Index"},
              {u.chk_Link, "lang_Hint_Link"},
              {u.chk_RFC2217, "lang_Hint_RFC2217"}});
}

void TZ1Page::SetLanTabActive(bool lanTab) {
    ui_->btn_Z1Set->setVisible(lanTab);
    ui_->btn_ComSet->setVisible(!lanTab);
}

TZ1Form TZ1Page::ReadForm() const {
    const auto& u = *ui_;
    TZ1Form f;
    f.WorkModeIndex = u.cbb_ModuleWork->currentIndex();
    f.ModuleIP = EditBytes(u.edt_ModuleIP);
    f.Mask = EditBytes(u.edt_Mask);
    f.Gateway = EditBytes(u.edt_Gateway);
    f.BaudText = ToBytes(u.cbb_BaudRate->currentText());
    f.ParityIndex = u.cbb_P->currentIndex();
    f.DataIndex = u.cbb_D->currentIndex();
    f.StopIndex = u.cbb_S->currentIndex();
    f.ModulePort = EditBytes(u.edt_ModulePort);
    f.DeIP = EditBytes(u.edt_DeIP);
    f.DePort = EditBytes(u.edt_DePort);
    f.ID = EditBytes(u.edt_ID);
    const QCheckBox* boxes[8] = {u.chk_ConnSendId, u.chk_DataWithId, u.chk_RS485, u.chk_RS422,
                                 u.chk_Reset,      u.chk_Link,       u.chk_Index, u.chk_RFC2217};
    for (std::size_t i = 0; i < 8; ++i)
        f.Options[i] = boxes[i]->isChecked();
    return f;
}

void TZ1Page::WriteForm(const TZ1Form& f) {
    auto& u = *ui_;
    SelectIndex(u.cbb_ModuleWork, f.WorkModeIndex);
    SetEditBytes(u.edt_ModuleIP, f.ModuleIP);
    SetEditBytes(u.edt_Mask, f.Mask);
    SetEditBytes(u.edt_Gateway, f.Gateway);
    if (ToBytes(u.cbb_BaudRate->currentText()) != f.BaudText)
        ShowBaudRateText(u.cbb_BaudRate, ToDisplay(f.BaudText));
    SelectIndex(u.cbb_P, f.ParityIndex);
    SelectIndex(u.cbb_D, f.DataIndex);
    SelectIndex(u.cbb_S, f.StopIndex);
    SetEditBytes(u.edt_ModulePort, f.ModulePort);
    SetEditBytes(u.edt_DeIP, f.DeIP);
    SetEditBytes(u.edt_DePort, f.DePort);
    SetEditBytes(u.edt_ID, f.ID);
    QCheckBox* boxes[8] = {u.chk_ConnSendId, u.chk_DataWithId, u.chk_RS485, u.chk_RS422,
                           u.chk_Reset,      u.chk_Link,       u.chk_Index, u.chk_RFC2217};
    for (std::size_t i = 0; i < 8; ++i)
        boxes[i]->setChecked(f.Options[i]);
}

void TZ1Page::ApplyZ1WorkMode() {
    const bool on = Z1DestinationEnabled(ui_->cbb_ModuleWork->currentIndex());
    SetFieldEnabled(ui_->edt_DeIP, ui_->lbl_DeIP, on);
    SetFieldEnabled(ui_->edt_DePort, ui_->lbl_DePort, on);
}

void TZ1Page::ShowZ1Params(const TZ1Params& values) {
    try {
        SetFieldEnabled(ui_->edt_DeIP, ui_->lbl_DeIP, true);
        SetFieldEnabled(ui_->edt_DePort, ui_->lbl_DePort, true);
        TZ1Form form = ReadForm();
        ShowZ1OnForm(values, form);
        // The baud rate is always shown, so a module's custom rate lands in the custom slot.
        ShowBaudRate(ui_->cbb_BaudRate, values.BaudRate);
        form.BaudText = ToBytes(ui_->cbb_BaudRate->currentText());
        WriteForm(form);
        ApplyZ1WorkMode();
        host_.WriteLog(GetLangText(QStringLiteral("lang_ts_Read")) +
                           GetLangText(QStringLiteral("lang_ts_OK")),
                       kColourGreen);
    } catch (const std::exception&) {
        host_.WriteLog(QStringLiteral("Error"), kColourRed);
    }
}

std::optional<std::array<std::uint8_t, Z1FrameSize>> TZ1Page::BuildZ1SerialFrameFromPage() {
    TZ1Form form = ReadForm();
    TZ1Params values;
    const std::optional<TPageError> error = ReadZ1Form(form, values);
    // An empty device ID is shown (and sent) as 0.
    if (ui_->edt_ID->text().isEmpty())
        SetEditBytes(ui_->edt_ID, form.ID);
    if (error) {
        ReportBadField(host_.Prompts(), this, error->Field, error->Text);
        return std::nullopt;
    }
    std::array<std::uint8_t, Z1BodySize> body{};
    try {
        EncodeZ1Body(values, body);
    } catch (const ConversionError& e) {
        ReportBadField(host_.Prompts(), this, "edt_ModuleIP", e.text());
        return std::nullopt;
    }
    return BuildZ1SerialFrame(body);
}

void TZ1Page::btn_Z1SetClick() {
    // Z1 modules are written over the serial port only; on the LAN this button has nothing to
    // send, but without a selected row it still points the user at the list.
    if (!host_.SelectedDevice())
        host_.NoTarget();
}

} // namespace varnix
