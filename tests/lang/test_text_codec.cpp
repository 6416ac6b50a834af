// Bytes <-> text: UTF-8 when valid, GBK otherwise; GBK out when the text has a GBK form.
#include "lang/text_codec.h"

#include <gtest/gtest.h>

#include "qt_print.h"

namespace varnix {
namespace {

using namespace std::string_view_literals;

TEST(TextCodec, Utf8Validity) {
    struct Case {
        std::string_view bytes;
        bool valid;
    };
    const Case cases[] = {
        {""sv, true},
        {"plain ASCII\r\n"sv, true},
        {"\xE4\xB8\xAD\xE6\x96\x87"sv, true}, // 中文
        {"\xF0\x9F\x98\x80"sv, true},         // U+1F600
        {"\x00zero"sv, true},
        {"\xD6\xD0\xCE\xC4"sv, false}, // 中文 in GBK
        {"\xC0\x80"sv, false},         // overlong NUL
        {"\xE0\x80\xAF"sv, false},     // overlong "/"
        {"\xED\xA0\x80"sv, false},     // surrogate
        {"\xF4\x90\x80\x80"sv, false}, // past U+10FFFF
        {"\xE4\xB8"sv, false},         // truncated
        {"\x80"sv, false},             // lone continuation byte
        {"\xFF"sv, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsValidUtf8(c.bytes), c.valid) << testing::PrintToString(std::string(c.bytes));
}

TEST(TextCodec, BytesToDisplay) {
    EXPECT_EQ(BytesToDisplay("Z2-Module"sv), u"Z2-Module");
    EXPECT_EQ(BytesToDisplay("\xE4\xB8\xAD\xE6\x96\x87"sv), u"中文");
    EXPECT_EQ(BytesToDisplay("\xD6\xD0\xCE\xC4"sv), u"中文");
    EXPECT_EQ(BytesToDisplay("\xC9\xE8\xB1\xB8 01"sv), u"设备 01");
    // A byte that is neither UTF-8 nor GBK shows as a replacement character, not as nothing.
    EXPECT_TRUE(BytesToDisplay("ab\xFF"sv).startsWith(u"ab"));
    EXPECT_GT(BytesToDisplay("ab\xFF"sv).size(), 2);
}

TEST(TextCodec, DisplayToBytes) {
    EXPECT_EQ(DisplayToBytes(QStringLiteral("admin")), "admin");
    EXPECT_EQ(DisplayToBytes(QString::fromUtf8("中文")), "\xD6\xD0\xCE\xC4");
    EXPECT_EQ(DisplayToBytes(QString()), "");
    // No GBK form (an emoji): the whole text goes out as UTF-8.
    const QString mixed = QString::fromUtf8("中\xF0\x9F\x98\x80");
    EXPECT_EQ(DisplayToBytes(mixed), "\xE4\xB8\xAD\xF0\x9F\x98\x80");
}

TEST(TextCodec, RoundTrips) {
    for (const char* s : {"vesta", "设备名称", "串口服务器-3号", "Ünïcödé ü", "\xF0\x9F\x98\x80 ok"}) {
        const QString text = QString::fromUtf8(s);
        EXPECT_EQ(BytesToDisplay(DisplayToBytes(text)), text) << s;
    }
}

TEST(TextCodec, IconvAndQtAgree) {
    const char* samples[] = {"中文", "设备名称：Z2", "【远程端口】", "ascii only", "★"};
    for (const char* s : samples) {
        const QString text = QString::fromUtf8(s);
        const auto viaIconv = EncodeGbkIconv(text);
        ASSERT_TRUE(viaIconv.has_value()) << s;
        EXPECT_EQ(DecodeGbkIconv(*viaIconv), text) << s;
        if (QtHasGbk()) {
            EXPECT_EQ(EncodeGbk(text), viaIconv) << s;
            EXPECT_EQ(DecodeGbk(*viaIconv), text) << s;
        }
    }
    EXPECT_FALSE(EncodeGbkIconv(QString::fromUtf8("\xF0\x9F\x98\x80")).has_value());
    EXPECT_FALSE(EncodeGbk(QString::fromUtf8("\xF0\x9F\x98\x80")).has_value());
    // Invalid GBK input keeps the good parts on both sides of the bad byte.
    const QString bad = DecodeGbkIconv("\xD6\xD0\xFF\xCE\xC4"sv);
    EXPECT_TRUE(bad.startsWith(u"中")) << bad.toStdString();
    EXPECT_TRUE(bad.endsWith(u"文")) << bad.toStdString();
}

TEST(TextCodec, FileBytesDropByteOrderMark) {
    EXPECT_EQ(FileBytesToText("\xEF\xBB\xBF;x"sv), u";x");
    EXPECT_EQ(FileBytesToText(";x"sv), u";x");
}

} // namespace
} // namespace varnix
