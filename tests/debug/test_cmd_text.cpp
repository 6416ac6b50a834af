// A command's text and hex forms: ticking and unticking Hex never changes the bytes that are sent.
#include "debug/cmd_text.h"

#include "core/convert.h"
#include "lang/text_codec.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace varnix;

namespace {

// The bytes a row sends, as the window's send does it.
std::string Sent(const QString& cmd, bool hex) {
    std::string bytes = DisplayToBytes(cmd);
    if (!hex)
        return bytes;
    TIdBytes out;
    (void)HexTextToBytes(bytes, out);
    return std::string(out.begin(), out.end());
}

} // namespace

TEST(CmdText, TextToHexAndBackSendsTheSameBytes) {
    for (const char* utf8 :
         {"AT+VER", "hello world", "a|b \"q\"", "读版本", "x", "€ sign", "4G", "AB", "0D"}) {
        const QString text = QString::fromUtf8(utf8);
        const QString hex = CmdTextToHex(text);
        EXPECT_EQ(Sent(hex, true), Sent(text, false)) << utf8;
        const std::optional<QString> back = CmdHexToText(hex);
        ASSERT_TRUE(back) << utf8;
        EXPECT_EQ(*back, text) << utf8;
    }
    EXPECT_EQ(CmdTextToHex(QStringLiteral("AB")), QStringLiteral("41 42"));
    EXPECT_EQ(CmdTextToHex(QString()), QString());
    EXPECT_EQ(CmdHexToText(QString()), QString());
}

TEST(CmdText, TextThatIsAlreadyHexPairsIsTakenAsHex) {
    // What a user types meaning bytes, then ticks Hex: the pairs stay, tidied.
    EXPECT_EQ(CmdTextToHex(QStringLiteral("0D 0A 41 42")), QStringLiteral("0D 0A 41 42"));
    EXPECT_EQ(CmdTextToHex(QStringLiteral(" 0d  0a\t41 ")), QStringLiteral("0D 0A 41"));
    EXPECT_EQ(Sent(CmdTextToHex(QStringLiteral("0D 0A 41 42")), true), std::string("\r\nAB"));
    // One group or groups of other lengths are text.
    EXPECT_EQ(CmdTextToHex(QStringLiteral("0D0A")), QStringLiteral("30 44 30 41"));
    EXPECT_EQ(CmdTextToHex(QStringLiteral("0D 0A4")), QStringLiteral("30 44 20 30 41 34"));
    EXPECT_FALSE(LooksLikeHexPairs(QStringLiteral("AB")));
    EXPECT_TRUE(LooksLikeHexPairs(QStringLiteral("ab cd")));
}

TEST(CmdText, HexWithoutAFaithfulTextFormStaysHex) {
    // Spaces anywhere are fine; the bytes decide.
    EXPECT_EQ(CmdHexToText(QStringLiteral("41 42")), QStringLiteral("AB"));
    EXPECT_EQ(CmdHexToText(QStringLiteral("4142")), QStringLiteral("AB"));
    EXPECT_EQ(CmdHexToText(QStringLiteral("e8 af bb")), std::nullopt);     // UTF-8 that would go out as GBK
    EXPECT_EQ(CmdHexToText(QStringLiteral("B6C1")), QStringLiteral("读")); // GBK goes out as GBK
    for (const char* hex : {"0D 0A 41 42", "41 00 42", "41 C0", "7F", "41 09 42", "34 31 20 34 32"})
        EXPECT_EQ(CmdHexToText(QString::fromLatin1(hex)), std::nullopt) << hex;
    // Not hex at all: unchanged, so unticking keeps what was typed.
    for (const char* text : {"4G", "414", "hello"})
        EXPECT_EQ(CmdHexToText(QString::fromLatin1(text)), QString::fromLatin1(text)) << text;
}
