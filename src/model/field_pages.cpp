#include "model/field_pages.h"

#include <iterator>

namespace varnix {

namespace {

// Where each field sits on the Z2 and the Z3 page, and the text key of the label that names it.
// Fields a page shows but a save only keeps (HeartTarget, RegSendMode, TCPStyle on a Z2 module)
// have their control too; the pages show them and never read them back.
struct TPageControls {
    const char* Field;
    const char* Z2; // objectName on the Z2 page, or null
    const char* Z3; // objectName on the Z3 page, or null
    const char* Label;
};

constexpr TPageControls Controls[] = {
    // --- base block ---
    {"AddrType", "cbb_AddrType", "cbb_AddrTypeZ3", "lang_Lbl_IPType"},
    {"StaticIP", "edt_StaticIP", "edt_StaticIPZ3", "lang_Lbl_StaticIP"},
    {"GatewayIP", "edt_GatewayIP", "edt_GatewayIPZ3", "lang_Lbl_Gateway"},
    {"SubnetMask", "edt_SubnetMask", "edt_SubnetMaskZ3", "lang_Lbl_SubnetMask"},
    {"Dns", "edtDns", nullptr, "lang_lblDns"},
    {"ModName", "edt_ModName", "edt_ModNameZ3", "lang_Lbl_DevName"},
    {"UserName", "edt_username", "edt_usernameZ3", "lang_Lbl_UserName"},
    {"Password", "edt_password", "edt_passwordZ3", "lang_Lbl_Password"},
    {"UserMAC", "edt_UserMAC", "edt_UserMACZ3", "lang_Lbl_MAC"},
    {"LocationURLPort", "edt_LocationURLPort", "edt_LocationURLPortZ3", "lang_Lbl_UPNPPort"},
    {"HTTPServerPort", "edt_HTTPServerPort", "edt_HTTPServerPortZ3", "lang_Lbl_HTTPPort"},
    {"ClearBuffer", "RzCheckBox2", nullptr, "lang_RzCheckBox2"},
    {"ShortConnEnable", "RzCheckBoxShortEnable", nullptr, "lang_RzCheckBoxShortEnable"},
    {"ShortConnTime", "LabeledEditShortTime", nullptr, "lang_LabeledEditShortTime"},
    {"OptionReset", "rzchckbx_Reset", nullptr, nullptr},
    {"OptionLink", "rzchckbx_Link", nullptr, nullptr},
    {"OptionIndex", "rzchckbx_Index", nullptr, nullptr},
    {"OptionRFC2217", "rzchckbx_RFC2217", nullptr, nullptr},
    {"IdType", nullptr, "edt_IdTypeZ3", "lang_Lbl_DevIDType"},
    {"HeartTarget", "cbbHeartTp", nullptr, nullptr},
    {"RegSendMode", "cbbRegSnd", nullptr, "lang_lblRegSnd"},
    // --- port block ---
    {"BaudRate", "cbb_BaudRate0", "cbb_BaudRate0Z3", "lang_Lbl_Baudrate"},
    {"DataBits", "cbb_D0", "cbb_D0Z3", "lang_Lbl_PDS"},
    {"Parity", "cbb_P0", "cbb_P0Z3", "lang_Lbl_PDS"},
    {"StopBits", "cbb_S0", "cbb_S0Z3", "lang_Lbl_PDS"},
    {"FlowControl", "cbb_FlowControl0", "cbb_FlowControl0Z3", "lang_Lbl_FlowControl"},
    {"WorkMode", "cbb_WorkMode0", "cbb_WorkMode0Z3", "lang_Lbl_WorkMode"},
    {"LocalPort", "edt_LocalPort0", "edt_LocalPort0Z3", "lang_Lbl_LocalPort"},
    {"RemoteIP", "edt_RemoteIP0", "edt_RemoteIP0Z3", "lang_Lbl_RemoteIP"},
    {"RemotePort", "edt_RemotePort0", "edt_RemotePort0Z3", "lang_Lbl_RemotePort"},
    {"ModbusTCP", "cbb_ModbusTCP0", "cbb_ModbusTCP0Z3", "lang_Lbl_ModbusTCP"},
    {"BaudSync", "chk_RFC22170", "chk_RFC22170Z3", "lang_Chkbox_RFC22170"},
    {"RegisterType", "RzComboBox2", nullptr, "lang_RzLabel2"},
    {"KickOldConn", "RzCheckBox1", nullptr, "lang_RzCheckBox1"},
    {"TCPSvrCount", "cbb_TCPSvrCount0", "cbb_TCPSvrCount0Z3", "lang_Lbl_TCPSvrCount"},
    {"TCPStyle", "cbb_TCPStyle0", "cbb_TCPStyle0Z3", "lang_Lbl_TCPStyle"},
    {"RestartTimeout", "LabeledEdit1", nullptr, "lang_LabeledEdit1"},
    {"HttpdMethod", "cbbGetPost", nullptr, "lang_lblGetPost"},
    {"UARTLength", nullptr, "edt_UARTLength0Z3", "lang_Lbl_PackLen"},
    // --- cloud block ---
    {"DeviceNo", "edtDid", nullptr, "lang_lblDid"},
    {"CommPassword", "edtCompass", nullptr, "lang_lblCompass"},
    // --- heartbeat and registration block ---
    {"HeartbeatType", "RzComboBox1", nullptr, "lang_RzLabel1"},
    {"HeartbeatInterval", "edtHeartTm", nullptr, "lang_lblHeartTm"},
    {"HeartbeatHex", "rzchckbxHeartDtHex", nullptr, nullptr},
    {"HeartbeatData", "edtHeartDt", nullptr, "lang_lblHeartDt"},
    {"RegisterOnConnect", "rzchckbxRegConnTo", nullptr, "lang_rzchckbxRegConnTo"},
    {"RegisterWithData", "rzchckbxRegDataWith", nullptr, "lang_rzchckbxRegDataWith"},
    {"RegisterHex", "rzchckbxRegDtHex", nullptr, nullptr},
    {"RegisterData", "edtRegDt", nullptr, "lang_lblRegTp"},
    {"RemoveHttpdHeader", "RzCheckBox3", nullptr, "lang_RzCheckBox3"},
    {"SerialSetParams", "rzchckbxComSetEnable", nullptr, "lang_rzchckbxComSetEnable"},
    // --- HTTPD blocks ---
    {"HttpdURL", "LabeledEdit2", nullptr, nullptr},
    {"HttpdHeader", "RzRichEdit1", nullptr, nullptr},
    // --- Modbus block ---
    {"ModbusTCPEnable", "rzchckbxmodbustcp", nullptr, nullptr},
    {"ModbusPoll", "rzchckbxmodbuspool", nullptr, "lang_rzchckbxmodbuspool"},
    {"ModbusPollTimeout", "edtwaittime", nullptr, "lang_lblhearttime"},
    {"ModbusAbnormalResponse", "rzchckbxmodbusAbnormalResponse", nullptr,
     "lang_rzchckbxmodbusAbnormalResponse"},
    {"ModbusPollInterval", "edtPollInternal", nullptr, "lang_lblPollInternal"},
};

QString Latin1OrNull(const char* text) {
    return text != nullptr ? QString::fromLatin1(text) : QString();
}

} // namespace

void SetPageControls(std::vector<TFieldDef>& table) {
    for (const TPageControls& c : Controls) {
        for (TFieldDef& f : table) {
            if (f.Name != QLatin1String(c.Field))
                continue;
            f.Z2Control = Latin1OrNull(c.Z2);
            f.Z3Control = Latin1OrNull(c.Z3);
            f.LabelKey = Latin1OrNull(c.Label);
        }
    }
}

int PageControlEntries() {
    return static_cast<int>(std::size(Controls));
}

} // namespace varnix
