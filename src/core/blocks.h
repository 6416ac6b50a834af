#pragma once
// Byte layouts of every parameter block that travels to and from a module, and their codecs.
// Encoders write exactly the bytes and bits their family writes and leave carried bytes as the
// target buffer holds them. Decoders accept any byte pattern of the right length and never read
// outside the block: length bytes from a module are clamped to their field.

#include "core/convert.h"
#include "core/records.h"
#include "core/types.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace varnix {

inline constexpr std::size_t BaseBlockSize = 67;
inline constexpr std::size_t PortBlockSize = 63;
inline constexpr std::size_t ParamReplySize = 130; // base block then port block
inline constexpr std::size_t CloudBlockSize = 50;
inline constexpr std::size_t HeartBlockSize = 85;
inline constexpr std::size_t HttpdUrlBlockSize = 101;
inline constexpr std::size_t HttpdHeaderBlockSize = 201;
inline constexpr std::size_t HttpdReplySize = 302; // URL block then header block
inline constexpr std::size_t ModbusBlockMax = 7;
inline constexpr std::size_t Z1BodySize = 28;
inline constexpr std::size_t Z1FrameSize = 31;
inline constexpr std::size_t HeartDataMax = 40;
inline constexpr std::size_t HttpdUrlMax = 100;
inline constexpr std::size_t HttpdHeaderMax = 200;
// Bytes of the fixed-width text fields (NUL-padded; a text may fill its field).
inline constexpr std::size_t ModNameMax = 16;
inline constexpr std::size_t LoginMax = LoginFieldBytes; // user name and password (convert.h)
inline constexpr std::size_t RemoteIPMax = 30;
inline constexpr std::size_t DeviceNoMax = 20;
inline constexpr std::size_t CommPasswordMax = 8;

// Offset of the socket-flags byte inside the port block, and inside the 130-byte reply.
inline constexpr std::size_t PortSocketFlagsOffset = 50;
inline constexpr std::size_t ReplySocketFlagsOffset = BaseBlockSize + PortSocketFlagsOffset; // 117
inline constexpr std::size_t BaseStatusOffset = 3;

// --- Base and port blocks (Z2 and Z3). ---
// Text fields (names, log-in, remote address, cloud texts) decode to the text up to the first
// NUL, which is what a page shows. The port decoder reads the Z2 layout of bytes 52-58
// (TCPStyle is the low nibble of byte 58); UARTLength is never decoded.
TBaseParam DecodeBaseBlock(std::span<const std::uint8_t, BaseBlockSize> block);
TPortParam DecodePortBlock(std::span<const std::uint8_t, PortBlockSize> block);
std::pair<TBaseParam, TarrComParam> DecodeParamReply(std::span<const std::uint8_t, ParamReplySize> reply);

// family is FamilyZ2 or FamilyZ3. The Z2 base encoder keeps bits 0-3 and 6 of the status byte
// from keptStatus; the Z2 port encoder keeps bits 0, 1 and 7 of the socket flags from
// keptSocketFlags. Throws ConversionError for an address or MAC text that cannot be read and for
// a text longer than its field, which is never cut (fields before it stay written).
void EncodeBaseBlock(std::int32_t family, const TBaseParam& base,
                     std::span<std::uint8_t, BaseBlockSize> block, std::uint8_t keptStatus);
void EncodePortBlock(std::int32_t family, const TPortParam& port,
                     std::span<std::uint8_t, PortBlockSize> block, std::uint8_t keptSocketFlags);

// --- Cloud block (Z2). ---
TarrCloudParam DecodeCloudBlock(std::span<const std::uint8_t, CloudBlockSize> block);
void EncodeCloudBlock(const TCloudParam& cloud, std::span<std::uint8_t, CloudBlockSize> block);

// --- Heartbeat and registration block (Z2). ---
// Flags bits 0 and 1 are never both written: when both are given, bit 0 (network) wins.
// Hex data that holds a bad pair stops at that pair; field bytes from there on keep their values.
// Text data longer than 40 bytes throws ConversionError.
void EncodeHeartBlock(std::uint8_t flags, int interval, std::string_view heartText, bool heartIsHex,
                      std::string_view regText, bool regIsHex, std::span<std::uint8_t, HeartBlockSize> block);
// Lengths are clamped to 40; a block with both heartbeat bits reports network heartbeat only.
THeartParam DecodeHeartBlock(std::span<const std::uint8_t, HeartBlockSize> block);

// --- HTTPD blocks (Z2). ---
// Writes the length byte and the text; later bytes stay. A text above 100 / 200 bytes throws
// ConversionError (nothing of that block written).
void EncodeHttpdBlocks(std::string_view url, std::string_view header,
                       std::span<std::uint8_t, HttpdUrlBlockSize> urlBlock,
                       std::span<std::uint8_t, HttpdHeaderBlockSize> headerBlock);
// URL and header texts of a 302-byte reply, lengths clamped to 100 and 200.
std::pair<std::string, std::string> DecodeHttpdTexts(std::span<const std::uint8_t, HttpdReplySize> reply);

// --- Modbus block (Z2): kind 1, 4 or 7 bytes. ---
// Throws ConversionError naming PollTimeout or PollInterval text when it is not a number (only
// the texts the kind carries are read). Values keep their low 16 bits. Another kind gives no bytes.
TIdBytes EncodeModbusBlock(int kind, const TModbusParam& values);
// Datagrams of 1 byte (kind 1), 4 bytes (kind 4) and 64 bytes (kind 7, first 7 bytes read).
// Another length gives kind 0 and an empty record.
std::pair<TModbusParam, int> DecodeModbusAnswer(std::span<const std::uint8_t> datagram);

// --- Serial format byte (Z1 body), in the page's item indexes. ---
struct TSerialFormat {
    int ParityIndex = 0; // 0 NONE, 1 ODD, 2 EVEN, 3 MARK, 4 SPACE
    int DataIndex = 0;   // 0..3 = 5..8 bits
    int StopIndex = 0;   // 0..1 = 1..2 bits
    bool operator==(const TSerialFormat&) const = default;
};
// Indexes outside their ranges are masked into their bit fields; bits 7-6 are always 0.
std::uint8_t EncodeSerialFormat(int parityIndex, int dataIndex, int stopIndex);
TSerialFormat DecodeSerialFormat(std::uint8_t b);

// --- Z1 parameter body and its serial write frame. ---
// Throws ConversionError for an address text that cannot be read (fields before it stay written).
void EncodeZ1Body(const TZ1Params& values, std::span<std::uint8_t, Z1BodySize> body);
TZ1Params DecodeZ1Body(std::span<const std::uint8_t, Z1BodySize> body);
// 55 BA, the body, and the sum of bytes 2-29 modulo 256.
std::array<std::uint8_t, Z1FrameSize> BuildZ1SerialFrame(std::span<const std::uint8_t, Z1BodySize> body);

// --- Page-index mappings of the port block codes. ---
// Flow-control index 0, 1, 2 <-> codes 1, 3, 5; an unknown code gives -1 (leave the selection);
// an index outside 0-2 (no selection) gives code 1, no flow control.
int FlowControlIndexToCode(int index);
int FlowControlCodeToIndex(int code);

} // namespace varnix
