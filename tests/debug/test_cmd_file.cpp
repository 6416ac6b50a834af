// The command-list file: files with bare fields (GBK-encoded ones too) read as they always did, and
// what we write reads back, whatever the rows hold.
#include "debug/cmd_file.h"

#include "core/convert.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

TEST(CmdFile, BareFieldFileReadsAsBefore) {
    const TCmdFileRead read = ReadCmdFile(DataFile("debug/bare_fields_gbk.txt"));
    ASSERT_TRUE(read.Content) << read.Error.toStdString();
    const auto& rows = read.Content->Rows;
    ASSERT_EQ(rows.size(), 9u);
    // Spaces vanish everywhere outside quotes, also inside names and hex commands.
    EXPECT_EQ(rows[0], R(true, "Rightcustomname", "AT+VER", false, "100"));
    // GBK text.
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
    const TStatus written = WriteCmdFile(path, rows);
    ASSERT_TRUE(written) << written.Error().Message;
    const TCmdFileRead read = ReadCmdFile(path);
    ASSERT_TRUE(read.Content);
    ASSERT_EQ(read.Content->Rows.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        // A row is one line: a text command with a line break comes back as its bytes in hex; in
        // a hex command or a name (which no control lets the user type one into) a line break
        // becomes a space, which changes no byte a hex command sends.
        TCmdRow expected = rows[i];
        if (!expected.Hex && (expected.Cmd.contains(u'\r') || expected.Cmd.contains(u'\n'))) {
            expected.Cmd = QString::fromLatin1(TextToHex(expected.Cmd.toStdString()));
            expected.Hex = true;
        }
        for (QString* field : {&expected.Name, &expected.Cmd})
            field->replace(u'\r', u' ').replace(u'\n', u' ');
        ASSERT_TRUE(read.Content->Rows[i]) << "row " << i;
        EXPECT_EQ(*read.Content->Rows[i], expected)
            << "row " << i << ": " << FormatCmdLine(rows[i]).toStdString();
    }
    // Rows without awkward characters are written with bare fields.
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
    EXPECT_TRUE(r.Error.contains(QStringLiteral("larger than 1 MiB"))) << r.Error.toStdString();

    const QString fifo = dir.filePath(QStringLiteral("fifo.txt"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    r = ReadCmdFile(fifo); // must not block waiting for a writer
    EXPECT_FALSE(r.Content);
    EXPECT_TRUE(r.Error.contains(QStringLiteral("not a regular file")));
    EXPECT_FALSE(ReadCmdFile(dir.path()).Content);

    r = ReadCmdFile(dir.filePath(QStringLiteral("none.txt")));
    EXPECT_TRUE(r.Missing);
    EXPECT_FALSE(r.Refused());

    // A link is not read through, even to a good list: the list is written back to its path.
    const QString good = dir.filePath(QStringLiteral("good.txt"));
    WriteBytes(good, "true|a|b|false|1\r\n");
    const QString link = dir.filePath(QStringLiteral("link.txt"));
    ASSERT_TRUE(QFile::link(good, link));
    r = ReadCmdFile(link);
    EXPECT_FALSE(r.Content);
    EXPECT_TRUE(r.Refused());
    EXPECT_TRUE(r.Error.contains(QStringLiteral("symbolic link"))) << r.Error.toStdString();

    // A binary file is no list, even where a line happens to split into five fields.
    const QString binary = dir.filePath(QStringLiteral("data.bin"));
    WriteBytes(binary, QByteArray("true|a|b|false|1\r\n\x00\x01\x02\xFF\x00", 23));
    r = ReadCmdFile(binary);
    EXPECT_FALSE(r.Content);
    EXPECT_TRUE(r.Error.contains(QStringLiteral("binary"))) << r.Error.toStdString();

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

    const QString nowhere = dir.filePath(QStringLiteral("missing/dir/list.txt"));
    const TStatus missing = WriteCmdFile(nowhere, {R(true, "a", "b", false, "1")});
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.Error().Message,
              "Unable to write to " + nowhere.toStdString() + ": No such file or directory");

    // Neither a link (nor the file behind it) nor a pipe is replaced.
    const QString target = dir.filePath(QStringLiteral("target.txt"));
    WriteBytes(target, "keep me");
    const QString link = dir.filePath(QStringLiteral("link.txt"));
    ASSERT_TRUE(QFile::link(target, link));
    const TStatus linked = WriteCmdFile(link, {R(true, "a", "b", false, "1")});
    ASSERT_FALSE(linked);
    EXPECT_EQ(linked.Error().Message, "Unable to write to " + link.toStdString() + ": a symbolic link");
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), target);
    QFile t(target);
    ASSERT_TRUE(t.open(QIODevice::ReadOnly));
    EXPECT_EQ(t.readAll(), QByteArray("keep me"));
    const QString fifo = dir.filePath(QStringLiteral("fifo.txt"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const TStatus piped = WriteCmdFile(fifo, {R(true, "a", "b", false, "1")});
    ASSERT_FALSE(piped);
    EXPECT_EQ(piped.Error().Message, "Unable to write to " + fifo.toStdString() + ": not a regular file");
    EXPECT_TRUE(QFileInfo(fifo).isFile() == false && QFileInfo(fifo).exists());
}

TEST(CmdFile, AQuoteLeftOpenEndsWithItsLine) {
    // The quote in row 0 never closes on its line; a quote further down must not pull the rows
    // in between into its field.
    const TCmdFileContent c = ParseCmdFile(u"true|\"open|cmd0|false|1\r\n"
                                           u"false|n1|c1|true|2\r\n"
                                           u"false|n2|\"c2\"|false|3\r\n");
    ASSERT_EQ(c.Rows.size(), 3u);
    EXPECT_FALSE(c.Rows[0]); // its five fields ran into one
    ASSERT_TRUE(c.Rows[1]);
    EXPECT_EQ(*c.Rows[1], R(false, "n1", "c1", true, "2"));
    ASSERT_TRUE(c.Rows[2]);
    EXPECT_EQ(*c.Rows[2], R(false, "n2", "c2", false, "3"));
}
