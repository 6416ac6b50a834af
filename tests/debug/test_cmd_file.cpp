// The command-list file: what the old tool wrote reads as it always did, and what we write
// reads back exactly, whatever the rows hold.
#include "debug/cmd_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace varnix;

namespace {

QString DataFile(const char* name) {
    return QDir(QString::fromLocal8Bit(qgetenv("VARNIX_TEST_DATA"))).filePath(QString::fromLatin1(name));
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

TCmdRow R(bool choose, const char* name, const char* cmd, bool hex, const char* delay) {
    return {choose, QString::fromUtf8(name), QString::fromUtf8(cmd), hex, QString::fromUtf8(delay)};
}

} // namespace

TEST(CmdFile, OldToolFileReadsAsBefore) {
    const TCmdFileRead read = ReadCmdFile(DataFile("debug/old_tool.txt"));
    ASSERT_TRUE(read.Content) << read.Error.toStdString();
    const auto& rows = read.Content->Rows;
    ASSERT_EQ(rows.size(), 9u);
    // Spaces vanish everywhere outside quotes, also inside names and hex commands.
    EXPECT_EQ(rows[0], R(true, "Rightcustomname", "AT+VER", false, "100"));
    // GBK text of the Windows-era tool.
    EXPECT_EQ(rows[1], R(false, "读版本", "41540D", true, ""));
    EXPECT_FALSE(rows[2]); // a "|" in the command: six fields, the row stays cleared
    // Only "true" in lower case checks a box.
    EXPECT_EQ(rows[3], R(false, "upper", "cmd", false, "7"));
    EXPECT_EQ(rows[4], R(false, "q\"uoted", "say\"hi\"", false, ""));
    EXPECT_FALSE(rows[5]); // a tab ends a field
    EXPECT_FALSE(rows[6]); // an empty line
    EXPECT_EQ(rows[7], R(false, "右键自定义名称", "", false, ""));
    EXPECT_EQ(rows[8], R(true, "last", "FF00", true, "65535"));
    EXPECT_FALSE(read.Content->LooksForeign);
}

TEST(CmdFile, EveryRowSurvivesWriteAndRead) {
    const char* awkward[] = {"Right custom name",
                             "a|b",
                             "say \"hi\"",
                             "\"lead",
                             "tab\there",
                             "cr\rlf\nboth\r\n",
                             "  edges  ",
                             "",
                             "&amp;",
                             "中文 名称",
                             "\"\"",
                             "x\" \"y",
                             "|",
                             "\t",
                             "\"",
                             " "};
    std::vector<TCmdRow> rows;
    for (int i = 0; i < CmdRowCount; ++i) {
        const QString a = QString::fromUtf8(awkward[i % std::size(awkward)]);
        const QString b = QString::fromUtf8(awkward[(i * 7 + 3) % std::size(awkward)]);
        rows.push_back(
            {i % 3 == 0, a, b + QString::number(i), i % 2 == 0, i % 5 ? QString::number(i * 13) : QString()});
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("list.txt"));
    QString error;
    ASSERT_TRUE(WriteCmdFile(path, rows, &error)) << error.toStdString();
    const TCmdFileRead read = ReadCmdFile(path);
    ASSERT_TRUE(read.Content);
    ASSERT_EQ(read.Content->Rows.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ASSERT_TRUE(read.Content->Rows[i]) << "row " << i;
        EXPECT_EQ(*read.Content->Rows[i], rows[i])
            << "row " << i << ": " << FormatCmdLine(rows[i]).toStdString();
    }
    // Rows without awkward characters are written exactly as the old tool wrote them.
    EXPECT_EQ(FormatCmdLine(R(true, "ReadVer", "AT+VER", false, "100")),
              QStringLiteral("true|ReadVer|AT+VER|false|100"));
    EXPECT_EQ(FormatCmdLine(R(false, "a b", "", true, "")), QStringLiteral("false|\"a b\"||true|"));
}

TEST(CmdFile, OnlyTheFirstFiftyLinesCountAndEachFeedsItsRow) {
    QString sixty, three;
    for (int i = 0; i < 60; ++i)
        sixty += QStringLiteral("true|n%1|c%1|false|%1\r\n").arg(i);
    for (int i = 0; i < 3; ++i)
        three += QStringLiteral("false|n%1|c%1|true|\n").arg(i);
    const TCmdFileContent a = ParseCmdFile(sixty);
    ASSERT_EQ(a.Rows.size(), 50u);
    EXPECT_EQ(a.Rows[49]->Name, QStringLiteral("n49"));
    const TCmdFileContent b = ParseCmdFile(three);
    ASSERT_EQ(b.Rows.size(), 3u);
    EXPECT_EQ(*b.Rows[2], R(false, "n2", "c2", true, ""));
    // Line ends of either kind; a last line without one counts.
    const TCmdFileContent c = ParseCmdFile(u"true|a|b|false|1\rfalse|c|d|true|2");
    ASSERT_EQ(c.Rows.size(), 2u);
    EXPECT_EQ(*c.Rows[1], R(false, "c", "d", true, "2"));
}

TEST(CmdFile, ForeignAndHostileFilesAreRefusedWithAReason) {
    QTemporaryDir dir;
    const QString big = dir.filePath(QStringLiteral("big.txt"));
    WriteBytes(big, QByteArray(CmdFileMaxBytes + 1, 'a'));
    TCmdFileRead r = ReadCmdFile(big);
    EXPECT_FALSE(r.Content);
    EXPECT_TRUE(r.Error.contains(QStringLiteral("too large"))) << r.Error.toStdString();

    const QString fifo = dir.filePath(QStringLiteral("fifo.txt"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    r = ReadCmdFile(fifo); // must not block waiting for a writer
    EXPECT_FALSE(r.Content);
    EXPECT_TRUE(r.Error.contains(QStringLiteral("not a regular file")));
    EXPECT_FALSE(ReadCmdFile(dir.path()).Content);

    r = ReadCmdFile(dir.filePath(QStringLiteral("none.txt")));
    EXPECT_TRUE(r.Missing);

    const QString prose = dir.filePath(QStringLiteral("prose.txt"));
    WriteBytes(prose, "Dear module,\nplease answer.\n");
    r = ReadCmdFile(prose);
    ASSERT_TRUE(r.Content);
    EXPECT_TRUE(r.Content->LooksForeign);
    EXPECT_FALSE(ParseCmdFile(u"").LooksForeign);
}

TEST(CmdFile, ASaveReplacesTheFileWholeOrReportsWhyNot) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("DataSelf.txt"));
    WriteBytes(path, QByteArray(5000, 'x'));
    ASSERT_TRUE(WriteCmdFile(path, {R(true, "a", "b", false, "1")}));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("true|a|b|false|1\r\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1); // no temporary left

    QString error;
    const QString nowhere = dir.filePath(QStringLiteral("missing/dir/list.txt"));
    EXPECT_FALSE(WriteCmdFile(nowhere, {R(true, "a", "b", false, "1")}, &error));
    EXPECT_TRUE(error.contains(nowhere)) << error.toStdString();
}
