// Feeds arbitrary bytes to every block decoder (cut or zero-padded to the block size), to the
// Modbus answer decoder at any length, and to the hex, MAC, IP and number text converters.
// Decoded records are encoded back into a copy of the block to exercise the encoders too.
#include "core/block_store.h"
#include "core/blocks.h"
#include "core/convert.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

using namespace varnix;

namespace {

template <std::size_t N> std::array<std::uint8_t, N> Fit(std::span<const std::uint8_t> data) {
    std::array<std::uint8_t, N> a{};
    std::copy_n(data.begin(), std::min(N, data.size()), a.begin());
    return a;
}

void Check(bool ok) {
    if (!ok)
        std::abort();
}

template <typename F> void Converting(F&& f) {
    try {
        f();
    } catch (const ConversionError&) {
    }
}

void Blocks(std::span<const std::uint8_t> data) {
    auto reply = Fit<ParamReplySize>(data);
    const auto [base, ports] = DecodeParamReply(reply);
    Check(ports.size() == 1);
    const std::uint8_t kept = data.empty() ? 0 : data.back();
    for (std::int32_t family : {FamilyZ2, FamilyZ3}) {
        auto copy = reply;
        auto all = std::span(copy);
        EncodeBaseBlock(family, base, all.first<BaseBlockSize>(), kept);
        EncodePortBlock(family, ports[0], all.last<PortBlockSize>(), kept);
        // Decoded values always encode back without a conversion error, carried bytes untouched.
        Check(copy[0] == reply[0] && copy[8] == reply[8] && copy[67 + 46] == reply[67 + 46]);
        Check(DecodeBaseBlock(all.first<BaseBlockSize>()).StaticIP == base.StaticIP);
    }

    auto cloud = Fit<CloudBlockSize>(data);
    const TarrCloudParam c = DecodeCloudBlock(cloud);
    Check(c.size() == 1 && c[0].DeviceNo.size() <= 20 && c[0].CommPassword.size() <= 8);
    EncodeCloudBlock(c[0], cloud);

    auto heart = Fit<HeartBlockSize>(data);
    const THeartParam h = DecodeHeartBlock(heart);
    Check(h.HeartData.size() <= HeartDataMax && h.RegData.size() <= HeartDataMax);
    Check((h.Flags & 3) != 3);
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    // A text longer than its field is refused (never cut) and leaves the block as it was; an
    // accepted one keeps the length bytes bounded.
    const auto heartBefore = heart;
    bool refused = false;
    try {
        EncodeHeartBlock(h.Flags, h.Interval, text, h.Flags & 0x40, text, h.Flags & 0x80, heart);
    } catch (const ConversionError&) {
        refused = true;
    }
    if (refused)
        Check(heart == heartBefore);
    else
        Check(heart[3] <= HeartDataMax && heart[4] <= HeartDataMax && (heart[0] & 3) != 3);

    auto httpd = Fit<HttpdReplySize>(data);
    const auto [url, header] = DecodeHttpdTexts(httpd);
    Check(url.size() <= HttpdUrlMax && header.size() <= HttpdHeaderMax);
    auto hs = std::span(httpd);
    Converting([&] {
        EncodeHttpdBlocks(text, text, hs.first<HttpdUrlBlockSize>(), hs.last<HttpdHeaderBlockSize>());
    });

    const auto [modbus, kind] = DecodeModbusAnswer(data);
    if (kind != 0) {
        const TIdBytes again = EncodeModbusBlock(kind, modbus);
        Check(again.size() == static_cast<std::size_t>(kind));
        Check(std::equal(again.begin(), again.end(), data.begin()));
    }
    TBlockStore store;
    store.StoreModbus(data);

    auto z1 = Fit<Z1BodySize>(data);
    const TZ1Params v = DecodeZ1Body(z1);
    EncodeZ1Body(v, z1);
    Check(DecodeZ1Body(z1) == v);
    const auto frame = BuildZ1SerialFrame(z1);
    Check(frame[30] == Sum8(std::span(frame).subspan(2, 28)));
}

void Texts(std::string_view text) {
    std::array<std::uint8_t, 4> ip{};
    std::array<std::uint8_t, 6> mac{};
    Converting([&] { IPTextToBytes(text, ip); });
    // Whatever the one parser accepts, its canonical form reads the same, and the encoder writes
    // the same four bytes (last octet first) for both.
    if (const auto parsed = ParseIPv4Text(text)) {
        const std::string canonical = IntToIPText(*parsed);
        Check(ParseIPv4Text(canonical) == parsed);
        std::array<std::uint8_t, 4> fromText{}, fromCanonical{};
        IPTextToBytes(text, fromText);
        IPTextToBytes(canonical, fromCanonical);
        Check(fromText == fromCanonical && BytesToIPText(fromText) == canonical);
    }
    Converting([&] { IPTextToInt(text); });
    Converting([&] { SameSubnet(text, text, text); });
    Converting([&] { MacTextToBytes(text, mac); });
    Converting([&] { TextToInt(text); });
    TIdBytes bytes;
    HexTextToBytes(text, bytes);
    std::array<std::uint8_t, HeartDataMax> buf{};
    HexTextToBuffer(text, buf);
    const std::string hex = TextToHex(text);
    Check(HexToText(hex) == text);
    HexToText(text);
    std::array<std::uint8_t, 12> field{};
    Converting([&] { PutLoginField(field, text, text.size() % 12, 6); });
    Converting([&] {
        TModbusParam m{1, 1, std::string(text), 1, std::string(text)};
        EncodeModbusBlock(7, m);
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    Blocks(bytes);
    Texts(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
