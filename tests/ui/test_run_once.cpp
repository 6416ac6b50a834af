// The single-instance guard with real processes (ten copies started at once, a copy killed with
// SIGKILL) and the first copy's answer to a later start (restored from minimised, its modal
// dialog brought to the front).

#include "app/run_once.h"
#include "ui/debug/data_debug.h"
#include "ui/main/main_window.h"
#include "window_harness.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

using namespace varnix;
using varnix::test::TWindowHarness;

namespace {

QStringList Args(const QString& home) {
    // Loopback only and no search at start: nothing is sent.
    return {QStringLiteral("--home"),      home,
            QStringLiteral("--local"),     QStringLiteral("127.0.0.1"),
            QStringLiteral("--broadcast"), QStringLiteral("127.0.0.1")};
}

std::unique_ptr<QProcess> Start(const QString& program, const QString& home) {
    auto p = std::make_unique<QProcess>();
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->start(program, Args(home));
    return p;
}

// A later copy that gives way ends by itself with status 0 and shows no window.
bool GivesWay(QProcess& p, int ms = 10000) {
    return p.waitForFinished(ms) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Two copies started close together: exactly one gives way (with status 0). Returns the one that
// runs on, or null when neither or both gave way within the deadline.
QProcess* Survivor(QProcess& a, QProcess& b) {
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        a.waitForFinished(20);
        b.waitForFinished(20);
        const bool aDone = a.state() == QProcess::NotRunning, bDone = b.state() == QProcess::NotRunning;
        if (aDone != bDone) {
            QProcess& done = aDone ? a : b;
            return done.exitStatus() == QProcess::NormalExit && done.exitCode() == 0 ? (aDone ? &b : &a)
                                                                                     : nullptr;
        }
        if (aDone && bDone)
            return nullptr;
    }
    return nullptr;
}

void Stop(QProcess& p) {
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate(); // closes the window as its Exit menu does
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished(5000);
    }
}

} // namespace

TEST(RunOnceProcesses, TenCopiesAtOnceLeaveExactlyOneRunning) {
    const QString program = qEnvironmentVariable("VARNIX_PROGRAM");
    if (program.isEmpty())
        GTEST_SKIP() << "VARNIX_PROGRAM not set";
    QTemporaryDir home;
    std::vector<std::unique_ptr<QProcess>> copies;
    for (int i = 0; i < 10; ++i)
        copies.push_back(Start(program, home.path()));
    // Nine give way within the deadline; the one left runs on with its window.
    const QDeadlineTimer deadline(20000);
    int gaveWay = 0;
    while (!deadline.hasExpired() && gaveWay < 9) {
        gaveWay = 0;
        for (auto& p : copies)
            if (p->state() == QProcess::NotRunning || p->waitForFinished(20))
                gaveWay += p->exitCode() == 0 ? 1 : 0;
    }
    EXPECT_EQ(gaveWay, 9);
    QTest::qWait(500); // none of the others ends later
    int running = 0;
    for (auto& p : copies)
        running += p->state() != QProcess::NotRunning ? 1 : 0;
    EXPECT_EQ(running, 1);
    for (auto& p : copies)
        Stop(*p);
}

TEST(RunOnceProcesses, AfterSigkillOrNormalExitANewStartRuns) {
    const QString program = qEnvironmentVariable("VARNIX_PROGRAM");
    if (program.isEmpty())
        GTEST_SKIP() << "VARNIX_PROGRAM not set";
    QTemporaryDir home;
    for (const bool kill : {true, false}) {
        SCOPED_TRACE(kill ? "SIGKILL" : "normal exit");
        auto a = Start(program, home.path());
        auto b = Start(program, home.path());
        QProcess* first = Survivor(*a, *b);
        ASSERT_NE(first, nullptr);
        if (kill) {
            ::kill(static_cast<pid_t>(first->processId()), SIGKILL);
            first->waitForFinished(5000);
        } else {
            Stop(*first);
            EXPECT_EQ(first->exitCode(), 0);
        }
        // The next start becomes the first copy: it is still running after the time a later
        // copy waits for an answer, and it answers a probe in turn.
        auto next = Start(program, home.path());
        EXPECT_FALSE(next->waitForFinished(4500)) << "the new start ended with " << next->exitCode();
        auto probe2 = Start(program, home.path());
        EXPECT_TRUE(GivesWay(*probe2));
        Stop(*next);
    }
}

TEST(RunOnceAnswer, ALaterStartRestoresTheMinimisedWindow) {
    QTemporaryDir dir;
    TRunOnce first(dir.path());
    ASSERT_FALSE(first.CheckRunOnce());
    TWindowHarness h;
    QObject::connect(&first, &TRunOnce::RaiseRequested, &h.Win(), &TFrm_Main::BringToFront);
    h.Win().showMinimized();
    ASSERT_TRUE(h.Win().isMinimized());
    TRunOnce second(dir.path());
    EXPECT_TRUE(second.CheckRunOnce());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !h.Win().isMinimized(); }, 5000));
    EXPECT_TRUE(h.Win().isVisible());
}

TEST(RunOnceAnswer, ALaterStartBringsTheDebuggingWindowToTheFront) {
    QTemporaryDir dir;
    TRunOnce first(dir.path());
    ASSERT_FALSE(first.CheckRunOnce());
    TWindowHarness h;
    QObject::connect(&first, &TRunOnce::RaiseRequested, &h.Win(), &TFrm_Main::BringToFront);
    TDataDebugOptions options;
    options.ProgramDir = h.Home();
    options.Prompts = &h.Prompts;
    Tfrm_DataDebug debug(*h.Context, options, &h.Win());
    debug.PrepareShow({});
    debug.setWindowModality(Qt::ApplicationModal);
    debug.show();
    // Another program's window took the focus: no window of this one is active.
    h.Win().activateWindow();
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &other; }, 3000));
    TRunOnce second(dir.path());
    EXPECT_TRUE(second.CheckRunOnce());
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &debug; }, 5000));
    debug.hide();
}
