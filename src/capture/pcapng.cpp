#include "capture/pcapng.h"

#include <algorithm>
#include <array>
#include <cstring>

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
constexpr std::uint8_t Microseconds = 6; // if_tsresol: 10^-6 s

// Exported PDU tags: big-endian tag and length, then the value.
constexpr std::uint16_t PduTagEnd = 0, PduTagDissectorName = 12, PduTagDirection = 35;
constexpr std::uint32_t DirectionSent = 0, DirectionReceived = 1;

constexpr std::size_t BlockOverhead = 12;              // type, total length, trailing total length
constexpr std::size_t EpbFixed = 20;                   // interface id, timestamp (2 x 32), two lengths
constexpr std::size_t IsbFixed = 12;                   // interface id, timestamp
constexpr std::size_t IpUdpHeaders = 28;               // IPv4 (20) and UDP (8)
constexpr std::size_t PduTagsSize = 4 + 4 + 4 + 4 + 4; // name (4 + "vorz"), direction (4 + 4), end

std::size_t Pad4(std::size_t n) {
    return (n + 3) & ~std::size_t{3};
}

std::span<const std::uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Option values are at most 65535 bytes; texts here are short, but a caller's text is cut, not
// allowed to overflow the length field.
std::string_view Capped(std::string_view text) {
    return text.substr(0, std::min<std::size_t>(text.size(), 0xFFFC));
}

std::size_t OptionSize(std::size_t valueSize) {
    return 4 + Pad4(valueSize);
}
// An empty text option is left out: pcapng gives it no meaning.
std::size_t TextOptionSize(std::string_view text) {
    return text.empty() ? 0 : OptionSize(text.size());
}

// Writes one block into space reserved for it at the end of a buffer: the buffer grows once per
// block, then every field is stored through a cursor. Padding bytes are zero from the resize.
class TBlock {
public:
    TBlock(TBuffer& out, std::uint32_t type, std::size_t totalSize) : size_(totalSize) {
        const std::size_t at = out.size();
        if (out.capacity() - at < totalSize)
            out.reserve(std::max(out.capacity() * 2, at + totalSize)); // buffers collect many blocks
        out.resize(at + totalSize);
        p_ = out.data() + at;
        end_ = p_ + totalSize;
        U32(type);
        U32(static_cast<std::uint32_t>(totalSize));
    }
    // The trailing length closes the block; the options before it end with opt_endofopt.
    ~TBlock() {
        p_ = end_ - 4;
        U32(static_cast<std::uint32_t>(size_));
    }
    TBlock(const TBlock&) = delete;
    TBlock& operator=(const TBlock&) = delete;

    void U16(std::uint16_t v) {
        p_[0] = static_cast<std::uint8_t>(v);
        p_[1] = static_cast<std::uint8_t>(v >> 8);
        p_ += 2;
    }
    void U32(std::uint32_t v) {
        U16(static_cast<std::uint16_t>(v));
        U16(static_cast<std::uint16_t>(v >> 16));
    }
    void U64(std::uint64_t v) {
        U32(static_cast<std::uint32_t>(v));
        U32(static_cast<std::uint32_t>(v >> 32));
    }
    void BE16(std::uint16_t v) {
        p_[0] = static_cast<std::uint8_t>(v >> 8);
        p_[1] = static_cast<std::uint8_t>(v);
        p_ += 2;
    }
    void BE32(std::uint32_t v) {
        BE16(static_cast<std::uint16_t>(v >> 16));
        BE16(static_cast<std::uint16_t>(v));
    }
    void Put(std::span<const std::uint8_t> bytes) {
        if (!bytes.empty())
            std::memcpy(p_, bytes.data(), bytes.size());
        p_ += bytes.size();
    }
    void SkipPadding(std::size_t length) { p_ += Pad4(length) - length; }
    void Timestamp(std::uint64_t timeUs) {
        U32(static_cast<std::uint32_t>(timeUs >> 32));
        U32(static_cast<std::uint32_t>(timeUs));
    }
    void Option(std::uint16_t code, std::span<const std::uint8_t> value) {
        U16(code);
        U16(static_cast<std::uint16_t>(value.size()));
        Put(value);
        SkipPadding(value.size());
    }
    void TextOption(std::uint16_t code, std::string_view text) {
        if (!text.empty())
            Option(code, Bytes(text));
    }
    void EndOfOptions() {
        U16(OptEnd);
        U16(0);
    }
    std::uint8_t* Cursor() const { return p_; }

private:
    std::size_t size_;
    std::uint8_t* p_;
    std::uint8_t* end_;
};

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

void PutIpv4UdpHeaders(TBlock& b, const TUdpPacket& p) {
    const auto udpLength = static_cast<std::uint16_t>(8 + p.Payload.size());
    std::uint8_t* ip = b.Cursor();
    b.Put(std::array<std::uint8_t, 2>{0x45, 0}); // version 4, 5 words of header; type of service
    b.BE16(static_cast<std::uint16_t>(20 + udpLength));
    b.BE16(p.Identification);
    b.BE16(0);                                  // no fragmentation
    b.Put(std::array<std::uint8_t, 2>{64, 17}); // time to live, UDP
    b.BE16(0);                                  // header checksum, filled below
    b.BE32(p.Source);
    b.BE32(p.Destination);
    const std::uint16_t ipSum = Fold(SumWords({ip, 20}, 0));
    ip[10] = static_cast<std::uint8_t>(ipSum >> 8);
    ip[11] = static_cast<std::uint8_t>(ipSum);

    // The UDP checksum covers a pseudo-header (addresses, protocol, UDP length), the UDP header
    // and the payload. A computed 0 is sent as FFFF, since 0 means "no checksum".
    std::uint32_t sum = (p.Source >> 16) + (p.Source & 0xFFFF) + (p.Destination >> 16) +
                        (p.Destination & 0xFFFF) + 17 + udpLength;
    sum += p.SourcePort + p.DestinationPort + udpLength;
    std::uint16_t udpSum = Fold(SumWords(p.Payload, sum));
    if (udpSum == 0)
        udpSum = 0xFFFF;
    b.BE16(p.SourcePort);
    b.BE16(p.DestinationPort);
    b.BE16(udpLength);
    b.BE16(udpSum);
}

} // namespace

std::size_t SectionHeaderSize(std::string_view application, std::string_view comment) {
    return BlockOverhead + 16 + TextOptionSize(Capped(application)) + TextOptionSize(Capped(comment)) + 4;
}

void AppendSectionHeader(TBuffer& out, std::string_view application, std::string_view comment) {
    application = Capped(application);
    comment = Capped(comment);
    TBlock b(out, BlockSectionHeader, SectionHeaderSize(application, comment));
    b.U32(ByteOrderMagic);
    b.U16(1); // version 1.0
    b.U16(0);
    b.U64(~std::uint64_t{0}); // section length not given: the file is written as it goes
    b.TextOption(OptComment, comment);
    b.TextOption(ShbUserAppl, application);
    b.EndOfOptions();
}

std::size_t RawIpv4InterfaceSize(std::string_view name, std::string_view description) {
    return BlockOverhead + 8 + TextOptionSize(Capped(name)) + TextOptionSize(Capped(description)) +
           OptionSize(8) + OptionSize(1) + 4;
}

void AppendRawIpv4Interface(TBuffer& out, std::string_view name, std::string_view description,
                            TIpv4 address) {
    name = Capped(name);
    description = Capped(description);
    TBlock b(out, BlockInterface, RawIpv4InterfaceSize(name, description));
    b.U16(LinkTypeRaw);
    b.U16(0);
    b.U32(0); // no snapshot length: packets are always whole
    b.TextOption(IfName, name);
    b.TextOption(IfDescription, description);
    // Address and mask in network order; the mask is not known here, so the host mask is given.
    const std::array<std::uint8_t, 8> addr = {static_cast<std::uint8_t>(address >> 24),
                                              static_cast<std::uint8_t>(address >> 16),
                                              static_cast<std::uint8_t>(address >> 8),
                                              static_cast<std::uint8_t>(address),
                                              0xFF,
                                              0xFF,
                                              0xFF,
                                              0xFF};
    b.Option(IfIpv4Addr, addr);
    b.Option(IfTsResol, std::array<std::uint8_t, 1>{Microseconds});
    b.EndOfOptions();
}

std::size_t UpperPduInterfaceSize(std::string_view name, std::string_view description) {
    return BlockOverhead + 8 + TextOptionSize(Capped(name)) + TextOptionSize(Capped(description)) +
           OptionSize(1) + 4;
}

void AppendUpperPduInterface(TBuffer& out, std::string_view name, std::string_view description) {
    name = Capped(name);
    description = Capped(description);
    TBlock b(out, BlockInterface, UpperPduInterfaceSize(name, description));
    b.U16(LinkTypeUpperPdu);
    b.U16(0);
    b.U32(0);
    b.TextOption(IfName, name);
    b.TextOption(IfDescription, description);
    b.Option(IfTsResol, std::array<std::uint8_t, 1>{Microseconds});
    b.EndOfOptions();
}

std::size_t UdpPacketSize(std::size_t payloadSize, std::string_view comment) {
    payloadSize = std::min(payloadSize, MaxUdpPayload);
    return BlockOverhead + EpbFixed + Pad4(IpUdpHeaders + payloadSize) + TextOptionSize(Capped(comment)) + 4;
}

void AppendUdpPacket(TBuffer& out, std::uint32_t interfaceId, std::uint64_t timeUs, const TUdpPacket& packet,
                     std::string_view comment) {
    comment = Capped(comment);
    TUdpPacket p = packet;
    p.Payload = p.Payload.first(std::min(p.Payload.size(), MaxUdpPayload));
    const std::size_t length = IpUdpHeaders + p.Payload.size();
    TBlock b(out, BlockEnhancedPacket, UdpPacketSize(p.Payload.size(), comment));
    b.U32(interfaceId);
    b.Timestamp(timeUs);
    b.U32(static_cast<std::uint32_t>(length));
    b.U32(static_cast<std::uint32_t>(length));
    PutIpv4UdpHeaders(b, p);
    b.Put(p.Payload);
    b.SkipPadding(length);
    b.TextOption(OptComment, comment);
    b.EndOfOptions();
}

std::size_t UpperPduSize(std::size_t frameSize, std::string_view comment) {
    return BlockOverhead + EpbFixed + Pad4(PduTagsSize + frameSize) + TextOptionSize(Capped(comment)) + 4;
}

void AppendUpperPdu(TBuffer& out, std::uint32_t interfaceId, std::uint64_t timeUs, bool sent,
                    std::span<const std::uint8_t> frame, std::string_view comment) {
    comment = Capped(comment);
    const std::size_t length = PduTagsSize + frame.size();
    TBlock b(out, BlockEnhancedPacket, UpperPduSize(frame.size(), comment));
    b.U32(interfaceId);
    b.Timestamp(timeUs);
    b.U32(static_cast<std::uint32_t>(length));
    b.U32(static_cast<std::uint32_t>(length));
    b.BE16(PduTagDissectorName);
    b.BE16(static_cast<std::uint16_t>(DissectorName.size()));
    b.Put(Bytes(DissectorName));
    b.BE16(PduTagDirection);
    b.BE16(4);
    b.BE32(sent ? DirectionSent : DirectionReceived);
    b.BE16(PduTagEnd);
    b.BE16(0);
    b.Put(frame);
    b.SkipPadding(length);
    b.TextOption(OptComment, comment);
    b.EndOfOptions();
}

std::size_t InterfaceStatisticsSize(std::string_view comment) {
    return BlockOverhead + IsbFixed + TextOptionSize(Capped(comment)) + 2 * OptionSize(8) + 4;
}

void AppendInterfaceStatistics(TBuffer& out, std::uint32_t interfaceId, std::uint64_t timeUs,
                               std::uint64_t seen, std::uint64_t leftOut, std::string_view comment) {
    comment = Capped(comment);
    TBlock b(out, BlockInterfaceStatistics, InterfaceStatisticsSize(comment));
    b.U32(interfaceId);
    b.Timestamp(timeUs);
    b.TextOption(OptComment, comment);
    b.U16(IsbIfRecv);
    b.U16(8);
    b.U64(seen);
    b.U16(IsbIfDrop);
    b.U16(8);
    b.U64(leftOut);
    b.EndOfOptions();
}

} // namespace varnix::capture
