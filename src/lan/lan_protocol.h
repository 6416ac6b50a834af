#pragma once
// The LAN command protocol without sockets: the command envelope, addressed commands, the
// classification of every received datagram by its length, the family rules and the
// search-reply parser. No Qt; every function here is pure.
//
// Envelope of every datagram the tool sends (the search request included):
//   0xFF, length - 3 (mod 256), command code, body, checksum = sum of bytes 1 .. length-2.
// Addressed command (22 + N bytes): the body is MAC (6), user name (6), password (6), payload (N).

#include "core/records.h"
#include "core/types.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace varnix {

// --- Transport constants. ---
inline constexpr const char* BroadcastAddr = "255.255.255.255";
inline constexpr std::uint16_t PortZ2 = 1500; // search, every Z2 command, restart of any family
inline constexpr std::uint16_t PortZ3 = 1901; // Z3 commands
inline constexpr int PortInUseNumber = 1500;  // shown in front of the port-in-use message
inline constexpr int NewFirmwareMin = 2002;   // search replies below this get family 0

// --- Command codes. ---
inline constexpr std::uint8_t CmdSearch = 0x01;
inline constexpr std::uint8_t CmdRestart = 0x02; // also the last datagram of a Z2 save
inline constexpr std::uint8_t CmdRead = 0x03;
inline constexpr std::uint8_t CmdZ3SaveEnd = 0x04;
inline constexpr std::uint8_t CmdWriteBase = 0x05;
inline constexpr std::uint8_t CmdWritePort = 0x06;
inline constexpr std::uint8_t CmdFactoryReset = 0x0B;
inline constexpr std::uint8_t CmdWriteCloud = 0x0C;
inline constexpr std::uint8_t CmdWriteHeart = 0x21;
inline constexpr std::uint8_t CmdWriteHttpdUrl = 0x22;
inline constexpr std::uint8_t CmdWriteHttpdHeader = 0x23;
inline constexpr std::uint8_t CmdWriteModbus = 0x24;

// --- Status codes raised with TUdpSvr::OnStatus. ---
inline constexpr std::int32_t stSearchSent = 40;          // text empty
inline constexpr std::int32_t stCheckError = 269;         // text: expected checksum, two hex digits
inline constexpr std::int32_t stAck = 275;                // text "ACK"
inline constexpr std::int32_t stOtherError = 469;         // text "Other Error"
inline constexpr std::int32_t stPswdError = 480;          // text PswdErrorText
inline constexpr std::int32_t stPortInUse = 1500;         // text "port is used"
inline constexpr std::int32_t stVerIncompatible = 193256; // text VerIncompatibleText
inline constexpr std::int32_t stReceiveOther = 555555;    // text: the length in decimal

inline constexpr const char* AckText = "ACK";
inline constexpr const char* OtherErrorText = "Other Error";
inline constexpr const char* PswdErrorText = "User name or password error";
inline constexpr const char* PortInUseText = "port is used";
inline constexpr const char* VerIncompatibleText =
    "Incompatible version: the reply comes from a module of another product series";

inline constexpr std::size_t SearchReplySize = 36;
inline constexpr std::size_t AddressedHeaderSize = 21; // FF, length, code, MAC, user, password
inline constexpr std::size_t AddressedOverhead = 22;   // header plus the checksum

// --- Building datagrams. ---

// FF, (body size + 1) mod 256, code, body, checksum of bytes 1 .. size-2.
TIdBytes BuildEnvelope(std::uint8_t code, std::span<const std::uint8_t> body);
// The search request: FF 01 01 02.
TIdBytes BuildSearchRequest();
// An addressed command of 22 + payload.size() bytes. The MAC text holds two hex digits per byte
// with spaces allowed anywhere; the user name and password lose their spaces and are NUL-padded
// to six bytes. Throws ConversionError when the MAC text cannot be read and when a log-in does not
// fit six bytes (CheckLoginText tells beforehand): it is never cut.
TIdBytes BuildAddressedCommand(std::uint8_t code, std::string_view mac, std::string_view user,
                               std::string_view password, std::span<const std::uint8_t> payload = {});

// --- Family rules. ---

// Family of the sender of a parameter reply or search reply, by its source port:
// 1500 -> Z2, 1901 -> Z3, anything else -> unknown.
std::int32_t FamilyFromPeerPort(std::uint16_t peerPort);

// --- Classification of a received datagram (by its length alone, then its leading bytes). ---

// A datagram of a known length with wrong leading bytes, or a 40-byte datagram: no event.
struct TIgnoredDatagram {
    bool operator==(const TIgnoredDatagram&) const = default;
};

// Acknowledgements, the checksum-error reply, other-series replies and unknown lengths.
struct TStatusDatagram {
    std::int32_t Code = 0;
    std::string Text;
    bool operator==(const TStatusDatagram&) const = default;
};

// A 36-byte search reply FF 24 01 ...
struct TSearchReply {
    std::string IP;       // bytes 5..8, first dotted number first
    std::string Name;     // bytes 19..32 up to the first NUL
    std::string MAC;      // bytes 9..14, "00 1A 2B 3C 4D 5E"
    std::string Firmware; // byte 15 + 256 * byte 16, decimal
    int FirmwareNumber = 0;
    std::int32_t Family = FamilyUnknown; // by source port; 0 when the firmware is below 2002
    bool operator==(const TSearchReply&) const = default;
};

// Modbus settings of kind 1 (1 byte), 4 (4 bytes not led by FF 01) or 7 (64 bytes).
struct TModbusDatagram {
    TModbusParam Param;
    int Kind = 0;
    bool operator==(const TModbusDatagram&) const = default;
};

// A parameter block reply that goes into the block store.
enum class TBlockReply { Params130, Cloud50, Heart85, Httpd302 };
struct TBlockDatagram {
    TBlockReply Block = TBlockReply::Params130;
    std::int32_t Family = FamilyUnknown; // by source port
    bool operator==(const TBlockDatagram&) const = default;
};

using TDatagramClass =
    std::variant<TIgnoredDatagram, TStatusDatagram, TSearchReply, TModbusDatagram, TBlockDatagram>;

// Decides what a datagram from peerPort is. Accepts any length and content.
TDatagramClass ClassifyDatagram(std::span<const std::uint8_t> datagram, std::uint16_t peerPort);

// Parses a 36-byte search reply; the caller has checked length and leading bytes FF 24 01.
TSearchReply ParseSearchReply(std::span<const std::uint8_t, SearchReplySize> reply, std::uint16_t peerPort);

} // namespace varnix
