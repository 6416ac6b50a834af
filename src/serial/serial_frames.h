#pragma once
// The serial configuration frames: what the PC sends to a module whose CFG pin is grounded and
// how its replies are told apart. A reply is one received chunk and is recognised by its length;
// a 137-byte reply must also begin with 55 BD, the request it answers. Pure byte work: no Qt, no
// port.

#include "core/blocks.h"
#include "core/records.h"
#include "core/types.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace varnix {

inline constexpr std::uint8_t ComHead = 0x55;
inline constexpr std::uint8_t ComReadZ1 = 0xBC; // Z1 and Z3 (and no family chosen)
inline constexpr std::uint8_t ComReadZ2 = 0xBD;
inline constexpr std::uint8_t ComWriteZ1 = 0xBA;
inline constexpr std::uint8_t ComWriteZ2Base = 0xBE;
inline constexpr std::uint8_t ComWriteZ2Port = 0xBF;
inline constexpr std::uint8_t ComCloseZ2 = 0xB1;
inline constexpr std::uint8_t ComCloseZ2Tail = 0x5A;
inline constexpr std::uint8_t ComReadZ2More = 0xC1; // cloud, heartbeat and registration
inline constexpr std::uint8_t ComAck = 0x4B;        // 'K'

inline constexpr std::size_t ComZ1ReplySize = 32;
inline constexpr std::size_t ComZ2ParamReplySize = 137;
inline constexpr std::size_t ComZ2MoreReplySize = 115;
inline constexpr std::size_t ComZ2BaseFrameSize = 70;
inline constexpr std::size_t ComZ2PortFrameSize = 66;

// Where the 130 parameter bytes (base then port block) sit in the 137-byte reply.
inline constexpr std::size_t ComZ2ParamOffset = 2;

// The read request for a family: 55 BD for Z2, 55 BC for Z1, Z3 and anything else.
TIdBytes BuildComReadRequest(std::int32_t family);
TIdBytes BuildComZ2MoreRequest();

enum class TComReply { Ack, OtherByte, Z1Params, Z2Params, Z2More, Unknown };
TComReply ClassifyComReply(std::span<const std::uint8_t> chunk);

// 55 BC, the Z1 body at 2..29, byte 31 the sum of bytes 2..30. Anything else gives nothing.
std::optional<TZ1Params> ParseZ1ComReply(std::span<const std::uint8_t, ComZ1ReplySize> reply);

struct TComZ2Params {
    std::array<std::uint8_t, ParamReplySize> Blocks{}; // base block then port block
    TBaseParam Base;
    TarrComParam Ports;
    std::uint8_t KeptStatus = 0;      // reply byte 5 (base block byte 3)
    std::uint8_t KeptSocketFlags = 0; // reply byte 119 (port block byte 50)
};
TComZ2Params ParseZ2ComParams(std::span<const std::uint8_t, ComZ2ParamReplySize> reply);

struct TComZ2More {
    TarrCloudParam Cloud; // device number and communication password
    std::array<std::uint8_t, HeartBlockSize> Heart{};
};
TComZ2More ParseZ2ComMore(std::span<const std::uint8_t, ComZ2MoreReplySize> reply);

// The three frames of a Z2 serial save, in order: 55 BE base block sum, 55 BF port block sum,
// 55 B1 5A. The page's values are encoded into a copy of the module's own last reported blocks,
// so bytes the page does not show go back unchanged; the kept status and socket bits come from
// those blocks too. Throws ConversionError for an address text that cannot be read.
std::array<TIdBytes, 3> BuildZ2ComSaveFrames(const std::array<std::uint8_t, ParamReplySize>& lastBlocks,
                                             const TBaseParam& base, const TPortParam& port);

} // namespace varnix
