#include "cli/sheet.h"

#include <gtest/gtest.h>

#include <vector>

using namespace varnix;
using namespace varnix::cli;

namespace {

QByteArray B(const char* s) {
    return QByteArray(s);
}

QString Joined(const QStringList& l) {
    return l.join(QStringLiteral(" | "));
}

} // namespace

TEST(CliCsv, QuotedFieldsFollowRfc4180) {
    struct Case {
        const char* text;
        std::vector<std::vector<const char*>> expected;
    } cases[] = {
        {"a,b\n1,2\n", {{"a", "b"}, {"1", "2"}}},
        {"a,b\r\n1,2", {{"a", "b"}, {"1", "2"}}},                  // CRLF, no final line break
        {"\"x,y\",\"say \"\"hi\"\"\"\n", {{"x,y", "say \"hi\""}}}, // comma and doubled quotes
        {"\"two\nlines\",z\n", {{"two\nlines", "z"}}},             // line break inside quotes
        {"a,,c\n", {{"a", "", "c"}}},
        {"\"\",b\n", {{"", "b"}}},
    };
    for (const Case& c : cases) {
        const TResult<QList<QStringList>> got = ParseCsv(QString::fromUtf8(c.text), QLatin1Char(','));
        ASSERT_TRUE(got) << c.text << (got ? "" : got.Error().Message);
        QList<QStringList> expected;
        for (const auto& record : c.expected) {
            QStringList cells;
            for (const char* cell : record)
                cells << QString::fromUtf8(cell);
            expected << cells;
        }
        EXPECT_EQ(*got, expected) << c.text;
    }
    // The quote opens on line 2 and is still open at the end, two lines on.
    const auto open = ParseCsv(QStringLiteral("a\n\"open,b\n\nc"), QLatin1Char(','));
    ASSERT_FALSE(open);
    EXPECT_EQ(open.Error().Message, "line 2: a quoted field is not closed");
}

TEST(CliSheet, ReadsRowsKeyedByMac) {
    QStringList errors;
    // Byte-order mark, MAC not in the first column, empty cells, a quoted name with a comma,
    // blank lines and MACs in any separator style.
    const auto sheet = ParseSheet(B("\xEF\xBB\xBF"
                                    "StaticIP,mac,ModName,WorkMode\n"
                                    "10.0.0.11,00:1A:2B:3C:4D:01,\"Line, 1\",TCP Client\n"
                                    "\n"
                                    ",001A2B3C4D02,,\n"
                                    "10.0.0.13,00-1a-2b-3c-4d-03, Line-3 ,3\n"),
                                  &errors);
    ASSERT_TRUE(sheet) << Joined(errors).toStdString();
    ASSERT_EQ(sheet->Columns.size(), 3);
    ASSERT_EQ(sheet->Rows.size(), 3);
    EXPECT_EQ(sheet->Rows[0].Mac, QStringLiteral("00 1A 2B 3C 4D 01"));
    EXPECT_EQ(sheet->Rows[0].Line, 2);
    ASSERT_EQ(sheet->Rows[0].Assignments.size(), 3);
    EXPECT_EQ(sheet->Rows[0].Assignments[1].Value, QJsonValue(QStringLiteral("Line, 1")));
    EXPECT_EQ(sheet->Rows[0].Assignments[2].Value, QJsonValue(1));
    EXPECT_TRUE(sheet->Rows[1].Assignments.isEmpty()); // empty cells leave everything alone
    EXPECT_EQ(sheet->Rows[1].Line, 4);
    EXPECT_EQ(sheet->Rows[2].Assignments[1].Value, QJsonValue(QStringLiteral("Line-3")));
}

TEST(CliSheet, SemicolonSeparatedSheets) {
    QStringList errors;
    const auto sheet = ParseSheet(B("MAC;BaudRate\n001A2B3C4D01;9600\n"), &errors);
    ASSERT_TRUE(sheet) << Joined(errors).toStdString();
    EXPECT_EQ(sheet->Rows[0].Assignments[0].Value, QJsonValue(9600));
}

TEST(CliSheet, EveryProblemIsReportedWithItsLine) {
    struct Case {
        const char* text;
        const char* inErrors;
    } cases[] = {
        {"", "empty"},
        {"ModName\nx\n", "no MAC column"},
        {"MAC,ModNam\n", "unknown field 'ModNam' (did you mean ModName"},
        {"MAC,ModName,modname\n", "appears twice"},
        {"MAC,MAC\n", "two MAC columns"},
        {"MAC,CloudEnable\n", "read-only"},
        {"MAC\n", "no module rows"},
        {"MAC,LocalPort\n001A2B3C4D01,0\n", "line 2: LocalPort: 0 is outside"},
        {"MAC,ModName\n001A2B3C4D01,a\n001a2b3c4d01,b\n",
         "line 3: the MAC 00 1A 2B 3C 4D 01 has a row already"},
        {"MAC,ModName\n001A2B3C4D,a\n", "line 2: MAC"},
        {"MAC,ModName\n,a\n", "line 2: MAC is empty"},
        {"MAC,ModName\n001A2B3C4D01,a,extra\n", "line 2: 3 cells, the header has 2"},
        {"MAC,ModName\n001A2B3C4D01,\"open\n", "not closed"},
    };
    for (const Case& c : cases) {
        QStringList errors;
        EXPECT_FALSE(ParseSheet(B(c.text), &errors)) << c.text;
        EXPECT_TRUE(Joined(errors).contains(QString::fromUtf8(c.inErrors)))
            << c.text << " -> " << Joined(errors).toStdString();
    }
    // Several bad cells: all of them are listed, not only the first.
    QStringList errors;
    EXPECT_FALSE(ParseSheet(B("MAC,LocalPort,Parity\n001A2B3C4D01,0,ODD\n001A2B3C4D02,5,WRONG\n"), &errors));
    EXPECT_EQ(errors.size(), 2) << Joined(errors).toStdString();
}
