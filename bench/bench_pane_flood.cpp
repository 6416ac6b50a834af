// A flood of received datagrams logged into the hex pane (four lines each: blank, addresses,
// length, a 302-byte dump), written in the batches the pane's timer writes: resident memory
// stays bounded however long the flood runs, and the batch that trims stays short.
//
//   QT_QPA_PLATFORM=offscreen bench_pane_flood [LINES, default 1000000]
//
// Local only: no socket is opened.

#include "app/app_context.h"
#include "ui/main/log_pane.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

using namespace varnix;

namespace {

double RssMb() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * 4096.0 / (1024.0 * 1024.0);
}

QString Dump(int bytes, int seed) {
    QString out;
    for (int i = 0; i < bytes; ++i)
        out += QStringLiteral("%1 ").arg((i * 7 + seed) & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
    return out;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTemporaryDir home;
    TAppContext context(home.path()); // the "older lines dropped" note comes from the string table
    const long total = argc > 1 ? std::atol(argv[1]) : 1000000;
    QPlainTextEdit edit;
    edit.resize(700, 400);
    edit.show();
    TLogPane pane(&edit, true, TTexts(context.Lang()));
    const QString dumps[3] = {Dump(302, 1), Dump(130, 2), Dump(85, 3)};
    const QColor green(0, 128, 0);

    const double rssStart = RssMb();
    double rssPeak = rssStart;
    // [0] batches that only wrote, [1] batches that also trimmed the oldest lines.
    double longestMs[2] = {0, 0}, totalMs[2] = {0, 0};
    long batches[2] = {0, 0};
    QElapsedTimer clock;
    for (long i = 0; i < total; ++i) {
        switch (i % 4) {
        case 0:
            pane.Append(QString());
            break;
        case 1:
            pane.Append(QStringLiteral("[ 10.77.0.1 : 4000 ] \u2190 [ 10.77.0.%1 : 1500 ]").arg(i % 250),
                        green);
            break;
        case 2:
            pane.Append(QStringLiteral("[ Length : 302 ]"), green);
            break;
        default:
            pane.Append(dumps[(i / 4) % 3]);
            break;
        }
        if (pane.PendingCount() == TLogPane::MaxLinesPerFlush || i + 1 == total) {
            const long long droppedBefore = pane.DroppedCount();
            clock.start();
            pane.Flush();
            QApplication::processEvents();
            const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
            const int kind = pane.DroppedCount() != droppedBefore ? 1 : 0;
            longestMs[kind] = std::max(longestMs[kind], ms);
            totalMs[kind] += ms;
            ++batches[kind];
            rssPeak = std::max(rssPeak, RssMb());
        }
    }
    std::printf("%ld lines in batches of %d: kept %d, dropped %lld\n", total, TLogPane::MaxLinesPerFlush,
                pane.LineCount(), pane.DroppedCount());
    std::printf("RSS start %.1f MB, peak %.1f MB, end %.1f MB\n", rssStart, rssPeak, RssMb());
    for (int kind : {0, 1})
        std::printf("%s: %ld batches, mean %.1f ms, longest %.1f ms\n", kind ? "write + trim" : "write only",
                    batches[kind], batches[kind] ? totalMs[kind] / static_cast<double>(batches[kind]) : 0.0,
                    longestMs[kind]);
    return 0;
}
