#include "model/page_rules.h"

#include "core/convert.h"

#include <limits>

namespace varnix {

namespace {

// The number a page text holds, or nothing.
std::optional<std::int64_t> NumberOf(std::string_view text) {
    try {
        return TextToInt(text);
    } catch (const ConversionError&) {
        return std::nullopt;
    }
}

// Reads one numeric field for a save; the first that fails names its control.
struct TFieldReader {
    std::optional<TPageError> Error;

    std::int64_t Number(const char* control, const std::string& text) {
        if (Error)
            return 0;
        if (auto n = NumberOf(text))
            return *n;
        Error = TPageError{control, text};
        return 0;
    }
    std::int64_t NumberIn(const char* control, const std::string& text, std::int64_t low, std::int64_t high) {
        const std::int64_t n = Number(control, text);
        if (!Error && (n < low || n > high))
            Error = TPageError{control, text};
        return Error ? 0 : n;
    }
    void Address(const char* control, const std::string& text) {
        if (Error)
            return;
        std::array<std::uint8_t, 4> scratch{};
        try {
            IPTextToBytes(text, scratch);
        } catch (const ConversionError&) {
            Error = TPageError{control, text};
        }
    }
};

// An item index from a record value, or the current one when the value has no item.
int IndexOr(int index, int count, int current) {
    return index >= 0 && index < count ? index : current;
}

} // namespace

std::optional<std::uint32_t> ParseCustomBaud(std::string_view answer) {
    auto n = NumberOf(answer);
    if (!n || *n <= 0 || *n > std::numeric_limits<std::uint32_t>::max())
        return std::nullopt;
    return static_cast<std::uint32_t>(*n);
}

bool PortTextShouldClear(std::string_view text) {
    if (text.empty())
        return false;
    auto n = NumberOf(text);
    return !n || *n > 65535 || *n <= 0;
}

bool PollTimeoutShouldClear(std::string_view text) {
    if (text.size() <= 1)
        return false;
    auto n = NumberOf(text);
    return !n || *n > 9999 || *n < 10;
}

bool PollIntervalShouldClear(std::string_view text) {
    if (text.empty())
        return false;
    auto n = NumberOf(text);
    return !n || *n > 9999 || *n < 0;
}

TWorkModeView WorkModeRule(int workMode, bool lanTabActive) {
    TWorkModeView v;
    v.ModbusTCPEnabled = workMode == 1 || workMode == 3;
    v.TCPServerEnabled = workMode == 3;
    v.RemoteIPEnabled = workMode != 3;
    v.GetPostEnabled = workMode == 4;
    v.HttpdGroupShown = workMode == 4 && lanTabActive;
    v.DataDebugShown = workMode != 4;
    return v;
}

TRegTypeView RegTypeRule(int regType) {
    TRegTypeView v;
    v.CloudShown = regType == 3;
    v.RegOptionsShown = regType == 1 || regType == 2;
    v.RegDataShown = regType == 2;
    return v;
}

// --- Z1 ---

void ShowZ1OnForm(const TZ1Params& p, TZ1Form& form) {
    form.WorkModeIndex = IndexOr(p.WorkMode, 4, form.WorkModeIndex);
    form.ModuleIP = p.ModuleIP;
    form.Mask = p.SubnetMask;
    form.Gateway = p.GatewayIP;
    form.BaudText = std::to_string(p.BaudRate);
    form.ParityIndex = p.ParityIndex;
    form.DataIndex = p.DataIndex;
    form.StopIndex = p.StopIndex;
    form.ModulePort = std::to_string(p.ModulePort);
    form.DeIP = p.DestIP;
    form.DePort = std::to_string(p.DestPort);
    form.ID = std::to_string(p.DeviceID);
    for (int i = 0; i < 8; ++i)
        form.Options[static_cast<std::size_t>(i)] = (p.Options >> i) & 1;
}

std::optional<TPageError> ReadZ1Form(TZ1Form& form, TZ1Params& out) {
    if (form.ID.empty())
        form.ID = "0";
    TFieldReader r;
    TZ1Params p;
    p.DestIP = form.DeIP;
    r.Address("edt_DeIP", form.DeIP);
    p.DestPort = static_cast<int>(r.Number("edt_DePort", form.DePort));
    p.ModuleIP = form.ModuleIP;
    r.Address("edt_ModuleIP", form.ModuleIP);
    p.ModulePort = static_cast<int>(r.Number("edt_ModulePort", form.ModulePort));
    p.GatewayIP = form.Gateway;
    r.Address("edt_Gateway", form.Gateway);
    p.WorkMode = form.WorkModeIndex;
    const std::int64_t baud = r.Number("cbb_BaudRate", form.BaudText);
    if (!r.Error && (baud <= 0 || baud > 0xFFFFFF))
        r.Error = TPageError{"cbb_BaudRate", form.BaudText};
    p.BaudRate = static_cast<std::uint32_t>(baud);
    p.ParityIndex = form.ParityIndex;
    p.DataIndex = form.DataIndex;
    p.StopIndex = form.StopIndex;
    p.DeviceID = static_cast<int>(r.Number("edt_ID", form.ID) & 0xFFFF);
    std::uint8_t options = 0;
    for (int i = 0; i < 8; ++i)
        if (form.Options[static_cast<std::size_t>(i)])
            options |= static_cast<std::uint8_t>(1u << i);
    p.Options = options;
    p.SubnetMask = form.Mask;
    r.Address("edt_Mask", form.Mask);
    if (r.Error)
        return r.Error;
    out = p;
    return std::nullopt;
}

// --- Z2 ---

void ShowZ2OnForm(const TBaseParam& b, const TarrComParam& ports, TZ2Form& f) {
    f.HeartTargetIndex = IndexOr(b.HeartTarget, 2, f.HeartTargetIndex);
    f.RegSendIndex = IndexOr(b.RegSendMode, 2, f.RegSendIndex);
    f.AddrTypeIndex = b.AddrType != 0 ? 1 : 0;
    f.LocationURLPort = std::to_string(b.LocationURLPort);
    f.HTTPServerPort = std::to_string(b.HTTPServerPort);
    f.StaticIP = b.StaticIP;
    f.GatewayIP = b.GatewayIP;
    f.SubnetMask = b.SubnetMask;
    f.ModName = b.ModName;
    f.UserName = b.UserName;
    f.Password = b.Password;
    for (int i = 0; i < 4; ++i)
        f.OptionBits[static_cast<std::size_t>(i)] = (b.OptionFlags >> (4 + i)) & 1;
    f.UserMAC = b.UserMAC;
    f.Dns = b.Dns;
    f.ShortConnTime = std::to_string(b.ShortConnTime);
    f.ShortConnEnable = b.ShortConnEnable;
    f.ClearBuffer = b.ClearBuffer;
    if (ports.size() != 1)
        return;

    const TPortParam& p = ports.front();
    // The last registration kind that is set wins: cloud, then MAC, then user-defined.
    f.RegTypeIndex = 0;
    if (p.CloudEnable == 1)
        f.RegTypeIndex = 3;
    if (p.MacRegister)
        f.RegTypeIndex = 1;
    if (p.CustomRegister)
        f.RegTypeIndex = 2;
    f.KickOldConn = p.KickOldConn;
    f.BaudText = std::to_string(p.BaudRate);
    f.DataIndex = IndexOr(p.DataBits - 5, 4, f.DataIndex);
    f.ParityIndex = IndexOr(p.Parity - 1, 5, f.ParityIndex);
    f.StopIndex = IndexOr(p.StopBits - 1, 2, f.StopIndex);
    if (const int flow = FlowControlCodeToIndex(p.FlowControl); flow >= 0)
        f.FlowIndex = flow;
    f.LocalPort = std::to_string(p.LocalPort);
    f.RemotePort = std::to_string(p.RemotePort);
    f.RemoteIP = p.RemoteIP;
    f.ModbusTCPIndex = IndexOr(p.ModbusTCP, 2, f.ModbusTCPIndex);
    if (p.BaudSync == 1)
        f.BaudSync = true;
    if (p.BaudSync == 0)
        f.BaudSync = false;
    f.WorkModeIndex = IndexOr(p.WorkMode, 5, f.WorkModeIndex);
    f.UARTLength = std::to_string(p.UARTLength);
    f.GetPostIndex = IndexOr(p.HttpdMethod, 2, f.GetPostIndex);
    f.TCPSvrCountIndex = IndexOr(p.TCPSvrCount - 1, 16, f.TCPSvrCountIndex);
    f.RestartTimeout = std::to_string(p.RestartTimeout);
    f.TCPStyleIndex = IndexOr(p.TCPStyle - 1, 3, f.TCPStyleIndex);
}

// The serial and socket fields that the Z2 and Z3 port forms share; the controls differ only in
// their name suffix ("" on the Z2 page, "Z3" on the Z3 page).
template <class Form>
void ReadSharedPortFields(TFieldReader& r, const Form& f, const std::string& suffix, TPortParam& p) {
    const std::string baudName = "cbb_BaudRate0" + suffix;
    const std::int64_t baud = r.Number(baudName.c_str(), f.BaudText);
    if (!r.Error && (baud <= 0 || baud > std::numeric_limits<std::uint32_t>::max()))
        r.Error = TPageError{baudName, f.BaudText};
    p.BaudRate = static_cast<std::uint32_t>(baud);
    p.DataBits = f.DataIndex + 5;
    p.Parity = f.ParityIndex + 1;
    p.StopBits = f.StopIndex + 1;
    p.FlowControl = FlowControlIndexToCode(f.FlowIndex);
    p.LocalPort = static_cast<int>(r.Number(("edt_LocalPort0" + suffix).c_str(), f.LocalPort));
    p.RemotePort = static_cast<int>(r.Number(("edt_RemotePort0" + suffix).c_str(), f.RemotePort));
    p.RemoteIP = f.RemoteIP;
    p.ModbusTCP = f.ModbusTCPIndex == 1 ? 1 : 0;
    p.BaudSync = f.BaudSync ? 1 : 0;
    p.WorkMode = f.WorkModeIndex;
}

std::optional<TPageError> ReadZ2BaseForm(const TZ2Form& f, TBaseParam& base) {
    TFieldReader r;
    TBaseParam b;
    b.AddrType = f.AddrTypeIndex == 0 ? 0 : 1;
    b.HeartTarget = f.HeartTargetIndex == 1 ? 1 : 0;
    b.RegSendMode = f.RegSendIndex == 1 ? 1 : 0;
    b.LocationURLPort = static_cast<int>(r.Number("edt_LocationURLPort", f.LocationURLPort));
    b.HTTPServerPort = static_cast<int>(r.Number("edt_HTTPServerPort", f.HTTPServerPort));
    b.StaticIP = f.StaticIP;
    b.GatewayIP = f.GatewayIP;
    b.SubnetMask = f.SubnetMask;
    b.ModName = f.ModName;
    b.UserName = f.UserName;
    b.Password = f.Password;
    int option = 0;
    for (int i = 0; i < 4; ++i)
        if (f.OptionBits[static_cast<std::size_t>(i)])
            option |= 1 << (4 + i);
    b.OptionFlags = option;
    b.UserMAC = f.UserMAC;
    b.Dns = f.Dns;
    // The short-connection time falls back to 3 seconds, the module's default.
    b.ShortConnTime = static_cast<int>(NumberOf(f.ShortConnTime).value_or(3));
    b.ShortConnEnable = f.ShortConnEnable;
    b.ClearBuffer = f.ClearBuffer;
    if (r.Error)
        return r.Error;
    base = b;
    return std::nullopt;
}

std::optional<TPageError> ReadZ2PortForm(const TZ2Form& f, TPortParam& port) {
    TFieldReader r;
    TPortParam p;
    ReadSharedPortFields(r, f, "", p);
    // Not written for a Z2 module; kept in the record as the hidden edit holds it.
    p.UARTLength = static_cast<std::uint32_t>(NumberOf(f.UARTLength).value_or(0));
    p.TCPSvrCount = f.TCPSvrCountIndex + 1;
    p.TCPStyle = f.TCPStyleIndex + 1;
    p.RestartTimeout = static_cast<int>(NumberOf(f.RestartTimeout).value_or(0));
    p.MacRegister = f.RegTypeIndex == 1;
    p.CustomRegister = f.RegTypeIndex == 2;
    p.CloudEnable = f.RegTypeIndex == 3 ? 1 : 0;
    p.KickOldConn = f.KickOldConn;
    p.HttpdMethod = f.GetPostIndex == 1 ? 1 : 0;
    if (r.Error)
        return r.Error;
    port = p;
    return std::nullopt;
}

// --- Z2 extended groups ---

void ShowCloudOnForm(const TarrCloudParam& cloud, TZ2ExtForm& form) {
    if (cloud.size() != 1)
        return;
    form.DeviceNo = cloud.front().DeviceNo;
    form.CommPassword = cloud.front().CommPassword;
}

void ShowHeartOnForm(const THeartParam& h, TZ2ExtForm& f) {
    const auto bit = [&](int n) { return ((h.Flags >> n) & 1) != 0; };
    f.HeartDataHex = bit(6);
    f.RegDataHex = bit(7);
    f.ComSetEnable = bit(5);
    f.RegDataWith = bit(3);
    f.RegConnTo = bit(2);
    f.RemoveHttpdHeader = bit(4);
    f.HeartTypeIndex = 0;
    if (bit(1))
        f.HeartTypeIndex = 1;
    if (bit(0))
        f.HeartTypeIndex = 2;
    f.HeartTime = std::to_string(h.Interval);
    const std::string heart(h.HeartData.begin(), h.HeartData.end());
    const std::string reg(h.RegData.begin(), h.RegData.end());
    f.HeartData = f.HeartDataHex ? TextToHex(heart) : heart;
    f.RegData = f.RegDataHex ? TextToHex(reg) : reg;
}

TCloudParam ReadCloudForm(const TZ2ExtForm& f) {
    return TCloudParam{f.DeviceNo, f.CommPassword};
}

THeartInput ReadHeartForm(const TZ2ExtForm& f) {
    THeartInput h;
    std::uint8_t flags = 0;
    if (f.HeartTypeIndex == 2)
        flags |= 0x01;
    if (f.HeartTypeIndex == 1)
        flags |= 0x02;
    if (f.RegConnTo)
        flags |= 0x04;
    if (f.RegDataWith)
        flags |= 0x08;
    if (f.RemoveHttpdHeader)
        flags |= 0x10;
    if (f.ComSetEnable)
        flags |= 0x20;
    if (f.HeartDataHex)
        flags |= 0x40;
    if (f.RegDataHex)
        flags |= 0x80;
    h.Flags = flags;
    h.IntervalText = f.HeartTime;
    h.HeartText = f.HeartData;
    h.HeartIsHex = f.HeartDataHex;
    h.RegText = f.RegData;
    h.RegIsHex = f.RegDataHex;
    return h;
}

TModbusParam ReadModbusForm(const TZ2ExtForm& f) {
    TModbusParam m;
    m.ModbusTCPEnable = f.ModbusTcp ? 1 : 0;
    m.PollEnable = f.ModbusPoll ? 1 : 0;
    m.PollTimeout = f.WaitTime;
    m.AbnormalResponse = f.AbnormalResponse ? 1 : 0;
    m.PollInterval = f.PollInterval;
    return m;
}

TModbusView ShowModbusOnForm(const TModbusParam& m, int kind, TZ2ExtForm& f) {
    TModbusView v;
    if (kind != 1 && kind != 4 && kind != 7)
        return v;
    v.TcpShown = true;
    f.ModbusTcp = m.ModbusTCPEnable == 1;
    if (kind == 1)
        return v;
    v.PollShown = true;
    f.ModbusPoll = m.PollEnable == 1;
    f.WaitTime = m.PollTimeout;
    if (kind == 4) {
        v.WaitTimeShown = true;
        return v;
    }
    v.AbnormalShown = f.ModbusTcp;
    v.WaitTimeShown = f.ModbusPoll;
    v.RangesShown = f.ModbusPoll;
    f.AbnormalResponse = m.AbnormalResponse == 1;
    f.PollInterval = m.PollInterval;
    return v;
}

std::string ToggleHexText(const std::string& shown, bool nowHex) {
    return nowHex ? TextToHex(shown) : HexToText(shown);
}

std::string HttpdHeaderForModule(const std::string& text, const std::string& shownBytes,
                                 const std::string& moduleBytes) {
    if (text == shownBytes)
        return moduleBytes;
    std::string out;
    out.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    return out;
}

// --- Z3 ---

std::optional<TPageError> ReadZ3BaseForm(const TZ3Form& f, TBaseParam& base) {
    TFieldReader r;
    TBaseParam b;
    b.AddrType = f.AddrTypeIndex == 0 ? 0 : 1;
    b.LocationURLPort = static_cast<int>(r.Number("edt_LocationURLPortZ3", f.LocationURLPort));
    b.HTTPServerPort = static_cast<int>(r.Number("edt_HTTPServerPortZ3", f.HTTPServerPort));
    b.StaticIP = f.StaticIP;
    b.GatewayIP = f.GatewayIP;
    b.SubnetMask = f.SubnetMask;
    b.ModName = f.ModName;
    b.UserName = f.UserName;
    b.Password = f.Password;
    // One character, 0-3: a value outside is refused rather than cut to its low two bits.
    b.OptionFlags = static_cast<int>(r.NumberIn("edt_IdTypeZ3", f.IdType, 0, 3));
    b.UserMAC = f.UserMAC;
    if (r.Error)
        return r.Error;
    base = b;
    return std::nullopt;
}

std::optional<TPageError> ReadZ3PortForm(const TZ3Form& f, TPortParam& port) {
    TFieldReader r;
    TPortParam p;
    ReadSharedPortFields(r, f, "Z3", p);
    p.UARTLength = static_cast<std::uint32_t>(r.Number("edt_UARTLength0Z3", f.UARTLength));
    p.TCPSvrCount = f.TCPSvrCountIndex + 1;
    p.TCPStyle = f.TCPStyleIndex + 1;
    if (r.Error)
        return r.Error;
    port = p;
    return std::nullopt;
}

std::string Z2ControlOfSaveField(TSaveField field) {
    switch (field) {
    case TSaveField::StaticIP:
        return "edt_StaticIP";
    case TSaveField::GatewayIP:
        return "edt_GatewayIP";
    case TSaveField::SubnetMask:
        return "edt_SubnetMask";
    case TSaveField::UserMAC:
        return "edt_UserMAC";
    case TSaveField::Dns:
        return "edtDns";
    case TSaveField::HeartInterval:
        return "edtHeartTm";
    case TSaveField::PollTimeout:
        return "edtwaittime";
    case TSaveField::PollInterval:
        return "edtPollInternal";
    }
    return {};
}

std::string Z3ControlOfSaveField(TSaveField field) {
    switch (field) {
    case TSaveField::StaticIP:
        return "edt_StaticIPZ3";
    case TSaveField::GatewayIP:
        return "edt_GatewayIPZ3";
    case TSaveField::SubnetMask:
        return "edt_SubnetMaskZ3";
    case TSaveField::UserMAC:
        return "edt_UserMACZ3";
    default:
        return {};
    }
}

} // namespace varnix
