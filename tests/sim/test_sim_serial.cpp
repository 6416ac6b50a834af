// The simulator's serial module: frames cut from a byte stream however it arrives, junk skipped,
// writes stored only with a good sum, replies laid out from their offsets.

#include "module.h"
#include "serial.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

using namespace varnix::sim;

namespace {

Bytes Framed(std::uint8_t code, const Bytes& block) {
    Bytes f(block.size() + 3);
    f[0] = 0x55;
    f[1] = code;
    std::copy(block.begin(), block.end(), f.begin() + 2);
    f.back() = sum8(f.data(), 2, f.size() - 2);
    return f;
}

TEST(SimSerial, FramesAreCutFromTheStreamAndAnsweredInOrder) {
    SerialOptions o;
    o.family = "z2";
    SerialModule m(o);
    // Junk, then a read request split over two writes.
    EXPECT_TRUE(m.feed(Bytes{0x00, 0x55}.data(), 2, 0).empty());
    EXPECT_TRUE(m.hasPartial());
    auto replies = m.feed(Bytes{0xBD}.data(), 1, 1);
    ASSERT_EQ(replies.size(), 1u);
    ASSERT_EQ(replies[0].size(), 137u);
    EXPECT_EQ(replies[0][0], 0x55);
    EXPECT_EQ(replies[0][1], 0xBD);
    const Bytes base(replies[0].begin() + 2, replies[0].begin() + 69);

    // A base frame with a wrong sum is not stored and not acknowledged; a good one is, and the
    // closing frame in the same write is answered after it.
    Bytes changed = base;
    changed[9] = 99;
    Bytes bad = Framed(0xBE, changed);
    bad.back() ^= 1;
    EXPECT_TRUE(m.feed(bad.data(), bad.size(), 2).empty());
    Bytes two = Framed(0xBE, changed);
    for (std::uint8_t b : {0x55, 0xB1, 0x5A})
        two.push_back(b);
    replies = m.feed(two.data(), two.size(), 3);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0], Bytes{0x4B});
    EXPECT_EQ(replies[1], Bytes{0x4B});
    replies = m.feed(Bytes{0x55, 0xBD}.data(), 2, 4);
    EXPECT_EQ(Bytes(replies[0].begin() + 2, replies[0].begin() + 69), changed);
    const std::string state = m.stateJson();
    EXPECT_NE(state.find("\"result\":\"checksum\""), std::string::npos);
    EXPECT_NE(state.find("\"result\":\"junk\""), std::string::npos);

    // A partial frame left too long is dropped.
    m.feed(Bytes{0x55, 0xBA, 1, 2}.data(), 4, 10);
    m.expire(2000);
    EXPECT_FALSE(m.hasPartial());
}

Bytes readReply(SerialOptions o, const char* family, std::uint64_t seed) {
    o.family = family;
    o.varySeed = seed;
    const Bytes request{0x55, static_cast<std::uint8_t>(o.family == "z2" ? 0xBD : 0xBC)};
    return SerialModule(o).feed(request.data(), request.size(), 0).at(0);
}

TEST(SimSerial, OpenBytesFollowTheSeedAndTheZ1ChecksumCoversByte30) {
    std::set<int> byte30;
    std::set<Bytes> z2Tails;
    for (std::uint64_t seed = 1; seed <= 16; ++seed) {
        const Bytes z1 = readReply({}, "z1", seed);
        ASSERT_EQ(z1.size(), 32u);
        EXPECT_EQ(readReply({}, "z1", seed), z1) << "one seed, the same reply";
        EXPECT_NE(z1[30], 0) << "a zero would hide a checksum that stops at byte 29";
        EXPECT_EQ(z1[31], sum8(z1.data(), 2, 30));
        byte30.insert(z1[30]);

        const Bytes z2 = readReply({}, "z2", seed);
        ASSERT_EQ(z2.size(), 137u);
        EXPECT_EQ(readReply({}, "z2", seed), z2);
        z2Tails.insert(Bytes(z2.begin() + 132, z2.end()));
        // The read base and port bytes are the factory values whatever the seed.
        EXPECT_EQ(toHex(Bytes(z2.begin() + 2 + 9, z2.begin() + 2 + 13)), "0700A8C0");
        EXPECT_EQ(z2[2 + 3] & ~0x48, 0x80);
        EXPECT_EQ(toHex(Bytes(z2.begin() + 69, z2.begin() + 77)), "00C2010008010101");
    }
    EXPECT_GT(byte30.size(), 8u);
    EXPECT_GT(z2Tails.size(), 8u);

    // Given blocks are sent as given.
    SerialOptions given;
    given.base = Bytes(kBaseSize, 0xA5);
    given.port = Bytes(kPortSize, 0x5A);
    const Bytes z2 = readReply(given, "z2", 3);
    EXPECT_EQ(Bytes(z2.begin() + 2, z2.begin() + 69), given.base);
    EXPECT_EQ(Bytes(z2.begin() + 69, z2.begin() + 132), given.port);

    SerialOptions o;
    o.family = "z1";
    o.badChecksum = true;
    const Bytes bad = SerialModule(o).feed(Bytes{0x55, 0xBC}.data(), 2, 0).at(0);
    EXPECT_NE(bad[31], sum8(bad.data(), 2, 30));
    // A Z1 module does not answer the Z2 request.
    o.badChecksum = false;
    EXPECT_TRUE(SerialModule(o).feed(Bytes{0x55, 0xBD}.data(), 2, 0).empty());
}

} // namespace
