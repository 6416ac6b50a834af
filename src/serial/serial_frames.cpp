#include "serial/serial_frames.h"

#include "core/convert.h"

#include <algorithm>

namespace varnix {

TIdBytes BuildComReadRequest(std::int32_t family) {
    return {ComHead, family == FamilyZ2 ? ComReadZ2 : ComReadZ1};
}

TIdBytes BuildComZ2MoreRequest() {
    return {ComHead, ComReadZ2More};
}

TComReply ClassifyComReply(std::span<const std::uint8_t> chunk) {
    switch (chunk.size()) {
    case 1:
        return chunk[0] == ComAck ? TComReply::Ack : TComReply::OtherByte;
    case ComZ1ReplySize:
        return TComReply::Z1Params;
    case ComZ2ParamReplySize:
        // The reply begins with the request it answers; 137 bytes of noise are no parameters.
        return chunk[0] == ComHead && chunk[1] == ComReadZ2 ? TComReply::Z2Params : TComReply::Unknown;
    case ComZ2MoreReplySize:
        return TComReply::Z2More;
    default:
        return TComReply::Unknown;
    }
}

std::optional<TZ1Params> ParseZ1ComReply(std::span<const std::uint8_t, ComZ1ReplySize> reply) {
    if (reply[0] != ComHead || reply[1] != ComReadZ1)
        return std::nullopt;
    if (reply[31] != Sum8(reply.subspan(2, 29)))
        return std::nullopt;
    return DecodeZ1Body(reply.subspan<2, Z1BodySize>());
}

TComZ2Params ParseZ2ComParams(std::span<const std::uint8_t, ComZ2ParamReplySize> reply) {
    TComZ2Params out;
    const auto blocks = reply.subspan<ComZ2ParamOffset, ParamReplySize>();
    std::copy(blocks.begin(), blocks.end(), out.Blocks.begin());
    out.KeptStatus = blocks[BaseStatusOffset];
    out.KeptSocketFlags = blocks[ReplySocketFlagsOffset];
    auto [base, ports] = DecodeParamReply(blocks);
    out.Base = std::move(base);
    out.Ports = std::move(ports);
    return out;
}

TComZ2More ParseZ2ComMore(std::span<const std::uint8_t, ComZ2MoreReplySize> reply) {
    // Bytes 0..29 are laid out as the first 30 bytes of the cloud block; the rest of that block
    // does not travel on the serial line.
    std::array<std::uint8_t, CloudBlockSize> cloud{};
    std::copy_n(reply.begin(), 30, cloud.begin());
    TComZ2More out;
    out.Cloud = DecodeCloudBlock(cloud);
    std::copy_n(reply.begin() + 30, HeartBlockSize, out.Heart.begin());
    return out;
}

namespace {

TIdBytes Framed(std::uint8_t code, std::span<const std::uint8_t> block) {
    TIdBytes frame(block.size() + 3);
    frame[0] = ComHead;
    frame[1] = code;
    std::copy(block.begin(), block.end(), frame.begin() + 2);
    frame.back() = Sum8(block);
    return frame;
}

} // namespace

std::array<TIdBytes, 3> BuildZ2ComSaveFrames(const std::array<std::uint8_t, ParamReplySize>& lastBlocks,
                                             const TBaseParam& base, const TPortParam& port) {
    std::array<std::uint8_t, ParamReplySize> blocks = lastBlocks;
    const std::span<std::uint8_t, ParamReplySize> all(blocks);
    const std::uint8_t keptStatus = lastBlocks[BaseStatusOffset];
    const std::uint8_t keptFlags = lastBlocks[ReplySocketFlagsOffset];
    EncodeBaseBlock(FamilyZ2, base, all.subspan<0, BaseBlockSize>(), keptStatus);
    EncodePortBlock(FamilyZ2, port, all.subspan<BaseBlockSize, PortBlockSize>(), keptFlags);
    return {Framed(ComWriteZ2Base, all.subspan<0, BaseBlockSize>()),
            Framed(ComWriteZ2Port, all.subspan<BaseBlockSize, PortBlockSize>()),
            TIdBytes{ComHead, ComCloseZ2, ComCloseZ2Tail}};
}

} // namespace varnix
