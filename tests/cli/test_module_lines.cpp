// The lines that show a module: a name from the network can neither act on the terminal, nor
// break its row, nor take the place of another value.
#include "cli/module_lines.h"
#include "lang/safe_text.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace varnix;
using namespace varnix::cli;

namespace {

TFoundModule Hostile(std::string name) {
    TFoundModule m;
    m.Ip = "10.77.0.50";
    m.Name = std::move(name);
    m.Mac = "00 1A 2B 3C 4D 5E";
    m.Firmware = 4017;
    m.Family = FamilyZ2;
    m.Local = "10.77.0.1";
    return m;
}

bool HasControl(const QString& s) {
    return std::any_of(s.begin(), s.end(), [](QChar c) { return IsUnsafeForDisplay(c.unicode()); });
}

} // namespace

TEST(CliModuleLines, HostileNameStaysOnOneEscapedLine) {
    // ESC ] 0 ; sets the terminal title, ESC [ 2 J clears the screen, CR LF forges a row, and
    // %3 / %5 were the places the next value of a chained QString::arg went.
    const TFoundModule m = Hostile("\x1b]0;pwn\x07\x1b[2J\r\nX%3%5\\%1");
    const QString escaped = QStringLiteral("\\x1B]0;pwn\\x07\\x1B[2J\\x0D\\x0AX%3%5\\\\%1");
    for (const QString& line : {SearchRow(m), ModuleTitle(m)}) {
        SCOPED_TRACE(line.toStdString());
        EXPECT_FALSE(HasControl(line));
        EXPECT_TRUE(line.contains(escaped));
        EXPECT_EQ(line.count(QStringLiteral("00 1A 2B 3C 4D 5E")), 1);
        EXPECT_EQ(line.count(QStringLiteral("4017")), 1);
        EXPECT_EQ(line.count(QStringLiteral("10.77.0.50")), 1);
    }
    EXPECT_EQ(ModuleTitle(Hostile("Line-1")),
              QStringLiteral("00 1A 2B 3C 4D 5E  Line-1  10.77.0.50  Z2 firmware 4017 (on 10.77.0.1)"));
    EXPECT_TRUE(
        SearchRow(Hostile("Line-1")).startsWith(QStringLiteral("10.77.0.50       Line-1           00 1A")));
}

TEST(CliModuleLines, EscapesEveryCharacterThatActsOnTheScreen) {
    // C1 controls (U+009B is a one-character CSI), DEL, the line separators and a
    // right-to-left override; Chinese text and other symbols stay.
    const QString in = QStringLiteral("a\u009B2Jb\u007Fc\u2028d\u202Ee\u4E2D\u6587\u2400");
    EXPECT_EQ(EscapeForTerminal(in), QStringLiteral("a\\x9B2Jb\\x7Fc\\u2028d\\u202Ee\u4E2D\u6587\u2400"));
    EXPECT_EQ(ShowControls(QStringLiteral("A\x1b\r\nB\\")), QStringLiteral("A\\x1B\\x0D\\x0AB\\"));
    EXPECT_EQ(EscapeForTerminal(QStringLiteral("C:\\x")), QStringLiteral("C:\\\\x"));
    EXPECT_EQ(EscapeForTerminal(QStringLiteral("C:\\x"), false), QStringLiteral("C:\\x"));
}
