// Any datagram from the network: the first two input bytes choose the source port (so every
// family path is reached), the rest is the datagram. The classification and the decoding and
// storing that follow a parameter reply must accept every length and content.

#include "core/block_store.h"
#include "core/blocks.h"
#include "lan/lan_protocol.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <variant>

using namespace varnix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    static const std::uint16_t ports[] = {1500, 1901, 2000, 0};
    const std::uint16_t port = ports[data[0] & 3];
    const std::span<const std::uint8_t> d(data + 2, size - 2);
    const TDatagramClass c = ClassifyDatagram(d, port);
    TBlockStore store;
    if (const auto* b = std::get_if<TBlockDatagram>(&c)) {
        switch (b->Block) {
        case TBlockReply::Params130: {
            if (d.size() != ParamReplySize)
                std::abort();
            store.StoreParamReply(d.first<ParamReplySize>());
            auto decoded = DecodeParamReply(store.BasePort);
            if (decoded.second.size() != 1)
                std::abort();
            break;
        }
        case TBlockReply::Cloud50:
            if (d.size() != CloudBlockSize)
                std::abort();
            store.StoreCloud(d.first<CloudBlockSize>());
            (void)DecodeCloudBlock(store.Cloud);
            break;
        case TBlockReply::Heart85: {
            if (d.size() != HeartBlockSize)
                std::abort();
            store.StoreHeart(d.first<HeartBlockSize>());
            const THeartParam h = DecodeHeartBlock(store.Heart);
            if (h.HeartData.size() > HeartDataMax || h.RegData.size() > HeartDataMax)
                std::abort();
            break;
        }
        case TBlockReply::Httpd302: {
            if (d.size() != HttpdReplySize)
                std::abort();
            store.StoreHttpd(d.first<HttpdReplySize>());
            const auto [url, header] = DecodeHttpdTexts(store.Httpd);
            if (url.size() > HttpdUrlMax || header.size() > HttpdHeaderMax)
                std::abort();
            break;
        }
        }
        if (b->Family != FamilyFromPeerPort(port))
            std::abort();
    } else if (const auto* s = std::get_if<TSearchReply>(&c)) {
        if (d.size() != SearchReplySize || s->Name.size() > 14)
            std::abort();
    } else if (const auto* m = std::get_if<TModbusDatagram>(&c)) {
        if (m->Kind != 1 && m->Kind != 4 && m->Kind != 7)
            std::abort();
    }
    return 0;
}
