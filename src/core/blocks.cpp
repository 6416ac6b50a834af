#include "core/blocks.h"

#include "core/convert.h"

#include <algorithm>

namespace varnix {

namespace {

using Bytes = std::span<std::uint8_t>;
using CBytes = std::span<const std::uint8_t>;

std::uint8_t Low8(std::int64_t v) {
    return static_cast<std::uint8_t>(v & 0xFF);
}

void PutLE16(Bytes b, std::size_t at, std::int64_t v) {
    b[at] = Low8(v);
    b[at + 1] = Low8(v >> 8);
}

void PutLE32(Bytes b, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i)
        b[at + i] = Low8(v >> (8 * i));
}

int GetLE16(CBytes b, std::size_t at) {
    return static_cast<int>(BytesToInt(b.subspan(at, 2), true));
}

std::span<std::uint8_t, 4> Ip4(Bytes b, std::size_t at) {
    return b.subspan(at).first<4>();
}
std::string IpText(CBytes b, std::size_t at) {
    return BytesToIPText(b.subspan(at).first<4>());
}

std::uint8_t Bit(bool on, int bit) {
    return on ? static_cast<std::uint8_t>(1u << bit) : 0;
}
bool HasBit(std::uint8_t b, int bit) {
    return (b >> bit) & 1;
}

// Base block offsets.
constexpr std::size_t BUpnpPort = 4, BHttpPort = 6, BStaticIP = 9, BGateway = 13, BMask = 17, BName = 21,
                      BUser = 37, BPassword = 43, BOption = 52, BMac = 53, BDns = 59, BShortTime = 63;
constexpr std::size_t NameLen = ModNameMax, LoginLen = LoginMax;

// Port block offsets.
constexpr std::size_t PBaud = 0, PDataBits = 4, PParity = 5, PStopBits = 6, PFlow = 7, PZero = 8, PLocal = 12,
                      PRemote = 14, PRemoteIP = 16, PWorkMode = 51, PHttpdMethod = 52, PSvrCount = 53,
                      PRestart = 54, PUartLength = 52, PCustomReg = 56, PStyle = 58;
constexpr std::size_t RemoteIPLen = RemoteIPMax;

// Status byte (base block byte 3) and socket flags (port block byte 50) bits.
constexpr int SHeartTarget = 0, SBit1 = 1, SRegSendMode = 2, SClearBuffer = 4, SShortConn = 5, SStatic = 7;
constexpr int FModbusTcp = 2, FBaudSync = 3, FCloud = 4, FKickOld = 5, FMacReg = 6;
constexpr std::uint8_t Z2KeptStatusMask = 0x4F;   // bits 0-3 and 6
constexpr std::uint8_t Z2KeptFlagsMask = 0x83;    // bits 0, 1 and 7
constexpr std::uint8_t Z3CarriedFlagsMask = 0xF3; // all but bits 2 and 3

// Cloud block.
constexpr std::size_t CDeviceNo = 2, CDeviceNoLen = DeviceNoMax, CPassword = 22,
                      CPasswordLen = CommPasswordMax;

// Heartbeat block.
constexpr std::size_t HFlags = 0, HInterval = 1, HHeartLen = 3, HRegLen = 4, HHeartData = 5, HRegData = 45;
constexpr std::uint8_t NetHeartbeat = 0x01, SerialHeartbeat = 0x02;

// HTTPD reply: the header block follows the URL block.
constexpr std::size_t HttpdHeaderAt = HttpdUrlBlockSize;

// Z1 body offsets.
constexpr std::size_t ZDestIP = 0, ZDestPort = 4, ZModuleIP = 6, ZModulePort = 10, ZGateway = 12,
                      ZWorkMode = 16, ZBaud = 17, ZFormat = 20, ZDeviceID = 21, ZOptions = 23, ZMask = 24;

// Modbus 16-bit values travel high byte first.
void PutBE16(TIdBytes& out, std::int64_t v) {
    out.push_back(Low8(v >> 8));
    out.push_back(Low8(v));
}

std::string BE16Text(CBytes b, std::size_t at) {
    return std::to_string(BytesToInt(b.subspan(at, 2), false));
}

std::uint8_t SafeHeartFlags(std::uint8_t flags) {
    // Network and serial heartbeat exclude each other; network wins.
    if ((flags & NetHeartbeat) && (flags & SerialHeartbeat))
        flags &= static_cast<std::uint8_t>(~SerialHeartbeat);
    return flags;
}

// One heartbeat or registration data item: its length byte and its 40-byte field.
void PutHeartItem(std::string_view text, bool isHex, std::uint8_t& lengthByte, Bytes field) {
    if (!isHex && text.size() > field.size())
        throw ConversionError(std::string(text)); // never cut inside a character
    const std::size_t length = isHex ? text.size() / 2 : text.size();
    lengthByte = static_cast<std::uint8_t>(std::min(length, HeartDataMax));
    if (isHex)
        HexTextToBuffer(text, field); // a bad pair leaves the field from that pair on as it was
    else
        TextToFixedBytes(text, field);
}

} // namespace

TBaseParam DecodeBaseBlock(std::span<const std::uint8_t, BaseBlockSize> block) {
    const CBytes b = block;
    const std::uint8_t status = b[BaseStatusOffset];
    TBaseParam p;
    p.HeartTarget = HasBit(status, SHeartTarget);
    p.StatusBit1 = HasBit(status, SBit1);
    p.RegSendMode = HasBit(status, SRegSendMode);
    p.ClearBuffer = HasBit(status, SClearBuffer);
    p.ShortConnEnable = HasBit(status, SShortConn);
    p.AddrType = HasBit(status, SStatic);
    p.LocationURLPort = GetLE16(b, BUpnpPort);
    p.HTTPServerPort = GetLE16(b, BHttpPort);
    p.StaticIP = IpText(b, BStaticIP);
    p.GatewayIP = IpText(b, BGateway);
    p.SubnetMask = IpText(b, BMask);
    p.ModName = BytesToShownText(b.subspan(BName, NameLen));
    p.UserName = BytesToShownText(b.subspan(BUser, LoginLen));
    p.Password = BytesToShownText(b.subspan(BPassword, LoginLen));
    p.OptionFlags = b[BOption];
    p.UserMAC = BytesToMacText(b.subspan(BMac).first<6>());
    p.Dns = IpText(b, BDns);
    p.ShortConnTime = b[BShortTime];
    return p;
}

TPortParam DecodePortBlock(std::span<const std::uint8_t, PortBlockSize> block) {
    const CBytes b = block;
    const std::uint8_t flags = b[PortSocketFlagsOffset];
    TPortParam p;
    p.BaudRate = BytesToInt(b.subspan(PBaud, 4), true);
    p.DataBits = b[PDataBits];
    p.Parity = b[PParity];
    p.StopBits = b[PStopBits];
    p.FlowControl = b[PFlow];
    p.LocalPort = GetLE16(b, PLocal);
    p.RemotePort = GetLE16(b, PRemote);
    p.RemoteIP = BytesToShownText(b.subspan(PRemoteIP, RemoteIPLen));
    p.ModbusTCP = HasBit(flags, FModbusTcp);
    p.BaudSync = HasBit(flags, FBaudSync);
    p.CloudEnable = HasBit(flags, FCloud);
    p.KickOldConn = HasBit(flags, FKickOld);
    p.MacRegister = HasBit(flags, FMacReg);
    p.WorkMode = b[PWorkMode];
    p.HttpdMethod = b[PHttpdMethod];
    p.TCPSvrCount = b[PSvrCount];
    p.RestartTimeout = GetLE16(b, PRestart);
    p.CustomRegister = b[PCustomReg] == 1;
    p.TCPStyle = b[PStyle] & 0x0F;
    return p;
}

std::pair<TBaseParam, TarrComParam> DecodeParamReply(std::span<const std::uint8_t, ParamReplySize> reply) {
    return {DecodeBaseBlock(reply.first<BaseBlockSize>()),
            TarrComParam{DecodePortBlock(reply.last<PortBlockSize>())}};
}

void EncodeBaseBlock(std::int32_t family, const TBaseParam& base,
                     std::span<std::uint8_t, BaseBlockSize> block, std::uint8_t keptStatus) {
    const Bytes b = block;
    const bool z2 = family == FamilyZ2;
    // Fields are written in block order, so a text that does not convert leaves the fields
    // before it written and the ones after it as they were.
    if (z2) {
        b[BaseStatusOffset] = static_cast<std::uint8_t>(
            (keptStatus & Z2KeptStatusMask) | Bit(base.ClearBuffer, SClearBuffer) |
            Bit(base.ShortConnEnable, SShortConn) | Bit(base.AddrType != 0, SStatic));
    } else {
        b[BaseStatusOffset] = Bit(base.AddrType != 0, SStatic);
    }
    PutLE16(b, BUpnpPort, base.LocationURLPort);
    PutLE16(b, BHttpPort, base.HTTPServerPort);
    IPTextToBytes(base.StaticIP, Ip4(b, BStaticIP));
    IPTextToBytes(base.GatewayIP, Ip4(b, BGateway));
    IPTextToBytes(base.SubnetMask, Ip4(b, BMask));
    TextToFixedBytes(base.ModName, b.subspan(BName, NameLen));
    TextToFixedBytes(base.UserName, b.subspan(BUser, LoginLen));
    TextToFixedBytes(base.Password, b.subspan(BPassword, LoginLen));
    // Z2: option bits 4-7 (Reset, Link, Index, RFC2217), bits 0-3 zero. Z3: device-ID type 0-3.
    b[BOption] = z2 ? Low8(base.OptionFlags & 0xF0) : Low8(base.OptionFlags & 0x03);
    MacTextToBytes(base.UserMAC, b.subspan(BMac).first<6>());
    if (z2) {
        IPTextToBytes(base.Dns, Ip4(b, BDns));
        b[BShortTime] = Low8(base.ShortConnTime);
    }
}

void EncodePortBlock(std::int32_t family, const TPortParam& port,
                     std::span<std::uint8_t, PortBlockSize> block, std::uint8_t keptSocketFlags) {
    const Bytes b = block;
    const bool z2 = family == FamilyZ2;
    PutLE32(b, PBaud, port.BaudRate);
    b[PDataBits] = Low8(port.DataBits);
    b[PParity] = Low8(port.Parity);
    b[PStopBits] = Low8(port.StopBits);
    b[PFlow] = Low8(port.FlowControl);
    PutLE32(b, PZero, 0);
    PutLE16(b, PLocal, port.LocalPort);
    PutLE16(b, PRemote, port.RemotePort);
    TextToFixedBytes(port.RemoteIP, b.subspan(PRemoteIP, RemoteIPLen));

    // The Modbus TCP gateway only exists for the TCP work modes.
    const bool modbus = port.ModbusTCP != 0 && (port.WorkMode == 1 || port.WorkMode == 3);
    const auto common =
        static_cast<std::uint8_t>(Bit(modbus, FModbusTcp) | Bit(port.BaudSync != 0, FBaudSync));
    std::uint8_t& flags = b[PortSocketFlagsOffset];
    if (z2) {
        flags = static_cast<std::uint8_t>((keptSocketFlags & Z2KeptFlagsMask) | common |
                                          Bit(port.CloudEnable != 0, FCloud) |
                                          Bit(port.KickOldConn, FKickOld) | Bit(port.MacRegister, FMacReg));
    } else {
        flags = static_cast<std::uint8_t>((flags & Z3CarriedFlagsMask) | common);
    }
    b[PWorkMode] = Low8(port.WorkMode);
    if (z2) {
        b[PHttpdMethod] = Low8(port.HttpdMethod);
        b[PSvrCount] = Low8(port.TCPSvrCount);
        PutLE16(b, PRestart, port.RestartTimeout);
        b[PCustomReg] = port.CustomRegister ? 1 : 0;
    } else {
        PutLE32(b, PUartLength, port.UARTLength);
        // High nibble: TCP server connection count; low nibble: TCP server style.
        b[PStyle] = static_cast<std::uint8_t>(((port.TCPSvrCount & 0x0F) << 4) | (port.TCPStyle & 0x0F));
    }
}

TarrCloudParam DecodeCloudBlock(std::span<const std::uint8_t, CloudBlockSize> block) {
    const CBytes b = block;
    return {TCloudParam{BytesToShownText(b.subspan(CDeviceNo, CDeviceNoLen)),
                        BytesToShownText(b.subspan(CPassword, CPasswordLen))}};
}

void EncodeCloudBlock(const TCloudParam& cloud, std::span<std::uint8_t, CloudBlockSize> block) {
    const Bytes b = block;
    TextToFixedBytes(cloud.DeviceNo, b.subspan(CDeviceNo, CDeviceNoLen));
    TextToFixedBytes(cloud.CommPassword, b.subspan(CPassword, CPasswordLen));
}

void EncodeHeartBlock(std::uint8_t flags, int interval, std::string_view heartText, bool heartIsHex,
                      std::string_view regText, bool regIsHex,
                      std::span<std::uint8_t, HeartBlockSize> block) {
    // Written into a copy first: a text that does not fit (or bad hex) leaves the block as it was.
    std::array<std::uint8_t, HeartBlockSize> work;
    std::copy(block.begin(), block.end(), work.begin());
    const Bytes b = work;
    b[HFlags] = SafeHeartFlags(flags);
    PutLE16(b, HInterval, interval);
    PutHeartItem(heartText, heartIsHex, b[HHeartLen], b.subspan(HHeartData, HeartDataMax));
    PutHeartItem(regText, regIsHex, b[HRegLen], b.subspan(HRegData, HeartDataMax));
    std::copy(work.begin(), work.end(), block.begin());
}

THeartParam DecodeHeartBlock(std::span<const std::uint8_t, HeartBlockSize> block) {
    const CBytes b = block;
    THeartParam p;
    p.Flags = SafeHeartFlags(b[HFlags]);
    p.Interval = GetLE16(b, HInterval);
    const auto heart = b.subspan(HHeartData, std::min<std::size_t>(b[HHeartLen], HeartDataMax));
    const auto reg = b.subspan(HRegData, std::min<std::size_t>(b[HRegLen], HeartDataMax));
    p.HeartData.assign(heart.begin(), heart.end());
    p.RegData.assign(reg.begin(), reg.end());
    return p;
}

void EncodeHttpdBlocks(std::string_view url, std::string_view header,
                       std::span<std::uint8_t, HttpdUrlBlockSize> urlBlock,
                       std::span<std::uint8_t, HttpdHeaderBlockSize> headerBlock) {
    const auto put = [](std::string_view text, std::size_t max, Bytes block) {
        if (text.size() > max)
            throw ConversionError(std::string(text)); // never cut inside a character
        block[0] = static_cast<std::uint8_t>(text.size());
        std::copy_n(text.begin(), text.size(), block.begin() + 1);
    };
    // Both are checked before either block is touched: all or nothing.
    if (url.size() > HttpdUrlMax || header.size() > HttpdHeaderMax)
        throw ConversionError(std::string(url.size() > HttpdUrlMax ? url : header));
    put(url, HttpdUrlMax, urlBlock);
    put(header, HttpdHeaderMax, headerBlock);
}

std::pair<std::string, std::string> DecodeHttpdTexts(std::span<const std::uint8_t, HttpdReplySize> reply) {
    const CBytes b = reply;
    const std::size_t urlLen = std::min<std::size_t>(b[0], HttpdUrlMax);
    const std::size_t headerLen = std::min<std::size_t>(b[HttpdHeaderAt], HttpdHeaderMax);
    return {BytesToText(b.subspan(1, urlLen)), BytesToText(b.subspan(HttpdHeaderAt + 1, headerLen))};
}

TIdBytes EncodeModbusBlock(int kind, const TModbusParam& values) {
    TIdBytes out;
    if (kind != 1 && kind != 4 && kind != 7)
        return out;
    out.push_back(values.ModbusTCPEnable);
    if (kind >= 4) {
        out.push_back(values.PollEnable);
        PutBE16(out, TextToInt(values.PollTimeout));
    }
    if (kind == 7) {
        out.push_back(values.AbnormalResponse);
        PutBE16(out, TextToInt(values.PollInterval));
    }
    return out;
}

std::pair<TModbusParam, int> DecodeModbusAnswer(std::span<const std::uint8_t> datagram) {
    int kind = 0;
    switch (datagram.size()) {
    case 1:
        kind = 1;
        break;
    case 4:
        kind = 4;
        break;
    case 64:
        kind = 7;
        break;
    default:
        return {TModbusParam{}, 0};
    }
    TModbusParam p;
    p.ModbusTCPEnable = datagram[0];
    if (kind >= 4) {
        p.PollEnable = datagram[1];
        p.PollTimeout = BE16Text(datagram, 2);
    }
    if (kind == 7) {
        p.AbnormalResponse = datagram[4];
        p.PollInterval = BE16Text(datagram, 5);
    }
    return {p, kind};
}

std::uint8_t EncodeSerialFormat(int parityIndex, int dataIndex, int stopIndex) {
    // bits 5-4 parity kind, bit 3 parity enabled, bit 2 stop index, bits 1-0 data index.
    const unsigned parity =
        parityIndex <= 0 ? 0u : ((static_cast<unsigned>(parityIndex - 1) & 3u) << 4) | 0x08u;
    return static_cast<std::uint8_t>(parity | ((static_cast<unsigned>(stopIndex) & 1u) << 2) |
                                     (static_cast<unsigned>(dataIndex) & 3u));
}

TSerialFormat DecodeSerialFormat(std::uint8_t b) {
    return {HasBit(b, 3) ? 1 + ((b >> 4) & 3) : 0, b & 3, (b >> 2) & 1};
}

void EncodeZ1Body(const TZ1Params& v, std::span<std::uint8_t, Z1BodySize> body) {
    const Bytes b = body;
    IPTextToBytes(v.DestIP, Ip4(b, ZDestIP));
    PutLE16(b, ZDestPort, v.DestPort);
    IPTextToBytes(v.ModuleIP, Ip4(b, ZModuleIP));
    PutLE16(b, ZModulePort, v.ModulePort);
    IPTextToBytes(v.GatewayIP, Ip4(b, ZGateway));
    b[ZWorkMode] = Low8(v.WorkMode);
    for (std::size_t i = 0; i < 3; ++i)
        b[ZBaud + i] = Low8(v.BaudRate >> (8 * i));
    b[ZFormat] = EncodeSerialFormat(v.ParityIndex, v.DataIndex, v.StopIndex);
    b[ZDeviceID] = Low8(v.DeviceID >> 8); // the device ID is big-endian
    b[ZDeviceID + 1] = Low8(v.DeviceID);
    b[ZOptions] = v.Options;
    IPTextToBytes(v.SubnetMask, Ip4(b, ZMask));
}

TZ1Params DecodeZ1Body(std::span<const std::uint8_t, Z1BodySize> body) {
    const CBytes b = body;
    TZ1Params v;
    v.DestIP = IpText(b, ZDestIP);
    v.DestPort = GetLE16(b, ZDestPort);
    v.ModuleIP = IpText(b, ZModuleIP);
    v.ModulePort = GetLE16(b, ZModulePort);
    v.GatewayIP = IpText(b, ZGateway);
    v.WorkMode = b[ZWorkMode];
    v.BaudRate = BytesToInt(b.subspan(ZBaud, 3), true);
    const TSerialFormat f = DecodeSerialFormat(b[ZFormat]);
    v.ParityIndex = f.ParityIndex;
    v.DataIndex = f.DataIndex;
    v.StopIndex = f.StopIndex;
    v.DeviceID = static_cast<int>(BytesToInt(b.subspan(ZDeviceID, 2), false));
    v.Options = b[ZOptions];
    v.SubnetMask = IpText(b, ZMask);
    return v;
}

std::array<std::uint8_t, Z1FrameSize> BuildZ1SerialFrame(std::span<const std::uint8_t, Z1BodySize> body) {
    std::array<std::uint8_t, Z1FrameSize> frame{};
    frame[0] = 0x55;
    frame[1] = 0xBA;
    std::copy(body.begin(), body.end(), frame.begin() + 2);
    frame[Z1FrameSize - 1] = Sum8(body);
    return frame;
}

int FlowControlIndexToCode(int index) {
    switch (index) {
    case 1:
        return 3;
    case 2:
        return 5;
    default:
        return 1; // no flow control; also for a page with no selection
    }
}

int FlowControlCodeToIndex(int code) {
    switch (code) {
    case 1:
        return 0;
    case 3:
        return 1;
    case 5:
        return 2;
    default:
        return -1;
    }
}

} // namespace varnix
