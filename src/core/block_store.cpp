#include "core/block_store.h"

#include <algorithm>

namespace varnix {

void TBlockStore::StoreParamReply(std::span<const std::uint8_t, ParamReplySize> reply) {
    std::copy(reply.begin(), reply.end(), BasePort.begin());
    KeptStatus = reply[BaseStatusOffset];
    KeptSocketFlags = reply[ReplySocketFlagsOffset];
}

void TBlockStore::KeepFromSerialReply(std::uint8_t statusByte, std::uint8_t socketFlags) {
    KeptStatus = statusByte;
    KeptSocketFlags = socketFlags;
}

void TBlockStore::StoreCloud(std::span<const std::uint8_t, CloudBlockSize> reply) {
    std::copy(reply.begin(), reply.end(), Cloud.begin());
}

void TBlockStore::StoreHeart(std::span<const std::uint8_t, HeartBlockSize> reply) {
    std::copy(reply.begin(), reply.end(), Heart.begin());
}

void TBlockStore::StoreHttpd(std::span<const std::uint8_t, HttpdReplySize> reply) {
    std::copy(reply.begin(), reply.end(), Httpd.begin());
}

void TBlockStore::StoreModbus(std::span<const std::uint8_t> reply) {
    // A 64-byte reply carries the 7-byte block at its start; shorter kinds replace their bytes.
    const std::size_t n = std::min(reply.size(), Modbus.size());
    std::copy_n(reply.begin(), n, Modbus.begin());
}

void TBlockStore::Clear() {
    *this = TBlockStore{};
}

} // namespace varnix
