// Firmware rollouts on the real segment of tests/netns-run --segments 1: the window's rollout view
// (TRolloutWindow, its table of one line per module) drives the engine's rollout job on the GUI
// thread of a QApplication, against 41 Z2 modules of one varnix-sim, all on one run of the
// simulator:
//   one     module 0 alone
//   twenty  modules 1..20 side by side (--parallel 20)
//   lossy   modules 21..40, each losing 0.2 % of its blocks and 0.2 % of its acknowledgements
// A 256 KiB image; each module keeps its configuration (a log-in and values of its own), is
// upgraded, restored to its factory settings, given its configuration back and verified. Reports
// the wall time of each part, twenty / one, the modules done, the images the simulator wrote
// (each must equal the file without its signature), and the longest gap between the ticks of a
// 5 ms timer during each part (the event-loop stall a window would show).
//
//   tests/netns-run --segments 1 -- env QT_QPA_PLATFORM=offscreen VARNIX_SIM=<sim> bench_rollout
//
// Bounded: each part stops after 120 s, the simulator stops by itself; nothing leaves the namespace.
//
// Measured with the window's view (2 vCPUs shared with other builds, load 9; two runs): one module
// 4.06-4.27 s, twenty 5.19-5.84 s (twenty / one 1.21-1.44), twenty with 0.2 % lost 14.6-14.7 s;
// every module done and every image equal in each run. The longest the loop itself was busy in
// one turn 14.9-23.6 ms (the view's first paint and the search's end), 7-11 ms in the lossy
// part; the longest stall 21-41 ms, once 71 ms while other processes held both cores (its own
// run in that part: 17.6 ms). The earlier stand-in table, written on every row event, measured
// busy runs of 15-28 ms.

#include "app/app_context.h"
#include "engine/lan_session.h"
#include "ui/common/prompts.h"
#include "ui/rollout/rollout_form.h"
#include "ui/rollout/rollout_window.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <random>

using namespace varnix;

namespace {

QString MacOf(int i) {
    return QStringLiteral("02:00:00:00:03:%1").arg(i, 2, 16, QLatin1Char('0')).toUpper();
}

QString First(const char* variable) {
    return qEnvironmentVariable(variable).section(QLatin1Char(','), 0, 0);
}

struct TPart {
    double Seconds = 0, StallMs = 0, BusyMs = 0;
    int Done = 0, Modules = 0;
};

// The window's rollout view itself drives the job: the form typed, Start pressed.
TPart Run(const std::vector<std::string>& macs, const TRolloutForm& form, const QString& home) {
    TSessionOptions so;
    so.Interface = form.Local.toStdString();
    TLanSession session(so);
    TRolloutWindowOptions wo;
    wo.Pool = &session.Pool();
    wo.Clock = &session.Clock();
    wo.Login = [] { return TLogin{"tech", "s3cret"}; };
    wo.ProgramDir = home;
    TScriptedPrompts prompts;
    prompts.NextQuestion(true); // the question before Start, answered as a technician would
    wo.Prompts = &prompts;
    TAppContext context(home);
    TRolloutWindow view(context, wo);
    std::vector<TRolloutWindow::TTarget> targets;
    for (const std::string& mac : macs)
        targets.push_back({QString::fromStdString(mac), {}, {}});
    view.Open(targets);
    const auto type = [&view](const char* name, const QString& text) {
        view.findChild<QLineEdit*>(QString::fromLatin1(name))->setText(text);
    };
    type("edt_Image", form.ImageFile);
    type("edt_Parallel", form.Parallel);
    type("edt_FactoryLogin", form.FactoryLogin);
    view.findChild<QComboBox*>(QStringLiteral("cbb_Local"))->setCurrentText(form.Local);

    QElapsedTimer wall, gap;
    double stall = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    // A gap is also counted by the time the thread itself ran in it: on a shared machine the
    // thread may wait for a core without its loop being busy.
    double busy = 0, cpuAtTick = 0;
    const auto cpuMs = [] {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
    };
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const double now = cpuMs();
        stall = std::max(stall, static_cast<double>(gap.nsecsElapsed()) / 1e6 - 5.0);
        busy = std::max(busy, now - cpuAtTick);
        cpuAtTick = now;
        gap.restart();
    });
    QEventLoop loop;
    QTimer done;
    QObject::connect(&done, &QTimer::timeout, [&] {
        if (view.Job() != nullptr && !view.Running())
            loop.quit();
    });
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    wall.start();
    gap.start();
    cpuAtTick = cpuMs();
    probe.start(5);
    done.start(50);
    view.findChild<QPushButton*>(QStringLiteral("btn_Start"))->click();
    loop.exec();
    probe.stop();
    if (view.Running()) {
        // Out of time: no new module, and the ones in flight end before the lanes go.
        view.findChild<QPushButton*>(QStringLiteral("btn_Stop"))->click();
        while (view.Running())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    if (view.Job() == nullptr) {
        std::printf("  the rollout did not start: %s\n",
                    view.findChild<QPlainTextEdit*>(QStringLiteral("redt_RolloutLog"))
                        ->toPlainText()
                        .toUtf8()
                        .constData());
        return {};
    }
    const TRolloutJob& job = *view.Job();
    TPart p;
    p.Seconds = static_cast<double>(wall.elapsed()) / 1000.0;
    p.StallMs = stall;
    p.BusyMs = busy;
    p.Modules = static_cast<int>(macs.size());
    for (const TRolloutModule& r : job.Modules()) {
        p.Done += r.Outcome == TRolloutOutcome::Done ? 1 : 0;
        if (r.Outcome != TRolloutOutcome::Done)
            std::printf("  %s: %s at %s: %s\n", r.Mac.c_str(), OutcomeName(r.Outcome).toUtf8().constData(),
                        StageName(r.Stage).toUtf8().constData(), r.Detail.toUtf8().constData());
    }
    return p;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString pc = First("VARNIX_NS_PC_IPS");
    if (qEnvironmentVariable("VARNIX_SIM").isEmpty() || pc.isEmpty()) {
        std::fprintf(stderr,
                     "bench_rollout: run it through tests/netns-run --segments 1 with VARNIX_SIM set\n");
        return 2;
    }
    QTemporaryDir dir;
    const QString net = pc.section(QLatin1Char('.'), 0, 2);
    QJsonArray modules;
    for (int i = 0; i <= 40; ++i) {
        QJsonObject m{{QStringLiteral("family"), QStringLiteral("z2")},
                      {QStringLiteral("mac"), MacOf(i)},
                      {QStringLiteral("ip"), QStringLiteral("%1.%2").arg(net).arg(100 + i)},
                      {QStringLiteral("name"), QStringLiteral("Line-%1").arg(i)},
                      {QStringLiteral("user"), QStringLiteral("tech")},
                      {QStringLiteral("password"), QStringLiteral("s3cret")}};
        if (i > 20)
            m.insert(QStringLiteral("upgrade"),
                     QJsonObject{{QStringLiteral("dropBlocks"), 0.002}, {QStringLiteral("dropAcks"), 0.002}});
        modules.append(m);
    }
    QFile cfg(dir.filePath(QStringLiteral("sim.json")));
    if (!cfg.open(QIODevice::WriteOnly))
        return 2;
    cfg.write(QJsonDocument(QJsonObject{{QStringLiteral("modules"), modules}}).toJson());
    cfg.close();
    QByteArray image("\x5A\x32\x10\x07", 4);
    std::mt19937 rng(7);
    for (int i = 0; i < 256 * 1024; ++i)
        image.append(static_cast<char>(rng()));
    const QString images = dir.filePath(QStringLiteral("images"));
    QDir().mkpath(images);
    QProcess sim;
    sim.start(qEnvironmentVariable("VARNIX_NS_IN_MODULES"),
              {qEnvironmentVariable("VARNIX_SIM"), QStringLiteral("--bind"), QStringLiteral("0.0.0.0"),
               QStringLiteral("--iface"), First("VARNIX_NS_SIM_IFACES"), QStringLiteral("--config"),
               cfg.fileName(), QStringLiteral("--upgrade-fleet"), QStringLiteral("--upgrade-iface"),
               First("VARNIX_NS_SIM_IFACES"), QStringLiteral("--upgrade-out-dir"), images,
               QStringLiteral("--upgrade-firmware"), QStringLiteral("4018"), QStringLiteral("--reset-to"),
               QStringLiteral("factory"), QStringLiteral("--duration"), QStringLiteral("400")});
    QByteArray out;
    while (!out.contains("varnix-sim: ready") && sim.waitForReadyRead(10000))
        out += sim.readAllStandardOutput();
    if (!out.contains("varnix-sim: ready")) {
        std::fprintf(stderr, "simulator did not start: %s\n", sim.readAllStandardError().constData());
        return 2;
    }

    QFile imageFile(dir.filePath(QStringLiteral("fw.bin")));
    if (!imageFile.open(QIODevice::WriteOnly) || imageFile.write(image) != image.size())
        return 2;
    imageFile.close();
    TRolloutForm o;
    o.ImageFile = imageFile.fileName();
    o.Local = pc;
    o.Parallel = QStringLiteral("20");
    o.FactoryLogin = QStringLiteral("vesta:vesta");
    const auto macs = [](int from, int to) {
        std::vector<std::string> v;
        for (int i = from; i <= to; ++i)
            v.push_back(MacOf(i).toStdString());
        return v;
    };
    const TPart one = Run(macs(0, 0), o, dir.path());
    const TPart twenty = Run(macs(1, 20), o, dir.path());
    const TPart lossy = Run(macs(21, 40), o, dir.path());
    int same = 0;
    for (int i = 0; i <= 40; ++i) {
        QFile f(images + QLatin1Char('/') + MacOf(i).remove(QLatin1Char(':')) + QStringLiteral(".bin"));
        same += f.open(QIODevice::ReadOnly) && f.readAll() == image.mid(4) ? 1 : 0;
    }
    const auto line = [](const char* what, const TPart& p) {
        std::printf("%-20s %6.2f s, done %2d/%2d, longest event-loop stall %5.1f ms (longest run of its own "
                    "%5.1f ms)\n",
                    what, p.Seconds, p.Done, p.Modules, p.StallMs, p.BusyMs);
    };
    line("one module:", one);
    line("twenty modules:", twenty);
    line("twenty, 0.2 % lost:", lossy);
    std::printf("twenty / one: %.2f\n", twenty.Seconds / one.Seconds);
    std::printf("images equal to the file without its signature: %d/41\n", same);
    sim.terminate();
    sim.waitForFinished(3000);
    const bool ok = one.Done == 1 && twenty.Done == 20 && lossy.Done == 20 && same == 41;
    return ok ? 0 : 1;
}
