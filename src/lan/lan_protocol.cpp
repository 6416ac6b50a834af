#include "lan/lan_protocol.h"

#include "core/blocks.h"
#include "core/convert.h"

#include <algorithm>
#include <array>

namespace varnix {

TIdBytes BuildEnvelope(std::uint8_t code, std::span<const std::uint8_t> body) {
    TIdBytes out;
    out.reserve(body.size() + 4);
    out.push_back(0xFF);
    out.push_back(static_cast<std::uint8_t>((body.size() + 1) & 0xFF)); // total length - 3
    out.push_back(code);
    out.insert(out.end(), body.begin(), body.end());
    // Byte 0 and the checksum itself are not summed.
    out.push_back(Sum8(std::span<const std::uint8_t>(out).subspan(1)));
    return out;
}

TIdBytes BuildSearchRequest() {
    return BuildEnvelope(CmdSearch, {});
}

TIdBytes BuildAddressedCommand(std::uint8_t code, std::string_view mac, std::string_view user,
                               std::string_view password, std::span<const std::uint8_t> payload) {
    TIdBytes body(18 + payload.size(), 0);
    MacTextToBytes(mac, std::span<std::uint8_t, 6>(body.data(), 6)); // throws before anything is built
    PutLoginField(body, user, 6, LoginFieldBytes);
    PutLoginField(body, password, 12, LoginFieldBytes);
    std::copy(payload.begin(), payload.end(), body.begin() + 18);
    return BuildEnvelope(code, body);
}

std::int32_t FamilyFromPeerPort(std::uint16_t peerPort) {
    switch (peerPort) {
    case PortZ2:
        return FamilyZ2;
    case PortZ3:
        return FamilyZ3;
    default:
        return FamilyUnknown;
    }
}

TSearchReply ParseSearchReply(std::span<const std::uint8_t, SearchReplySize> reply, std::uint16_t peerPort) {
    TSearchReply r;
    // The module IP travels in network order here, unlike the reversed storage of the blocks.
    r.IP = std::to_string(reply[5]) + '.' + std::to_string(reply[6]) + '.' + std::to_string(reply[7]) + '.' +
           std::to_string(reply[8]);
    r.MAC = BytesToMacText(reply.subspan<9, 6>());
    r.FirmwareNumber = reply[15] + 256 * reply[16];
    r.Firmware = std::to_string(r.FirmwareNumber);
    r.Name = BytesToShownText(reply.subspan<19, 14>());
    r.Family = r.FirmwareNumber < NewFirmwareMin ? FamilyUnknown : FamilyFromPeerPort(peerPort);
    return r;
}

namespace {

std::string HexByte(std::uint8_t b) {
    static constexpr char digits[] = "0123456789ABCDEF";
    return std::string{digits[b >> 4], digits[b & 0x0F]};
}

TModbusDatagram ModbusOf(std::span<const std::uint8_t> d) {
    auto [param, kind] = DecodeModbusAnswer(d);
    return TModbusDatagram{std::move(param), kind};
}

} // namespace

TDatagramClass ClassifyDatagram(std::span<const std::uint8_t> d, std::uint16_t peerPort) {
    switch (d.size()) {
    case 1:
        return ModbusOf(d);
    case 2:
        // The module's checksum-error reply: 'E' and the checksum it expected.
        if (d[0] == 0x45)
            return TStatusDatagram{stCheckError, HexByte(d[1])};
        return TIgnoredDatagram{};
    case 4:
        if (d[0] == 0xFF && d[1] == 0x01) {
            // Acknowledgement; byte 2 (the command code) is not examined.
            switch (d[3]) {
            case 0x4B:
                return TStatusDatagram{stAck, AckText};
            case 0x50:
                return TStatusDatagram{stPswdError, PswdErrorText};
            case 0x45:
                return TStatusDatagram{stOtherError, OtherErrorText};
            default:
                return TIgnoredDatagram{};
            }
        }
        return ModbusOf(d);
    case SearchReplySize:
        if (d[0] == 0xFF && d[1] == 0x24 && d[2] == 0x01)
            return ParseSearchReply(d.first<SearchReplySize>(), peerPort);
        return TIgnoredDatagram{};
    case 40:
        return TIgnoredDatagram{};
    case CloudBlockSize:
        return TBlockDatagram{TBlockReply::Cloud50, FamilyFromPeerPort(peerPort)};
    case 64:
        return ModbusOf(d);
    case HeartBlockSize:
        return TBlockDatagram{TBlockReply::Heart85, FamilyFromPeerPort(peerPort)};
    case ParamReplySize:
        return TBlockDatagram{TBlockReply::Params130, FamilyFromPeerPort(peerPort)};
    case 193:
    case 256:
        return TStatusDatagram{stVerIncompatible, VerIncompatibleText};
    case HttpdReplySize:
        return TBlockDatagram{TBlockReply::Httpd302, FamilyFromPeerPort(peerPort)};
    default:
        return TStatusDatagram{stReceiveOther, std::to_string(d.size())};
    }
}

} // namespace varnix
