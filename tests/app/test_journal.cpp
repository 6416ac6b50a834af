// The change journal: round trip, one line per append from many writers, torn and damaged lines.
#include "app/journal.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "qt_print.h"

#include <sys/stat.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace varnix {
namespace {

TJournalEntry Sample(int i) {
    TJournalEntry e;
    e.Mac = QStringLiteral("00 1A 2B 3C 4D %1").arg(i, 2, 10, QLatin1Char('0'));
    e.Ip = QStringLiteral("10.77.0.%1").arg(i);
    e.Name = QString::fromUtf8("泵\n\"%1\"").arg(i); // a line break and quotes stay inside the line
    e.Family = QStringLiteral("Z2");
    e.Changes = {TJournalChange{QStringLiteral("BaudRate"), 9600, 115200 + i},
                 TJournalChange{QStringLiteral("ModName"), QStringLiteral("a"), QJsonValue()}};
    e.Acks = {QStringLiteral("0x05 K"), QStringLiteral("0x02 K")};
    e.Outcome = QStringLiteral("verified");
    return e;
}

TEST(Journal, AppendsReadableLinesFromManyWriters) {
    QTemporaryDir dir;
    const QString path = JournalPath(dir.path());
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&path, t] {
            for (int i = 0; i < 50; ++i)
                ASSERT_TRUE(AppendJournal(path, Sample(t * 50 + i)));
        });
    for (auto& w : writers)
        w.join();
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const TJournalRead r = ReadJournal(path);
    EXPECT_TRUE(r.Warnings.isEmpty()) << r.Warnings.join(QStringLiteral("; ")).toStdString();
    ASSERT_EQ(r.Entries.size(), 200);
    std::vector<bool> seen(200);
    for (const TJournalEntry& e : r.Entries) {
        const int i = e.Ip.section(u'.', 3).toInt();
        seen[static_cast<std::size_t>(i)] = true;
        EXPECT_EQ(e.Name, Sample(i).Name);
        ASSERT_EQ(e.Changes.size(), 2);
        EXPECT_EQ(e.Changes[0].New.toInt(), 115200 + i);
        EXPECT_TRUE(e.Changes[1].New.isNull());
        EXPECT_EQ(e.Acks, Sample(i).Acks);
        EXPECT_FALSE(e.Time.isEmpty());
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 200);
    EXPECT_EQ(r.Entries[6].Number, 7);
}

TEST(Journal, SkipsTornLastLineAndDamagedLinesWithWarnings) {
    const QByteArray one = JournalLine(Sample(1)), two = JournalLine(Sample(2));
    const TJournalRead torn = ParseJournal(one + "\n" + two + two.left(two.size() / 2));
    ASSERT_EQ(torn.Entries.size(), 2);
    EXPECT_EQ(torn.Entries[1].Number, 3); // the blank line keeps its number
    ASSERT_EQ(torn.Warnings.size(), 1);
    EXPECT_TRUE(torn.Warnings[0].startsWith(QStringLiteral("line 4: cut short")));
    const TJournalRead damaged = ParseJournal("[1,2]\n{oops\n" + one);
    EXPECT_EQ(damaged.Entries.size(), 1);
    EXPECT_EQ(damaged.Warnings.size(), 2);
    EXPECT_TRUE(ReadJournal(QStringLiteral("/nonexistent/journal.jsonl")).Entries.isEmpty());
    const TStatus appended = AppendJournal(QStringLiteral("/nonexistent/journal.jsonl"), Sample(1));
    ASSERT_FALSE(appended);
    EXPECT_EQ(appended.Error().Message, "cannot open /nonexistent/journal.jsonl: No such file or directory");
}

// Where the journal path is not a plain file of ours, nothing hangs, nothing is lost unnoticed and
// nothing is followed: a FIFO, a link (to /dev/zero or to another file) and a journal others can read.
TEST(Journal, RefusesWhatIsNotItsOwnRegularFile) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("fifo.jsonl"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const TStatus toFifo = AppendJournal(fifo, Sample(1)); // returns at once: no reader is awaited
    ASSERT_FALSE(toFifo);
    EXPECT_NE(toFifo.Error().Message.find("not a regular file"), std::string::npos) << toFifo.Error().Message;
    EXPECT_FALSE(ReadJournal(fifo).Error.isEmpty());

    const QString other = dir.filePath(QStringLiteral("other.txt"));
    const QString link = dir.filePath(QStringLiteral("link.jsonl"));
    ASSERT_TRUE(QFile(QStringLiteral("/dev/zero")).link(link));
    const TStatus toZero = AppendJournal(link, Sample(1));
    ASSERT_FALSE(toZero);
    EXPECT_NE(toZero.Error().Message.find("symbolic link"), std::string::npos) << toZero.Error().Message;
    QFile::remove(link);
    ASSERT_TRUE(AppendJournal(other, Sample(1)));
    ASSERT_TRUE(QFile(other).link(link));
    EXPECT_FALSE(AppendJournal(link, Sample(2)));
    const TJournalRead viaLink = ReadJournal(link);
    EXPECT_TRUE(viaLink.Entries.isEmpty());
    EXPECT_TRUE(viaLink.Error.contains(QStringLiteral("a symbolic link"))) << viaLink.Error.toStdString();
    EXPECT_EQ(ReadJournal(other).Entries.size(), 1); // the file behind the link holds one entry

    const QByteArray wide = QFile::encodeName(dir.filePath(QStringLiteral("wide.jsonl")));
    QFile(QString::fromLocal8Bit(wide)).open(QIODevice::WriteOnly);
    ASSERT_EQ(::chmod(wide.constData(), 0644), 0);
    ASSERT_TRUE(AppendJournal(QString::fromLocal8Bit(wide), Sample(1)));
    struct stat st {};
    ASSERT_EQ(::stat(wide.constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

} // namespace
} // namespace varnix
