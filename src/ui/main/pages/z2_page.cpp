#include "ui/main/pages/z2_page.h"

#include "model/page_rules.h"
#include "ui/main/pages/page_binding.h"
#include "ui/main/pages/page_common.h"
#include "ui/main/pages/page_texts.h"
#include "ui_z2_page.h"

namespace varnix {

TZ2Page::TZ2Page(IPageHost& host, QWidget* parent)
    : QWidget(parent), host_(host), ui_(std::make_unique<Ui::TZ2PageForm>()) {
    ui_->setupUi(this);
    setObjectName(QStringLiteral("TZ2Page"));
    // The page's scroll box is no Tab stop of its own: it follows the focused field.
    ui_->ScrollBox1->setFocusPolicy(Qt::NoFocus);
    SetBuddies(this, {"lbl_AddrType",
                      "cbb_AddrType",
                      "lbl_StaticIP",
                      "edt_StaticIP",
                      "lbl_GatewayIP",
                      "edt_GatewayIP",
                      "lbl_SubnetMask",
                      "edt_SubnetMask",
                      "lblDns",
                      "edtDns",
                      "lbl_ModName",
                      "edt_ModName",
                      "lbl_username",
                      "edt_username",
                      "lbl_password",
                      "edt_password",
                      "lbl_HTTPServerPort",
                      "edt_HTTPServerPort",
                      "lbl_LabeledEditShortTime",
                      "LabeledEditShortTime",
                      "lbl_LabeledEdit1",
                      "LabeledEdit1",
                      "lbl_LocationURLPort",
                      "edt_LocationURLPort",
                      "lbl_UserMAC",
                      "edt_UserMAC",
                      "lbl_BaudRate0",
                      "cbb_BaudRate0",
                      "lbl_PDS0",
                      "cbb_P0",
                      "lbl_WorkMode0",
                      "cbb_WorkMode0",
                      "lbl_RemoteIP0",
                      "edt_RemoteIP0",
                      "lbl_LocalPort0",
                      "edt_LocalPort0",
                      "lbl_RemotePort0",
                      "edt_RemotePort0",
                      "lbl_TCPSvrCount0",
                      "cbb_TCPSvrCount0",
                      "lbl_FlowControl0",
                      "cbb_FlowControl0",
                      "lbl_ModbusTCP0",
                      "cbb_ModbusTCP0",
                      "lbl_TCPStyle0",
                      "cbb_TCPStyle0",
                      "lbl_UARTLength0",
                      "edt_UARTLength0",
                      "RzLabel2",
                      "RzComboBox2",
                      "lblRegTp",
                      "edtRegDt",
                      "lblDid",
                      "edtDid",
                      "lblCompass",
                      "edtCompass",
                      "lblGetPost",
                      "cbbGetPost",
                      "lbl_LabeledEdit2",
                      "LabeledEdit2",
                      "RzLabel3",
                      "RzRichEdit1",
                      "RzLabel1",
                      "RzComboBox1",
                      "lblHeartTm",
                      "edtHeartTm",
                      "lblHeartDt",
                      "edtHeartDt",
                      "lblhearttime",
                      "edtwaittime",
                      "lblPollInternal",
                      "edtPollInternal"});
    ui_->rzchckbxHeartDtHex->setProperty("tag", 1);
    ui_->rzchckbxRegDtHex->setProperty("tag", 2);
    binding_ = std::make_unique<TPageBinding>(this, FamZ2);
    WireHandlers();
    SetDataDebugAvailable(false);
    ApplyAddrType();
    ApplyZ2WorkMode();
    RzComboBox2Change();
    RzComboBox1Change();
    ApplyModbusRule();
}

TZ2Page::~TZ2Page() = default;

void TZ2Page::WireHandlers() {
    auto& u = *ui_;
    ConnectCustomBaud(u.cbb_BaudRate0, host_.Prompts(), host_.Texts());
    auto* filter = new TNumericKeyFilter(this);
    for (QLineEdit* e : {u.edt_LocalPort0, u.edt_RemotePort0, u.edtHeartTm, u.edtwaittime, u.edtPollInternal})
        e->installEventFilter(filter);
    for (QLineEdit* e : {u.edt_LocalPort0, u.edt_RemotePort0}) {
        OnKeyRelease(e, [e] {
            if (PortTextShouldClear(EditBytes(e)))
                e->clear();
        });
    }
    OnKeyRelease(u.edtwaittime, [e = u.edtwaittime] {
        if (PollTimeoutShouldClear(EditBytes(e)))
            e->clear();
    });
    OnKeyRelease(u.edtPollInternal, [e = u.edtPollInternal] {
        if (PollIntervalShouldClear(EditBytes(e)))
            e->clear();
    });

    connect(u.cbb_WorkMode0, &QComboBox::currentIndexChanged, this, [this] { ApplyZ2WorkMode(); });
    connect(u.cbb_AddrType, &QComboBox::currentIndexChanged, this, [this] { ApplyAddrType(); });
    connect(u.RzComboBox2, &QComboBox::currentIndexChanged, this, [this] { RzComboBox2Change(); });
    connect(u.RzComboBox1, &QComboBox::currentIndexChanged, this, [this] { RzComboBox1Change(); });
    connect(u.chkCloud, &QCheckBox::clicked, this, [this](bool checked) {
        auto& v = *ui_;
        for (QWidget* w : std::initializer_list<QWidget*>{v.lblDid, v.lblCompass, v.edtDid, v.edtCompass})
            w->setEnabled(checked);
    });
    // Both Hex boxes share one handler, told apart by their tag (1 heartbeat, 2 registration).
    const auto hexToggle = [this](QCheckBox* box, bool checked) {
        QLineEdit* edit = box->property("tag").toInt() == 1 ? ui_->edtHeartDt : ui_->edtRegDt;
        SetEditBytes(edit, ToggleHexText(EditBytes(edit), checked));
    };
    connect(u.rzchckbxHeartDtHex, &QCheckBox::clicked, this,
            [hexToggle, box = u.rzchckbxHeartDtHex](bool checked) { hexToggle(box, checked); });
    connect(u.rzchckbxRegDtHex, &QCheckBox::clicked, this,
            [hexToggle, box = u.rzchckbxRegDtHex](bool checked) { hexToggle(box, checked); });
    // Modbus: the boxes show the controls that belong to the state they take.
    connect(u.rzchckbxmodbustcp, &QCheckBox::clicked, this, [this] { ApplyModbusRule(); });
    connect(u.rzchckbxmodbuspool, &QCheckBox::clicked, this, [this] { ApplyModbusRule(); });
    connect(u.btn_Z2NetSet, &QPushButton::clicked, this, &TZ2Page::NetSaveRequested);
    connect(u.btn_Z2ComSet, &QPushButton::clicked, this, &TZ2Page::SerialSaveRequested);
    connect(u.btnDataDebug, &QPushButton::clicked, this, [this] { host_.OpenDataDebug(); });
}

void TZ2Page::ApplyTexts() {
    auto& u = *ui_;
    host_.Texts().SetTexts({{u.btn_Z2NetSet, "lang_btn_ComSet"},
                            {u.btn_Z2ComSet, "lang_btn_ComSet"},
                            {u.grp_BaseSave, "lang_grp_BaseSave"},
                            {u.grp_ComParam, "lang_grp_ComParam"},
                            {u.lbl_WorkMode0, "lang_Lbl_WorkMode"},
                            {u.lbl_LocalPort0, "lang_Lbl_LocalPort"},
                            {u.lbl_RemotePort0, "lang_Lbl_RemotePort"},
                            {u.rzchckbx_ConnSendId, "lang_chk_ConnSendId"},
                            {u.rzchckbx_DataWithId, "lang_chk_DataWithId"},
                            {u.lbl_LocationURLPort, "lang_Lbl_UPNPPort"},
                            {u.lbl_HTTPServerPort, "lang_Lbl_HTTPPort"},
                            {u.lbl_username, "lang_Lbl_UserName"},
                            {u.lbl_password, "lang_Lbl_Password"},
                            {u.lbl_ModName, "lang_Lbl_DevName"},
                            {u.lbl_UserMAC, "lang_Lbl_MAC"},
                            {u.lbl_BaudRate0, "lang_Lbl_Baudrate"},
                            {u.lbl_PDS0, "lang_Lbl_PDS"},
                            {u.lbl_FlowControl0, "lang_Lbl_FlowControl"},
                            {u.lbl_TCPSvrCount0, "lang_Lbl_TCPSvrCount"},
                            {u.lbl_TCPStyle0, "lang_Lbl_TCPStyle"},
                            {u.lbl_ModbusTCP0, "lang_Lbl_ModbusTCP"},
                            {u.lbl_RemoteIP0, "lang_Lbl_RemoteIP"},
                            {u.lbl_UARTLength0, "lang_Lbl_PackLen"},
                            {u.chk_RFC22170, "lang_Chkbox_RFC22170"},
                            {u.lblDns, "lang_lblDns"},
                            {u.RzCheckBoxShortEnable, "lang_RzCheckBoxShortEnable"},
                            {u.rzchckbxComSetEnable, "lang_rzchckbxComSetEnable"},
                            {u.RzCheckBox2, "lang_RzCheckBox2"},
                            {u.RzCheckBox1, "lang_RzCheckBox1"},
                            {u.lblGetPost, "lang_lblGetPost"},
                            {u.RzCheckBox3, "lang_RzCheckBox3"},
                            {u.RzLabel1, "lang_RzLabel1"},
                            {u.lblHeartTm, "lang_lblHeartTm"},
                            {u.lblHeartDt, "lang_lblHeartDt"},
                            {u.RzGroupBoxHeart, "lang_RzGroupBoxHeart"},
                            {u.rzgrpbxRegHeart, "lang_rzgrpbxRegHeart"},
                            {u.RzLabel2, "lang_RzLabel2"},
                            {u.lblDid, "lang_lblDid"},
                            {u.lblCompass, "lang_lblCompass"},
                            {u.lblRegSnd, "lang_lblRegSnd"},
                            {u.lblRegTp, "lang_lblRegTp"},
                            {u.rzchckbxRegDataWith, "lang_rzchckbxRegDataWith"},
                            {u.rzchckbxRegConnTo, "lang_rzchckbxRegConnTo"},
                            {u.rzchckbxmodbuspool, "lang_rzchckbxmodbuspool"},
                            {u.lblhearttime, "lang_lblhearttime"},
                            {u.rzchckbxmodbusAbnormalResponse, "lang_rzchckbxmodbusAbnormalResponse"},
                            {u.lblPollInternal, "lang_lblPollInternal"},
                            {u.lbl_LabeledEditShortTime, "lang_LabeledEditShortTime"},
                            {u.lbl_LabeledEdit1, "lang_LabeledEdit1"},
                            {u.btnDataDebug, "lang_btn_DataDebug"}});
    host_.Texts().SetTextsWithSuffix({{u.lbl_AddrType, "lang_Lbl_IPType"},
                                      {u.lbl_StaticIP, "lang_Lbl_StaticIP"},
                                      {u.lbl_GatewayIP, "lang_Lbl_Gateway"},
                                      {u.lbl_SubnetMask, "lang_Lbl_SubnetMask"}},
                                     QStringLiteral(" ★"));
    host_.Texts().SetItemTexts(u.cbb_AddrType, {"lang_Cbb_DHCP", "lang_Cbb_StaticIP"});
    host_.Texts().SetItemTexts(u.cbb_TCPStyle0,
                               {"lang_Cbb_Transparent", "lang_Cbb_NoIDDiscard", "lang_Cbb_NoIDBroadcast"});
    host_.Texts().SetItemTexts(u.RzComboBox1,
                               {"lang_RzComboBox1_0", "lang_RzComboBox1_1", "lang_RzComboBox1_2"});
    host_.Texts().SetItemTexts(u.RzComboBox2, {"lang_RzComboBox2_0", "lang_RzComboBox2_1",
                                               "lang_RzComboBox2_2", "lang_RzComboBox2_3"});
    host_.Texts().SetItemText(u.cbb_BaudRate0, 1, "lang_BaudRate_Custom");
    host_.Texts().SetHints({{u.rzchckbx_RS485, "lang_Hint_RS485"},
                            {u.rzchckbx_RS422, "lang_Hint_RS422"},
                            {u.rzchckbx_Reset, "lang_Hint_Reset"},
                            {u.rzchckbx_Index, "lang_Hint_Index"},
                            {u.rzchckbx_Link, "lang_Hint_Link"},
                            {u.rzchckbx_RFC2217, "lang_Hint_RFC2217"},
                            {u.edt_LocationURLPort, "lang_lbl_H_LocationURLPort"},
                            {u.edt_HTTPServerPort, "lang_lbl_H_HTTPServerPort"},
                            {u.edt_username, "lang_lbl_H_username"},
                            {u.edt_password, "lang_lbl_H_password"},
                            {u.edt_ModName, "lang_lbl_H_ModName"},
                            {u.edt_UserMAC, "lang_lbl_H_UserMAC"},
                            {u.cbb_AddrType, "lang_lbl_H_AddrType"},
                            {u.edt_StaticIP, "lang_lbl_H_StaticIP"},
                            {u.edt_SubnetMask, "lang_lbl_H_SubnetMask"},
                            {u.edt_GatewayIP, "lang_lbl_H_GatewayIP"},
                            {u.cbb_BaudRate0, "lang_lbl_H_BaudRate"},
                            {u.cbb_P0, "lang_lbl_H_PDS"},
                            {u.cbb_D0, "lang_lbl_H_PDS"},
                            {u.cbb_S0, "lang_lbl_H_PDS"},
                            {u.cbb_FlowControl0, "lang_lbl_H_FlowControl"},
                            {u.edt_LocalPort0, "lang_lbl_H_LocalPort"},
                            {u.edt_RemotePort0, "lang_lbl_H_RemotePort"},
                            {u.cbb_WorkMode0, "lang_lbl_H_WorkMode"},
                            {u.cbb_TCPSvrCount0, "lang_lbl_H_TCPSvrCount"},
                            {u.cbb_TCPStyle0, "lang_lbl_H_TCPStyle"},
                            {u.cbb_ModbusTCP0, "lang_lbl_H_ModbusTCP"},
                            {u.edt_RemoteIP0, "lang_lbl_H_RemoteIP"},
                            {u.edt_UARTLength0, "lang_lbl_H_UARTLength"},
                            {u.chk_RFC22170, "lang_chk_H_RFC2217"}});
}

void TZ2Page::SetLanTabActive(bool lanTab) {
    lanTab_ = lanTab;
    auto& u = *ui_;
    u.btn_Z2NetSet->setVisible(lanTab);
    u.btn_Z2ComSet->setVisible(!lanTab);
    u.RzGroupBoxHeart->setVisible(lanTab);
    u.rzgrpbxRegHeart->setVisible(lanTab);
    u.rzchckbxComSetEnable->setVisible(lanTab);
    ApplyZ2WorkMode();
}

void TZ2Page::SetDataDebugAvailable(bool available) {
    ui_->btnDataDebug->setEnabled(available);
}

// --- Rules ---

void TZ2Page::ApplyZ2WorkMode() {
    auto& u = *ui_;
    const TWorkModeView v = WorkModeRule(u.cbb_WorkMode0->currentIndex(), lanTab_);
    SetFieldEnabled(u.cbb_ModbusTCP0, u.lbl_ModbusTCP0, v.ModbusTCPEnabled);
    SetFieldEnabled(u.cbb_TCPSvrCount0, u.lbl_TCPSvrCount0, v.TCPServerEnabled);
    SetFieldEnabled(u.cbb_TCPStyle0, u.lbl_TCPStyle0, v.TCPServerEnabled);
    SetFieldEnabled(u.edt_RemoteIP0, u.lbl_RemoteIP0, v.RemoteIPEnabled);
    u.cbbGetPost->setEnabled(v.GetPostEnabled);
    u.lblGetPost->setEnabled(v.GetPostEnabled);
    u.RzGroupBoxHttpd->setVisible(v.HttpdGroupShown);
    u.btnDataDebug->setVisible(v.DataDebugShown);
}

void TZ2Page::ApplyAddrType() {
    auto& u = *ui_;
    const bool on = AddrFieldsEnabled(u.cbb_AddrType->currentIndex());
    SetFieldEnabled(u.edt_StaticIP, u.lbl_StaticIP, on);
    SetFieldEnabled(u.edt_GatewayIP, u.lbl_GatewayIP, on);
    SetFieldEnabled(u.edt_SubnetMask, u.lbl_SubnetMask, on);
    SetFieldEnabled(u.edtDns, u.lblDns, on);
}

void TZ2Page::RzComboBox2Change() {
    auto& u = *ui_;
    const TRegTypeView v = RegTypeRule(u.RzComboBox2->currentIndex());
    for (QWidget* w : std::initializer_list<QWidget*>{u.lblDid, u.lblCompass, u.edtDid, u.edtCompass})
        w->setVisible(v.CloudShown);
    for (QWidget* w :
         std::initializer_list<QWidget*>{u.lblRegSnd, u.rzchckbxRegDataWith, u.rzchckbxRegConnTo})
        w->setVisible(v.RegOptionsShown);
    for (QWidget* w : std::initializer_list<QWidget*>{u.edtRegDt, u.lblRegTp, u.rzchckbxRegDtHex})
        w->setVisible(v.RegDataShown);
}

void TZ2Page::RzComboBox1Change() {
    auto& u = *ui_;
    const bool on = HeartFieldsShown(u.RzComboBox1->currentIndex());
    for (QWidget* w : std::initializer_list<QWidget*>{u.lblHeartTm, u.edtHeartTm, u.lblHeartDt, u.edtHeartDt,
                                                      u.rzchckbxHeartDtHex})
        w->setVisible(on);
}

void TZ2Page::ApplyModbusRule() {
    auto& u = *ui_;
    const auto& shown = binding_->ShownSettings();
    const TModbusView v = ModbusRule(shown ? shown->ModbusKind : 0, u.rzchckbxmodbustcp->isChecked(),
                                     u.rzchckbxmodbuspool->isChecked());
    u.rzgrpbxModbus->setVisible(v.GroupShown);
    u.rzchckbxmodbustcp->setVisible(v.TcpShown);
    u.rzchckbxmodbuspool->setVisible(v.PollShown);
    u.rzchckbxmodbusAbnormalResponse->setVisible(v.AbnormalShown);
    for (QWidget* w : std::initializer_list<QWidget*>{u.lblhearttime, u.edtwaittime, u.RzLabel4,
                                                      u.lblPollInternal, u.edtPollInternal, u.RzLabel5})
        w->setVisible(v.PollSettingsShown);
}

// --- The module's settings ---

void TZ2Page::ShowSettings(const TModuleSettings& s) {
    if (s.Family != FamilyZ2)
        return;
    binding_->Show(s);
    cleared_ = false;
    ApplyAddrType();
    RzComboBox2Change();
    RzComboBox1Change();
    ApplyZ2WorkMode();
    ApplyModbusRule();
    UpdateEditable();
}

TResult<TModuleSettings> TZ2Page::ReadSettings(const TModuleSettings& before) {
    if (before.Family != FamilyZ2)
        return TError{"", "", "the Z2 page reads only Z2 modules"};
    return binding_->Read(before);
}

void TZ2Page::ClearSettings() {
    binding_->Clear();
    cleared_ = true;
    ApplyModbusRule();
    UpdateEditable();
}

void TZ2Page::SetEditable(bool editable) {
    editable_ = editable;
    UpdateEditable();
}

void TZ2Page::UpdateEditable() {
    auto& u = *ui_;
    const bool on = editable_ && !cleared_;
    for (QWidget* w :
         std::initializer_list<QWidget*>{u.grp_BaseSave, u.grp_ComParam, u.rzgrpbxRegHeart, u.RzGroupBoxHttpd,
                                         u.RzGroupBoxHeart, u.rzgrpbxModbus, u.btn_Z2NetSet, u.btn_Z2ComSet})
        w->setEnabled(on);
}

void TZ2Page::ShowFieldError(const TError& error) {
    ReportFieldError(host_.Prompts(), host_.Texts(), this,
                     binding_->Find(QString::fromStdString(error.Field)), error);
}

QString TZ2Page::FieldText(const QString& field) const {
    const TBinding* b = binding_->Find(field);
    return b != nullptr ? ControlText(*b) : QString();
}

TResult<QJsonValue> TZ2Page::FieldValue(const QString& field) const {
    const TBinding* b = binding_->Find(field);
    if (b == nullptr)
        return TError{field.toStdString(), "", "the page has no such field"};
    return ReadValue(*b, FamZ2, false);
}

} // namespace varnix
