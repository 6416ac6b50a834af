#include "ui/main/pages/z2_page.h"

#include "core/convert.h"
#include "lang/app_lang.h"
#include "ui/common/colours.h"
#include "ui/main/pages/page_common.h"
#include "ui/main/pages/page_texts.h"
#include "ui_z2_page.h"

#include <exception>

namespace varnix {

namespace {
bool SameMac(const QString& rowMac, const std::string& userMac) {
    return RemoveSpaces(ToBytes(rowMac.toUpper())) == RemoveSpaces(ToBytes(ToDisplay(userMac).toUpper()));
}
} // namespace

TZ2Page::TZ2Page(IPageHost& host, QWidget* parent)
    : QWidget(parent), host_(host), ui_(std::make_unique<Ui::TZ2PageForm>()) {
    ui_->setupUi(this);
    setObjectName(QStringLiteral("TZ2Page"));
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
    WireHandlers();
    SetDataDebugAvailable(false);
    ApplyAddrType();
    ApplyZ2WorkMode();
    RzComboBox2Change();
    RzComboBox1Change();
}

TZ2Page::~TZ2Page() = default;

void TZ2Page::WireHandlers() {
    auto& u = *ui_;
    ConnectCustomBaud(u.cbb_BaudRate0, host_.Prompts());
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
    connect(u.rzchckbxmodbustcp, &QCheckBox::clicked, this,
            [this](bool checked) { ui_->rzchckbxmodbusAbnormalResponse->setVisible(checked); });
    connect(u.rzchckbxmodbuspool, &QCheckBox::clicked, this, [this](bool checked) {
        auto& v = *ui_;
        for (QWidget* w : std::initializer_list<QWidget*>{v.lblhearttime, v.edtwaittime, v.RzLabel4,
                                                          v.lblPollInternal, v.edtPollInternal, v.RzLabel5})
            w->setVisible(checked);
    });
    connect(u.btn_Z2NetSet, &QPushButton::clicked, this, [this] { btn_Z2NetSetClick(); });
    connect(u.btn_Z2ComSet, &QPushButton::clicked, this, &TZ2Page::SerialSaveRequested);
    connect(u.btnDataDebug, &QPushButton::clicked, this, [this] { host_.OpenDataDebug(); });
}

void TZ2Page::ApplyTexts() {
    auto& u = *ui_;
    SetTexts({{u.btn_Z2NetSet, "lang_btn_ComSet"},
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
    SetTextsWithSuffix({{u.lbl_AddrType, "lang_Lbl_IPType"},
                        {u.lbl_StaticIP, "lang_Lbl_StaticIP"},
                        {u.lbl_GatewayIP, "lang_Lbl_Gateway"},
                        {u.lbl_SubnetMask, "lang_Lbl_SubnetMask"}},
                       QStringLiteral(" ★"));
    SetItemTexts(u.cbb_AddrType, {"lang_Cbb_DHCP", "lang_Cbb_StaticIP"});
    SetItemTexts(u.cbb_TCPStyle0, {"lang_Cbb_Transparent", "lang_Cbb_NoIDDiscard", "lang_Cbb_NoIDBroadcast"});
    SetItemTexts(u.RzComboBox1, {"lang_RzComboBox1_0", "lang_RzComboBox1_1", "lang_RzComboBox1_2"});
    SetItemTexts(u.RzComboBox2,
                 {"lang_RzComboBox2_0", "lang_RzComboBox2_1", "lang_RzComboBox2_2", "lang_RzComboBox2_3"});
    SetItemText(u.cbb_BaudRate0, 1, "lang_BaudRate_Custom");
    SetHints({{u.rzchckbx_RS485, "lang_Hint_RS485"},
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

void TZ2Page::HideModbusGroup() {
    auto& u = *ui_;
    for (QWidget* w : std::initializer_list<QWidget*>{u.rzgrpbxModbus, u.rzchckbxmodbustcp,
                                                      u.rzchckbxmodbuspool, u.lblhearttime, u.edtwaittime})
        w->hide();
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

// --- Controls <-> values ---

TZ2Form TZ2Page::ReadForm() const {
    const auto& u = *ui_;
    TZ2Form f;
    f.AddrTypeIndex = u.cbb_AddrType->currentIndex();
    f.LocationURLPort = EditBytes(u.edt_LocationURLPort);
    f.HTTPServerPort = EditBytes(u.edt_HTTPServerPort);
    f.StaticIP = EditBytes(u.edt_StaticIP);
    f.GatewayIP = EditBytes(u.edt_GatewayIP);
    f.SubnetMask = EditBytes(u.edt_SubnetMask);
    f.ModName = EditBytes(u.edt_ModName);
    f.UserName = EditBytes(u.edt_username);
    f.Password = EditBytes(u.edt_password);
    f.OptionBits = {u.rzchckbx_Reset->isChecked(), u.rzchckbx_Link->isChecked(),
                    u.rzchckbx_Index->isChecked(), u.rzchckbx_RFC2217->isChecked()};
    f.UserMAC = EditBytes(u.edt_UserMAC);
    f.Dns = EditBytes(u.edtDns);
    f.ShortConnTime = EditBytes(u.LabeledEditShortTime);
    f.ShortConnEnable = u.RzCheckBoxShortEnable->isChecked();
    f.ClearBuffer = u.RzCheckBox2->isChecked();
    f.HeartTargetIndex = u.cbbHeartTp->currentIndex();
    f.RegSendIndex = u.cbbRegSnd->currentIndex();
    f.BaudText = ToBytes(u.cbb_BaudRate0->currentText());
    f.ParityIndex = u.cbb_P0->currentIndex();
    f.DataIndex = u.cbb_D0->currentIndex();
    f.StopIndex = u.cbb_S0->currentIndex();
    f.FlowIndex = u.cbb_FlowControl0->currentIndex();
    f.LocalPort = EditBytes(u.edt_LocalPort0);
    f.RemotePort = EditBytes(u.edt_RemotePort0);
    f.WorkModeIndex = u.cbb_WorkMode0->currentIndex();
    f.ModbusTCPIndex = u.cbb_ModbusTCP0->currentIndex();
    f.RemoteIP = EditBytes(u.edt_RemoteIP0);
    f.UARTLength = EditBytes(u.edt_UARTLength0);
    f.BaudSync = u.chk_RFC22170->isChecked();
    f.TCPSvrCountIndex = u.cbb_TCPSvrCount0->currentIndex();
    f.TCPStyleIndex = u.cbb_TCPStyle0->currentIndex();
    f.KickOldConn = u.RzCheckBox1->isChecked();
    f.RestartTimeout = EditBytes(u.LabeledEdit1);
    f.RegTypeIndex = u.RzComboBox2->currentIndex();
    f.GetPostIndex = u.cbbGetPost->currentIndex();
    return f;
}

void TZ2Page::WriteForm(const TZ2Form& f) {
    auto& u = *ui_;
    SelectIndex(u.cbbHeartTp, f.HeartTargetIndex);
    SelectIndex(u.cbbRegSnd, f.RegSendIndex);
    SelectIndex(u.cbb_AddrType, f.AddrTypeIndex);
    SetEditBytes(u.edt_LocationURLPort, f.LocationURLPort);
    SetEditBytes(u.edt_HTTPServerPort, f.HTTPServerPort);
    SetEditBytes(u.edt_StaticIP, f.StaticIP);
    SetEditBytes(u.edt_GatewayIP, f.GatewayIP);
    SetEditBytes(u.edt_SubnetMask, f.SubnetMask);
    SetEditBytes(u.edt_ModName, f.ModName);
    SetEditBytes(u.edt_username, f.UserName);
    SetEditBytes(u.edt_password, f.Password);
    u.rzchckbx_Reset->setChecked(f.OptionBits[0]);
    u.rzchckbx_Link->setChecked(f.OptionBits[1]);
    u.rzchckbx_Index->setChecked(f.OptionBits[2]);
    u.rzchckbx_RFC2217->setChecked(f.OptionBits[3]);
    SetEditBytes(u.edt_UserMAC, f.UserMAC);
    SetEditBytes(u.edtDns, f.Dns);
    SetEditBytes(u.LabeledEditShortTime, f.ShortConnTime);
    u.RzCheckBoxShortEnable->setChecked(f.ShortConnEnable);
    u.RzCheckBox2->setChecked(f.ClearBuffer);
    SelectIndex(u.RzComboBox2, f.RegTypeIndex);
    u.RzCheckBox1->setChecked(f.KickOldConn);
    if (ToBytes(u.cbb_BaudRate0->currentText()) != f.BaudText)
        ShowBaudRateText(u.cbb_BaudRate0, ToDisplay(f.BaudText));
    SelectIndex(u.cbb_D0, f.DataIndex);
    SelectIndex(u.cbb_P0, f.ParityIndex);
    SelectIndex(u.cbb_S0, f.StopIndex);
    SelectIndex(u.cbb_FlowControl0, f.FlowIndex);
    SetEditBytes(u.edt_LocalPort0, f.LocalPort);
    SetEditBytes(u.edt_RemotePort0, f.RemotePort);
    SetEditBytes(u.edt_RemoteIP0, f.RemoteIP);
    SelectIndex(u.cbb_ModbusTCP0, f.ModbusTCPIndex);
    u.chk_RFC22170->setChecked(f.BaudSync);
    SelectIndex(u.cbb_WorkMode0, f.WorkModeIndex);
    SetEditBytes(u.edt_UARTLength0, f.UARTLength);
    SelectIndex(u.cbbGetPost, f.GetPostIndex);
    SelectIndex(u.cbb_TCPSvrCount0, f.TCPSvrCountIndex);
    SetEditBytes(u.LabeledEdit1, f.RestartTimeout);
    SelectIndex(u.cbb_TCPStyle0, f.TCPStyleIndex);
}

TZ2ExtForm TZ2Page::ReadExtForm() const {
    const auto& u = *ui_;
    TZ2ExtForm f;
    f.RegConnTo = u.rzchckbxRegConnTo->isChecked();
    f.RegDataWith = u.rzchckbxRegDataWith->isChecked();
    f.RegData = EditBytes(u.edtRegDt);
    f.RegDataHex = u.rzchckbxRegDtHex->isChecked();
    f.DeviceNo = EditBytes(u.edtDid);
    f.CommPassword = EditBytes(u.edtCompass);
    f.HttpdUrl = EditBytes(u.LabeledEdit2);
    f.HttpdHeader = HttpdHeaderForModule(ToBytes(u.RzRichEdit1->toPlainText()), headerShown_, headerBytes_);
    f.RemoveHttpdHeader = u.RzCheckBox3->isChecked();
    f.ComSetEnable = u.rzchckbxComSetEnable->isChecked();
    f.HeartTypeIndex = u.RzComboBox1->currentIndex();
    f.HeartTime = EditBytes(u.edtHeartTm);
    f.HeartData = EditBytes(u.edtHeartDt);
    f.HeartDataHex = u.rzchckbxHeartDtHex->isChecked();
    f.ModbusTcp = u.rzchckbxmodbustcp->isChecked();
    f.ModbusPoll = u.rzchckbxmodbuspool->isChecked();
    f.AbnormalResponse = u.rzchckbxmodbusAbnormalResponse->isChecked();
    f.WaitTime = EditBytes(u.edtwaittime);
    f.PollInterval = EditBytes(u.edtPollInternal);
    return f;
}

void TZ2Page::WriteExtForm(const TZ2ExtForm& f) {
    auto& u = *ui_;
    u.rzchckbxRegConnTo->setChecked(f.RegConnTo);
    u.rzchckbxRegDataWith->setChecked(f.RegDataWith);
    SetEditBytes(u.edtRegDt, f.RegData);
    u.rzchckbxRegDtHex->setChecked(f.RegDataHex);
    SetEditBytes(u.edtDid, f.DeviceNo);
    SetEditBytes(u.edtCompass, f.CommPassword);
    SetEditBytes(u.LabeledEdit2, f.HttpdUrl);
    // The editor keeps line breaks as blocks and gives back LF only; keep the header's own bytes
    // to send back while the text is unchanged.
    if (HttpdHeaderForModule(ToBytes(u.RzRichEdit1->toPlainText()), headerShown_, headerBytes_) !=
        f.HttpdHeader)
        u.RzRichEdit1->setPlainText(ToDisplay(f.HttpdHeader));
    headerBytes_ = f.HttpdHeader;
    headerShown_ = ToBytes(u.RzRichEdit1->toPlainText());
    u.RzCheckBox3->setChecked(f.RemoveHttpdHeader);
    u.rzchckbxComSetEnable->setChecked(f.ComSetEnable);
    SelectIndex(u.RzComboBox1, f.HeartTypeIndex);
    SetEditBytes(u.edtHeartTm, f.HeartTime);
    SetEditBytes(u.edtHeartDt, f.HeartData);
    u.rzchckbxHeartDtHex->setChecked(f.HeartDataHex);
    u.rzchckbxmodbustcp->setChecked(f.ModbusTcp);
    u.rzchckbxmodbuspool->setChecked(f.ModbusPoll);
    u.rzchckbxmodbusAbnormalResponse->setChecked(f.AbnormalResponse);
    SetEditBytes(u.edtwaittime, f.WaitTime);
    SetEditBytes(u.edtPollInternal, f.PollInterval);
}

// --- Decoders ---

void TZ2Page::ShowZ2Params(const TBaseParam& base, const TarrComParam& ports, std::int32_t family,
                           bool fromSerial) {
    if (!fromSerial) {
        // Parameter replies carry no envelope MAC: only the selected module's own reply is shown.
        const std::optional<TDeviceRef> selected = host_.SelectedDevice();
        if (!selected || !SameMac(selected->Mac, base.UserMAC))
            return;
    }
    try {
        if (family == FamilyZ2) {
            auto& u = *ui_;
            host_.SetPageMode(2);
            SelectIndex(u.cbb_AddrType, 1);
            ApplyAddrType();
            TZ2Form form = ReadForm();
            ShowZ2OnForm(base, ports, form);
            if (ports.size() == 1) {
                for (QWidget* w : std::initializer_list<QWidget*>{u.cbb_TCPStyle0, u.cbb_ModbusTCP0,
                                                                  u.edt_RemoteIP0, u.cbb_TCPSvrCount0})
                    w->setEnabled(true);
                ShowBaudRate(u.cbb_BaudRate0, ports.front().BaudRate);
                form.BaudText = ToBytes(u.cbb_BaudRate0->currentText());
            }
            WriteForm(form);
            ApplyAddrType();
            if (ports.size() == 1) {
                RzComboBox2Change();
                ApplyZ2WorkMode();
            }
        }
        host_.WriteLog(Text("lang_ts_Read") + Text("lang_ts_OK"), kColourGreen);
    } catch (const std::exception&) {
        host_.WriteLog(QStringLiteral("Error"), kColourRed);
    }
}

void TZ2Page::ShowCloudParams(const TarrCloudParam& cloud) {
    TZ2ExtForm form = ReadExtForm();
    ShowCloudOnForm(cloud, form);
    WriteExtForm(form);
}

void TZ2Page::ShowHeartParams(std::span<const std::uint8_t, HeartBlockSize> block, std::int32_t family) {
    if (family != FamilyZ2)
        return;
    TZ2ExtForm form = ReadExtForm();
    ShowHeartOnForm(DecodeHeartBlock(block), form);
    WriteExtForm(form);
    RzComboBox1Change();
}

void TZ2Page::ShowHttpdParams(const std::string& url, const std::string& header) {
    TZ2ExtForm form = ReadExtForm();
    form.HttpdUrl = url;
    form.HttpdHeader = header;
    WriteExtForm(form);
}

void TZ2Page::ShowModbusParams(const TModbusParam& values, int kind) {
    auto& u = *ui_;
    u.rzgrpbxModbus->show();
    TZ2ExtForm form = ReadExtForm();
    const TModbusView v = ShowModbusOnForm(values, kind, form);
    WriteExtForm(form);
    if (kind != 1 && kind != 4 && kind != 7)
        return;
    u.rzchckbxmodbustcp->show();
    if (kind == 1)
        return;
    u.rzchckbxmodbuspool->show();
    if (kind == 4) {
        u.lblhearttime->show();
        u.edtwaittime->show();
        return;
    }
    u.rzchckbxmodbusAbnormalResponse->setVisible(v.AbnormalShown);
    for (QWidget* w : std::initializer_list<QWidget*>{u.lblhearttime, u.edtwaittime, u.RzLabel4,
                                                      u.lblPollInternal, u.edtPollInternal, u.RzLabel5})
        w->setVisible(v.RangesShown);
}

// --- Saving ---

std::optional<TBaseParam> TZ2Page::ReadZ2BaseParams() {
    TBaseParam base;
    if (auto error = ReadZ2BaseForm(ReadForm(), base)) {
        ReportBadField(host_.Prompts(), this, error->Field, error->Text);
        return std::nullopt;
    }
    return base;
}

std::optional<TPortParam> TZ2Page::ReadZ2PortParams() {
    TPortParam port;
    if (auto error = ReadZ2PortForm(ReadForm(), port)) {
        ReportBadField(host_.Prompts(), this, error->Field, error->Text);
        return std::nullopt;
    }
    return port;
}

TCloudParam TZ2Page::BuildCloudBlockFromPage() const {
    return ReadCloudForm(ReadExtForm());
}
THeartInput TZ2Page::BuildHeartBlockFromPage() const {
    return ReadHeartForm(ReadExtForm());
}
std::pair<std::string, std::string> TZ2Page::BuildHttpdBlocksFromPage() const {
    const TZ2ExtForm f = ReadExtForm();
    return {f.HttpdUrl, f.HttpdHeader};
}
TModbusParam TZ2Page::BuildModbusBlockFromPage() const {
    return ReadModbusForm(ReadExtForm());
}

TZ2SaveConditions TZ2Page::SaveConditions() const {
    const auto& u = *ui_;
    TZ2SaveConditions c;
    c.RegistrationIndex = u.RzComboBox2->currentIndex();
    c.WorkModeIndex = u.cbb_WorkMode0->currentIndex();
    // The page's own flags, not on-screen visibility: the page may sit in a hidden tab.
    c.ModbusGroupVisible = !u.rzgrpbxModbus->isHidden();
    c.PollingVisible = !u.rzchckbxmodbuspool->isHidden();
    return c;
}

std::optional<TZ2SaveInput> TZ2Page::ReadZ2SaveInput(int firmware) {
    std::optional<TBaseParam> base = ReadZ2BaseParams();
    if (!base)
        return std::nullopt;
    std::optional<TPortParam> port = ReadZ2PortParams();
    if (!port)
        return std::nullopt;
    TZ2SaveInput in;
    in.Base = *base;
    in.Port = *port;
    in.Cloud = BuildCloudBlockFromPage();
    in.Heart = BuildHeartBlockFromPage();
    std::tie(in.HttpdUrl, in.HttpdHeader) = BuildHttpdBlocksFromPage();
    in.Modbus = BuildModbusBlockFromPage();
    in.Firmware = firmware;
    in.Conditions = SaveConditions();
    return in;
}

void TZ2Page::ReportSaveError(const TSaveError& error) {
    ReportBadField(host_.Prompts(), this, Z2ControlOfSaveField(error.Field), error.Text);
}

void TZ2Page::btn_Z2NetSetClick() {
    const std::optional<TDeviceRef> selected = host_.SelectedDevice();
    if (!selected) {
        host_.NoTarget();
        return;
    }
    if (selected->Family != FamilyZ2)
        return;
    const std::optional<TZ2SaveInput> input = ReadZ2SaveInput(selected->Firmware);
    if (!input)
        return;
    const TSavePlan plan = PlanZ2Save(*input, host_.Store());
    if (!plan.Ok) {
        ReportSaveError(plan.Error);
        return;
    }
    if (plan.CorrectedPollTimeout)
        SetEditBytes(ui_->edtwaittime, *plan.CorrectedPollTimeout);
    host_.RunSavePlan(plan);
}

} // namespace varnix
