#include "capture/describe.h"

#include "core/blocks.h"
#include "core/convert.h"
#include "lan/lan_protocol.h"
#include "serial/serial_frames.h"

#include <algorithm>
#include <charconv>
#include <variant>

namespace varnix::capture {

namespace {

using CBytes = std::span<const std::uint8_t>;

// Firmware upgrade ports: the request goes to 9; boot requests and replies use 67 and 68; the
// module reads the image with a request to 69 and gets the blocks from 40300 on its port 13633.
constexpr std::uint16_t UpgradeRequestPort = 9, BootServerPort = 67, BootClientPort = 68, FileServerPort = 69,
                        DataLocalPort = 40300, ModuleDataPort = 13633;
constexpr std::size_t UpgradeRequestSize = 30, BootRecordSize = 300;

// Where the module's log-in password sits inside a base block, and how long it is.
constexpr std::size_t BasePasswordAt = 43, LoginSize = 6;
// In an addressed command: the password, and the payload.
constexpr std::size_t CommandPasswordAt = 15, PayloadAt = AddressedHeaderSize;
constexpr std::size_t BaseMacAt = 53;

std::string Hex2(std::uint8_t b) {
    static constexpr char digits[] = "0123456789ABCDEF";
    return std::string{digits[b >> 4], digits[b & 0x0F]};
}

std::string Mac(CBytes d, std::size_t at) {
    return BytesToMacText(d.subspan(at).first<6>());
}

// Texts from the wire for a comment: printable ASCII up to the first NUL, anything else as '?', so
// a comment stays valid UTF-8 whatever a module (or anyone else) sent; at most MaxText characters,
// so a long datagram does not make a long comment.
constexpr std::size_t MaxText = 64;
std::string Printable(CBytes bytes) {
    std::string out;
    for (const std::uint8_t b : bytes) {
        if (b == 0)
            break;
        if (out.size() == MaxText)
            return out + "...";
        out += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '?';
    }
    return out;
}

std::string Dotted(CBytes d, std::size_t at) {
    return std::to_string(d[at]) + '.' + std::to_string(d[at + 1]) + '.' + std::to_string(d[at + 2]) + '.' +
           std::to_string(d[at + 3]);
}

std::string Bytes(std::size_t n) {
    return std::to_string(n) + (n == 1 ? " byte" : " bytes");
}

bool IsModulePort(std::uint16_t port) {
    return port == PortZ2 || port == PortZ3;
}

// --- LAN commands. ---

struct TCommandInfo {
    std::uint8_t Code;
    const char* Name;
    std::size_t Payload; // expected payload size; 0 for a plain command
};
constexpr TCommandInfo Commands[] = {
    {CmdRestart, "restart", 0},
    {CmdRead, "read command", 0},
    {CmdZ3SaveEnd, "end of Z3 save", 0},
    {CmdWriteBase, "write base block", BaseBlockSize},
    {CmdWritePort, "write port block", PortBlockSize},
    {CmdFactoryReset, "restore factory settings", 0},
    {CmdWriteCloud, "write cloud block", CloudBlockSize},
    {CmdWriteHeart, "write heartbeat block", HeartBlockSize},
    {CmdWriteHttpdUrl, "write HTTPD URL block", HttpdUrlBlockSize},
    {CmdWriteHttpdHeader, "write HTTPD header block", HttpdHeaderBlockSize},
    {CmdWriteModbus, "write Modbus block", 0},
};

const TCommandInfo* FindCommand(std::uint8_t code) {
    for (const TCommandInfo& c : Commands)
        if (c.Code == code)
            return &c;
    return nullptr;
}

bool LengthByteMatches(CBytes d) {
    return d.size() >= 4 && d[1] == static_cast<std::uint8_t>((d.size() - 3) & 0xFF);
}

bool ChecksumMatches(CBytes d) {
    return d.size() >= 2 && d.back() == Sum8(d.subspan(1, d.size() - 2));
}

// The envelope of a datagram this program sends: FF, length - 3, code, body, checksum.
bool LooksLikeCommand(CBytes d) {
    if (d.size() < 4 || d[0] != 0xFF || !LengthByteMatches(d))
        return false;
    return d.size() >= AddressedOverhead || (d.size() == 4 && d[2] == CmdSearch && ChecksumMatches(d));
}

std::string PayloadNote(const TCommandInfo* c, std::size_t payload) {
    if (c == nullptr)
        return payload == 0 ? "" : ", " + Bytes(payload) + " of payload";
    if (c->Code == CmdWriteModbus) {
        if (payload == 1 || payload == 4 || payload == ModbusBlockMax)
            return ", kind " + std::to_string(payload);
        return ", " + Bytes(payload) + " of payload (expected 1 or 7)";
    }
    if (payload != c->Payload)
        return ", " + Bytes(payload) + " of payload (expected " + std::to_string(c->Payload) + ")";
    return "";
}

std::string DescribeCommand(CBytes d) {
    if (d.size() < 4 || d[0] != 0xFF)
        return Bytes(d.size()) + ", not a command";
    std::string s;
    if (d.size() == 4 && d[2] == CmdSearch) {
        s = "search request";
    } else if (d.size() < AddressedOverhead) {
        s = "command " + Hex2(d[2]) + ", " + Bytes(d.size()) + ", too short for an addressed command";
    } else {
        const TCommandInfo* c = FindCommand(d[2]);
        s = c != nullptr ? std::string(c->Name) : "command " + Hex2(d[2]);
        s += ", " + Mac(d, 3) + PayloadNote(c, d.size() - AddressedOverhead);
    }
    if (!LengthByteMatches(d))
        s += ", length byte " + Hex2(d[1]) + " does not match";
    if (!ChecksumMatches(d))
        s += ", bad checksum " + Hex2(d.back()) + " (sum is " + Hex2(Sum8(d.subspan(1, d.size() - 2))) + ")";
    return s;
}

// --- LAN replies. ---

std::string FamilyText(std::int32_t family) {
    switch (family) {
    case FamilyZ2:
        return "Z2";
    case FamilyZ3:
        return "Z3";
    default:
        return "unknown family";
    }
}

std::string DescribeStatus(CBytes d, const TStatusDatagram& s) {
    switch (s.Code) {
    case stAck:
        return "acknowledgement K";
    case stPswdError:
        return "acknowledgement P, user name or password wrong";
    case stOtherError:
        return "acknowledgement E, other error";
    case stCheckError:
        return "checksum-error reply, module expected " + s.Text;
    case stVerIncompatible:
        return "reply of another product series, " + Bytes(d.size());
    default:
        return "unknown reply, " + Bytes(d.size());
    }
}

std::string DescribeBlock(CBytes d, const TBlockDatagram& b) {
    switch (b.Block) {
    case TBlockReply::Params130:
        return "read reply, base+port, " + Mac(d, BaseMacAt);
    case TBlockReply::Cloud50:
        return "read reply, cloud";
    case TBlockReply::Heart85:
        return "read reply, heartbeat";
    case TBlockReply::Httpd302:
        return "read reply, HTTPD";
    }
    return "read reply";
}

std::string DescribeIgnored(CBytes d) {
    if (d.size() == 4)
        return "acknowledgement with unknown status " + Hex2(d[3]) + ", ignored";
    return Bytes(d.size()) + ", ignored";
}

void AppendDecimal(std::string& s, unsigned v) {
    char digits[12];
    const auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
    s.append(digits, end);
}

void AppendHex2(std::string& s, std::uint8_t b) {
    static constexpr char digits[] = "0123456789ABCDEF";
    s += digits[b >> 4];
    s += digits[b & 0x0F];
}

// A search reply is what a search burst of thousands consists of, so it is written in one go
// into one string: "search reply, Z2, 00 1A 2B 3C 4D 5E, 10.77.0.50, firmware 4017, Line-1".
// Its fields are those ParseSearchReply reads: IP at 5, MAC at 9, firmware at 15, name at 19.
std::string DescribeSearchReply(CBytes d, std::uint16_t sourcePort) {
    const unsigned firmware = d[15] + 256u * d[16];
    const std::int32_t family =
        firmware < static_cast<unsigned>(NewFirmwareMin) ? FamilyUnknown : FamilyFromPeerPort(sourcePort);
    std::string s;
    s.reserve(96);
    s += "search reply, ";
    s += FamilyText(family);
    for (std::size_t i = 9; i < 15; ++i) {
        s += i == 9 ? ", " : " ";
        AppendHex2(s, d[i]);
    }
    for (std::size_t i = 5; i < 9; ++i) {
        s += i == 5 ? ", " : ".";
        AppendDecimal(s, d[i]);
    }
    s += ", firmware ";
    AppendDecimal(s, firmware);
    if (firmware < static_cast<unsigned>(NewFirmwareMin))
        s += " (incompatible)";
    const std::string name = Printable(d.subspan(19, 14));
    if (!name.empty())
        s += ", " + name;
    return s;
}

std::string DescribeReply(CBytes d, std::uint16_t sourcePort) {
    if (d.size() == SearchReplySize && d[0] == 0xFF && d[1] == 0x24 && d[2] == 0x01)
        return DescribeSearchReply(d, sourcePort);
    const TDatagramClass c = ClassifyDatagram(d, sourcePort);
    if (const auto* s = std::get_if<TStatusDatagram>(&c))
        return DescribeStatus(d, *s);
    if (const auto* m = std::get_if<TModbusDatagram>(&c))
        return "read reply, Modbus kind " + std::to_string(m->Kind);
    if (const auto* b = std::get_if<TBlockDatagram>(&c))
        return DescribeBlock(d, *b);
    return DescribeIgnored(d);
}

// --- Firmware upgrade. ---

std::string DescribeUpgradeRequest(CBytes d) {
    if (d.size() != UpgradeRequestSize ||
        !std::all_of(d.begin(), d.begin() + 6, [](auto b) { return b == 0xAA; }))
        return Bytes(d.size()) + " to port 9, not an upgrade request";
    std::string s = "upgrade request, " + Mac(d, 6);
    for (std::size_t copy = 12; copy < UpgradeRequestSize; copy += 6)
        if (!std::equal(d.begin() + 6, d.begin() + 12, d.begin() + static_cast<std::ptrdiff_t>(copy)))
            return s + ", MAC copies differ";
    return s;
}

std::string DescribeBoot(CBytes d) {
    if (d.size() != BootRecordSize || (d[0] != 1 && d[0] != 2))
        return Bytes(d.size()) + " on the boot ports, not a boot record";
    if (d[0] == 1) {
        return "boot request, " + Mac(d, 28) + ", signature " + Hex2(d[44]) + ' ' + Hex2(d[45]) + ' ' +
               Hex2(d[46]) + ' ' + Hex2(d[47]);
    }
    return "boot reply, address " + Dotted(d, 16) + ", server " + Dotted(d, 20) + ", file " +
           Printable(d.subspan(108, 128));
}

std::string DescribeTransfer(CBytes d) {
    if (d.size() < 4 || d[0] != 0)
        return Bytes(d.size()) + " of the image transfer, not understood";
    const int number = d[2] * 256 + d[3];
    switch (d[1]) {
    case 1: {
        const CBytes rest = d.subspan(2);
        const auto nul = std::find(rest.begin(), rest.end(), 0);
        const std::string file = Printable(rest);
        const std::string mode = nul == rest.end() ? "" : Printable(rest.subspan(nul - rest.begin() + 1));
        return "file read request, " + file + ", " + mode;
    }
    case 3:
        return "data block " + std::to_string(number) + ", " + Bytes(d.size() - 4);
    case 4:
        return "block acknowledgement " + std::to_string(number);
    default:
        return "transfer opcode " + std::to_string(d[1]) + ", " + Bytes(d.size());
    }
}

enum class TUpgradeKind { None, Request, Boot, Transfer };

// Which upgrade packet the ports say it is.
TUpgradeKind UpgradeKind(std::uint16_t src, std::uint16_t dst) {
    if (dst == UpgradeRequestPort)
        return TUpgradeKind::Request;
    if (src == BootServerPort || src == BootClientPort || dst == BootServerPort || dst == BootClientPort)
        return TUpgradeKind::Boot;
    if (dst == FileServerPort || src == DataLocalPort || dst == DataLocalPort || src == ModuleDataPort ||
        dst == ModuleDataPort)
        return TUpgradeKind::Transfer;
    return TUpgradeKind::None;
}

// Moves a checksum byte by the change of the sum of the bytes it covers.
void ReplaceKeepingChecksum(std::span<std::uint8_t> field, std::uint8_t* checksum) {
    const std::uint8_t before = Sum8(field);
    std::fill(field.begin(), field.end(), static_cast<std::uint8_t>('*'));
    if (checksum != nullptr)
        *checksum = static_cast<std::uint8_t>(*checksum + Sum8(field) - before);
}

// --- Serial frames. ---

std::string SerialChecked(const char* name, CBytes f, std::size_t sumFrom, std::size_t sumTo) {
    const std::uint8_t sum = Sum8(f.subspan(sumFrom, sumTo - sumFrom + 1));
    std::string s = name;
    if (f[sumTo + 1] != sum)
        s += ", bad checksum " + Hex2(f[sumTo + 1]) + " (sum is " + Hex2(sum) + ")";
    return s;
}

std::string DescribeSerialSent(CBytes f) {
    if (f.size() < 2 || f[0] != ComHead)
        return Bytes(f.size()) + " to the module, not a frame";
    const std::uint8_t code = f[1];
    if (f.size() == 2 && code == ComReadZ1)
        return "read request, Z1/Z3";
    if (f.size() == 2 && code == ComReadZ2)
        return "read request, Z2";
    if (f.size() == 2 && code == ComReadZ2More)
        return "follow-up read request, cloud and heartbeat";
    if (f.size() == Z1FrameSize && code == ComWriteZ1)
        return SerialChecked("Z1 write frame", f, 2, 29);
    if (f.size() == ComZ2BaseFrameSize && code == ComWriteZ2Base)
        return SerialChecked("Z2 base frame", f, 2, 68) + ", " + Mac(f, 2 + BaseMacAt);
    if (f.size() == ComZ2PortFrameSize && code == ComWriteZ2Port)
        return SerialChecked("Z2 port frame", f, 2, 64);
    if (f.size() == 3 && code == ComCloseZ2 && f[2] == ComCloseZ2Tail)
        return "Z2 closing frame";
    return "frame " + Hex2(code) + ", " + Bytes(f.size()) + ", not understood";
}

std::string DescribeSerialReceived(CBytes f) {
    switch (ClassifyComReply(f)) {
    case TComReply::Ack:
        return "acknowledgement K";
    case TComReply::OtherByte:
        return "1 byte " + Hex2(f[0]) + ", ignored";
    case TComReply::Z1Params:
        if (f[0] != ComHead || f[1] != ComReadZ1)
            return "Z1 read reply with a wrong head " + Hex2(f[0]) + ' ' + Hex2(f[1]);
        return SerialChecked("Z1 read reply", f, 2, 30);
    case TComReply::Z2Params:
        return "Z2 parameter reply, " + Mac(f, ComZ2ParamOffset + BaseMacAt);
    case TComReply::Z2More:
        return "Z2 cloud and heartbeat reply";
    case TComReply::Unknown:
        break;
    }
    return Bytes(f.size()) + " from the module, not a reply";
}

} // namespace

std::string DescribeDatagram(std::span<const std::uint8_t> d, std::uint16_t sourcePort,
                             std::uint16_t destinationPort) {
    switch (UpgradeKind(sourcePort, destinationPort)) {
    case TUpgradeKind::Request:
        return DescribeUpgradeRequest(d);
    case TUpgradeKind::Boot:
        return DescribeBoot(d);
    case TUpgradeKind::Transfer:
        return DescribeTransfer(d);
    case TUpgradeKind::None:
        break;
    }
    if (IsModulePort(sourcePort))
        return DescribeReply(d, sourcePort);
    if (IsModulePort(destinationPort) || LooksLikeCommand(d))
        return DescribeCommand(d);
    return DescribeReply(d, sourcePort);
}

std::string DescribeSerialFrame(std::span<const std::uint8_t> frame, bool sentByPc) {
    return sentByPc ? DescribeSerialSent(frame) : DescribeSerialReceived(frame);
}

bool MaskLogin(std::span<std::uint8_t> d, bool sentByPc) {
    if (!sentByPc) {
        if (d.size() != ParamReplySize)
            return false;
        ReplaceKeepingChecksum(d.subspan(BasePasswordAt, LoginSize), nullptr);
        return true;
    }
    if (d.size() < AddressedOverhead || !LooksLikeCommand(d))
        return false;
    std::uint8_t* checksum = &d.back();
    ReplaceKeepingChecksum(d.subspan(CommandPasswordAt, LoginSize), checksum);
    if (d[2] == CmdWriteBase && d.size() == AddressedOverhead + BaseBlockSize)
        ReplaceKeepingChecksum(d.subspan(PayloadAt + BasePasswordAt, LoginSize), checksum);
    return true;
}

bool MayCarryLogin(std::span<const std::uint8_t> d, bool sentByPc) {
    return sentByPc ? d.size() >= AddressedOverhead && d[0] == 0xFF : d.size() == ParamReplySize;
}

bool MaskSerialLogin(std::span<std::uint8_t> f, bool sentByPc) {
    if (sentByPc) {
        if (f.size() != ComZ2BaseFrameSize || f[0] != ComHead || f[1] != ComWriteZ2Base)
            return false;
        ReplaceKeepingChecksum(f.subspan(2 + BasePasswordAt, LoginSize), &f.back());
        return true;
    }
    if (f.size() != ComZ2ParamReplySize)
        return false;
    ReplaceKeepingChecksum(f.subspan(ComZ2ParamOffset + BasePasswordAt, LoginSize), nullptr);
    return true;
}

} // namespace varnix::capture
