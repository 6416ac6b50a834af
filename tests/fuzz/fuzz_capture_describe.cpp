// Any datagram or serial chunk: the first input byte chooses the ports (so every LAN, upgrade and
// unknown path is reached), the direction and LAN or serial; the rest is the data. The comment
// must be printable ASCII, masking must keep the size and must not change whether a checksum is
// right, and a capture in memory must take the packet or count it as left out.

#include "capture/capture.h"
#include "capture/describe.h"
#include "core/convert.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <vector>

using namespace varnix;
using namespace varnix::capture;

namespace {

struct TPorts {
    std::uint16_t Source, Destination;
};
constexpr TPorts Ports[] = {{50123, 1500}, {1500, 50123}, {1901, 50123}, {50123, 1901},
                            {50123, 9},    {68, 67},      {13633, 69},   {50000, 50001}};

void CheckComment(const std::string& comment) {
    if (comment.empty() || comment.size() > 512)
        std::abort();
    for (char c : comment)
        if (c < 0x20 || c > 0x7E)
            std::abort();
}

// Whether the last byte is the sum of the bytes from `from` to the one before it.
bool ChecksumRight(std::span<const std::uint8_t> d, std::size_t from) {
    return d.size() > from && d.back() == Sum8(d.subspan(from, d.size() - from - 1));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const TPorts ports = Ports[data[0] & 7];
    const bool sent = (data[0] & 0x10) != 0;
    const bool serial = (data[0] & 0x20) != 0;
    const std::span<const std::uint8_t> d(data + 1, size - 1);
    std::vector<std::uint8_t> masked(d.begin(), d.end());

    // One capture for all inputs (its thread is started once), started over whenever it fills.
    static const std::unique_ptr<TCapture> capture = [] {
        TCaptureOptions options;
        options.LimitBytes = MinimumLimitBytes;
        return TCapture::InMemory(options);
    }();
    const TCaptureStats before = capture->Stats();
    if (serial) {
        CheckComment(DescribeSerialFrame(d, sent));
        const bool before = ChecksumRight(d, 2);
        if (MaskSerialLogin(masked, sent) && sent && ChecksumRight(masked, 2) != before)
            std::abort();
        capture->SerialChunk({sent ? TDirection::Sent : TDirection::Received, "/dev/ttyS0", d, {}});
    } else {
        CheckComment(DescribeDatagram(d, ports.Source, ports.Destination));
        const bool before = ChecksumRight(d, 1);
        if (MaskLogin(masked, sent) && sent && ChecksumRight(masked, 1) != before)
            std::abort();
        capture->Datagram({sent ? TDirection::Sent : TDirection::Received,
                           TChannel::Lan,
                           "10.0.0.1",
                           ports.Source,
                           "10.0.0.2",
                           ports.Destination,
                           d,
                           {}});
    }
    if (masked.size() != d.size())
        std::abort();
    capture->Flush();
    const TCaptureStats after = capture->Stats();
    if (after.Packets + after.LeftOut != before.Packets + before.LeftOut + 1 ||
        after.Bytes > MinimumLimitBytes)
        std::abort();
    if (after.Stopped)
        capture->Restart();
    return 0;
}
