// Appending text-log lines: joining, CR LF, order, creation, threads, failures.
#include "app/text_log.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "qt_print.h"

#include <thread>
#include <vector>

namespace varnix {
namespace {

QString U(const char* s) {
    return QString::fromUtf8(s);
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

TEST(TextLog, JoinsFieldsAndAppendsInCallOrder) {
    QTemporaryDir dir;
    const QString path = dir.filePath(U("DataSelf.txt"));
    ASSERT_TRUE(WriteTxtLine(path, {U("a"), U("b"), QString(), U("d"), QString()}));
    EXPECT_EQ(ReadAll(path), QByteArray("a|b||d|\r\n"));
    ASSERT_TRUE(WriteTxtLine(path, {}));
    ASSERT_TRUE(WriteTxtLine(path, {U("命令|带竖线"), U("two\nlines")})); // written unchanged
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(WriteTxtLine(path, {QString::number(i)}));
    EXPECT_EQ(ReadAll(path), QByteArray("a|b||d|\r\n\r\n") + U("命令|带竖线|two\nlines\r\n").toUtf8() +
                                 QByteArray("0\r\n1\r\n2\r\n"));
}

TEST(TextLog, LinesFromManyThreadsNeverInterleave) {
    QTemporaryDir dir;
    const QString path = dir.filePath(U("log.txt"));
    constexpr int Threads = 4, Lines = 200;
    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < Lines; ++i)
                ASSERT_TRUE(WriteTxtLine(
                    path, {QString::number(t), QString::number(i), QString(300, QChar(u'a' + t))}));
        });
    for (auto& w : workers)
        w.join();
    const QList<QByteArray> lines = ReadAll(path).split('\n');
    ASSERT_EQ(lines.size(), Threads * Lines + 1); // the last split piece is empty
    std::vector<int> next(Threads, 0);
    for (qsizetype n = 0; n + 1 < lines.size(); ++n) {
        const QList<QByteArray> f = lines[n].split('|');
        ASSERT_EQ(f.size(), 3) << n;
        const int t = f[0].toInt(), i = f[1].toInt();
        ASSERT_TRUE(t >= 0 && t < Threads);
        EXPECT_EQ(i, next[t]++); // each thread's lines in its own order
        EXPECT_EQ(f[2], QByteArray(300, char('a' + t)) + '\r');
    }
}

TEST(TextLog, FailureIsReported) {
    QTemporaryDir dir;
    const QString blocker = dir.filePath(U("file"));
    ASSERT_TRUE(WriteTxtLine(blocker, {U("x")}));
    const TStatus written = WriteTxtLine(blocker + U("/sub.txt"), {U("x")});
    ASSERT_FALSE(written);
    EXPECT_EQ(written.Error().Message,
              "Unable to write to " + (blocker + U("/sub.txt")).toStdString() + ": Not a directory");
}

} // namespace
} // namespace varnix
