// The received-data list: the line format and the bound on what it keeps.
#include "debug/recv_model.h"

#include <gtest/gtest.h>

using namespace varnix;

TEST(RecvModel, LineShowsTimePeerCountHexAndText) {
    using namespace std::string_view_literals;
    EXPECT_EQ(FormatRecvLine(QTime(12, 34, 56, 789), QStringLiteral("10.0.0.5:4001"), "AB\r\n"sv),
              QStringLiteral("12:34:56.789  10.0.0.5:4001  [4]  41 42 0D 0A   AB.."));
    const std::string big(1000, 'z');
    const QString line = FormatRecvLine(QTime(0, 0), QStringLiteral("p"), big);
    EXPECT_TRUE(line.contains(QStringLiteral("[1000]")));
    EXPECT_TRUE(line.endsWith(QStringLiteral(" …")));
    EXPECT_EQ(line.count(QStringLiteral("7A ")), int(TRecvModel::MaxShownBytes));
}

TEST(RecvModel, AFloodKeepsTheNewestLinesAndCountsTheRest) {
    TRecvModel m;
    qint64 signalled = -1;
    QObject::connect(&m, &TRecvModel::DroppedChanged, [&](qint64 d) { signalled = d; });
    for (int i = 0; i < 10000; ++i)
        m.Queue({QTime(1, 2, 3), QStringLiteral("p"), QByteArray::number(i)});
    m.Flush();
    EXPECT_EQ(m.rowCount(), TRecvModel::MaxLines);
    EXPECT_EQ(m.Dropped(), 10000 - TRecvModel::MaxLines);
    EXPECT_EQ(signalled, m.Dropped());
    EXPECT_TRUE(m.data(m.index(0), Qt::DisplayRole).toString().endsWith(QStringLiteral("  8000")));
    // Below the batch size nothing is trimmed; past it the list drops back to MaxLines at once.
    for (int i = 0; i < TRecvModel::TrimBatch; ++i)
        m.Queue({QTime(), QStringLiteral("p"), "b"});
    m.Flush();
    EXPECT_EQ(m.rowCount(), TRecvModel::MaxLines + TRecvModel::TrimBatch);
    m.Queue({QTime(), QStringLiteral("p"), "last"});
    m.Flush();
    EXPECT_EQ(m.rowCount(), TRecvModel::MaxLines);
    EXPECT_TRUE(m.data(m.index(TRecvModel::MaxLines - 1), Qt::DisplayRole)
                    .toString()
                    .endsWith(QStringLiteral("last")));
    m.Clear();
    EXPECT_EQ(m.rowCount(), 0);
    EXPECT_EQ(m.Dropped(), 0);
}

TEST(RecvModel, LargeReadsKeepOnlyTheBytesTheyShow) {
    // A peer sending as fast as it can gives reads of tens of kilobytes; the list keeps of each
    // only what its line shows, so memory stays bounded however much arrives.
    TRecvModel m;
    const QByteArray chunk(64 * 1024, 'z');
    for (int i = 0; i < 3 * TRecvModel::MaxLines; ++i) {
        m.Queue({QTime(), QStringLiteral("p"), chunk});
        if (i % 400 == 0)
            m.Flush();
    }
    constexpr qint64 Bound = (2 * TRecvModel::MaxLines + TRecvModel::TrimBatch) * TRecvModel::MaxShownBytes;
    EXPECT_LE(m.HeldBytes(), Bound);
    m.Flush();
    EXPECT_EQ(m.HeldBytes(), qint64(m.rowCount()) * qint64(TRecvModel::MaxShownBytes));
    const QString line = m.data(m.index(0), Qt::DisplayRole).toString();
    EXPECT_TRUE(line.contains(QStringLiteral("[65536]"))) << line.toStdString();
    EXPECT_TRUE(line.endsWith(QStringLiteral(" …")));
    m.Clear();
    EXPECT_EQ(m.HeldBytes(), 0);
}
