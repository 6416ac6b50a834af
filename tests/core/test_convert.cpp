#include "core/convert.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

using namespace varnix;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes Of(std::span<const std::uint8_t> s) {
    return Bytes(s.begin(), s.end());
}

} // namespace

TEST(IPText, TheOneParserTakesOnlyADottedQuad) {
    struct Good {
        const char* text;
        std::uint32_t value;
    } good[] = {{"192.168.0.7", 0xC0A80007u},
                {"0.0.0.0", 0u},
                {"255.255.255.255", 0xFFFFFFFFu},
                {"192.168.000.007", 0xC0A80007u}, // leading zeros are decimal, never octal
                {"010.1.1.1", 0x0A010101u}};
    for (const auto& c : good) {
        ASSERT_TRUE(ParseIPv4Text(c.text).has_value()) << c.text;
        EXPECT_EQ(*ParseIPv4Text(c.text), c.value) << c.text;
    }
    EXPECT_EQ(IntToIPText(*ParseIPv4Text("010.001.000.255")), "10.1.0.255");
    for (const char* bad :
         {"", "1.2.3", "1.2.3.4.5", "1.2.3.", ".1.2.3", "1..2.3", "256.0.0.1", "1.2.3.4 ", " 1.2.3.4",
          "1.2.3.4x", "+1.2.3.4", "-1.2.3.4", "1.2.3.0004", "1,2,3,4", "0x7f.0.0.1", "1.2.3.4\n", "１.2.3.4"})
        EXPECT_FALSE(ParseIPv4Text(bad).has_value()) << bad;
    EXPECT_FALSE(ParseIPv4Text(std::string_view("1.2.3.4\0", 8)).has_value()); // no junk after a NUL
}

TEST(IPText, TextToBytes) {
    struct Case {
        const char* text;
        Bytes expected; // from the buffer prefilled with EE
    } cases[] = {
        {"192.168.0.7", {0x07, 0x00, 0xA8, 0xC0}},
        {"192. 168.0 .7", {0x07, 0x00, 0xA8, 0xC0}},
        {"256.257.0.300", {0x2C, 0x00, 0x01, 0x00}}, // each number modulo 256
        {"", {0xEE, 0xEE, 0xEE, 0xEE}},              // empty writes nothing
        {"1.2.3", {0x03, 0xEE, 0x02, 0x01}},         // the last number always goes to byte 0
        {"9", {0x09, 0xEE, 0xEE, 0xEE}},
        {"1.2.3.4.5.6", {0x04, 0x03, 0x02, 0x01}}, // extra numbers ignored
    };
    for (const auto& c : cases) {
        std::array<std::uint8_t, 6> guard{0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
        IPTextToBytes(c.text, std::span(guard).subspan<1, 4>());
        EXPECT_EQ(Bytes(guard.begin() + 1, guard.begin() + 5), c.expected) << c.text;
        EXPECT_EQ(guard[0], 0xEE) << c.text;
        EXPECT_EQ(guard[5], 0xEE) << c.text;
    }
}

TEST(IPText, BadPartThrowsAndKeepsEarlierBytes) {
    struct Case {
        const char* text;
        Bytes expected;
    } cases[] = {
        {"10.20.x.4", {0xEE, 0xEE, 0x14, 0x0A}}, {"10..3.4", {0xEE, 0xEE, 0xEE, 0x0A}},
        {"10.20.30.", {0xEE, 0x1E, 0x14, 0x0A}}, {"-1.0.0.0", {0xEE, 0xEE, 0xEE, 0xEE}},
        {"1.2.3.4.x", {0x04, 0x03, 0x02, 0x01}},
    };
    for (const auto& c : cases) {
        std::array<std::uint8_t, 4> b{0xEE, 0xEE, 0xEE, 0xEE};
        try {
            IPTextToBytes(c.text, b);
            ADD_FAILURE() << "no error for " << c.text;
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.text(), c.text);
        }
        EXPECT_EQ(Of(b), c.expected) << c.text;
    }
}

TEST(IPText, IntFormsAndSubnets) {
    EXPECT_EQ(IntToIPText(0xC0A80007u), "192.168.0.7");
    const std::array<std::uint8_t, 4> b{0x07, 0x00, 0xA8, 0xC0};
    EXPECT_EQ(BytesToIPText(b), "192.168.0.7");
    EXPECT_EQ(IPTextToInt("10.0.0.1"), 0x0A000001u);
    EXPECT_EQ(IPTextToInt("1-2-3-4"), 0x01020304u);   // any one separator is skipped
    EXPECT_EQ(IPTextToInt("256.0.0.1"), 0x00000001u); // 32-bit wrap
    for (const char* bad : {"10.0.0", "", "10..0.1", " 10.0.0.1"})
        EXPECT_THROW(IPTextToInt(bad), ConversionError) << bad;
    EXPECT_TRUE(SameSubnet("192.168.0.7", "192.168.0.201", "255.255.255.0"));
    EXPECT_FALSE(SameSubnet("192.168.1.7", "192.168.0.201", "255.255.255.0"));
}

TEST(MacText, BothWays) {
    const Bytes mac{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    std::array<std::uint8_t, 6> b{};
    for (const char* text : {"001A2B3C4D5E", "00 1A 2B 3C 4D 5E", "001a2b3c4d5e"}) {
        b.fill(0xEE);
        MacTextToBytes(text, b);
        EXPECT_EQ(Of(b), mac) << text;
    }
    EXPECT_EQ(BytesToMacText(b), "00 1A 2B 3C 4D 5E");

    struct Case {
        const char* text;
        std::size_t written;
    } bad[] = {{"00 1A 2B 3C 4D 5G", 5}, {"001A2B", 3}, {"", 0}, {"0X1A2B3C4D5E", 0}};
    for (const auto& c : bad) {
        b.fill(0xEE);
        EXPECT_THROW(MacTextToBytes(c.text, b), ConversionError) << c.text;
        for (std::size_t i = 0; i < 6; ++i)
            EXPECT_EQ(b[i] == 0xEE, i >= c.written) << c.text << " byte " << i;
    }
}

TEST(HexText, TextAndBytes) {
    EXPECT_EQ(TextToHex(std::string("AB\xff\x00", 4)), "4142FF00");
    EXPECT_EQ(HexToText("4142"), "AB");
    EXPECT_EQ(HexToText("414"), "A");
    EXPECT_EQ(HexToText("4142ZZ"), "4142ZZ");
    EXPECT_EQ(RemoveSpaces(" a b  c "), "abc");

    struct Case {
        const char* hex;
        bool ok;
        Bytes bytes;
    } cases[] = {
        {"41 42 4", true, {0x41, 0x42}},  {"4G 41", false, {}},
        {"41 4G 42", true, {0x41, 0x42}}, {"", true, {}},
        {"ff0a", true, {0xFF, 0x0A}},     {"4", false, {}},
    };
    for (const auto& c : cases) {
        TIdBytes out{0x99};
        EXPECT_EQ(HexTextToBytes(c.hex, out), c.ok) << c.hex;
        EXPECT_EQ(out, c.bytes) << c.hex;
    }
}

TEST(FixedFields, TextsDumpsAndLoginFields) {
    EXPECT_EQ(BytesToHexDump(Bytes{0x55, 0xBD}), "55 BD ");
    EXPECT_EQ(BytesToHexDump(Bytes{}), "");
    EXPECT_EQ(BytesToHexSep(Bytes{0x55, 0xBD}, ","), "55,BD,");
    const Bytes raw{'a', 0, 'b'};
    EXPECT_EQ(BytesToText(raw), std::string("a\0b", 3));
    EXPECT_EQ(BytesToShownText(raw), "a");

    std::array<std::uint8_t, 10> buf{};
    buf.fill(0xEE);
    PutLoginField(buf, "ab cd", 2, 6);
    EXPECT_EQ(Of(buf), (Bytes{0xEE, 0xEE, 'a', 'b', 'c', 'd', 0, 0, 0xEE, 0xEE}));
    PutLoginField(buf, "123456", 6, 6); // as far as the buffer reaches
    EXPECT_EQ(Of(buf), (Bytes{0xEE, 0xEE, 'a', 'b', 'c', 'd', '1', '2', '3', '4'}));
    // A log-in longer than its field is refused, never cut (it could split a character).
    EXPECT_THROW(PutLoginField(buf, "12345678", 0, 6), ConversionError);
    EXPECT_THROW(TextToFixedBytes("abc", std::span(buf).first(2)), ConversionError);
    EXPECT_EQ(Of(buf), (Bytes{0xEE, 0xEE, 'a', 'b', 'c', 'd', '1', '2', '3', '4'}));
}

TEST(Numbers, BytesBitsAndSums) {
    const Bytes b{0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(BytesToInt(b, true), 0x04030201u);
    EXPECT_EQ(BytesToInt(b, false), 0x01020304u);
    EXPECT_EQ(WordToBytes(70000), (std::array<std::uint8_t, 2>{0x70, 0x11}));
    const auto bits = ByteToBits(0xA5);
    EXPECT_TRUE(bits[0] && !bits[1] && bits[2] && bits[7]);
    EXPECT_EQ(BitsToByte(bits), 0xA5);
    EXPECT_EQ(Sum8(Bytes{0xFF, 0x13, 0x03}), 0x15);
    EXPECT_EQ(Sum8(Bytes{}), 0);
}

TEST(Numbers, TextToInt) {
    struct Case {
        const char* text;
        std::int64_t value;
    } good[] = {{"0", 0}, {"9999", 9999}, {" 42 ", 42}, {"-5", -5}, {"+7", 7}};
    for (const auto& c : good)
        EXPECT_EQ(TextToInt(c.text), c.value) << c.text;
    for (const char* bad : {"", " ", "-", "12a", "1 2", "0x10", "99999999999999999999"}) {
        try {
            TextToInt(bad);
            ADD_FAILURE() << "no error for '" << bad << "'";
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.text(), bad);
        }
    }
}
