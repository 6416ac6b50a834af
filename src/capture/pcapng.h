#pragma once
// pcapng blocks appended to a byte buffer: the section header, interface descriptions (raw IPv4
// for the UDP endpoints, Exported PDU for serial frames), enhanced packet blocks carrying a
// comment, and interface statistics. Host byte order is little-endian on every machine the
// program runs on; the section header's byte-order magic tells readers so. Every block and
// option is padded to 32 bits. No Qt and no I/O: the caller decides where the bytes go.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace varnix::capture {

using TBuffer = std::vector<std::uint8_t>;

inline constexpr std::uint16_t LinkTypeRaw = 101;      // raw IP: the packet starts with its IPv4 header
inline constexpr std::uint16_t LinkTypeUpperPdu = 252; // Exported PDU: tags, then the frame
// Serial frames are handed to the dissector registered under this name (data/wireshark/vorz.lua).
// Four characters, so the tag needs no padding.
inline constexpr std::string_view DissectorName = "vorz";

// The largest UDP payload an IPv4 packet can carry (65535 - 20 - 8).
inline constexpr std::size_t MaxUdpPayload = 65507;

// An IPv4 address with its first dotted number in the top byte.
using TIpv4 = std::uint32_t;

void AppendSectionHeader(TBuffer& out, std::string_view application, std::string_view comment);
std::size_t SectionHeaderSize(std::string_view application, std::string_view comment);

// Interface descriptions; the interface id is the position among all of them in the section.
void AppendRawIpv4Interface(TBuffer& out, std::string_view name, std::string_view description, TIpv4 address);
std::size_t RawIpv4InterfaceSize(std::string_view name, std::string_view description);
void AppendUpperPduInterface(TBuffer& out, std::string_view name, std::string_view description);
std::size_t UpperPduInterfaceSize(std::string_view name, std::string_view description);

struct TUdpPacket {
    TIpv4 Source = 0;
    std::uint16_t SourcePort = 0;
    TIpv4 Destination = 0;
    std::uint16_t DestinationPort = 0;
    std::uint16_t Identification = 0;      // IPv4 identification field
    std::span<const std::uint8_t> Payload; // at most MaxUdpPayload bytes
};

// An enhanced packet block holding an IPv4 header and a UDP header, both with their checksums,
// then the payload. timeUs: microseconds since 1970 (the interfaces keep the default resolution).
void AppendUdpPacket(TBuffer& out, std::uint32_t interfaceId, std::uint64_t timeUs, const TUdpPacket& packet,
                     std::string_view comment);
std::size_t UdpPacketSize(std::size_t payloadSize, std::string_view comment);

// An enhanced packet block of Exported PDU records: the dissector name tag, the direction tag
// (sent by this program or received by it), then the frame.
void AppendUpperPdu(TBuffer& out, std::uint32_t interfaceId, std::uint64_t timeUs, bool sent,
                    std::span<const std::uint8_t> frame, std::string_view comment);
std::size_t UpperPduSize(std::size_t frameSize, std::string_view comment);

// An interface statistics block: packets seen (written + left out), packets left out, comment.
void AppendInterfaceStatistics(TBuffer& out, std::uint32_t interfaceId, std::uint64_t timeUs,
                               std::uint64_t seen, std::uint64_t leftOut, std::string_view comment);
std::size_t InterfaceStatisticsSize(std::string_view comment);

} // namespace varnix::capture
