// The debugging window, measured: (1) the cycle send's schedule as a receiver sees it — rows A
// (delay 100 ms) and B (delay 200 ms), interval 1000 ms, 20 cycles — as mean and worst error of
// every gap against the schedule; (2) a flood of 10,000 datagrams into the UDP role: the longest
// stall of the window's event loop and what the received-data pane kept. Loopback only; run it
// inside tests/netns-run (see bench/CMakeLists.txt).
#include "debug/recv_model.h"
#include "lang/app_lang.h"
#include "ui/common/prompts.h"
#include "ui/debug/data_debug.h"
#include "ui/debug/frame_cmd.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace varnix;
using Clock = std::chrono::steady_clock;

namespace {

constexpr quint16 WindowPort = 47101, ReceiverPort = 47100;

sockaddr_in Loopback(quint16 port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

double ThreadCpuMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

void Pump(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

template <class T> T* Child(QWidget& w, const char* name) {
    return w.findChild<T*>(QString::fromLatin1(name));
}

void OpenUdp(Tfrm_DataDebug& w) {
    Child<QComboBox>(w, "cbbProtrolType")->setCurrentIndex(Tfrm_DataDebug::UdpServer);
    Child<QComboBox>(w, "cbbIP")->setEditText(QStringLiteral("127.0.0.1"));
    Child<QLineEdit>(w, "edtPort")->setText(QString::number(WindowPort));
    Child<QPushButton>(w, "btnConnet")->click();
    Child<QLineEdit>(w, "edtLoport")->setText(QString::number(ReceiverPort));
}

void CycleTiming(Tfrm_DataDebug& w, int cycles) {
    const int rx = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(ReceiverPort);
    if (::bind(rx, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        std::perror("bind");
        return;
    }
    timeval tv{0, 200000};
    ::setsockopt(rx, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::mutex lock;
    std::vector<Clock::time_point> got;
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        char buf[16];
        while (!stop)
            if (::recv(rx, buf, sizeof buf, 0) > 0) {
                std::lock_guard g(lock);
                got.push_back(Clock::now());
            }
    });
    w.ClearCmdRows();
    w.CmdRow(0)->SetRow({true, QStringLiteral("A"), QStringLiteral("A"), false, QStringLiteral("100")});
    w.CmdRow(1)->SetRow({true, QStringLiteral("B"), QStringLiteral("B"), false, QStringLiteral("200")});
    Child<QLineEdit>(w, "edtCycle")->setText(QStringLiteral("1000"));
    Child<QPushButton>(w, "btnCycleSend")->click();
    Pump(cycles * 1300 - 150);
    Child<QPushButton>(w, "btnCycleSend")->click();
    Pump(300);
    stop = true;
    reader.join();
    ::close(rx);
    std::vector<double> gapErr, driftErr;
    for (std::size_t i = 1; i < got.size(); ++i) {
        const double want = i % 2 ? 100.0 : 1200.0;
        const double gap = std::chrono::duration<double, std::milli>(got[i] - got[i - 1]).count();
        gapErr.push_back(std::abs(gap - want));
        const double at = std::chrono::duration<double, std::milli>(got[i] - got[0]).count();
        driftErr.push_back(std::abs(at - static_cast<double>((i / 2) * 1300 + (i % 2) * 100)));
    }
    auto report = [](const char* what, const std::vector<double>& v) {
        double sum = 0, worst = 0;
        for (double e : v) {
            sum += e;
            worst = std::max(worst, e);
        }
        std::printf("  %-34s mean %.2f ms, worst %.2f ms (%zu gaps)\n", what, v.empty() ? 0 : sum / v.size(),
                    worst, v.size());
    };
    std::printf("cycle send: %zu datagrams in %d cycles (expected %d)\n", got.size(), cycles, 2 * cycles);
    report("gap error against the schedule:", gapErr);
    report("arrival error against the start:", driftErr);
}

void Flood(Tfrm_DataDebug& w, int count) {
    w.Received().Clear();
    // Each gap between two ticks of a 5 ms timer, in wall time and in CPU time of this (the
    // window's) thread: on a loaded machine a long wall gap with little CPU is the scheduler's,
    // not the window's.
    qint64 worstStall = 0;
    double worstCpu = 0;
    QElapsedTimer tick;
    tick.start();
    double cpuAtTick = ThreadCpuMs();
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        worstStall = std::max(worstStall, tick.restart());
        const double cpu = ThreadCpuMs();
        worstCpu = std::max(worstCpu, cpu - cpuAtTick);
        cpuAtTick = cpu;
    });
    probe.start(5);
    std::thread sender([count] {
        const int tx = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in to = Loopback(WindowPort);
        char payload[36] = "flood datagram with 36 bytes of dat";
        for (int i = 0; i < count; ++i) {
            std::memcpy(payload, &i, sizeof i);
            ::sendto(tx, payload, sizeof payload, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        }
        ::close(tx);
    });
    QElapsedTimer all;
    all.start();
    sender.join();
    Pump(1500);
    probe.stop();
    w.Received().Flush();
    const qint64 seen = w.Received().rowCount() + w.Received().Dropped();
    std::printf("flood of %d datagrams: longest event-loop stall %lld ms wall, %.1f ms of window-thread CPU; "
                "%lld reached the pane (%d kept, %lld dropped as older lines)\n",
                count, static_cast<long long>(worstStall), worstCpu, static_cast<long long>(seen),
                w.Received().rowCount(), static_cast<long long>(w.Received().Dropped()));
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir home;
    TAppContext context(home.path());
    TScriptedPrompts prompts;
    {
        Tfrm_DataDebug w(context, {home.path(), &prompts, true});
        w.PrepareShow({-1, {}, {}, {}});
        w.show();
        OpenUdp(w);
        const int cycles = argc > 1 ? std::atoi(argv[1]) : 20;
        CycleTiming(w, cycles);
        Flood(w, 10000);
        w.close();
    }
    return 0;
}
