// The main window during a Z2 save over the LAN, inside the private namespace of tests/netns-run
// --segments 1: the real window and endpoint, varnix-sim on a foreign segment with one Z2 module
// (firmware 4017: base, port, heartbeat and Modbus blocks) whose open bytes vary. Each run clicks
// the module's row (the read), changes its name, presses Save Config and waits for the one-line
// result, which comes after the module has restarted and been read back. A 5 ms timer records the
// largest gap between its ticks from each click to the end of its operation: the longest time the
// window could not handle an event.
//
//   tests/netns-run --segments 1 -- env VARNIX_SIM=<sim> QT_QPA_PLATFORM=offscreen bench_lan_save [RUNS]
//
// Bounded: each operation ends with its result or after 20 s; the simulator stops with --duration.

#include "app/app_context.h"
#include "ui/common/prompts.h"
#include "ui/main/lan_link.h"
#include "ui/main/log_pane.h"
#include "ui/main/main_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace varnix;

namespace {

struct TRun {
    double ReadStallMs = -1;   // the first read of a window: its page is laid out for the first time
    double ReReadStallMs = -1; // the module read again, the page shown already
    double SaveStallMs = -1;
    double SaveMs = 0;
    bool Verified = false;
};

// Runs `act` from inside the event loop (as a user's click comes) and the loop until `done`;
// returns the largest gap between two ticks of a 5 ms timer (-1 when `done` never came).
double Measure(const std::function<void()>& act, const std::function<bool()>& done, double* tookMs) {
    QElapsedTimer clock;
    qint64 lastTick = 0; // the start counts as a tick: an action that blocks at once is a stall too
    double longest = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, static_cast<double>(now - lastTick) / 1e6);
        lastTick = now;
    });
    bool started = false;
    clock.start();
    ticker.start();
    QTimer::singleShot(0, [&] {
        act();
        started = true;
    });
    while ((!started || !done()) && clock.elapsed() < 20000)
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    const qint64 end = clock.nsecsElapsed();
    longest = std::max(longest, static_cast<double>(end - lastTick) / 1e6);
    if (tookMs)
        *tookMs = static_cast<double>(end) / 1e6;

    ticker.stop();
    return started && done() ? longest : -1;
}

std::vector<std::string> NamespaceAddresses() {
    std::vector<std::string> list;
    for (const QString& ip : qEnvironmentVariable("VARNIX_NS_PC_IPS").split(u',', Qt::SkipEmptyParts))
        list.push_back(ip.toStdString());
    return list;
}

TRun OneRun(int index) {
    QTemporaryDir home;
    TScriptedPrompts prompts;
    TMainOptions o;
    o.ProgramDir = home.path();
    o.Prompts = &prompts;
    o.SystemIsChinese = false;
    o.OpenUrl = [](const QUrl&) {};
    o.Udp.LocalAddresses = NamespaceAddresses;
    TAppContext context(home.path());
    TFrm_Main w(context, o);
    w.show();
    w.findChild<QPushButton*>(QStringLiteral("btn_Search"))->click();
    QElapsedTimer wait;
    wait.start();
    while (w.DeviceCount() < 1 && wait.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    TRun run;
    if (w.DeviceCount() < 1)
        return run;

    auto* list = w.findChild<QTreeView*>(QStringLiteral("lv_Dev"));
    TLanLink& lan = w.LanLink();
    run.ReadStallMs = Measure(
        [&] {
            list->setCurrentIndex(list->model()->index(0, 0));
            w.lv_DevClick();
        },
        [&] { return !lan.Reading() && lan.LastRead().has_value(); }, nullptr);
    if (run.ReadStallMs < 0)
        return run;
    run.ReReadStallMs = Measure([&] { w.lv_DevClick(); },
                                [&] { return !lan.Reading() && lan.LastRead().has_value(); }, nullptr);

    w.findChild<QLineEdit*>(QStringLiteral("edt_ModName"))->setText(QStringLiteral("bench-%1").arg(index));
    bool finished = false;
    QObject::connect(&lan, &TLanLink::SaveFinished, [&](bool verified) {
        finished = true;
        run.Verified = verified;
    });
    run.SaveStallMs = Measure([&] { w.findChild<QPushButton*>(QStringLiteral("btn_Z2NetSet"))->click(); },
                              [&] { return finished; }, &run.SaveMs);
    for (const auto& m : prompts.Messages())
        std::fprintf(stderr, "message: %s\n", qPrintable(m.text));
    w.close();
    return run;
}

bool StartSimulator(QProcess& sim, const QTemporaryDir& dir, int runs) {
    QFile config(dir.filePath(QStringLiteral("config.json")));
    if (!config.open(QIODevice::WriteOnly))
        return false;
    const QJsonObject module{{QStringLiteral("family"), QStringLiteral("z2")},
                             {QStringLiteral("mac"), QStringLiteral("00:1B:2C:00:00:51")},
                             {QStringLiteral("ip"), QStringLiteral("192.168.0.51")},
                             {QStringLiteral("name"), QStringLiteral("line-1")},
                             {QStringLiteral("firmware"), 4017}};
    config.write(QJsonDocument(QJsonObject{{QStringLiteral("modules"), QJsonArray{module}}}).toJson());
    config.close();
    sim.start(qEnvironmentVariable("VARNIX_NS_IN_MODULES"),
              {qEnvironmentVariable("VARNIX_SIM"), QStringLiteral("--config"), config.fileName(),
               QStringLiteral("--restart-ms"), QStringLiteral("200"), QStringLiteral("--bind"),
               QStringLiteral("0.0.0.0"), QStringLiteral("--iface"),
               qEnvironmentVariable("VARNIX_NS_SIM_IFACES"), QStringLiteral("--duration"),
               QString::number(30 * runs)});
    QByteArray out;
    while (!out.contains("varnix-sim: ready") && sim.waitForReadyRead(10000))
        out += sim.readAllStandardOutput();
    if (!out.contains("varnix-sim: ready"))
        std::fprintf(stderr, "simulator did not start: %s\n", sim.readAllStandardError().constData());
    return out.contains("varnix-sim: ready");
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    if (qEnvironmentVariable("VARNIX_NS_TOPOLOGY") != u"segments") {
        std::fprintf(stderr, "bench_lan_save: run it through tests/netns-run --segments 1\n");
        return 2;
    }
    QTemporaryDir dir;
    QProcess sim;
    if (!StartSimulator(sim, dir, runs))
        return 2;
    std::vector<double> stall, firstRead;
    bool allVerified = true;
    for (int i = 0; i < runs; ++i) {
        const TRun r = OneRun(i);
        std::printf("run %d: read stall %.1f ms (again %.1f ms); Z2 save and verify took %.0f ms (%s), "
                    "longest event-loop "
                    "stall %.1f ms\n",
                    i + 1, r.ReadStallMs, r.ReReadStallMs, r.SaveMs, r.Verified ? "verified" : "NOT verified",
                    r.SaveStallMs);
        std::fflush(stdout);
        stall.push_back(r.SaveStallMs);
        firstRead.push_back(r.ReadStallMs);
        allVerified =
            allVerified && r.Verified && r.ReadStallMs >= 0 && r.ReReadStallMs >= 0 && r.SaveStallMs >= 0;
    }
    std::sort(stall.begin(), stall.end());
    std::sort(firstRead.begin(), firstRead.end());
    std::printf("longest stall during a Z2 LAN save (with its read-back): median %.1f ms, worst %.1f ms; "
                "during a window's first read: median %.1f ms, worst %.1f ms\n",
                stall[stall.size() / 2], stall.back(), firstRead[firstRead.size() / 2], firstRead.back());
    sim.terminate();
    sim.waitForFinished(3000);
    return allVerified ? 0 : 1;
}
