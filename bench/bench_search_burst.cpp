// A search answered by 10,000 simulated modules in one burst, inside the private namespace of
// tests/netns-run --segments 1: the modules on a foreign segment of their own answer by broadcast,
// as modules without a route to the PC must. Measures, in the same run and against the same
// simulator:
//   - TUdpSvr: replies delivered as OnSearchReply events, and the time from the search until the
//     last one, (a) read live as they arrive and (b) drained after the whole burst has queued;
//   - a bare recvmmsg loop on a plain socket with the same 4 MiB receive buffer, bound to 0.0.0.0 and
//     the adapter (a socket bound to the adapter's address hears no broadcast), (a) and (b);
//   - a QUdpSocket readDatagram loop, (b) only, for comparison with what Qt offers;
//   - when src/capture is built: TUdpSvr again with every datagram handed to a pcapng capture
//     written to a file, (a) and (b), and what that costs against TUdpSvr alone.
// Each figure is the median of several rounds. Stops by itself; sends nothing outside the namespace.
//
//   tests/netns-run --segments 1 -- env VARNIX_SIM=<build>/tools/sim/varnix-sim
//   <build>/bench/bench_search_burst [modules] [rounds]

#include "lan/lan_protocol.h"
#include "lan/udp_svr.h"
#ifdef VARNIX_BENCH_CAPTURE
#include "capture/capture.h"
#endif

#include <QCoreApplication>
#include <QHostAddress>
#include <QProcess>
#include <QUdpSocket>
#include <QVariant>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace varnix;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Result {
    std::size_t delivered = 0;
    double ms = 0; // search sent (live) or drain started (queued) until the last reply
};

constexpr int QueueWaitMs = 400; // long enough for the simulator to send the whole burst
constexpr int QuietMs = 300;     // no reply for this long: the burst is over

std::string FirstOf(const char* variable) {
    const char* v = std::getenv(variable);
    std::string s = v ? v : "";
    return s.substr(0, s.find(','));
}

std::string PcIp() {
    return FirstOf("VARNIX_NS_PC_IPS");
}

// --- Bare loop: one plain socket, recvmmsg, reading the 36-byte replies. ---
Result BareLoop(const std::string& ip, bool queued) {
    Result r;
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    int size = 4 * 1024 * 1024;
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    static_cast<void>(ip);
    const std::string device = FirstOf("VARNIX_NS_PC_IFACES");
    ::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, device.c_str(), static_cast<socklen_t>(device.size()));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        std::perror("bind");
        std::exit(2);
    }
    sockaddr_in dest{};
    dest.sin_family = AF_INET;
    dest.sin_port = htons(PortZ2);
    dest.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    const TIdBytes request = BuildSearchRequest();
    const auto sent = Clock::now();
    ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&dest), sizeof dest);
    if (queued)
        std::this_thread::sleep_for(std::chrono::milliseconds(QueueWaitMs));
    const auto start = queued ? Clock::now() : sent;
    auto last = start;

    constexpr unsigned batch = 64;
    std::vector<std::uint8_t> buffer(batch * 2048);
    std::vector<mmsghdr> headers(batch);
    std::vector<iovec> vectors(batch);
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, QuietMs) <= 0)
            break;
        for (unsigned i = 0; i < batch; ++i) {
            vectors[i] = iovec{buffer.data() + i * 2048, 2048};
            headers[i] = mmsghdr{};
            headers[i].msg_hdr.msg_iov = &vectors[i];
            headers[i].msg_hdr.msg_iovlen = 1;
        }
        const int got = ::recvmmsg(fd, headers.data(), batch, MSG_DONTWAIT, nullptr);
        if (got <= 0)
            continue;
        for (int i = 0; i < got; ++i)
            if (headers[static_cast<unsigned>(i)].msg_len == SearchReplySize)
                ++r.delivered;
        last = Clock::now();
    }
    r.ms = Ms(last - start);
    ::close(fd);
    return r;
}

// --- Qt's own UDP socket: readDatagram until nothing is pending. ---
Result QtLoop(const std::string& ip) {
    Result r;
    QUdpSocket s;
    static_cast<void>(ip);
    // 0.0.0.0 to hear the broadcasts, kept to the adapter so the broadcast search leaves there.
    s.bind(QHostAddress::AnyIPv4, 0);
    const std::string device = FirstOf("VARNIX_NS_PC_IFACES");
    ::setsockopt(static_cast<int>(s.socketDescriptor()), SOL_SOCKET, SO_BINDTODEVICE, device.c_str(),
                 static_cast<socklen_t>(device.size()));
    s.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, QVariant(4 * 1024 * 1024));
    const TIdBytes request = BuildSearchRequest();
    s.writeDatagram(reinterpret_cast<const char*>(request.data()), static_cast<qint64>(request.size()),
                    QHostAddress::Broadcast, PortZ2);
    std::this_thread::sleep_for(std::chrono::milliseconds(QueueWaitMs));
    const auto start = Clock::now();
    auto last = start;
    char buf[2048];
    for (;;) {
        while (s.hasPendingDatagrams()) {
            QHostAddress from;
            quint16 port = 0;
            if (s.readDatagram(buf, sizeof buf, &from, &port) == static_cast<qint64>(SearchReplySize))
                ++r.delivered;
            last = Clock::now();
        }
        if (!s.waitForReadyRead(QuietMs))
            break;
    }
    r.ms = Ms(last - start);
    return r;
}

// --- The endpoint, reading through its socket notifier on the event loop; with captureFile, every
// datagram also goes to a capture in that file, as varnix-cli --capture does. ---
Result Endpoint(const std::string& ip, bool queued, const char* captureFile = nullptr) {
    Result r;
    TUdpSvrOptions o;
    o.LocalAddresses = [ip] { return std::vector<std::string>{ip}; };
#ifdef VARNIX_BENCH_CAPTURE
    std::unique_ptr<capture::TCapture> capture;
    if (captureFile != nullptr) {
        std::string error;
        capture = capture::TCapture::ToFile(captureFile, {}, error);
        if (!capture) {
            std::fprintf(stderr, "capture: %s\n", error.c_str());
            std::exit(2);
        }
        o.Capture = capture.get(); // the endpoint hands every datagram over, as varnix-cli --capture
    }
#else
    static_cast<void>(captureFile);
#endif
    TUdpSvr svr(o);
    std::vector<std::string> macs;
    macs.reserve(200000);
    auto last = Clock::now();
    svr.OnSearchReply = [&](const TSearchHit& h) {
        ++r.delivered;
        macs.push_back(h.Reply.MAC);
        last = Clock::now();
    };
    svr.UpdateBindings(); // bind before the clock starts, as a repeated search would be
    const auto sent = Clock::now();
    svr.Search();
    if (queued)
        std::this_thread::sleep_for(std::chrono::milliseconds(QueueWaitMs));
    const auto start = queued ? Clock::now() : sent;
    last = start;
    for (;;) {
        const std::size_t before = r.delivered;
        const auto until = Clock::now() + std::chrono::milliseconds(QuietMs);
        while (r.delivered == before && Clock::now() < until)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (r.delivered == before)
            break;
    }
#ifdef VARNIX_BENCH_CAPTURE
    if (capture) {
        capture->Finish();
        if (capture->Stats().Packets != r.delivered + 1)
            std::fprintf(stderr, "capture holds %llu packets for %zu replies\n",
                         static_cast<unsigned long long>(capture->Stats().Packets), r.delivered);
    }
#endif
    std::sort(macs.begin(), macs.end());
    const auto distinct = static_cast<std::size_t>(std::unique(macs.begin(), macs.end()) - macs.begin());
    if (distinct != r.delivered)
        std::fprintf(stderr, "duplicate replies: %zu distinct\n", distinct);
    r.ms = Ms(last - start);
    return r;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (FirstOf("VARNIX_NS_TOPOLOGY") != "segments" || std::getenv("VARNIX_SIM") == nullptr ||
        PcIp().empty()) {
        std::fprintf(stderr, "run through tests/netns-run --segments 1 with VARNIX_SIM set\n");
        return 2;
    }
    const int modules = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::string ip = PcIp();
    const char* ifaces = std::getenv("VARNIX_NS_SIM_IFACES");

    QProcess sim;
    sim.setProgram(QString::fromLocal8Bit(std::getenv("VARNIX_NS_IN_MODULES")));
    sim.setArguments({QString::fromLocal8Bit(std::getenv("VARNIX_SIM")), QStringLiteral("--bind"),
                      QStringLiteral("0.0.0.0"), QStringLiteral("--iface"),
                      QString::fromLatin1(ifaces ? ifaces : "").section(QLatin1Char(','), 0, 0),
                      QStringLiteral("--generate"), QString::number(modules), QStringLiteral("--duration"),
                      QStringLiteral("300")});
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start();
    QByteArray out;
    while (!out.contains("varnix-sim: ready")) {
        if (!sim.waitForReadyRead(10000)) {
            std::fprintf(stderr, "simulator did not start\n");
            return 2;
        }
        out += sim.readAllStandardOutput();
    }

    struct Series {
        const char* name;
        std::vector<double> ms;
        std::size_t minDelivered = SIZE_MAX;
    };
    Series bareLive{"bare recvmmsg loop, live", {}}, bareQueued{"bare recvmmsg loop, queued burst", {}},
        qtQueued{"QUdpSocket readDatagram loop, queued burst", {}}, svrLive{"TUdpSvr, live", {}},
        svrQueued{"TUdpSvr, queued burst", {}}, capLive{"TUdpSvr + capture, live", {}},
        capQueued{"TUdpSvr + capture, queued burst", {}};
    auto add = [](Series& s, const Result& r) {
        s.ms.push_back(r.ms);
        s.minDelivered = std::min(s.minDelivered, r.delivered);
    };
    // The capture's cost is the ratio of each capture run to the TUdpSvr run just before it, so
    // that a machine whose load changes during the benchmark still compares like with like.
    std::vector<double> captureLiveRatio, captureQueuedRatio;
    for (int i = 0; i < rounds; ++i) {
        add(bareLive, BareLoop(ip, false));
        add(svrLive, Endpoint(ip, false));
#ifdef VARNIX_BENCH_CAPTURE
        char file[] = "/tmp/bench-search-burst-XXXXXX";
        const int fd = ::mkstemp(file);
        ::close(fd);
        add(capLive, Endpoint(ip, false, file));
        captureLiveRatio.push_back(capLive.ms.back() / std::max(svrLive.ms.back(), 0.001));
#endif
        add(bareQueued, BareLoop(ip, true));
        add(svrQueued, Endpoint(ip, true));
#ifdef VARNIX_BENCH_CAPTURE
        add(capQueued, Endpoint(ip, true, file));
        captureQueuedRatio.push_back(capQueued.ms.back() / std::max(svrQueued.ms.back(), 0.001));
        ::unlink(file);
#endif
        add(qtQueued, QtLoop(ip));
    }
    sim.terminate();
    sim.waitForFinished(3000);

    std::printf("search burst: %d modules, %d rounds (median; fewest delivered in any round)\n", modules,
                rounds);
    for (const Series* s : {&bareLive, &svrLive, &bareQueued, &svrQueued, &qtQueued})
        std::printf("  %-44s %7.1f ms  delivered %zu\n", s->name, Median(s->ms), s->minDelivered);
    const double liveRatio = Median(svrLive.ms) / std::max(Median(bareLive.ms), 0.001);
    const double queuedRatio = Median(svrQueued.ms) / std::max(Median(bareQueued.ms), 0.001);
    std::printf("  TUdpSvr / bare loop: live %.2fx, queued %.2fx (target: none lost, within 2x)\n", liveRatio,
                queuedRatio);
    bool allDelivered = svrLive.minDelivered == static_cast<std::size_t>(modules) &&
                        svrQueued.minDelivered == static_cast<std::size_t>(modules);
#ifdef VARNIX_BENCH_CAPTURE
    for (const Series* s : {&capLive, &capQueued})
        std::printf("  %-44s %7.1f ms  delivered %zu\n", s->name, Median(s->ms), s->minDelivered);
    std::printf(
        "  capture costs (median of paired rounds): live %+.1f %%, queued %+.1f %% (target: at most 10 %%)\n",
        100.0 * (Median(captureLiveRatio) - 1.0), 100.0 * (Median(captureQueuedRatio) - 1.0));
    allDelivered = allDelivered && capLive.minDelivered == static_cast<std::size_t>(modules) &&
                   capQueued.minDelivered == static_cast<std::size_t>(modules);
#endif
    return allDelivered ? 0 : 1;
}
