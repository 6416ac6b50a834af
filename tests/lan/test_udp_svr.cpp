// TUdpSvr on loopback addresses only (127.0.0.0/8): bindings, sends, the receive dispatch into
// events, hostile input and floods.

#include "core/blocks.h"
#include "lan/local_addresses.h"
#include "lan/udp_svr.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <thread>

using namespace varnix;

namespace {

// A plain socket standing in for a module.
class Peer {
public:
    explicit Peer(const char* address = "127.0.0.1", std::uint16_t port = 0) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        inet_pton(AF_INET, address, &sa.sin_addr);
        ok_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
        socklen_t len = sizeof sa;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
        port_ = ntohs(sa.sin_port);
    }
    ~Peer() { ::close(fd_); }
    bool Ok() const { return ok_; }
    std::uint16_t Port() const { return port_; }
    void SendTo(const TIdBytes& d, std::uint16_t port, const char* address = "127.0.0.1") const {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        inet_pton(AF_INET, address, &sa.sin_addr);
        ::sendto(fd_, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    }
    // Every datagram queued now, with its source address.
    std::vector<std::pair<TIdBytes, std::string>> Drain() const {
        std::vector<std::pair<TIdBytes, std::string>> out;
        for (;;) {
            std::uint8_t buf[2048];
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 0)
                break;
            char text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
            out.emplace_back(TIdBytes(buf, buf + n), text);
        }
        return out;
    }

private:
    int fd_ = -1;
    bool ok_ = false;
    std::uint16_t port_ = 0;
};

// Runs the event loop until done() or the deadline.
template <typename F> bool PumpUntil(F done, int ms = 3000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void Pump(int ms) {
    PumpUntil([] { return false; }, ms);
}

bool PortFree(const char* address, std::uint16_t port) {
    Peer p(address, port);
    return p.Ok();
}

struct Fixture : ::testing::Test {
    Peer moduleZ2, moduleZ3;
    std::vector<std::string> addresses{"127.0.0.1"};
    std::unique_ptr<TUdpSvr> svr;
    std::vector<std::pair<std::int32_t, std::string>> statuses;

    void SetUp() override {
        ASSERT_TRUE(moduleZ2.Ok() && moduleZ3.Ok());
        TUdpSvrOptions o;
        o.DestinationAddr = "127.0.0.1";
        o.LocalAddresses = [this] { return addresses; };
        o.PortZ2 = moduleZ2.Port();
        o.PortZ3 = moduleZ3.Port();
        svr = TUdpSvr::Create(o);
        svr->OnStatus = [this](std::int32_t code, const std::string& text) {
            statuses.emplace_back(code, text);
        };
    }
};

} // namespace

TEST(LocalAddresses, LoopbackOnlyWhenAsked) {
    std::vector<std::string> with{"stale"}, without{"stale"};
    ASSERT_GT(GetLocalIPList(with, true), 0);
    GetLocalIPList(without, false);
    EXPECT_NE(std::find(with.begin(), with.end(), "127.0.0.1"), with.end());
    EXPECT_EQ(std::find(without.begin(), without.end(), "127.0.0.1"), without.end());
    EXPECT_EQ(std::find(without.begin(), without.end(), "stale"), without.end());
    EXPECT_EQ(with.size(), without.size() + 1);
}

TEST_F(Fixture, BindingsAreKeptForAnUnchangedListAndRebuiltForAChangedOne) {
    EXPECT_EQ(svr->BindingCount(), 0); // no bindings before the first search
    ASSERT_EQ(svr->Search(), 1);
    ASSERT_EQ(svr->BindingCount(), 1);
    const std::uint16_t first = svr->BindingPort(0);
    EXPECT_NE(first, 0);
    // The kernel doubles what we ask for, capped by net.core.rmem_max unless we may force it.
    long rmemMax = 0;
    if (FILE* f = std::fopen("/proc/sys/net/core/rmem_max", "r")) {
        if (std::fscanf(f, "%ld", &rmemMax) != 1)
            rmemMax = 0;
        std::fclose(f);
    }
    EXPECT_GE(svr->BindingReceiveBuffer(0), std::min<long>(4L * 1024 * 1024, 2 * rmemMax));

    ASSERT_EQ(svr->Search(), 1);
    EXPECT_EQ(svr->BindingPort(0), first);
    EXPECT_FALSE(PortFree("127.0.0.1", first)); // the very same socket still holds it

    addresses = {"127.0.0.1", "127.0.0.2"};
    ASSERT_EQ(svr->Search(), 1);
    ASSERT_EQ(svr->BindingCount(), 2);
    EXPECT_EQ(svr->BindingAddress(1), "127.0.0.2");
    if (svr->BindingPort(0) != first) {
        EXPECT_TRUE(PortFree("127.0.0.1", first)); // the old socket is gone
    }

    // The same addresses in another order differ position by position.
    const std::uint16_t second = svr->BindingPort(0);
    addresses = {"127.0.0.2", "127.0.0.1"};
    svr->UpdateBindings();
    EXPECT_EQ(svr->BindingAddress(0), "127.0.0.2");
    if (svr->BindingPort(1) != second) {
        EXPECT_TRUE(PortFree("127.0.0.1", second));
    }

    // An empty list changes nothing.
    addresses = {};
    svr->UpdateBindings();
    EXPECT_EQ(svr->BindingCount(), 2);

    // To a unicast destination (here 127.0.0.1) every binding's datagram takes the one route
    // there, so the search goes out once per search, from the binding the kernel sends from
    // (127.0.0.1, wherever it stands in the list): sent from both, each module would answer
    // twice and be listed twice. Limited broadcasts from every binding: tests/lan/test_lan_e2e.
    ASSERT_EQ(svr->Search(), 1);
    const auto got = moduleZ2.Drain();
    ASSERT_EQ(got.size(), 4u);
    for (const auto& [d, from] : got) {
        EXPECT_EQ(d, (TIdBytes{0xFF, 0x01, 0x01, 0x02}));
        EXPECT_EQ(from, "127.0.0.1");
    }
    int sent = 0;
    for (const auto& s : statuses)
        sent += s.first == stSearchSent;
    EXPECT_EQ(sent, 4);
}

TEST_F(Fixture, AnAddressThatCannotBeBoundReportsPortInUse) {
    addresses = {"127.0.0.1", "192.0.2.77", "127.0.0.2"}; // 192.0.2.77 is not an address of this host
    svr->UpdateBindings();
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_EQ(statuses[0], (std::pair<std::int32_t, std::string>{stPortInUse, "port is used"}));
    EXPECT_EQ(svr->BindingCount(), 1); // the bindings stay as far as they got
}

TEST_F(Fixture, SendsGoToTheirPortsAndBadTargetsSendNothing) {
    svr->Search();
    moduleZ2.Drain();
    std::vector<std::tuple<TIdBytes, std::string, std::string, std::uint16_t, std::uint16_t>> sends;
    svr->OnSend = [&](const TIdBytes& d, const std::string& dest, const std::string& local, std::uint16_t dp,
                      std::uint16_t lp) { sends.emplace_back(d, dest, local, dp, lp); };

    const TIdBytes read = BuildAddressedCommand(CmdRead, "001A2B3C4D5E", "vesta", "vesta");
    const TIdBytes base =
        BuildAddressedCommand(CmdWriteBase, "001A2B3C4D5E", "vesta", "vesta", TIdBytes(67, 0x11));
    svr->SendDatagram(0, read, moduleZ2.Port());
    svr->SendDatagram(0, base, moduleZ3.Port());
    // Nothing at all from a binding that does not exist.
    svr->SendDatagram(1, read, moduleZ2.Port());
    svr->SendDatagram(-1, read, moduleZ2.Port());

    ASSERT_EQ(sends.size(), 2u);
    EXPECT_EQ(std::get<0>(sends[0]), BuildAddressedCommand(CmdRead, "001A2B3C4D5E", "vesta", "vesta"));
    EXPECT_EQ(std::get<1>(sends[0]), "127.0.0.1");
    EXPECT_EQ(std::get<2>(sends[0]), "127.0.0.1");
    EXPECT_EQ(std::get<3>(sends[0]), moduleZ2.Port());
    EXPECT_EQ(std::get<4>(sends[0]), svr->BindingPort(0));
    EXPECT_EQ(std::get<3>(sends[1]), moduleZ3.Port());
    EXPECT_EQ(std::get<0>(sends[1]).size(), 89u);

    Pump(50);
    const auto z2 = moduleZ2.Drain();
    const auto z3 = moduleZ3.Drain();
    ASSERT_EQ(z2.size(), 1u);
    EXPECT_EQ(z2[0].first, std::get<0>(sends[0]));
    ASSERT_EQ(z3.size(), 1u);
    EXPECT_EQ(z3[0].first, std::get<0>(sends[1]));
    EXPECT_TRUE(statuses.size() == 1 && statuses[0].first == stSearchSent);
}

TEST_F(Fixture, EveryDatagramIsRaisedAndSearchRepliesAndStatusesHaveEvents) {
    svr->Search();
    const std::uint16_t port = svr->BindingPort(0);

    TIdBytes params(130, 0);
    params[3] = 0x80;                                                 // static IP
    params[9] = 50, params[10] = 0, params[11] = 77, params[12] = 10; // 10.77.0.50 reversed
    const std::uint8_t mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    std::copy(std::begin(mac), std::end(mac), params.begin() + 53);
    params[117] = 0x94;
    TIdBytes cloud(50, 0);
    cloud[2] = 'D';
    TIdBytes heart(85, 0);
    heart[0] = 0x43;
    TIdBytes httpd(302, 0);
    httpd[0] = 3, httpd[1] = '/', httpd[2] = 'a', httpd[3] = 'b';
    httpd[101] = 255; // a length beyond the field is clamped to 200
    const TIdBytes search = [] {
        TIdBytes r(36, 0);
        r[0] = 0xFF, r[1] = 0x24, r[2] = 0x01, r[15] = 0xB1, r[16] = 0x0F;
        r[19] = 'M';
        return r;
    }();

    std::vector<std::string> order;
    std::vector<std::tuple<std::string, std::string, std::uint16_t, std::uint16_t>> receives;
    svr->OnReceive = [&](const TIdBytes& d, const std::string& peer, const std::string& local,
                         std::uint16_t pp, std::uint16_t lp) {
        order.push_back("receive " + std::to_string(d.size()));
        receives.emplace_back(peer, local, pp, lp);
    };
    svr->OnSearchReply = [&](const TSearchHit& h) {
        order.push_back("search " + h.Reply.Name + " " + h.Reply.Firmware + " " +
                        std::to_string(h.Reply.Family) + " " + std::to_string(h.Binding));
    };

    for (const TIdBytes& d : {params, cloud, heart, httpd, TIdBytes{0x12, 0x34, 0x00, 0x0A}, search,
                              TIdBytes{0xFF, 0x01, 0x05, 0x4B}, TIdBytes{0x45, 0x3A}, TIdBytes(40, 0)})
        moduleZ2.SendTo(d, port);
    ASSERT_TRUE(PumpUntil([&] { return receives.size() == 9; }));

    // Parameter blocks are a lane's business (whose blocks they are): here only raised as traffic.
    const std::vector<std::string> expected{"receive 130", "receive 50", "receive 85",        "receive 302",
                                            "receive 4",   "receive 36", "search M 4017 2 0", "receive 4",
                                            "receive 2",   "receive 40"};
    EXPECT_EQ(order, expected);
    EXPECT_EQ(receives[0], (std::tuple<std::string, std::string, std::uint16_t, std::uint16_t>{
                               "127.0.0.1", "127.0.0.1", moduleZ2.Port(), port}));
    const std::vector<std::pair<std::int32_t, std::string>> st{
        {stSearchSent, ""}, {stAck, "ACK"}, {stCheckError, "3A"}};
    EXPECT_EQ(statuses, st);
}

TEST_F(Fixture, EveryLengthFromZeroTo1500WithRandomContent) {
    svr->Search();
    statuses.clear();
    const std::uint16_t port = svr->BindingPort(0);
    std::size_t received = 0;
    std::map<std::size_t, int> lengths;
    svr->OnReceive = [&](const TIdBytes& d, const std::string&, const std::string&, std::uint16_t,
                         std::uint16_t) {
        ++received;
        ++lengths[d.size()];
    };
    std::mt19937 rng(20240531);
    for (std::size_t len = 0; len <= 1500; ++len) {
        TIdBytes d(len);
        for (auto& b : d)
            b = static_cast<std::uint8_t>(rng());
        if (len == 4 && (rng() & 1))
            d[0] = 0xFF, d[1] = 0x01; // some acknowledgement-like ones
        if (len == 36)
            d[0] = 0xFF, d[1] = 0x24, d[2] = 0x01; // and a search reply
        moduleZ2.SendTo(d, port);
        if (len % 100 == 0)
            Pump(5);
    }
    ASSERT_TRUE(PumpUntil([&] { return received == 1501; }, 10000)) << received;
    const std::set<std::size_t> known{1, 2, 4, 36, 40, 50, 64, 85, 130, 193, 256, 302};
    std::size_t other = 0;
    for (const auto& [code, text] : statuses) {
        if (code != stReceiveOther)
            continue;
        ++other;
        EXPECT_EQ(known.count(std::stoul(text)), 0u) << text;
    }
    EXPECT_EQ(other, 1501 - known.size());
    for (std::size_t len = 0; len <= 1500; ++len)
        EXPECT_EQ(lengths[len], 1) << len;
}

TEST_F(Fixture, AHandlerMayRebuildTheBindingsMidBurst) {
    svr->Search();
    const std::uint16_t port = svr->BindingPort(0);
    int receives = 0;
    svr->OnReceive = [&](const TIdBytes&, const std::string&, const std::string&, std::uint16_t,
                         std::uint16_t) {
        if (++receives == 1) {
            addresses = {"127.0.0.2"};
            svr->Search(); // closes the socket that is being read
        }
    };
    for (int i = 0; i < 50; ++i)
        moduleZ2.SendTo(TIdBytes(37, 0), port);
    Pump(200);
    EXPECT_EQ(receives, 1); // the rest of the old socket's queue went with it
    EXPECT_EQ(svr->BindingAddress(0), "127.0.0.2");
    moduleZ2.SendTo(TIdBytes(37, 0), svr->BindingPort(0), "127.0.0.2");
    EXPECT_TRUE(PumpUntil([&] { return receives == 2; }));
}

TEST_F(Fixture, AFloodIsHandledInBoundedTurnsWithoutLosingADatagram) {
    svr->Search();
    const std::uint16_t port = svr->BindingPort(0);
    int receives = 0;
    int ticksDuringDrain = 0;
    svr->OnReceive = [&](const TIdBytes&, const std::string&, const std::string&, std::uint16_t,
                         std::uint16_t) { ++receives; };
    QTimer ticker; // stands for painting and time-outs: it must keep running while the queue drains
    QObject::connect(&ticker, &QTimer::timeout, [&] { ticksDuringDrain += receives > 0 && receives < 3000; });
    ticker.start(0);

    // By batches: 3000 queued datagrams, at most two batches (64 datagrams) per turn.
    svr->SetTurnBudget(2, 1000000);
    for (int i = 0; i < 3000; ++i)
        moduleZ2.SendTo(TIdBytes(37, static_cast<std::uint8_t>(i)), port);
    ASSERT_TRUE(PumpUntil([&] { return receives == 3000; }, 10000)) << receives;
    EXPECT_GE(svr->YieldedTurns(), 3000u / 64 - 1);
    EXPECT_GE(ticksDuringDrain, 20);

    // By time: a slow handler (1 ms a datagram) gets a 3 ms turn, so other work runs in between.
    svr->SetTurnBudget(1000, 3000);
    receives = 0;
    qint64 longestGap = 0;
    QElapsedTimer sinceTick;
    sinceTick.start();
    QObject::disconnect(&ticker, nullptr, nullptr, nullptr);
    QObject::connect(&ticker, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    svr->OnReceive = [&](const TIdBytes&, const std::string&, const std::string&, std::uint16_t,
                         std::uint16_t) {
        ++receives;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    for (int i = 0; i < 100; ++i)
        moduleZ2.SendTo(TIdBytes(37, 0), port);
    sinceTick.restart();
    ASSERT_TRUE(PumpUntil([&] { return receives == 100; }, 10000)) << receives;
    EXPECT_LT(longestGap, 60); // a few ms per turn (loosely: a busy machine); the whole queue takes 100 ms
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
