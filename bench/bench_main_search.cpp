// The main window during a search answered by N simulated modules (default 10,000), inside the
// private namespace of tests/netns-run --segments 1: the real window, the real endpoint, varnix-sim
// on a foreign segment answering by broadcast. Reports the time to the last row, rows lost, and the longest
// stall of the GUI event loop while they arrive (a 5 ms timer records the largest gap between its ticks).
//
//   tests/netns-run --segments 1 -- env VARNIX_SIM=<sim> QT_QPA_PLATFORM=offscreen bench_main_search [N]
//   [RUNS]
//
// Bounded: each run ends after the last row or 60 s, and the simulator stops with --duration.
//
// Runs alternate between a window without the fleet inventory (its varnix.db is a directory, so
// the inventory cannot open) and one with it, and each run goes on past the health checks'
// settle time, so the search recorded in varnix.db is inside the measured stall.

#include "ui/common/prompts.h"
#include "ui/main/fleet_view.h"
#include "ui/main/log_pane.h"
#include "ui/main/main_window.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace varnix;

namespace {

struct TRun {
    double LastRowMs = 0;
    double LongestStallMs = 0;
    int Rows = 0;
    int HexLines = 0; // after the run; four per datagram sent or received
};

TRun OneRun(int modules, bool inventory) {
    QTemporaryDir home;
    if (!inventory)
        QDir(home.path()).mkdir(QStringLiteral("varnix.db"));
    TScriptedPrompts prompts;
    TMainOptions o;
    o.ProgramDir = home.path();
    o.Prompts = &prompts;
    o.SystemIsChinese = false;
    o.OpenUrl = [](const QUrl&) {};
    o.Udp.LocalAddresses = [] {
        std::vector<std::string> list;
        for (const QString& ip : qEnvironmentVariable("VARNIX_NS_PC_IPS").split(u',', Qt::SkipEmptyParts))
            list.push_back(ip.toStdString());
        return list;
    };
    TAppContext context(o.ProgramDir);
    TFrm_Main w(context, o);
    w.show();
    QApplication::processEvents();

    QElapsedTimer clock;
    qint64 lastTick = -1;
    double longest = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastTick >= 0)
            longest = std::max(longest, (now - lastTick) / 1e6);
        lastTick = now;
    });

    TRun run;
    clock.start();
    ticker.start();
    // The click runs inside one event-loop turn, as the user's click would.
    QTimer::singleShot(0, [&] { w.findChild<QPushButton*>(QStringLiteral("btn_Search"))->click(); });
    while (clock.elapsed() < 60000) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        if (w.DeviceCount() >= modules) {
            run.LastRowMs = clock.nsecsElapsed() / 1e6;
            break;
        }
    }
    // Longer, so the panes' remaining batches, the health checks and the inventory's record of the
    // search (both start TSearchHealth::SettleMs after the last reply) are measured too.
    const qint64 settle = clock.elapsed() + TSearchHealth::SettleMs + 1500;
    while (clock.elapsed() < settle)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    ticker.stop();
    run.Rows = w.DeviceCount();
    run.LongestStallMs = longest;
    w.FlushPending();
    run.HexLines = w.HexPane().LineCount();
    w.close();
    return run;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int modules = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    if (qEnvironmentVariable("VARNIX_NS_TOPOLOGY") != u"segments") {
        std::fprintf(stderr, "bench_main_search: run it through tests/netns-run --segments 1\n");
        return 2;
    }
    QProcess sim;
    sim.start(qEnvironmentVariable("VARNIX_NS_IN_MODULES"),
              {qEnvironmentVariable("VARNIX_SIM"), QStringLiteral("--bind"), QStringLiteral("0.0.0.0"),
               QStringLiteral("--iface"), qEnvironmentVariable("VARNIX_NS_SIM_IFACES"),
               QStringLiteral("--generate"), QString::number(modules), QStringLiteral("--duration"),
               QString::number(70 * runs)});
    QByteArray out;
    while (!out.contains("varnix-sim: ready") && sim.waitForReadyRead(10000))
        out += sim.readAllStandardOutput();
    if (!out.contains("varnix-sim: ready")) {
        std::fprintf(stderr, "simulator did not start: %s\n", sim.readAllStandardError().constData());
        return 2;
    }
    std::printf("%d modules, %d runs\n", modules, runs);
    std::vector<double> last[2], stall[2];
    int worstRows = modules;
    for (int i = 0; i < 2 * runs; ++i) {
        const bool inventory = i % 2 == 1;
        const TRun r = OneRun(modules, inventory);
        std::printf("run %d (%s): rows %d/%d, last row after %.0f ms, longest event-loop stall %.1f ms, hex "
                    "lines %d\n",
                    i / 2 + 1, inventory ? "with inventory" : "no inventory", r.Rows, modules, r.LastRowMs,
                    r.LongestStallMs, r.HexLines);
        std::fflush(stdout);
        last[inventory].push_back(r.LastRowMs);
        stall[inventory].push_back(r.LongestStallMs);
        worstRows = std::min(worstRows, r.Rows);
    }
    for (int k = 0; k < 2; ++k) {
        std::sort(last[k].begin(), last[k].end());
        std::sort(stall[k].begin(), stall[k].end());
        std::printf("median %s: last row %.0f ms, longest stall %.1f ms (worst %.1f ms)\n",
                    k ? "with inventory" : "no inventory", last[k][last[k].size() / 2],
                    stall[k][stall[k].size() / 2], stall[k].back());
    }
    std::printf("fewest rows %d\n", worstRows);
    sim.terminate();
    sim.waitForFinished(3000);
    return worstRows == modules ? 0 : 1;
}
