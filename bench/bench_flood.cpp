// A hostile host floods the program's port during a search, inside the private namespace of
// tests/netns-run --segments 1, while five simulated modules on a foreign segment answer by
// broadcast. The flooder does what any host on the LAN can: it hears the search (a broadcast to
// port 1500 is looped back to the sending host's own sockets, and reaches every host on a real
// segment), learns the program's port from it and sends mixed datagrams there: fake search replies
// with control characters and "%3" in their names, random 130/50/85/302/1/4/64-byte blocks and
// datagrams of random length, from ports 1500, 1901 and others, unicast to the program's address
// and to the subnet's broadcast address.
//
// Two parts, each against its own flood (COUNT datagrams spread over SECONDS):
//   window: the real main window searches, which aims the flood, then searches again 2 s and 12 s
//           into the flood; reports for each of those searches how many genuine modules it
//           listed, the longest event-loop stall over the whole run (a 5 ms timer records the
//           largest gap between its ticks) and the RSS growth;
//   cli:    `varnix-cli search --timeout 1` (path in $VARNIX_CLI); reports how long it took to
//           return and whether it listed every genuine module.
//
// The flooder is a process of its own (this program with --flooder), run through `taskset` on the
// last core while the window keeps to the first, so that the figures measure the window's
// draining rather than how the two share a core. With one core both share it.
//
//   tests/netns-run --segments 1 -- env QT_QPA_PLATFORM=offscreen VARNIX_SIM=<sim> VARNIX_CLI=<cli>
//       bench_flood [COUNT] [SECONDS] [window|cli]   (defaults 1000000, 20, both parts)
//
// Bounded: the flood stops after COUNT datagrams or SECONDS plus a little, the simulator stops
// with --duration; nothing leaves the namespace.

#include "ui/common/prompts.h"
#include "ui/main/device_list_model.h"
#include "ui/main/main_window.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace varnix;
using Clock = std::chrono::steady_clock;

namespace {

const char* const GenuineMacs[] = {"00 1A 2B 3C 4D 01", "00 1A 2B 3C 4D 02", "00 1A 2B 3C 4D 03",
                                   "00 1A 2B 3C 4D 04", "00 1A 2B 3C 4D 05"};

std::string FirstOf(const char* variable) {
    const std::string s = qEnvironmentVariable(variable).toStdString();
    return s.substr(0, s.find(','));
}

double RssMb() {
    std::ifstream f("/proc/self/statm");
    long pages = 0, resident = 0;
    f >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// Datagrams the kernel of this namespace dropped because a receive queue was full.
long long UdpReceiveDrops() {
    std::ifstream f("/proc/net/snmp");
    std::string line, names;
    while (std::getline(f, line)) {
        if (line.rfind("Udp: ", 0) != 0)
            continue;
        if (names.empty()) {
            names = line;
            continue;
        }
        std::istringstream n(names), v(line);
        std::string name, value;
        while (n >> name && v >> value)
            if (name == "RcvbufErrors")
                return std::atoll(value.c_str());
    }
    return -1;
}

int UdpSocket(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    int size = 4 * 1024 * 1024;
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &size, sizeof size) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::vector<std::uint8_t> Junk(std::mt19937& rng) {
    static const std::size_t lengths[] = {36, 36, 36, 130, 50, 85, 302, 1, 4, 64};
    std::uniform_int_distribution<int> byte(0, 255), pick(0, 11), any(1, 1400);
    const int p = pick(rng);
    const std::size_t n = p < 10 ? lengths[p] : static_cast<std::size_t>(any(rng));
    std::vector<std::uint8_t> d(n);
    for (auto& b : d)
        b = static_cast<std::uint8_t>(byte(rng));
    if (n == 36 && p < 3) {
        // A search reply that passes the header check, with a name made to upset a terminal.
        const char name[] = "\x1b[2J\r\n%3\x07x";
        d[0] = 0xFF, d[1] = 0x24, d[2] = 0x01, d[15] = 0xB1, d[16] = 0x0F;
        std::memcpy(d.data() + 19, name, sizeof name - 1);
    }
    return d;
}

// The hostile host: waits for a search, then floods its sender until `count` datagrams or
// `seconds` have gone by. A later search (the cli's) retargets it.
class TFlooder {
public:
    TFlooder(long count, double seconds) : count_(count), seconds_(seconds) {}
    ~TFlooder() { Stop(); }

    // The sockets are bound before Start returns, so a search sent right after cannot be missed.
    void Start() {
        listen_ = UdpSocket(1500);
        others_[0] = UdpSocket(1901);
        others_[1] = UdpSocket(0);
        thread_ = std::thread([this] { Run(); });
    }
    void Stop() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    long Sent() const { return sent_; }
    bool Done() const { return done_; }

private:
    void Run() {
        const int listen = listen_;
        const int* others = others_;
        if (listen < 0 || others[0] < 0 || others[1] < 0) {
            std::fprintf(stderr, "flooder: cannot bind\n");
            done_ = true;
            return;
        }
        const int senders[] = {listen, others[0], others[1]};
        std::mt19937 rng(7);
        sockaddr_in target{};
        bool haveTarget = false;
        Clock::time_point start;
        in_addr subnetBroadcast{};
        inet_pton(AF_INET, "10.9.0.255", &subnetBroadcast);
        std::vector<std::uint8_t> buf(2048);
        while (!stop_ && sent_ < count_) {
            // A search request re-aims the flood at its sender.
            pollfd p{listen, POLLIN, 0};
            if (::poll(&p, 1, haveTarget ? 0 : 100) > 0) {
                sockaddr_in from{};
                socklen_t len = sizeof from;
                const ssize_t n =
                    ::recvfrom(listen, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
                if (n == 4 && buf[0] == 0xFF && buf[1] == 0x01) {
                    if (!haveTarget) {
                        start = Clock::now();
                        std::printf("aimed\n");
                        std::fflush(stdout);
                    }
                    target = from;
                    haveTarget = true;
                }
            }
            if (!haveTarget)
                continue;
            // Keep to the rate: COUNT over SECONDS.
            const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
            if (elapsed > seconds_ + 5)
                break;
            const long due =
                std::min(count_, static_cast<long>(static_cast<double>(count_) * elapsed / seconds_));
            for (int i = 0; i < 256 && sent_ < due; ++i) {
                const auto d = Junk(rng);
                sockaddr_in to = target;
                if (sent_ % 4 == 3)
                    to.sin_addr = subnetBroadcast;
                ::sendto(senders[sent_ % 3], d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to),
                         sizeof to);
                ++sent_;
            }
            if (sent_ >= due)
                std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        for (int fd : senders)
            ::close(fd);
        done_ = true;
    }

    long count_;
    double seconds_;
    int listen_ = -1;
    int others_[2] = {-1, -1};
    std::atomic<bool> stop_{false}, done_{false};
    std::atomic<long> sent_{0};
    std::thread thread_;
};

// The flooder as a child process (this program with --flooder COUNT SECONDS), on a core of its own
// when the machine has more than one. It prints "aimed" when the first search reaches it and
// "sent N" when it ends.
class TFlooderProcess {
public:
    TFlooderProcess(long count, double seconds) : count_(count), seconds_(seconds) {}
    ~TFlooderProcess() { Stop(); }

    bool Start() {
        const QString self = QCoreApplication::applicationFilePath();
        const QStringList args{QStringLiteral("--flooder"), QString::number(count_),
                               QString::number(seconds_)};
        const int cores = static_cast<int>(std::thread::hardware_concurrency());
        if (cores > 1)
            p_.start(QStringLiteral("taskset"),
                     QStringList{QStringLiteral("-c"), QString::number(cores - 1), self} + args);
        else
            p_.start(self, args);
        if (!p_.waitForStarted(5000))
            return false;
        // The child binds its sockets before it prints anything; wait for "ready".
        while (!out_.contains("ready") && p_.waitForReadyRead(5000))
            out_ += p_.readAllStandardOutput();
        return out_.contains("ready");
    }
    void Poll() {
        out_ += p_.readAllStandardOutput();
        if (!aimed_ && out_.contains("aimed")) {
            aimed_ = true;
            aimedAt_.start();
        }
    }
    bool Aimed() {
        Poll();
        return aimed_;
    }
    // Milliseconds since the flood began (0 before).
    qint64 Elapsed() {
        Poll();
        return aimed_ ? aimedAt_.elapsed() : 0;
    }
    bool Done() {
        Poll();
        return p_.state() == QProcess::NotRunning;
    }
    long Sent() {
        Poll();
        const int at = out_.lastIndexOf("sent ");
        return at < 0 ? 0 : std::atol(out_.constData() + at + 5);
    }
    void Stop() {
        if (p_.state() == QProcess::NotRunning)
            return;
        p_.terminate();
        if (!p_.waitForFinished(3000))
            p_.kill();
        p_.waitForFinished(1000);
        Poll();
    }

private:
    long count_;
    double seconds_;
    QProcess p_;
    QByteArray out_;
    bool aimed_ = false;
    QElapsedTimer aimedAt_;
};

// The child's side: floods until done or terminated.
int FlooderMain(long count, double seconds) {
    static std::atomic<bool> stop{false};
    std::signal(SIGTERM, [](int) { stop = true; });
    TFlooder flood(count, seconds);
    flood.Start();
    std::printf("ready\n");
    std::fflush(stdout);
    while (!flood.Done() && !stop)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    flood.Stop();
    std::printf("sent %ld\n", flood.Sent());
    std::fflush(stdout);
    return 0;
}

void PinToFirstCore() {
    if (std::thread::hardware_concurrency() < 2)
        return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(0, &set);
    ::sched_setaffinity(0, sizeof set, &set);
}

int CountGenuine(const std::vector<QString>& macs) {
    int n = 0;
    for (const char* g : GenuineMacs)
        n += std::count(macs.begin(), macs.end(), QString::fromLatin1(g)) > 0;
    return n;
}

int GenuineListed(TFrm_Main& w) {
    std::vector<QString> macs;
    for (const TDeviceRow& r : w.Devices().Rows())
        macs.push_back(r.Mac);
    return CountGenuine(macs);
}

bool WindowPart(long count, double seconds) {
    QTemporaryDir home;
    TScriptedPrompts prompts;
    TMainOptions o;
    o.ProgramDir = home.path();
    o.Prompts = &prompts;
    o.SystemIsChinese = false;
    o.OpenUrl = [](const QUrl&) {};
    TAppContext context(o.ProgramDir);
    TFrm_Main w(context, o);
    w.show();
    QApplication::processEvents();
    const double rssBefore = RssMb();
    const long long dropsBefore = UdpReceiveDrops();

    QElapsedTimer clock;
    qint64 lastTick = -1;
    double longest = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastTick >= 0)
            longest = std::max(longest, static_cast<double>(now - lastTick) / 1e6);
        lastTick = now;
    });
    TFlooderProcess flood(count, seconds);
    if (!flood.Start()) {
        std::printf("window: the flooder did not start\n");
        return false;
    }
    auto* search = w.findChild<QPushButton*>(QStringLiteral("btn_Search"));
    clock.start();
    ticker.start();
    QTimer::singleShot(0, [&] { search->click(); });
    // Searches 2 s and 12 s into the flood; each is judged by what it listed 2 s later.
    const qint64 searchAt[] = {2000, 12000};
    const qint64 judgeAfter = 2000;
    int listed[] = {-1, -1};
    qint64 searchedAt[] = {-1, -1};
    int rowsThen[] = {0, 0};
    double rssPeak = rssBefore;
    const auto deadline = static_cast<qint64>((seconds + 15) * 1000);
    while ((!flood.Done() || listed[1] < 0) && clock.elapsed() < deadline) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        rssPeak = std::max(rssPeak, RssMb());
        const qint64 t = flood.Elapsed();
        for (int i = 0; i < 2; ++i) {
            if (searchedAt[i] < 0 && flood.Aimed() && t >= searchAt[i]) {
                searchedAt[i] = t;
                search->click();
            } else if (searchedAt[i] >= 0 && listed[i] < 0 && t >= searchedAt[i] + judgeAfter) {
                listed[i] = GenuineListed(w);
                rowsThen[i] = w.Devices().rowCount();
            }
        }
    }
    // The rest of what the kernel queued.
    const qint64 settle = clock.elapsed() + 1500;
    while (clock.elapsed() < settle)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    ticker.stop();
    flood.Stop();
    rssPeak = std::max(rssPeak, RssMb());
    std::printf("window: %ld datagrams in %.1f s; longest event-loop stall %.1f ms; RSS %.0f -> peak %.0f MB "
                "(+%.0f MB); dropped by the kernel (receive queue full) %lld\n",
                flood.Sent(), static_cast<double>(clock.elapsed()) / 1000.0, longest, rssBefore, rssPeak,
                rssPeak - rssBefore, UdpReceiveDrops() - dropsBefore);
    for (int i = 0; i < 2; ++i)
        std::printf("window: search %.1f s into the flood listed %d/5 genuine modules (%d rows)\n",
                    static_cast<double>(searchedAt[i]) / 1000.0, std::max(listed[i], 0), rowsThen[i]);
    std::fflush(stdout);
    w.close();
    return listed[0] == 5 && listed[1] == 5;
}

bool CliPart(long count, double seconds) {
    const QString cli = qEnvironmentVariable("VARNIX_CLI");
    if (cli.isEmpty()) {
        std::printf("cli: skipped (VARNIX_CLI not set)\n");
        return true;
    }
    TFlooderProcess flood(count, seconds);
    if (!flood.Start()) {
        std::printf("cli: the flooder did not start\n");
        return false;
    }
    bool allFound = true;
    double worst = 0;
    // Several searches while the flood runs; the first one aims it.
    for (int i = 0; i < 5 && !flood.Done(); ++i) {
        QProcess p;
        const auto t0 = Clock::now();
        p.start(cli, {QStringLiteral("search"), QStringLiteral("--timeout"), QStringLiteral("1"),
                      QStringLiteral("--interface"), QString::fromStdString(FirstOf("VARNIX_NS_PC_IPS"))});
        p.waitForFinished(60000);
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        worst = std::max(worst, s);
        std::vector<QString> macs;
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        for (const char* g : GenuineMacs)
            if (out.contains(QString::fromLatin1(g)))
                macs.push_back(QString::fromLatin1(g));
        const int genuine = CountGenuine(macs);
        allFound = allFound && genuine == 5;
        std::printf(
            "cli search --timeout 1: returned after %.2f s (exit %d), %lld lines printed, genuine modules "
            "%d/5, flood so far %ld\n",
            s, p.exitCode(), static_cast<long long>(out.count(u'\n')), genuine, flood.Sent());
        std::fflush(stdout);
    }
    flood.Stop();
    std::printf("cli: longest return time %.2f s\n", worst);
    return allFound;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--flooder") == 0)
        return FlooderMain(std::atol(argv[2]), std::atof(argv[3]));
    PinToFirstCore();
    QApplication app(argc, argv);
    const long count = argc > 1 ? std::atol(argv[1]) : 1000000;
    const double seconds = argc > 2 ? std::atof(argv[2]) : 20.0;
    if (FirstOf("VARNIX_NS_TOPOLOGY") != "segments" || qEnvironmentVariableIsEmpty("VARNIX_SIM")) {
        std::fprintf(stderr,
                     "bench_flood: run it through tests/netns-run --segments 1 with VARNIX_SIM set\n");
        return 2;
    }
    if (count <= 0 || count > 5000000 || !(seconds > 0 && seconds <= 120)) {
        std::fprintf(stderr, "bench_flood: COUNT 1..5000000, SECONDS 0..120\n");
        return 2;
    }
    QStringList args{qEnvironmentVariable("VARNIX_SIM"),
                     QStringLiteral("--bind"),
                     QStringLiteral("0.0.0.0"),
                     QStringLiteral("--iface"),
                     QString::fromStdString(FirstOf("VARNIX_NS_SIM_IFACES")),
                     QStringLiteral("--duration"),
                     QString::number(2 * seconds + 120)};
    for (int i = 0; i < 5; ++i)
        args << QStringLiteral("--module")
             << QStringLiteral("z2:%1:192.168.0.%2:Genuine-%2:4017")
                    .arg(QString::fromLatin1(GenuineMacs[i]).replace(u' ', u'-'))
                    .arg(i + 1);
    QProcess sim;
    sim.start(qEnvironmentVariable("VARNIX_NS_IN_MODULES"), args);
    QByteArray out;
    while (!out.contains("varnix-sim: ready") && sim.waitForReadyRead(10000))
        out += sim.readAllStandardOutput();
    if (!out.contains("varnix-sim: ready")) {
        std::fprintf(stderr, "simulator did not start: %s\n", sim.readAllStandardError().constData());
        return 2;
    }
    std::printf("flood: %ld datagrams over %.0f s per part\n", count, seconds);
    const std::string part = argc > 3 ? argv[3] : "";
    const bool window = part == "cli" || WindowPart(count, seconds);
    const bool cli = part == "window" || CliPart(count, seconds);
    sim.terminate();
    sim.waitForFinished(3000);
    return window && cli ? 0 : 1;
}
