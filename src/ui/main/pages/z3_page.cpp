#include "ui/main/pages/z3_page.h"

#include "model/page_rules.h"
#include "ui/main/pages/page_binding.h"
#include "ui/main/pages/page_common.h"
#include "ui/main/pages/page_texts.h"
#include "ui_z3_page.h"

namespace varnix {

TZ3Page::TZ3Page(IPageHost& host, QWidget* parent)
    : QWidget(parent), host_(host), ui_(std::make_unique<Ui::TZ3PageForm>()) {
    ui_->setupUi(this);
    setObjectName(QStringLiteral("TZ3Page"));
    SetBuddies(this, {"lbl_AddrTypeZ3",
                      "cbb_AddrTypeZ3",
                      "lbl_StaticIPZ3",
                      "edt_StaticIPZ3",
                      "lbl_GatewayIPZ3",
                      "edt_GatewayIPZ3",
                      "lbl_SubnetMaskZ3",
                      "edt_SubnetMaskZ3",
                      "lbl_ModNameZ3",
                      "edt_ModNameZ3",
                      "lbl_UserMACZ3",
                      "edt_UserMACZ3",
                      "lbl_usernameZ3",
                      "edt_usernameZ3",
                      "lbl_passwordZ3",
                      "edt_passwordZ3",
                      "lbl_LocationURLPortZ3",
                      "edt_LocationURLPortZ3",
                      "lbl_HTTPServerPortZ3",
                      "edt_HTTPServerPortZ3",
                      "lbl_IdTypeZ3",
                      "edt_IdTypeZ3",
                      "lbl_Id3Z3",
                      "edt_Id3Z3",
                      "lbl_BaudRate0Z3",
                      "cbb_BaudRate0Z3",
                      "lbl_PDS0Z3",
                      "cbb_P0Z3",
                      "lbl_FlowControl0Z3",
                      "cbb_FlowControl0Z3",
                      "lbl_WorkMode0Z3",
                      "cbb_WorkMode0Z3",
                      "lbl_LocalPort0Z3",
                      "edt_LocalPort0Z3",
                      "lbl_RemotePort0Z3",
                      "edt_RemotePort0Z3",
                      "lbl_RemoteIP0Z3",
                      "edt_RemoteIP0Z3",
                      "lbl_ModbusTCP0Z3",
                      "cbb_ModbusTCP0Z3",
                      "lbl_UARTLength0Z3",
                      "edt_UARTLength0Z3",
                      "lbl_UARTTime0Z3",
                      "edt_UARTTime0Z3",
                      "lbl_TCPSvrCount0Z3",
                      "cbb_TCPSvrCount0Z3",
                      "lbl_TCPStyle0Z3",
                      "cbb_TCPStyle0Z3"});
    binding_ = std::make_unique<TPageBinding>(this, FamZ3);
    ConnectCustomBaud(ui_->cbb_BaudRate0Z3, host_.Prompts(), host_.Texts());
    connect(ui_->cbb_WorkMode0Z3, &QComboBox::currentIndexChanged, this, [this] { ApplyZ3WorkMode(); });
    connect(ui_->cbb_AddrTypeZ3, &QComboBox::currentIndexChanged, this, [this] { ApplyAddrType(); });
    connect(ui_->btn_Z3NetSet, &QPushButton::clicked, this, &TZ3Page::NetSaveRequested);
    ApplyZ3WorkMode();
    ApplyAddrType();
}

TZ3Page::~TZ3Page() = default;

void TZ3Page::ApplyTexts() {
    auto& u = *ui_;
    host_.Texts().SetTexts({{u.btn_Z3NetSet, "lang_btn_ComSet"},
                            {u.grp_BaseSaveZ3, "lang_grp_BaseSave"},
                            {u.grp_ComParamZ3, "lang_grp_ComParam"},
                            {u.lbl_WorkMode0Z3, "lang_Lbl_WorkMode"},
                            {u.lbl_LocalPort0Z3, "lang_Lbl_LocalPort"},
                            {u.lbl_RemotePort0Z3, "lang_Lbl_RemotePort"},
                            {u.lbl_Id3Z3, "lang_Lbl_DevID"},
                            {u.lbl_IdTypeZ3, "lang_Lbl_DevIDType"},
                            {u.lbl_LocationURLPortZ3, "lang_Lbl_UPNPPort"},
                            {u.lbl_HTTPServerPortZ3, "lang_Lbl_HTTPPort"},
                            {u.lbl_usernameZ3, "lang_Lbl_UserName"},
                            {u.lbl_passwordZ3, "lang_Lbl_Password"},
                            {u.lbl_ModNameZ3, "lang_Lbl_DevName"},
                            {u.lbl_UserMACZ3, "lang_Lbl_MAC"},
                            {u.lbl_BaudRate0Z3, "lang_Lbl_Baudrate"},
                            {u.lbl_PDS0Z3, "lang_Lbl_PDS"},
                            {u.lbl_FlowControl0Z3, "lang_Lbl_FlowControl"},
                            {u.lbl_TCPSvrCount0Z3, "lang_Lbl_TCPSvrCount"},
                            {u.lbl_TCPStyle0Z3, "lang_Lbl_TCPStyle"},
                            {u.lbl_ModbusTCP0Z3, "lang_Lbl_ModbusTCP"},
                            {u.lbl_RemoteIP0Z3, "lang_Lbl_RemoteIP"},
                            {u.lbl_UARTTime0Z3, "lang_Lbl_PackTime"},
                            {u.lbl_UARTLength0Z3, "lang_Lbl_PackLen"},
                            {u.chk_RFC22170Z3, "lang_Chkbox_RFC22170"}});
    host_.Texts().SetTextsWithSuffix({{u.lbl_AddrTypeZ3, "lang_Lbl_IPType"},
                                      {u.lbl_StaticIPZ3, "lang_Lbl_StaticIP"},
                                      {u.lbl_GatewayIPZ3, "lang_Lbl_Gateway"},
                                      {u.lbl_SubnetMaskZ3, "lang_Lbl_SubnetMask"}},
                                     QStringLiteral(" ★"));
    host_.Texts().SetItemTexts(u.cbb_AddrTypeZ3, {"lang_Cbb_DHCP", "lang_Cbb_StaticIP"});
    host_.Texts().SetItemTexts(u.cbb_TCPStyle0Z3,
                               {"lang_Cbb_Transparent", "lang_Cbb_NoIDDiscard", "lang_Cbb_NoIDBroadcast"});
    host_.Texts().SetItemText(u.cbb_BaudRate0Z3, 1, "lang_BaudRate_Custom");
    host_.Texts().SetHints({{u.edt_LocationURLPortZ3, "lang_lbl_H_LocationURLPort"},
                            {u.edt_HTTPServerPortZ3, "lang_lbl_H_HTTPServerPort"},
                            {u.edt_Id3Z3, "lang_lbl_H_Id"},
                            {u.edt_IdTypeZ3, "lang_lbl_H_IdType"},
                            {u.edt_usernameZ3, "lang_lbl_H_username"},
                            {u.edt_passwordZ3, "lang_lbl_H_password"},
                            {u.edt_ModNameZ3, "lang_lbl_H_ModName"},
                            {u.edt_UserMACZ3, "lang_lbl_H_UserMAC"},
                            {u.cbb_AddrTypeZ3, "lang_lbl_H_AddrType"},
                            {u.edt_StaticIPZ3, "lang_lbl_H_StaticIP"},
                            {u.edt_SubnetMaskZ3, "lang_lbl_H_SubnetMask"},
                            {u.edt_GatewayIPZ3, "lang_lbl_H_GatewayIP"},
                            {u.cbb_BaudRate0Z3, "lang_lbl_H_BaudRate"},
                            {u.cbb_P0Z3, "lang_lbl_H_PDS"},
                            {u.cbb_D0Z3, "lang_lbl_H_PDS"},
                            {u.cbb_S0Z3, "lang_lbl_H_PDS"},
                            {u.cbb_FlowControl0Z3, "lang_lbl_H_FlowControl"},
                            {u.edt_LocalPort0Z3, "lang_lbl_H_LocalPort"},
                            {u.edt_RemotePort0Z3, "lang_lbl_H_RemotePort"},
                            {u.cbb_WorkMode0Z3, "lang_lbl_H_WorkMode"},
                            {u.cbb_TCPSvrCount0Z3, "lang_lbl_H_TCPSvrCount"},
                            {u.cbb_TCPStyle0Z3, "lang_lbl_H_TCPStyle"},
                            {u.cbb_ModbusTCP0Z3, "lang_lbl_H_ModbusTCP"},
                            {u.edt_RemoteIP0Z3, "lang_lbl_H_RemoteIP"},
                            {u.edt_UARTTime0Z3, "lang_lbl_H_UARTTime"},
                            {u.edt_UARTLength0Z3, "lang_lbl_H_UARTLength"},
                            {u.chk_RFC22170Z3, "lang_chk_H_RFC2217"}});
}

void TZ3Page::ApplyZ3WorkMode() {
    auto& u = *ui_;
    const TWorkModeView v = WorkModeRule(u.cbb_WorkMode0Z3->currentIndex(), true);
    SetFieldEnabled(u.cbb_ModbusTCP0Z3, u.lbl_ModbusTCP0Z3, v.ModbusTCPEnabled);
    SetFieldEnabled(u.cbb_TCPSvrCount0Z3, u.lbl_TCPSvrCount0Z3, v.TCPServerEnabled);
    SetFieldEnabled(u.cbb_TCPStyle0Z3, u.lbl_TCPStyle0Z3, v.TCPServerEnabled);
    SetFieldEnabled(u.edt_RemoteIP0Z3, u.lbl_RemoteIP0Z3, v.RemoteIPEnabled);
}

void TZ3Page::ApplyAddrType() {
    auto& u = *ui_;
    const bool on = AddrFieldsEnabled(u.cbb_AddrTypeZ3->currentIndex());
    SetFieldEnabled(u.edt_StaticIPZ3, u.lbl_StaticIPZ3, on);
    SetFieldEnabled(u.edt_GatewayIPZ3, u.lbl_GatewayIPZ3, on);
    SetFieldEnabled(u.edt_SubnetMaskZ3, u.lbl_SubnetMaskZ3, on);
}

void TZ3Page::ShowSettings(const TModuleSettings& s) {
    if (s.Family != FamilyZ3)
        return;
    binding_->Show(s);
    cleared_ = false;
    ApplyAddrType();
    ApplyZ3WorkMode();
    UpdateEditable();
}

TResult<TModuleSettings> TZ3Page::ReadSettings(const TModuleSettings& before) {
    if (before.Family != FamilyZ3)
        return TError{"", "", "the Z3 page reads only Z3 modules"};
    return binding_->Read(before);
}

void TZ3Page::ClearSettings() {
    binding_->Clear();
    cleared_ = true;
    UpdateEditable();
}

void TZ3Page::SetEditable(bool editable) {
    editable_ = editable;
    UpdateEditable();
}

void TZ3Page::UpdateEditable() {
    const bool on = editable_ && !cleared_;
    for (QWidget* w :
         std::initializer_list<QWidget*>{ui_->grp_BaseSaveZ3, ui_->grp_ComParamZ3, ui_->btn_Z3NetSet})
        w->setEnabled(on);
}

void TZ3Page::ShowFieldError(const TError& error) {
    ReportFieldError(host_.Prompts(), host_.Texts(), this,
                     binding_->Find(QString::fromStdString(error.Field)), error);
}

QString TZ3Page::FieldText(const QString& field) const {
    const TBinding* b = binding_->Find(field);
    return b != nullptr ? ControlText(*b) : QString();
}

TResult<QJsonValue> TZ3Page::FieldValue(const QString& field) const {
    const TBinding* b = binding_->Find(field);
    if (b == nullptr)
        return TError{field.toStdString(), "", "the page has no such field"};
    return ReadValue(*b, FamZ3, false);
}

} // namespace varnix
