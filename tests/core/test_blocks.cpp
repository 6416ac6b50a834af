#include "core/block_store.h"
#include "core/blocks.h"
#include "core/convert.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

using namespace varnix;
using Bytes = std::vector<std::uint8_t>;

namespace {

template <std::size_t N> std::array<std::uint8_t, N> Random(std::mt19937& rng) {
    std::array<std::uint8_t, N> a{};
    for (auto& b : a)
        b = static_cast<std::uint8_t>(rng());
    return a;
}

Bytes Slice(std::span<const std::uint8_t> s, std::size_t at, std::size_t n) {
    return Bytes(s.begin() + static_cast<std::ptrdiff_t>(at),
                 s.begin() + static_cast<std::ptrdiff_t>(at + n));
}

// Bytes (first, last) the encoders never write, and a partly carried byte with its mask.
struct Carried {
    std::vector<std::pair<std::size_t, std::size_t>> ranges;
    std::size_t partial = 0;
    std::uint8_t mask = 0;
};
const Carried BaseZ2{{{0, 2}, {8, 8}, {49, 51}, {64, 66}}};
const Carried BaseZ3{{{0, 2}, {8, 8}, {49, 51}, {59, 66}}};
const Carried PortZ2{{{46, 49}, {57, 62}}};
const Carried PortZ3{{{46, 49}, {56, 57}, {59, 62}}, 50, 0xF3};

void ExpectCarried(std::span<const std::uint8_t> before, std::span<const std::uint8_t> after,
                   const Carried& c) {
    for (auto [first, last] : c.ranges)
        for (std::size_t i = first; i <= last; ++i)
            EXPECT_EQ(after[i], before[i]) << "byte " << i;
    EXPECT_EQ(after[c.partial] & c.mask, before[c.partial] & c.mask) << "byte " << c.partial;
}

TBaseParam SampleBase() {
    return {.AddrType = 1,
            .LocationURLPort = 1900,
            .HTTPServerPort = 80,
            .StaticIP = "192.168.0.7",
            .GatewayIP = "192.168.0.1",
            .SubnetMask = "255.255.255.0",
            .ModName = std::string(16, 'n'), // fills its field
            .UserName = "abc",
            .Password = "pw",
            .OptionFlags = 0xA0,
            .ClearBuffer = true,
            .UserMAC = "00 1A 2B 3C 4D 5E",
            .Dns = "8.8.4.4",
            .ShortConnTime = 9};
}

} // namespace

TEST(ParamBlocks, KnownBytes) {
    std::array<std::uint8_t, BaseBlockSize> base{};
    EncodeBaseBlock(FamilyZ2, SampleBase(), base, 0);
    EXPECT_EQ(Slice(base, 9, 4), (Bytes{0x07, 0x00, 0xA8, 0xC0}));
    EXPECT_EQ(Slice(base, 21, 16), Bytes(16, 'n'));
    EXPECT_EQ(Slice(base, 37, 6), (Bytes{'a', 'b', 'c', 0, 0, 0}));
    EXPECT_EQ(Slice(base, 4, 4), (Bytes{0x6C, 0x07, 0x50, 0x00}));
    EXPECT_EQ(base[52], 0xA0);

    std::array<std::uint8_t, PortBlockSize> port{};
    TPortParam q;
    q.BaudRate = 115200;
    q.LocalPort = 70000;
    EncodePortBlock(FamilyZ2, q, port, 0);
    EXPECT_EQ(Slice(port, 0, 4), (Bytes{0x00, 0xC2, 0x01, 0x00}));
    EXPECT_EQ(Slice(port, 12, 2), (Bytes{0x70, 0x11}));

    std::array<std::uint8_t, ParamReplySize> reply{};
    reply[3] = 0x80;
    const auto [b, ports] = DecodeParamReply(reply);
    EXPECT_EQ(b.AddrType, 1);
    EXPECT_EQ(b.HeartTarget + b.StatusBit1 + b.RegSendMode + int(b.ClearBuffer) + int(b.ShortConnEnable), 0);
    ASSERT_EQ(ports.size(), 1u);
}

TEST(ParamBlocks, StatusByteAndOptionBits) {
    std::array<std::uint8_t, BaseBlockSize> block{};
    TBaseParam p = SampleBase();
    p.OptionFlags = 0xFF;
    p.HeartTarget = 0; // the Z2 encoder keeps these bits instead of writing them
    p.RegSendMode = 0;

    struct Case {
        std::int32_t family;
        int addrType;
        bool clear, shortConn;
        std::uint8_t kept, status, option;
    } cases[] = {
        {FamilyZ2, 1, true, false, 0xFF, 0xDF, 0xF0},  {FamilyZ2, 0, false, true, 0x4F, 0x6F, 0xF0},
        {FamilyZ2, 0, false, false, 0xB0, 0x00, 0xF0}, {FamilyZ3, 0, true, true, 0xFF, 0x00, 0x03},
        {FamilyZ3, 1, true, true, 0xFF, 0x80, 0x03},
    };
    for (const auto& c : cases) {
        block.fill(0xFF);
        p.AddrType = c.addrType;
        p.ClearBuffer = c.clear;
        p.ShortConnEnable = c.shortConn;
        EncodeBaseBlock(c.family, p, block, c.kept);
        EXPECT_EQ(block[3], c.status) << c.family << " kept " << int(c.kept);
        EXPECT_EQ(block[52], c.option) << c.family;
    }
}

TEST(ParamBlocks, SocketFlagsAndZ3Bytes) {
    std::array<std::uint8_t, PortBlockSize> block{};
    TPortParam p;
    p.ModbusTCP = p.BaudSync = p.CloudEnable = 1;
    p.MacRegister = true;

    struct Case {
        std::int32_t family;
        int workMode;
        std::uint8_t kept, before, flags;
    } cases[] = {
        {FamilyZ2, 0, 0x00, 0xFF, 0x58}, // UDP Client: no Modbus TCP bit
        {FamilyZ2, 3, 0x00, 0xFF, 0x5C},
        {FamilyZ2, 1, 0xFF, 0x00, 0xDF}, // bits 0, 1, 7 come from the kept flags, not the buffer
        {FamilyZ2, 4, 0x00, 0xFF, 0x58},
        {FamilyZ3, 1, 0x00, 0xF3, 0xFF}, // Z3: bits 2-3 written, others carried from the buffer
        {FamilyZ3, 2, 0xFF, 0x04, 0x08},
    };
    for (const auto& c : cases) {
        block.fill(0);
        block[50] = c.before;
        p.WorkMode = c.workMode;
        EncodePortBlock(c.family, p, block, c.kept);
        EXPECT_EQ(block[50], c.flags) << c.family << " mode " << c.workMode;
    }

    block.fill(0xEE);
    p.TCPSvrCount = 8;
    p.TCPStyle = 3;
    p.UARTLength = 0x01020304;
    EncodePortBlock(FamilyZ3, p, block, 0);
    EXPECT_EQ(Slice(block, 52, 4), (Bytes{0x04, 0x03, 0x02, 0x01}));
    EXPECT_EQ(block[58], 0x83);
    EXPECT_EQ(Slice(block, 8, 4), Bytes(4, 0));
}

TEST(ParamBlocks, BadTextKeepsEarlierFields) {
    std::array<std::uint8_t, BaseBlockSize> block{};
    block.fill(0xEE);
    TBaseParam p = SampleBase();
    p.GatewayIP = "192.168.x.1";
    EXPECT_THROW(EncodeBaseBlock(FamilyZ2, p, block, 0), ConversionError);
    EXPECT_EQ(Slice(block, 9, 4), (Bytes{0x07, 0x00, 0xA8, 0xC0}));  // static IP written
    EXPECT_EQ(Slice(block, 13, 4), (Bytes{0xEE, 0xEE, 0xA8, 0xC0})); // gateway up to the bad part
    EXPECT_EQ(Slice(block, 17, 50), Bytes(50, 0xEE));                // nothing after it
}

// encode(decode(random block)) writes back every carried byte and bit; decode(encode(record))
// gives back every field the family writes.
TEST(ParamBlocks, RoundTrips) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 300; ++round) {
        for (std::int32_t family : {FamilyZ2, FamilyZ3}) {
            const bool z2 = family == FamilyZ2;
            auto base = Random<BaseBlockSize>(rng);
            auto port = Random<PortBlockSize>(rng);
            const auto base0 = base;
            const auto port0 = port;
            const std::uint8_t kept = static_cast<std::uint8_t>(rng());
            TBaseParam b = DecodeBaseBlock(base);
            TPortParam q = DecodePortBlock(port);
            EncodeBaseBlock(family, b, base, kept);
            EncodePortBlock(family, q, port, kept);
            ExpectCarried(base0, base, z2 ? BaseZ2 : BaseZ3);
            ExpectCarried(port0, port, z2 ? PortZ2 : PortZ3);
            if (z2) {
                EXPECT_EQ(base[3] & 0x4F, kept & 0x4F);
                EXPECT_EQ(port[50] & 0x83, kept & 0x83);
            }

            TBaseParam b2 = DecodeBaseBlock(base);
            TPortParam q2 = DecodePortBlock(port);
            if (z2) {
                // Kept status bits come from the kept byte, not from the record.
                b.HeartTarget = kept & 1;
                b.StatusBit1 = (kept >> 1) & 1;
                b.RegSendMode = (kept >> 2) & 1;
                b.OptionFlags &= 0xF0;
            } else {
                b.HeartTarget = b.StatusBit1 = b.RegSendMode = 0;
                b.ClearBuffer = b.ShortConnEnable = false;
                b.OptionFlags &= 0x03;
                // Bytes 52-58 hold the packing length and count/style on a Z3 module.
                EXPECT_EQ(BytesToInt(std::span(port).subspan(52, 4), true), q.UARTLength);
                EXPECT_EQ(port[58], ((q.TCPSvrCount & 0x0F) << 4) | q.TCPStyle);
                q.HttpdMethod = q2.HttpdMethod;
                q.TCPSvrCount = q2.TCPSvrCount;
                q.RestartTimeout = q2.RestartTimeout;
                q.CustomRegister = q2.CustomRegister;
            }
            if (q.WorkMode != 1 && q.WorkMode != 3)
                q.ModbusTCP = 0;
            EXPECT_EQ(b2, b) << "family " << family << " round " << round;
            EXPECT_EQ(q2, q) << "family " << family << " round " << round;
        }
    }
}

TEST(CloudBlock, RoundTripAndCarried) {
    std::mt19937 rng(7);
    auto block = Random<CloudBlockSize>(rng);
    const auto before = block;
    // A text longer than its field is refused whole (never cut), the block left as it was.
    EXPECT_THROW(EncodeCloudBlock({std::string(21, 'd'), "pass"}, block), ConversionError);
    EXPECT_EQ(block, before);
    EncodeCloudBlock({std::string(20, 'd'), "pass"}, block);
    EXPECT_EQ(Slice(block, 0, 2), Slice(before, 0, 2));
    EXPECT_EQ(Slice(block, 30, 20), Slice(before, 30, 20));
    EXPECT_EQ(Slice(block, 22, 8), (Bytes{'p', 'a', 's', 's', 0, 0, 0, 0}));
    const TarrCloudParam c = DecodeCloudBlock(block);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0], (TCloudParam{std::string(20, 'd'), "pass"}));
}

TEST(HeartBlock, DataItems) {
    const Bytes abc{0x41, 0x42, 0x43};
    struct Case {
        std::string text;
        bool hex;
        std::uint8_t length;
        Bytes data; // leading data bytes; the rest of the 40-byte field must be zero
    } cases[] = {
        {"414243", true, 3, abc},
        {"ABC", false, 3, abc},
        {"41424", true, 2, {0x41, 0x42}},
        {std::string(40, 'x'), false, 40, Bytes(40, 'x')},
        {std::string(100, 'F'), true, 40, Bytes(40, 0xFF)},
    };
    std::array<std::uint8_t, HeartBlockSize> block{};
    for (const auto& c : cases) {
        block.fill(0xEE);
        EncodeHeartBlock(0x03, 300, c.text, c.hex, c.text, c.hex, block);
        EXPECT_EQ(block[0], 0x01) << "network heartbeat wins";
        EXPECT_EQ(Slice(block, 1, 2), (Bytes{0x2C, 0x01}));
        EXPECT_EQ(block[3], c.length) << c.text;
        EXPECT_EQ(block[4], c.length) << c.text;
        for (std::size_t at : {std::size_t{5}, std::size_t{45}}) {
            Bytes want = c.data;
            want.resize(40, 0);
            EXPECT_EQ(Slice(block, at, 40), want) << c.text << " at " << at;
        }
        const THeartParam h = DecodeHeartBlock(block);
        EXPECT_EQ(h.HeartData, Slice(block, 5, c.length));
        EXPECT_EQ(h.Interval, 300);
    }

    // Text data longer than its field is refused, never cut, and the block is left as it was
    // (the register text too long after a heartbeat text that fits included).
    const auto before = block;
    EXPECT_THROW(EncodeHeartBlock(0x01, 1, std::string(41, 'x'), false, "", false, block), ConversionError);
    EXPECT_THROW(EncodeHeartBlock(0x02, 9, "ok", false, std::string(41, 'x'), false, block), ConversionError);
    EXPECT_EQ(block, before);

    // A bad pair stops that item only; its field keeps its bytes from the pair on.
    block.fill(0xEE);
    EncodeHeartBlock(0x40, 1, "41ZZ43", true, "AB", false, block);
    EXPECT_EQ(Slice(block, 5, 3), (Bytes{0x41, 0xEE, 0xEE}));
    EXPECT_EQ(Slice(block, 45, 3), (Bytes{'A', 'B', 0}));
}

TEST(HeartBlock, DecoderClampsLengths) {
    std::array<std::uint8_t, HeartBlockSize> block{};
    block.fill(0x5A);
    block[0] = 0x03;
    block[3] = 0xFF;
    block[4] = 41;
    const THeartParam h = DecodeHeartBlock(block);
    EXPECT_EQ(h.Flags, 0x01);
    EXPECT_EQ(h.HeartData, Bytes(40, 0x5A));
    EXPECT_EQ(h.RegData, Bytes(40, 0x5A));
}

TEST(HttpdBlocks, LengthsAndClamping) {
    std::array<std::uint8_t, HttpdReplySize> reply{};
    reply.fill('z');
    auto all = std::span(reply);
    EXPECT_THROW(EncodeHttpdBlocks(std::string(101, 'u'), "Host: x", all.first<HttpdUrlBlockSize>(),
                                   all.last<HttpdHeaderBlockSize>()),
                 ConversionError); // never cut
    EXPECT_THROW(EncodeHttpdBlocks("ok", std::string(201, 'h'), all.first<HttpdUrlBlockSize>(),
                                   all.last<HttpdHeaderBlockSize>()),
                 ConversionError); // a header too long leaves the URL block alone as well
    EXPECT_EQ(reply[0], 'z');
    EncodeHttpdBlocks(std::string(100, 'u'), "Host: x", all.first<HttpdUrlBlockSize>(),
                      all.last<HttpdHeaderBlockSize>());
    EXPECT_EQ(reply[0], 100);
    EXPECT_EQ(reply[101], 7);
    EXPECT_EQ(reply[109], 'z'); // bytes after the length stay
    auto [url, header] = DecodeHttpdTexts(reply);
    EXPECT_EQ(url, std::string(100, 'u'));
    EXPECT_EQ(header, "Host: x");

    reply.fill(0xFF); // length bytes beyond their fields
    std::tie(url, header) = DecodeHttpdTexts(reply);
    EXPECT_EQ(url.size(), 100u);
    EXPECT_EQ(header.size(), 200u);
}

TEST(ModbusBlock, KindsBothWays) {
    const TModbusParam v{1, 1, "300", 1, "258"};
    EXPECT_EQ(EncodeModbusBlock(1, v), (Bytes{1}));
    EXPECT_EQ(EncodeModbusBlock(4, v), (Bytes{1, 1, 0x01, 0x2C}));
    EXPECT_EQ(EncodeModbusBlock(7, v), (Bytes{1, 1, 0x01, 0x2C, 1, 0x01, 0x02}));
    EXPECT_TRUE(EncodeModbusBlock(5, v).empty());

    for (const auto& [kind, bad] :
         {std::pair{4, TModbusParam{1, 1, "", 0, "5"}}, std::pair{7, TModbusParam{1, 1, "10", 0, "9x"}}}) {
        try {
            EncodeModbusBlock(kind, bad);
            ADD_FAILURE() << "kind " << kind;
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.text(), kind == 4 ? bad.PollTimeout : bad.PollInterval);
        }
    }
    EXPECT_EQ(EncodeModbusBlock(1, TModbusParam{1, 0, "x", 0, "y"}), (Bytes{1}));

    Bytes d64(64, 0);
    const Bytes d7{1, 1, 0x01, 0x2C, 1, 0x01, 0x02};
    std::copy(d7.begin(), d7.end(), d64.begin());
    EXPECT_EQ(DecodeModbusAnswer(d64), std::pair(v, 7));
    EXPECT_EQ(DecodeModbusAnswer(Bytes{1, 0, 0xFF, 0xFF}), std::pair(TModbusParam{1, 0, "65535", 0, ""}, 4));
    EXPECT_EQ(DecodeModbusAnswer(Bytes{1}), std::pair(TModbusParam{1, 0, "", 0, ""}, 1));
    for (std::size_t n : {0, 2, 7, 63, 65})
        EXPECT_EQ(DecodeModbusAnswer(Bytes(n, 1)).second, 0) << n;
}

TEST(Z1Body, SerialFormatTable) {
    struct Case {
        int parity, data, stop;
        std::uint8_t byte;
    } cases[] = {{0, 3, 0, 0x03}, {2, 2, 1, 0x1E}, {4, 3, 0, 0x3B}, {1, 0, 0, 0x08}, {3, 1, 1, 0x2D}};
    for (const auto& c : cases) {
        EXPECT_EQ(EncodeSerialFormat(c.parity, c.data, c.stop), c.byte);
        EXPECT_EQ(DecodeSerialFormat(c.byte), (TSerialFormat{c.parity, c.data, c.stop}));
    }
}

TEST(Z1Body, KnownBytesFrameAndRoundTrip) {
    TZ1Params v{"192.168.0.201", 8234, "192.168.0.7", 20108, "192.168.0.1", 3, 921600, 2, 2, 1, 258, 0x85,
                "255.255.255.0"};
    std::array<std::uint8_t, Z1BodySize> body{};
    EncodeZ1Body(v, body);
    EXPECT_EQ(Slice(body, 17, 3), (Bytes{0x00, 0x10, 0x0E}));
    EXPECT_EQ(Slice(body, 20, 4), (Bytes{0x1E, 0x01, 0x02, 0x85}));
    EXPECT_EQ(DecodeZ1Body(body), v);
    v.BaudRate = 115200;
    EncodeZ1Body(v, body);
    EXPECT_EQ(Slice(body, 17, 3), (Bytes{0x00, 0xC2, 0x01}));

    const auto frame = BuildZ1SerialFrame(body);
    EXPECT_EQ(Slice(frame, 0, 2), (Bytes{0x55, 0xBA}));
    EXPECT_EQ(Slice(frame, 2, 28), Slice(body, 0, 28));
    EXPECT_EQ(frame[30], Sum8(body));
    std::array<std::uint8_t, Z1BodySize> zero{};
    Bytes want{0x55, 0xBA};
    want.resize(31, 0);
    EXPECT_EQ(Slice(BuildZ1SerialFrame(zero), 0, 31), want);

    std::mt19937 rng(99);
    for (int i = 0; i < 200; ++i) {
        auto raw = Random<Z1BodySize>(rng);
        // Bits 7-6 of the format byte are written 0, and so is the parity kind of NONE.
        raw[20] &= (raw[20] & 0x08) ? 0x3F : 0x07;
        auto again = raw;
        EncodeZ1Body(DecodeZ1Body(raw), again);
        EXPECT_EQ(again, raw);
    }
}

TEST(BlockStore, RepliesAndKeptBytes) {
    TBlockStore s;
    std::array<std::uint8_t, ParamReplySize> reply{};
    for (std::size_t i = 0; i < reply.size(); ++i)
        reply[i] = static_cast<std::uint8_t>(i);
    s.StoreParamReply(reply);
    EXPECT_EQ(s.KeptStatus, 3);
    EXPECT_EQ(s.KeptSocketFlags, 117);
    EXPECT_EQ(s.Port()[0], 67);
    s.KeepFromSerialReply(0xAA, 0xBB);
    EXPECT_EQ(s.BasePort, reply);
    EXPECT_EQ(s.KeptStatus, 0xAA);

    s.StoreModbus(Bytes(64, 7)); // only the 7-byte block of a 64-byte answer
    EXPECT_EQ(s.Modbus, (std::array<std::uint8_t, 7>{7, 7, 7, 7, 7, 7, 7}));
}
