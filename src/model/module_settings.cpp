#include "model/module_settings.h"

#include "core/blocks.h"
#include "core/convert.h"

#include <array>
#include <span>

namespace varnix {

namespace {

// Z3 modules use port bytes 52-58 differently from Z2 modules: bytes 52-55 hold the serial
// packing length (32-bit little-endian) and byte 58 the TCP server connection count (high
// nibble) and style (low nibble). The shared decoder reads the Z2 layout, so these three are
// taken from the bytes here.
constexpr std::size_t Z3UartLengthAt = 52;
constexpr std::size_t Z3ServerByteAt = 58;

void ApplyZ3PortLayout(std::span<const std::uint8_t, PortBlockSize> port, TPortParam& p) {
    p.UARTLength = BytesToInt(port.subspan(Z3UartLengthAt, 4), true);
    p.TCPSvrCount = port[Z3ServerByteAt] >> 4;
    p.TCPStyle = port[Z3ServerByteAt] & 0x0F;
}

std::span<const std::uint8_t, PortBlockSize> PortOf(const TBlockStore& store) {
    return std::span<const std::uint8_t, ParamReplySize>(store.BasePort)
        .subspan<BaseBlockSize, PortBlockSize>();
}

} // namespace

int RegisterTypeFromPort(const TPortParam& port) {
    int type = 0;
    if (port.CloudEnable == 1)
        type = 3;
    if (port.MacRegister)
        type = 1;
    if (port.CustomRegister)
        type = 2;
    return type;
}

TModuleSettings DecodeModuleSettings(std::int32_t family, int firmware, const TBlockStore& store,
                                     const TReceivedBlocks& got) {
    TModuleSettings s;
    s.Family = family;
    s.Firmware = firmware;
    if (got.Params) {
        auto [base, ports] = DecodeParamReply(std::span<const std::uint8_t, ParamReplySize>(store.BasePort));
        s.Base = base;
        s.Port = ports.front();
        if (family == FamilyZ3)
            ApplyZ3PortLayout(PortOf(store), s.Port);
        s.RegisterType = family == FamilyZ2 ? RegisterTypeFromPort(s.Port) : 0;
    }
    if (family != FamilyZ2)
        return s; // only Z2 modules have the extra blocks
    if (got.Cloud) {
        s.HasCloud = true;
        s.Cloud = DecodeCloudBlock(store.Cloud).front();
    }
    if (got.Heart) {
        s.HasHeart = true;
        s.Heart = DecodeHeartBlock(store.Heart);
    }
    if (got.Httpd) {
        s.HasHttpd = true;
        auto [url, header] = DecodeHttpdTexts(store.Httpd);
        s.HttpdUrl = url;
        s.HttpdHeader = header;
    }
    if (got.ModbusKind == 1 || got.ModbusKind == 4 || got.ModbusKind == 7) {
        s.ModbusKind = got.ModbusKind;
        s.Modbus = got.Modbus;
    }
    return s;
}

int ModbusSaveKind(const TModuleSettings& s) {
    if (s.ModbusKind == 0)
        return 0;
    return s.ModbusKind == 1 ? 1 : 7;
}

TZ2SaveInput MakeZ2SaveInput(const TModuleSettings& s) {
    TZ2SaveInput in;
    in.Base = s.Base;
    in.Port = s.Port;
    // The registration selector writes the three registration flags back.
    in.Port.MacRegister = s.RegisterType == 1;
    in.Port.CustomRegister = s.RegisterType == 2;
    in.Port.CloudEnable = s.RegisterType == 3 ? 1 : 0;
    in.Cloud = s.Cloud;
    const bool heartHex = (s.Heart.Flags & 0x40) != 0;
    const bool regHex = (s.Heart.Flags & 0x80) != 0;
    const std::string heart(s.Heart.HeartData.begin(), s.Heart.HeartData.end());
    const std::string reg(s.Heart.RegData.begin(), s.Heart.RegData.end());
    in.Heart.Flags = s.Heart.Flags;
    in.Heart.IntervalText = std::to_string(s.Heart.Interval);
    in.Heart.HeartText = heartHex ? TextToHex(heart) : heart;
    in.Heart.HeartIsHex = heartHex;
    in.Heart.RegText = regHex ? TextToHex(reg) : reg;
    in.Heart.RegIsHex = regHex;
    in.HttpdUrl = s.HttpdUrl;
    in.HttpdHeader = s.HttpdHeader;
    in.Modbus = s.Modbus;
    in.Firmware = s.Firmware;
    in.Conditions.RegistrationIndex = s.RegisterType;
    in.Conditions.WorkModeIndex = s.Port.WorkMode;
    in.Conditions.ModbusGroupVisible = s.ModbusKind != 0;
    in.Conditions.PollingVisible = ModbusSaveKind(s) == 7;
    return in;
}

TZ3SaveInput MakeZ3SaveInput(const TModuleSettings& s) {
    return TZ3SaveInput{s.Base, s.Port};
}

TModuleSettings SettingsAfterPlan(const TModuleSettings& before, const TBlockStore& planned) {
    TReceivedBlocks got;
    got.Params = true;
    got.Cloud = before.HasCloud;
    got.Heart = before.HasHeart;
    got.Httpd = before.HasHttpd;
    const int kind = ModbusSaveKind(before);
    if (kind != 0) {
        // Decode the block the save sends the way its reply would be decoded.
        std::array<std::uint8_t, 64> datagram{};
        std::copy(planned.Modbus.begin(), planned.Modbus.end(), datagram.begin());
        auto [param, k] =
            DecodeModbusAnswer(std::span<const std::uint8_t>(datagram).first(kind == 7 ? 64 : 1));
        got.ModbusKind = k;
        got.Modbus = param;
    }
    return DecodeModuleSettings(before.Family, before.Firmware, planned, got);
}

} // namespace varnix
