#pragma once
// The block store: the module's last reported bytes of every block. LAN replies replace whole
// parts; the LAN save paths encode into the store in place and send from it, so every carried
// byte goes back to the module exactly as the module last reported it.

#include "core/blocks.h"

#include <array>
#include <cstdint>
#include <span>

namespace varnix {

struct TBlockStore {
    std::array<std::uint8_t, ParamReplySize> BasePort{}; // base block at 0, port block at 67
    std::array<std::uint8_t, CloudBlockSize> Cloud{};
    std::array<std::uint8_t, HeartBlockSize> Heart{};
    std::array<std::uint8_t, HttpdReplySize> Httpd{}; // URL block at 0, header block at 101
    std::array<std::uint8_t, ModbusBlockMax> Modbus{};
    std::uint8_t KeptStatus = 0;      // byte 3 of the last parameter reply (LAN or serial)
    std::uint8_t KeptSocketFlags = 0; // port block byte 50 of the last parameter reply

    std::span<std::uint8_t, BaseBlockSize> Base() { return std::span(BasePort).subspan<0, BaseBlockSize>(); }
    std::span<std::uint8_t, PortBlockSize> Port() {
        return std::span(BasePort).subspan<BaseBlockSize, PortBlockSize>();
    }
    std::span<std::uint8_t, HttpdUrlBlockSize> HttpdUrl() {
        return std::span(Httpd).subspan<0, HttpdUrlBlockSize>();
    }
    std::span<std::uint8_t, HttpdHeaderBlockSize> HttpdHeader() {
        return std::span(Httpd).subspan<HttpdUrlBlockSize, HttpdHeaderBlockSize>();
    }

    // A 130-byte LAN reply: replaces the base/port part and sets the kept bytes.
    void StoreParamReply(std::span<const std::uint8_t, ParamReplySize> reply);
    // A serial parameter reply sets only the kept bytes; the store itself stays as it was.
    void KeepFromSerialReply(std::uint8_t statusByte, std::uint8_t socketFlags);
    void StoreCloud(std::span<const std::uint8_t, CloudBlockSize> reply);
    void StoreHeart(std::span<const std::uint8_t, HeartBlockSize> reply);
    void StoreHttpd(std::span<const std::uint8_t, HttpdReplySize> reply);
    // Modbus replies of 1, 4 or 64 bytes: the first (at most 7) bytes.
    void StoreModbus(std::span<const std::uint8_t> reply);
    // Back to all zero, as at start.
    void Clear();
};

} // namespace varnix
