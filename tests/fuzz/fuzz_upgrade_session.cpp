// The upgrade run fed arbitrary datagrams and timer ticks: the first byte picks the port (or a
// tick), the next two the length of the datagram, the rest is its bytes. A small image keeps the
// run short so the fuzzer reaches the end of the file and the block number wrap quickly.
#include "upgrade/upgrade_session.h"

#include <cstddef>
#include <cstdint>

using namespace varnix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TUpgradeSession s;
    TIdBytes image{0x5A, 0x32, 0x10, 0x07};
    for (int i = 0; i < 1100; ++i)
        image.push_back(static_cast<std::uint8_t>(i));
    s.Start({"10.77.0.2", "001A2B3C4D5E", "10.77.0.1", "fw.bin", image, {}, nullptr});
    static constexpr std::uint16_t Ports[] = {BootServerPort, FileServerPort, DataLocalPort};
    std::size_t i = 0;
    while (i + 3 <= size) {
        const std::uint8_t pick = data[i];
        const std::size_t len = (std::size_t{data[i + 1]} << 8 | data[i + 2]) % 400;
        i += 3;
        if (pick % 4 == 3) {
            s.TimerTick();
            continue;
        }
        const std::size_t n = len < size - i ? len : size - i;
        const char* sender = pick & 0x80 ? "10.77.0.9" : "10.77.0.2";
        // The data port or another one, so the port check is crossed both ways.
        const std::uint16_t port = pick & 0x40 ? 40000 : ModuleDataPort;
        const TUpgradeOutput out = s.Datagram(Ports[pick % 4], sender, port, {data + i, n});
        for (const TUpgradeSend& d : out.Sends)
            if (d.Data.size() > 4 + UpgradeBlockSize && d.LocalPort == DataLocalPort)
                __builtin_trap();
        i += n;
    }
    return 0;
}
