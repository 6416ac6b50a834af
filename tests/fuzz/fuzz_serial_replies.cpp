// Any chunk from a serial line, as the serial link handles it: classified by length, then
// decoded; a decoded Z2 reply is also encoded back into save frames (which must keep their
// lengths and checksums whatever the module sent).

#include "core/convert.h"
#include "serial/serial_frames.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

using namespace varnix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> chunk(data, size);
    switch (ClassifyComReply(chunk)) {
    case TComReply::Z1Params: {
        const auto r = ParseZ1ComReply(chunk.first<ComZ1ReplySize>());
        if (r && (r->DataIndex > 3 || r->StopIndex > 1 || r->ParityIndex > 4))
            std::abort();
        break;
    }
    case TComReply::Z2Params: {
        const TComZ2Params p = ParseZ2ComParams(chunk.first<ComZ2ParamReplySize>());
        if (p.Ports.size() != 1)
            std::abort();
        try {
            const auto frames = BuildZ2ComSaveFrames(p.Blocks, p.Base, p.Ports[0]);
            if (frames[0].size() != ComZ2BaseFrameSize || frames[1].size() != ComZ2PortFrameSize)
                std::abort();
            if (frames[0].back() != Sum8(std::span(frames[0]).subspan(2, BaseBlockSize)))
                std::abort();
        } catch (const ConversionError&) {
            // A text the module sent that does not read back as an address: refused, not sent.
        }
        break;
    }
    case TComReply::Z2More: {
        const TComZ2More m = ParseZ2ComMore(chunk.first<ComZ2MoreReplySize>());
        if (m.Cloud.size() != 1 || m.Cloud[0].DeviceNo.size() > 20)
            std::abort();
        break;
    }
    default:
        break;
    }
    return 0;
}
