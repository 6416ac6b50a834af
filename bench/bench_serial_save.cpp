// The main window during a Z2 save over a serial line: the real window against varnix-sim
// --serial z2 on a pty (no network). Read Config first (the save needs the module's own blocks),
// then Save Config; a 5 ms timer records the largest gap between its ticks from the click to the
// end of the operation, i.e. the longest time the window could not handle an event.
//
//   env VARNIX_SIM=<sim> QT_QPA_PLATFORM=offscreen bench_serial_save [RUNS (default 3)]
//
// Bounded: each operation ends after its reply wait (a few seconds at most) or after 20 s.

#include "ui/common/prompts.h"
#include "ui/main/log_pane.h"
#include "ui/main/main_window.h"
#include "ui/main/serial_link.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace varnix;

namespace {

struct TRun {
    double LongestStallMs = 0;
    double SaveMs = 0;
    int Acks = 0;
};

// Clicks `button` from inside the event loop (as a user's click comes) and runs the loop until
// the serial operation has finished; returns the largest gap between two ticks of a 5 ms timer.
double ClickAndMeasure(TFrm_Main& w, QPushButton* button, double* tookMs) {
    bool finished = false;
    const auto c =
        QObject::connect(&w.SerialLink(), &TSerialLink::OperationFinished, [&] { finished = true; });
    QElapsedTimer clock;
    qint64 lastTick = 0; // the start counts as a tick: a click that blocks at once is a stall too
    double longest = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, static_cast<double>(now - lastTick) / 1e6);
        lastTick = now;
    });
    clock.start();
    ticker.start();
    QTimer::singleShot(0, button, &QPushButton::click);
    while (!finished && clock.elapsed() < 20000)
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    const qint64 end = clock.nsecsElapsed();
    longest = std::max(longest, static_cast<double>(end - lastTick) / 1e6);
    *tookMs = static_cast<double>(end) / 1e6;
    ticker.stop();
    QObject::disconnect(c);
    return finished ? longest : -1;
}

int CountLog(TFrm_Main& w, const QString& text) {
    w.FlushPending();
    const QPlainTextEdit* log = w.findChild<QPlainTextEdit*>(QStringLiteral("redt_Log"));
    int n = 0;
    for (QTextBlock b = log->document()->begin(); b.isValid(); b = b.next())
        n += b.text() == text;
    return n;
}

TRun OneRun(const QString& link) {
    QTemporaryDir home;
    TScriptedPrompts prompts;
    TMainOptions o;
    o.ProgramDir = home.path();
    o.Prompts = &prompts;
    o.SystemIsChinese = false;
    o.OpenUrl = [](const QUrl&) {};
    o.Udp.IncludeLoopback = true;
    o.Udp.LocalAddresses = [] { return std::vector<std::string>{"127.0.0.1"}; };
    TAppContext context(o.ProgramDir);
    TFrm_Main w(context, o);
    w.show();
    w.findChild<QTabWidget*>(QStringLiteral("rzpgcntrl_Srch"))->setCurrentIndex(1);
    w.findChild<QComboBox*>(QStringLiteral("cbb_SelectCom"))->setEditText(link);
    QApplication::processEvents();

    TRun run;
    double readMs = 0;
    if (ClickAndMeasure(w, w.findChild<QPushButton*>(QStringLiteral("btn_ComRead")), &readMs) < 0)
        return run;
    run.LongestStallMs =
        ClickAndMeasure(w, w.findChild<QPushButton*>(QStringLiteral("btn_Z2ComSet")), &run.SaveMs);
    run.Acks = CountLog(w, QStringLiteral("setup success"));
    w.close();
    return run;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttySIM"));
    QProcess sim;
    sim.start(qEnvironmentVariable("VARNIX_SIM"),
              {QStringLiteral("--serial"), QStringLiteral("z2"), QStringLiteral("--link"), link,
               QStringLiteral("--duration"), QString::number(30 * runs)});
    QByteArray out;
    while (!out.contains("varnix-sim: ready") && sim.waitForReadyRead(10000))
        out += sim.readAllStandardOutput();
    if (!out.contains("varnix-sim: ready")) {
        std::fprintf(stderr, "simulator did not start (set VARNIX_SIM): %s\n",
                     sim.readAllStandardError().constData());
        return 2;
    }
    std::vector<double> stall;
    bool allAcked = true;
    for (int i = 0; i < runs; ++i) {
        const TRun r = OneRun(link);
        std::printf("run %d: Z2 save over serial took %.0f ms, %d of 3 acknowledged, longest event-loop "
                    "stall %.1f ms\n",
                    i + 1, r.SaveMs, r.Acks, r.LongestStallMs);
        std::fflush(stdout);
        stall.push_back(r.LongestStallMs);
        allAcked = allAcked && r.Acks == 3 && r.LongestStallMs >= 0;
    }
    std::sort(stall.begin(), stall.end());
    std::printf("longest stall during a Z2 serial save: median %.1f ms, worst %.1f ms\n",
                stall[stall.size() / 2], stall.back());
    sim.terminate();
    sim.waitForFinished(3000);
    return allAcked ? 0 : 1;
}
