// Envelopes, addressed commands and the classification of received datagrams.

#include "core/types.h"
#include "lan/lan_protocol.h"

#include <gtest/gtest.h>

#include <numeric>

using namespace varnix;

namespace {

TIdBytes SearchReply(std::uint8_t fwLow, std::uint8_t fwHigh) {
    TIdBytes r(36, 0);
    r[0] = 0xFF;
    r[1] = 0x24;
    r[2] = 0x01;
    r[5] = 10;
    r[6] = 77;
    r[7] = 0;
    r[8] = 50;
    const std::uint8_t mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    std::copy(std::begin(mac), std::end(mac), r.begin() + 9);
    r[15] = fwLow;
    r[16] = fwHigh;
    r[19] = 'A';
    r[20] = 'B';
    return r;
}

// The alternative a classification holds (a copy: the classification is usually a temporary).
template <typename T> T As(const TDatagramClass& c) {
    EXPECT_TRUE(std::holds_alternative<T>(c)) << "variant index " << c.index();
    return std::holds_alternative<T>(c) ? std::get<T>(c) : T{};
}

} // namespace

TEST(LanEnvelope, SearchRequestBytes) {
    EXPECT_EQ(BuildSearchRequest(), (TIdBytes{0xFF, 0x01, 0x01, 0x02}));
}

TEST(LanEnvelope, ReadCommandByteForByte) {
    const TIdBytes d = BuildAddressedCommand(CmdRead, "00 1A 2B 3C 4D 5E", "vesta", "vesta");
    const TIdBytes expected{0xFF, 0x13, 0x03, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 'v',  'e',
                            's',  't',  'a',  0x00, 'v',  'e',  's',  't',  'a',  0x00, 0x88};
    EXPECT_EQ(d, expected);
    // The same MAC without spaces, or with odd spacing, gives the same datagram.
    EXPECT_EQ(BuildAddressedCommand(CmdRead, "001A2B3C4D5E", "vesta", "vesta"), expected);
    EXPECT_EQ(BuildAddressedCommand(CmdRead, "0 01A2B 3C4D5E ", "vesta", "vesta"), expected);
}

TEST(LanEnvelope, LoginFieldRules) {
    struct Case {
        const char* user;
        const char* password;
        std::array<std::uint8_t, 6> userBytes;
        std::array<std::uint8_t, 6> passwordBytes;
    };
    const Case cases[] = {
        {"abcdef", "x", {'a', 'b', 'c', 'd', 'e', 'f'}, {'x', 0, 0, 0, 0, 0}},
        {"ab cd", "", {'a', 'b', 'c', 'd', 0, 0}, {0, 0, 0, 0, 0, 0}}, // space removed; empty
        {" a b c d e f ", "123456", {'a', 'b', 'c', 'd', 'e', 'f'}, {'1', '2', '3', '4', '5', '6'}},
    };
    // Longer than six bytes without its spaces: refused, never cut.
    EXPECT_THROW(BuildAddressedCommand(CmdRead, "000000000001", "abcdefgh", "x"), ConversionError);
    EXPECT_THROW(BuildAddressedCommand(CmdRead, "000000000001", "x", " a b c d e f g "), ConversionError);
    for (const Case& c : cases) {
        const TIdBytes d = BuildAddressedCommand(CmdRead, "000000000001", c.user, c.password);
        ASSERT_EQ(d.size(), 22u);
        EXPECT_TRUE(std::equal(c.userBytes.begin(), c.userBytes.end(), d.begin() + 9)) << c.user;
        EXPECT_TRUE(std::equal(c.passwordBytes.begin(), c.passwordBytes.end(), d.begin() + 15)) << c.password;
    }
}

TEST(LanEnvelope, BlockWritesCarryLengthAndChecksum) {
    for (std::size_t n : {1u, 7u, 50u, 63u, 67u, 85u, 101u, 201u}) {
        TIdBytes payload(n);
        std::iota(payload.begin(), payload.end(), std::uint8_t{0x30});
        const TIdBytes d = BuildAddressedCommand(0x23, "00 1A 2B 3C 4D 5E", "vesta", "vesta", payload);
        ASSERT_EQ(d.size(), n + 22);
        EXPECT_EQ(d[1], static_cast<std::uint8_t>(n + 19));
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), d.begin() + 21));
        const unsigned sum = std::accumulate(d.begin() + 1, d.end() - 1, 0u);
        EXPECT_EQ(d.back(), static_cast<std::uint8_t>(sum & 0xFF)) << n;
    }
    // The header block write: 223 bytes whose length byte is 0xDC (220).
    EXPECT_EQ(BuildAddressedCommand(0x23, "001A2B3C4D5E", "", "", TIdBytes(201, 0))[1], 0xDC);
}

TEST(LanEnvelope, BadMacThrowsConversionError) {
    EXPECT_THROW(BuildAddressedCommand(CmdRead, "00 1A 2B 3C 4D 5G", "vesta", "vesta"), ConversionError);
    EXPECT_THROW(BuildAddressedCommand(CmdRead, "00 1A 2B", "vesta", "vesta"), ConversionError);
    EXPECT_THROW(BuildAddressedCommand(CmdRead, "", "vesta", "vesta"), ConversionError);
}

TEST(LanClassify, StatusReplies) {
    struct Case {
        TIdBytes datagram;
        std::int32_t code; // 0: ignored
        std::string text;
    };
    const Case cases[] = {
        {{0xFF, 0x01, 0x05, 0x4B}, stAck, "ACK"},
        {{0xFF, 0x01, 0x99, 0x50}, stPswdError, PswdErrorText},
        {{0xFF, 0x01, 0x05, 0x45}, stOtherError, "Other Error"},
        {{0xFF, 0x01, 0x05, 0x58}, 0, ""},
        {{0x45, 0x3A}, stCheckError, "3A"},
        {{0x45, 0x0b}, stCheckError, "0B"},
        {{0x46, 0x3A}, 0, ""},
        {TIdBytes(37, 0xFF), stReceiveOther, "37"},
        {TIdBytes(0), stReceiveOther, "0"},
        {TIdBytes(1500, 0), stReceiveOther, "1500"},
        {TIdBytes(40, 0xFF), 0, ""},
        {TIdBytes(36, 0xFF), 0, ""}, // 36 bytes not led by FF 24 01
        {TIdBytes(193, 0), stVerIncompatible, VerIncompatibleText},
        {TIdBytes(256, 0), stVerIncompatible, VerIncompatibleText},
    };
    for (const Case& c : cases) {
        const TDatagramClass k = ClassifyDatagram(c.datagram, PortZ2);
        if (c.code == 0) {
            EXPECT_TRUE(std::holds_alternative<TIgnoredDatagram>(k)) << "length " << c.datagram.size();
        } else {
            EXPECT_EQ(As<TStatusDatagram>(k), (TStatusDatagram{c.code, c.text}))
                << "length " << c.datagram.size();
        }
    }
}

TEST(LanClassify, ModbusReplies) {
    // A 4-byte datagram not led by FF 01 is Modbus kind 4: 12 34 00 0A has poll time-out 10.
    const auto m4 = As<TModbusDatagram>(ClassifyDatagram(TIdBytes{0x12, 0x34, 0x00, 0x0A}, PortZ2));
    EXPECT_EQ(m4.Kind, 4);
    EXPECT_EQ(m4.Param.ModbusTCPEnable, 0x12);
    EXPECT_EQ(m4.Param.PollEnable, 0x34);
    EXPECT_EQ(m4.Param.PollTimeout, "10");
    EXPECT_EQ(m4.Param.PollInterval, "");

    const auto m1 = As<TModbusDatagram>(ClassifyDatagram(TIdBytes{0x01}, 2000));
    EXPECT_EQ(m1.Kind, 1);
    EXPECT_EQ(m1.Param.ModbusTCPEnable, 1);

    TIdBytes d64(64, 0xEE);
    const std::uint8_t head[7] = {1, 1, 0x01, 0x2C, 1, 0x27, 0x0F};
    std::copy(std::begin(head), std::end(head), d64.begin());
    const auto m7 = As<TModbusDatagram>(ClassifyDatagram(d64, PortZ2));
    EXPECT_EQ(m7.Kind, 7);
    EXPECT_EQ(m7.Param.PollTimeout, "300");
    EXPECT_EQ(m7.Param.AbnormalResponse, 1);
    EXPECT_EQ(m7.Param.PollInterval, "9999");
}

TEST(LanClassify, BlockRepliesTakeFamilyFromSourcePort) {
    struct Case {
        std::size_t length;
        TBlockReply block;
    };
    const Case blocks[] = {{130, TBlockReply::Params130},
                           {50, TBlockReply::Cloud50},
                           {85, TBlockReply::Heart85},
                           {302, TBlockReply::Httpd302}};
    const std::pair<std::uint16_t, std::int32_t> ports[] = {
        {1500, FamilyZ2}, {1901, FamilyZ3}, {2000, FamilyUnknown}, {0, FamilyUnknown}};
    for (const Case& c : blocks) {
        for (auto [port, family] : ports) {
            EXPECT_EQ(As<TBlockDatagram>(ClassifyDatagram(TIdBytes(c.length, 0x5A), port)),
                      (TBlockDatagram{c.block, family}))
                << c.length << " from " << port;
        }
    }
}

TEST(LanClassify, SearchReplyFamilyFirmwareAndFields) {
    struct Case {
        std::uint8_t low, high;
        std::uint16_t port;
        std::int32_t family;
        const char* firmware;
    };
    const Case cases[] = {
        {0xD1, 0x07, 1500, FamilyUnknown, "2001"}, // old firmware: 0 whatever the port
        {0xD1, 0x07, 1901, FamilyUnknown, "2001"}, {0xD2, 0x07, 1500, FamilyZ2, "2002"},
        {0xD2, 0x07, 1901, FamilyZ3, "2002"},      {0xD2, 0x07, 2000, FamilyUnknown, "2002"},
        {0xB1, 0x0F, 1500, FamilyZ2, "4017"},
    };
    for (const Case& c : cases) {
        const auto r = As<TSearchReply>(ClassifyDatagram(SearchReply(c.low, c.high), c.port));
        EXPECT_EQ(r.Family, c.family) << c.firmware << " from " << c.port;
        EXPECT_EQ(r.Firmware, c.firmware);
        EXPECT_EQ(r.IP, "10.77.0.50");
        EXPECT_EQ(r.MAC, "00 1A 2B 3C 4D 5E");
        EXPECT_EQ(r.Name, "AB"); // AB followed by twelve NULs
    }
}

TEST(LanClassify, SearchReplyNameIsAtMostFourteenCharacters) {
    TIdBytes r = SearchReply(0xD2, 0x07);
    for (std::size_t i = 19; i < 36; ++i)
        r[i] = 'x'; // no NUL anywhere up to the end
    EXPECT_EQ(As<TSearchReply>(ClassifyDatagram(r, PortZ2)).Name, std::string(14, 'x'));
    r[19] = 0;
    EXPECT_EQ(As<TSearchReply>(ClassifyDatagram(r, PortZ2)).Name, "");
}
