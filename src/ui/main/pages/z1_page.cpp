#include "ui/main/pages/z1_page.h"

#include "model/page_rules.h"
#include "ui/main/pages/page_common.h"
#include "ui/main/pages/page_texts.h"
#include "ui_z1_page.h"

namespace varnix {

TZ1Page::TZ1Page(IPageHost& host, QWidget* parent)
    : QWidget(parent), host_(host), ui_(std::make_unique<Ui::TZ1PageForm>()) {
    ui_->setupUi(this);
    setObjectName(QStringLiteral("TZ1Page"));
    SetBuddies(this, {"lbl_ModuleWork", "cbb_ModuleWork", "lbl_ModuleIP",   "edt_ModuleIP",   "lbl_Mask",
                      "edt_Mask",       "lbl_Gateway",    "edt_Gateway",    "lbl_BaudRate",   "cbb_BaudRate",
                      "lbl_PDS",        "cbb_P",          "lbl_ModulePort", "edt_ModulePort", "lbl_DeIP",
                      "edt_DeIP",       "lbl_DePort",     "edt_DePort",     "lbl_ID",         "edt_ID"});
    for (const TZ1Field& f : Z1FieldTable()) {
        QWidget* control = findChild<QWidget*>(f.Control);
        if (const auto kind = control != nullptr ? ControlKindOf(f.Def, control) : std::nullopt)
            bindings_.emplace_back(&f, TBinding{&f.Def, control, *kind, QString()});
    }
    ConnectCustomBaud(ui_->cbb_BaudRate, host_.Prompts(), host_.Texts());
    connect(ui_->cbb_ModuleWork, &QComboBox::currentIndexChanged, this, [this] { ApplyZ1WorkMode(); });
    connect(ui_->btn_Z1Set, &QPushButton::clicked, this, &TZ1Page::NetSaveRequested);
    connect(ui_->btn_ComSet, &QPushButton::clicked, this, &TZ1Page::SerialSaveRequested);
    ApplyZ1WorkMode();
}

TZ1Page::~TZ1Page() = default;

void TZ1Page::ApplyTexts() {
    auto& u = *ui_;
    host_.Texts().SetTexts({{u.btn_Z1Set, "lang_btn_ComSet"},
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
    host_.Texts().SetItemText(u.cbb_BaudRate, 1, "lang_BaudRate_Custom");
    host_.Texts().SetHints({{u.cbb_ModuleWork, "lang_Hint_ModuleWork"},
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

void TZ1Page::ApplyZ1WorkMode() {
    const bool on = Z1DestinationEnabled(ui_->cbb_ModuleWork->currentIndex());
    SetFieldEnabled(ui_->edt_DeIP, ui_->lbl_DeIP, on);
    SetFieldEnabled(ui_->edt_DePort, ui_->lbl_DePort, on);
}

void TZ1Page::ShowZ1(const TZ1Params& values) {
    SetFieldEnabled(ui_->edt_DeIP, ui_->lbl_DeIP, true);
    SetFieldEnabled(ui_->edt_DePort, ui_->lbl_DePort, true);
    for (const auto& [f, b] : bindings_)
        ShowValue(b, f->Get(values));
    ApplyZ1WorkMode();
}

TResult<TZ1Params> TZ1Page::ReadZ1() {
    TZ1Params out;
    for (const auto& [f, b] : bindings_) {
        ApplyEditRules(b);
        const TResult<QJsonValue> v = ReadValue(b, FamBoth, false);
        if (!v)
            return v.Error();
        f->Set(out, *v);
    }
    return out;
}

std::optional<std::array<std::uint8_t, Z1FrameSize>> TZ1Page::BuildZ1SerialFrameFromPage() {
    const TResult<TZ1Params> values = ReadZ1();
    if (!values) {
        ShowFieldError(values.Error());
        return std::nullopt;
    }
    std::array<std::uint8_t, Z1BodySize> body{};
    EncodeZ1Body(*values, body);
    return BuildZ1SerialFrame(body);
}

void TZ1Page::ShowFieldError(const TError& error) {
    const TBinding* found = nullptr;
    for (const auto& [f, b] : bindings_)
        if (f->Def.Name == QString::fromStdString(error.Field))
            found = &b;
    ReportFieldError(host_.Prompts(), host_.Texts(), this, found, error);
}

} // namespace varnix
