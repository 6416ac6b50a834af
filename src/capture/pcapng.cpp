#include "capture/pcapng.h"

#include <algorithm>

namespace varnix::capture {

namespace {

constexpr std::uint32_t BlockSectionHeader = 0x0A0D0D0A;
constexpr std::uint32_t BlockInterface = 1;
constexpr std::uint32_t BlockInterfaceStatistics = 5;
constexpr std::uint32_t BlockEnhancedPacket = 6;
constexpr std::uint32_t ByteOrderMagic = 0x1A2B3C4D;

constexpr std::uint16_t OptEnd = 0, OptComment = 1;
constexpr std::uint16_t ShbUserAppl = 4;
constexpr std::uint16_t IfName = 2, IfDescription = 3, IfIpv4Addr = 4, IfTsResol = 9;
constexpr std::uint16_t IsbIfRecv = 4, IsbIfDrop = 5;

// Exported PDU tags: big-endian tag and length, then the value.
constexpr std::uint16_t PduTagEnd = 0, PduTagDissectorName = 12, PduTagDirection = 35;
constexpr std::uint32_t DirectionSent = 0, DirectionReceived = 1;

constexpr std::size_t BlockOverhead = 12; // type, total length, trailing total length
constexpr std::size_t EpbFixed = 20;      // interface id, timestamp (2 x 32), captured and original length
constexpr std::size_t IsbFixed = 12;      // interface id, timestamp
constexpr std::size_t IpUdpHeaders = 28;  // IPv4 (20) and UDP (8)
constexpr std::size_t PduTagsSize = 4 + 4 + 4 + 4 + 4; // name (4 + "vorz"), direction (4 + 4), end

std::size_t Pad4(std::size_t n) {
    return (n + 3) & ~std::size_t{3};
}

void Put16(TBuffer& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(TBuffer& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Put64(TBuffer& out, std::uint64_t v) {
    Put32(out, static_cast<std::uint32_t>(v));
    Put32(out, static_cast<std::uint32_t>(v >> 32));
}
void PutBE16(TBuffer& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}
void PutBE32(TBuffer& out, std::uint32_t v) {
    PutBE16(out, static_cast<std::uint16_t>(v >> 16));
    PutBE16(out, static_cast<std::uint16_t>(v));
}
void PutBytes(TBuffer& out, std::span<const std::uint8_t> bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}
void PadTo4(TBuffer& out, std::size_t length) {
    out.insert(out.end(), Pad4(length) - length, 0);
}
std::span<const std::uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::size_t OptionSize(std::size_t valueSize) {
    return 4 + Pad4(valueSize);
}
// An empty text option is left out: pcapng gives it no meaning.
std::size_t TextOptionSize(std::string_view text) {
    return text.empty() ? 0 : OptionSize(text.size());
}
void PutOption(TBuffer& out, std::uint16_t code, std::span<const std::uint8_t> value) {
    Put16(out, code);
    Put16(out, static_cast<std::uint16_t>(value.size()));
    PutBytes(out, value);
    PadTo4(out, value.size());
}
void PutTextOption(TBuffer& out, std::uint16_t code, std::string_view text) {
    if (!text.empty())
        PutOption(out, code, Bytes(text));
}
void PutEndOfOptions(TBuffer& out) {
    Put16(out, OptEnd);
    Put16(out, 0);
}

// Option values are at most 65535 bytes; texts here are short, but a caller's text is cut, not
// allowed to overflow the length field.
std::string_view Capped(std::string_view text) {
    return text.substr(0, std::min<std::size_t>(text.size(), 0xFFFC));
}

void BeginBlock(TBuffer& out, std::uint32_t type, std::size_t totalSize) {
    out.reserve(out.size() + totalSize);
    Put32(out, type);
    Put32(out, static_cast<std::uint32_t>(totalSize));
}
void EndBlock(TBuffer& out, std::size_t totalSize) {
    Put32(out, static_cast<std::uint32_t>(totalSize));
}

void PutTimestamp(TBuffer& out, std::uint64_t timeUs) {
    Put32(out, static_cast<std::uint32_t>(timeUs >> 32));
    Put32(out, static_cast<std::uint32_t>(timeUs));
}

// The Internet checksum: ones' complement of the ones' complement sum of 16-bit big-endian words.
std::uint32_t SumWords(std::span<const std::uint8_t> bytes, std::uint32_t sum) {
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2)
        sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    if (i < bytes.size())
        sum += static_cast<std::uint32_t>(bytes[i] << 8);
    return sum;
}
std::uint16_t Fold(std::uint32_t sum) {
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

void PutIpv4UdpHeaders(TBuffer& out, const TUdpPacket& p) {
    const auto udpLength = static_cast<std::uint16_t>(8 + p.Payload.size());
    const std::size_t ipAt = out.size();
    out.push_back(0x45); // version 4, 5 words of header
    out.push_back(0);    // type of service
    PutBE16(out, static_cast<std::uint16_t>(20 + udpLength));
    PutBE16(out, p.Identification);
    PutBE16(out, 0);   // no fragmentation
    out.push_back(64); // time to live
    out.push_back(17); // UDP
    PutBE16(out, 0);   // header checksum, filled below
    PutBE32(out, p.Source);
    PutBE32(out, p.Destination);
    const std::uint16_t ipSum = Fold(SumWords(std::span(out).subspan(ipAt, 20), 0));
    out[ipAt + 10] = static_cast<std::uint8_t>(ipSum >> 8);
    out[ipAt + 11] = static_cast<std::uint8_t>(ipSum);

    // The UDP checksum covers a pseudo-header (addresses, protocol, UDP length), the UDP header
    // and the payload. A computed 0 is sent as FFFF, since 0 means "no checksum".
    std::uint32_t sum = (p.Source >> 16) + (p.Source & 0xFFFF) + (p.Destination >> 16) +
                        (p.Destination & 0xFFFF) + 17 + udpLength;
    sum += p.SourcePort + p.DestinationPort + udpLength;
    std::uint16_t udpSum = Fold(SumWords(p.Payload, sum));
    if (udpSum == 0)
        udpSum = 0xFFFF;
    PutBE16(out, p.SourcePort);
    PutBE16(out, p.DestinationPort);
    PutBE16(out, udpLength);
    PutBE16(out, udpSum);
}

} // namespace

std::size_t SectionHeaderSize(std::string_view application, std::string_view comment) {
    return BlockOverhead + 16 + TextOptionSize(Capped(application)) + TextOptionSize(Capped(comment)) + 4;
}

void AppendSectionHeader(TBuffer& out, std::string_view application, std::string_view comment) {
    application = Capped(application);
    comment = Capped(comment);
    const std::size_t size = SectionHeaderSize(application, comment);
    BeginBlock(out, BlockSectionHeader, size);
    Put32(out, ByteOrderMagic);
    Put16(out, 1); // version 1.0
    Put16(out, 0);
    Put64(out, ~std::uint64_t{0}); // section length not given: the file is written as it goes
    PutTextOption(out, OptComment, comment);
    PutTextOption(out, ShbUserAppl, application);
    PutEndOfOptions(out);
    EndBlock(out, size);
}

std::size_t RawIpv4InterfaceSize(std::string_view name, std::string_view description) {
    return BlockOverhead + 8 + TextOptionSize(Capped(name)) + TextOptionSize(Capped(description)) +
           OptionSize(8) + OptionSize(1) + 4;
}

void AppendRawIpv4Interface(TBuffer& out, std::string_view name, std::string_view description,
                            TIpv4 address) {
    name = Capped(name);
    description = Capped(description);
    const std::size_t size = RawIpv4InterfaceSize(name, description);
    BeginBlock(out, BlockInterface, size);
    Put16(out, LinkTypeRaw);
    Put16(out, 0);
    Put32(out, 0); // no snapshot length: packets are always whole
    PutTextOption(out, IfName, name);
    PutTextOption(out, IfDescription, description);
    // Address and mask in network order; the mask is not known here, so the host mask is given.
    const std::uint8_t addr[8] = {static_cast<std::uint8_t>(address >> 24),
                                  static_cast<std::uint8_t>(address >> 16),
                                  static_cast<std::uint8_t>(address >> 8),
                                  static_cast<std::uint8_t>(address),
                                  0xFF,
                                  0xFF,
                                  0xFF,
                                  0xFF};
    PutOption(out, IfIpv4Addr, addr);
    const std::uint8_t microseconds[1] = {6};
    PutOption(out, IfTsResol, microseconds);
    PutEndOfOptions(out);
    EndBlock(out, size);
}

std::size_t UpperPduInterfaceSize(std::string_view name, std::string_view description) {
    return BlockOverhead + 8 + TextOptionSize(Capped(name)) + TextOptionSize(Capped(description)) +
           OptionSize(1) + 4;
}

void AppendUpperPduInterface(TBuffer& out, std::string_view name, std::string_view description) {
    name = Capped(name);
    description = Capped(description);
    const std::size_t size = UpperPduInterfaceSize(name, description);
    BeginBlock(out, BlockInterface, size);
    Put16(out, LinkTypeUpperPdu);
    Put16(out, 0);
    Put32(out, 0);
    PutTextOption(out, IfName, name);
    PutTextOption(out, IfDescription, description);
    const std::uint8_t microseconds[1] = {6};
    PutOption(out, IfTsResol, microseconds);
    PutEndOfOptions(out);
    EndBlock(out, size);
}

std::size_t UdpPacketSize(std::size_t payloadSize, std::string_view comment) {
    return BlockOverhead + EpbFixed + Pad4(IpUdpHeaders + payloadSize) + TextOptionSize(Capped(comment)) + 4;
}

void AppendUdpPacket(TBuffer& out, std::uint32_t interfaceId, std::uint64_t timeUs, const TUdpPacket& packet,
                     std::string_view comment) {
    comment = Capped(comment);
    TUdpPacket p = packet;
    p.Payload = p.Payload.first(std::min(p.Payload.size(), MaxUdpPayload));
    const std::size_t length = IpUdpHeaders + p.Payload.size();
    const std::size_t size = UdpPacketSize(p.Payload.size(), comment);
    BeginBlock(out, BlockEnhancedPacket, size);
    Put32(out, interfaceId);
    PutTimestamp(out, timeUs);
    Put32(out, static_cast<std::uint32_t>(length));
    Put32(out, static_cast<std::uint32_t>(length));
    PutIpv4UdpHeaders(out, p);
    PutBytes(out, p.Payload);
    PadTo4(out, length);
    PutTextOption(out, OptComment, comment);
    PutEndOfOptions(out);
    EndBlock(out, size);
}

std::size_t UpperPduSize(std::size_t frameSize, std::string_view comment) {
    return BlockOverhead + EpbFixed + Pad4(PduTagsSize + frameSize) + TextOptionSize(Capped(comment)) + 4;
}

void AppendUpperPdu(TBuffer& out, std::uint32_t interfaceId, std::uint64_t timeUs, bool sent,
                    std::span<const std::uint8_t> frame, std::string_view comment) {
    comment = Capped(comment);
    const std::size_t length = PduTagsSize + frame.size();
    const std::size_t size = UpperPduSize(frame.size(), comment);
    BeginBlock(out, BlockEnhancedPacket, size);
    Put32(out, interfaceId);
    PutTimestamp(out, timeUs);
    Put32(out, static_cast<std::uint32_t>(length));
    Put32(out, static_cast<std::uint32_t>(length));
    PutBE16(out, PduTagDissectorName);
    PutBE16(out, static_cast<std::uint16_t>(DissectorName.size()));
    PutBytes(out, Bytes(DissectorName));
    PutBE16(out, PduTagDirection);
    PutBE16(out, 4);
    PutBE32(out, sent ? DirectionSent : DirectionReceived);
    PutBE16(out, PduTagEnd);
    PutBE16(out, 0);
    PutBytes(out, frame);
    PadTo4(out, length);
    PutTextOption(out, OptComment, comment);
    PutEndOfOptions(out);
    EndBlock(out, size);
}

std::size_t InterfaceStatisticsSize(std::string_view comment) {
    return BlockOverhead + IsbFixed + TextOptionSize(Capped(comment)) + 2 * OptionSize(8) + 4;
}

void AppendInterfaceStatistics(TBuffer& out, std::uint32_t interfaceId, std::uint64_t timeUs,
                               std::uint64_t seen, std::uint64_t leftOut, std::string_view comment) {
    comment = Capped(comment);
    const std::size_t size = InterfaceStatisticsSize(comment);
    BeginBlock(out, BlockInterfaceStatistics, size);
    Put32(out, interfaceId);
    PutTimestamp(out, timeUs);
    PutTextOption(out, OptComment, comment);
    Put16(out, IsbIfRecv);
    Put16(out, 8);
    Put64(out, seen);
    Put16(out, IsbIfDrop);
    Put16(out, 8);
    Put64(out, leftOut);
    PutEndOfOptions(out);
    EndBlock(out, size);
}

} // namespace varnix::capture
