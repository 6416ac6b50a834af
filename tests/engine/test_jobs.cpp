// The engine's jobs on a virtual clock against modules played by plain sockets on 127.0.0.1: a
// save's steps and pauses, acknowledgements attributed by lane and order whatever their byte 2,
// and replies that count only from the module asked.
#include "core/blocks.h"
#include "core/convert.h"
#include "engine/find_job.h"
#include "engine/lane_pool.h"
#include "engine/parallel_runner.h"
#include "engine/read_job.h"
#include "engine/save_job.h"
#include "lan/lan_protocol.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>

using namespace varnix;

namespace {

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "test_jobs";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Handles what the sockets delivered, for up to `ms` of real time or until `done`.
bool Pump(const std::function<bool()>& done, int ms = 2000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

// A UDP socket on 127.0.0.1 playing a module (or an intruder): it receives what the lane sends
// and answers to where a datagram came from.
class TPeer {
public:
    TPeer() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~TPeer() { ::close(fd_); }
    std::uint16_t Port() const { return port_; }
    // The next datagram (waits up to ms); remembers its sender for Reply.
    std::optional<TIdBytes> Receive(int ms = 1000) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0)
            return std::nullopt;
        TIdBytes buf(2048);
        socklen_t len = sizeof from_;
        const ssize_t n =
            ::recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from_), &len);
        buf.resize(static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        return buf;
    }
    void Reply(const TIdBytes& d) const { SendTo(d, from_); }
    void SendTo(const TIdBytes& d, const sockaddr_in& to) const {
        ::sendto(fd_, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    const sockaddr_in& LastSender() const { return from_; }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
    sockaddr_in from_{};
};

constexpr const char* kMac = "00 1A 2B 3C 4D 5E";

TIdBytes Ack(std::uint8_t byte2, char status) {
    return {0xFF, 0x01, byte2, static_cast<std::uint8_t>(status)};
}

TIdBytes ParamReply(const std::string& mac, const std::string& name) {
    TIdBytes r(ParamReplySize, 0x5A); // open bytes the module fills as it likes
    TBaseParam b;
    b.AddrType = 1;
    b.StaticIP = "10.0.0.5";
    b.GatewayIP = b.Dns = "10.0.0.1";
    b.SubnetMask = "255.255.255.0";
    b.ModName = name;
    b.UserName = b.Password = "vesta";
    b.UserMAC = mac;
    EncodeBaseBlock(FamilyZ2, b, std::span<std::uint8_t, BaseBlockSize>(r.data(), BaseBlockSize), 0);
    return r;
}

struct TFixture {
    TVirtualClock Clock;
    TPeer Module; // the module served: its search reply came from here
    TLanePool Pool;
    TFoundModule Found;
    explicit TFixture(std::int32_t family = FamilyZ2)
        : Pool(
              [this] {
                  TUdpSvrOptions o;
                  o.DestinationAddr = "127.0.0.1";
                  o.LocalAddresses = [] { return std::vector<std::string>{"127.0.0.1"}; };
                  o.PortZ2 = o.PortZ3 = Module.Port();
                  return o;
              }(),
              Clock) {
        App();
        Found.Mac = kMac;
        Found.Family = family;
        Found.Firmware = 4017;
        Found.Local = "127.0.0.1";
        Found.Binding = 0;
        Found.PeerAddr = "127.0.0.1";
        Found.PeerPort = Module.Port();
    }
};

std::vector<TSaveStep> Z2Steps() {
    std::vector<TSaveStep> steps;
    for (const std::uint8_t code : {CmdWriteBase, CmdWritePort, CmdWriteHeart, CmdWriteModbus, CmdRestart})
        steps.push_back(
            {code, PortZ2, TIdBytes{code}, code == CmdWriteModbus || code == CmdRestart ? 0 : SavePauseMs});
    return steps;
}

} // namespace

// The steps leave in order with their pauses measured in virtual time; the acknowledgements carry
// a byte 2 that says nothing (0, or another code) and are given to the sends in order; one from
// another host, even with status 'K', is nobody's; the job ends once every send is acknowledged.
TEST(SaveJob, StepsInOrderAcksByOrderNeverByByte2) {
    TFixture f;
    TPeer intruder;
    TLane& lane = f.Pool.Acquire();
    TSaveJob job(lane, f.Clock, f.Found, TLogin{"vesta", "vesta"}, Z2Steps(), 1000);
    std::vector<std::pair<int, std::int64_t>> sent;
    std::vector<std::pair<int, char>> acks;
    std::optional<TSaveReport> report;
    job.OnSent = [&](int step) { sent.emplace_back(step, f.Clock.NowMs()); };
    job.OnAck = [&](int step, const TAck& a) { acks.emplace_back(step, a.Result); };
    job.OnDone = [&](const TSaveReport& r) { report = r; };
    job.Start();

    std::vector<std::uint8_t> codes;
    const std::uint8_t byte2[] = {0x00, 0x06, 0xFD, 0x05, 0x02};
    for (int i = 0; i < 5; ++i) {
        const auto d = f.Module.Receive();
        ASSERT_TRUE(d) << i;
        codes.push_back((*d)[2]);
        if (i == 1) // a forged acknowledgement from another host to the lane's port
            intruder.SendTo(Ack(0x06, 'K'), f.Module.LastSender());
        f.Module.Reply(Ack(byte2[i], i == 2 ? 'E' : 'K'));
        ASSERT_TRUE(Pump([&] { return static_cast<int>(acks.size()) == i + 1; })) << i;
        f.Clock.Advance(i < 3 ? SavePauseMs : 0);
    }
    ASSERT_TRUE(report);
    EXPECT_EQ(codes, (std::vector<std::uint8_t>{0x05, 0x06, 0x21, 0x24, 0x02}));
    EXPECT_EQ(acks, (std::vector<std::pair<int, char>>{{0, 'K'}, {1, 'K'}, {2, 'E'}, {3, 'K'}, {4, 'K'}}));
    ASSERT_EQ(sent.size(), 5u);
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(sent[static_cast<std::size_t>(i)].second - sent[static_cast<std::size_t>(i) - 1].second,
                  SavePauseMs);
    EXPECT_EQ(sent[4].second, sent[3].second); // no pause after the Modbus block
    EXPECT_EQ(report->Outcome(), TOutcome::ModuleError);
    EXPECT_EQ(report->Words(),
              (QStringList{QStringLiteral("0x05 K"), QStringLiteral("0x06 K"), QStringLiteral("0x21 E"),
                           QStringLiteral("0x24 K"), QStringLiteral("0x02 K")}));
    EXPECT_EQ(lane.ForeignCount(), 1);
}

// A lost acknowledgement is missing from its own step, not from the next one, once the next one's
// arrives; the grace time ends the job with the outcome NoAnswer.
TEST(SaveJob, AMissingAcknowledgementEndsAfterTheGraceTime) {
    TFixture f;
    TLane& lane = f.Pool.Acquire();
    std::vector<TSaveStep> steps = {{CmdWriteBase, PortZ2, {1}, SavePauseMs}, {CmdRestart, PortZ2, {}, 0}};
    TSaveJob job(lane, f.Clock, f.Found, TLogin{"vesta", "vesta"}, steps, 1000);
    std::optional<TSaveReport> report;
    int acks = 0;
    job.OnAck = [&](int, const TAck&) { ++acks; };
    job.OnDone = [&](const TSaveReport& r) { report = r; };
    job.Start();
    ASSERT_TRUE(f.Module.Receive()); // the base block: its acknowledgement is lost
    f.Clock.Advance(SavePauseMs);
    ASSERT_TRUE(f.Module.Receive());
    f.Module.Reply(Ack(0x02, 'K'));
    ASSERT_TRUE(Pump([&] { return acks == 1; }));
    EXPECT_FALSE(report);
    f.Clock.Advance(999);
    EXPECT_FALSE(report);
    f.Clock.Advance(1);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->Acknowledged(), 1);
    EXPECT_EQ(report->Outcome(), TOutcome::NoAnswer);
}

// A read takes the module's blocks into a store of its own and ends after the quiet time; a
// 130-byte reply of another MAC, and anything from another host (a forged 130-byte reply with the
// module's own MAC included), changes nothing.
TEST(ReadJob, BlocksOnlyFromTheModuleAskedEndAfterQuiet) {
    TFixture f;
    TPeer intruder;
    TLane& lane = f.Pool.Acquire();
    TReadJob job(lane, f.Clock, TReadRequest{f.Found, TLogin{"vesta", "vesta"}, 2000, 300});
    std::optional<TReadResult> result;
    int progress = 0;
    job.OnProgress = [&] { ++progress; };
    job.OnDone = [&](TReadResult r) { result = std::move(r); };
    job.Start();
    const auto read = f.Module.Receive();
    ASSERT_TRUE(read);
    EXPECT_EQ((*read)[2], CmdRead);
    intruder.SendTo(ParamReply(kMac, "Forged"), f.Module.LastSender());
    intruder.SendTo(TIdBytes(HeartBlockSize, 0xEE), f.Module.LastSender());
    f.Module.Reply(ParamReply("00 1A 2B 3C 4D 99", "Other"));
    f.Module.Reply(ParamReply(kMac, "Line-1"));
    TIdBytes cloud(CloudBlockSize, 0x31);
    f.Module.Reply(cloud);
    ASSERT_TRUE(Pump([&] { return progress == 2 && lane.ForeignCount() == 2; }));
    f.Clock.Advance(299);
    EXPECT_FALSE(result);
    f.Clock.Advance(1);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->Status, TOutcome::Ok);
    EXPECT_EQ(result->Settings.Base.ModName, "Line-1");
    EXPECT_TRUE(result->Got.Cloud);
    EXPECT_FALSE(result->Got.Heart); // the intruder's heartbeat block did not count
    EXPECT_EQ(result->Store.Heart, (std::array<std::uint8_t, HeartBlockSize>{}));
    EXPECT_EQ(result->ForeignReplies, 1);
    EXPECT_EQ(result->ForeignDatagrams, 2);
}

// Two reads side by side, each on a lane of its own: module A answers with every block, module B's
// heartbeat reply is lost. B's read holds no heartbeat block and says so; nothing of A's reaches it.
TEST(ReadJob, EachReadHasItsOwnStore) {
    TFixture f;
    TPeer other;
    TFoundModule b = f.Found;
    b.Mac = "00 1A 2B 3C 4D 77";
    b.PeerPort = other.Port();
    std::map<std::string, TReadResult> results;
    std::vector<std::unique_ptr<TReadJob>> jobs;
    TParallelRunner runner(f.Pool, f.Clock, 2);
    for (const TFoundModule& m : {f.Found, b})
        runner.Add([&, m](TLane& lane, std::function<void()> done) {
            jobs.push_back(
                std::make_unique<TReadJob>(lane, f.Clock, TReadRequest{m, {"vesta", "vesta"}, 2000, 300}));
            jobs.back()->OnDone = [&results, m, done](TReadResult r) {
                results[m.Mac] = std::move(r);
                done();
            };
            jobs.back()->Start();
        });
    runner.Start();
    f.Clock.Advance(0);
    // Both reads reach the fixture's socket (the modules' port); each lane is told apart by the
    // MAC its read names. B's answers come from its own socket, where its search reply came from.
    std::map<std::string, sockaddr_in> laneOf;
    for (int i = 0; i < 2; ++i) {
        const auto d = f.Module.Receive();
        ASSERT_TRUE(d && d->size() >= 9);
        laneOf[MacKey(BytesToHexDump(std::span<const std::uint8_t>(d->data() + 3, 6)))] =
            f.Module.LastSender();
    }
    f.Module.SendTo(ParamReply(kMac, "A"), laneOf[MacKey(kMac)]);
    f.Module.SendTo(TIdBytes(HeartBlockSize, 0xAA), laneOf[MacKey(kMac)]);
    other.SendTo(ParamReply(b.Mac, "B"), laneOf[MacKey(b.Mac)]);
    ASSERT_TRUE(Pump([&] {
        int got = 0;
        for (const auto& j : jobs)
            got += j->Partial().Got.Params + j->Partial().Got.Heart;
        return got == 3;
    }));
    f.Clock.Advance(300);
    ASSERT_TRUE(runner.Done());
    EXPECT_TRUE(results[kMac].Got.Heart);
    EXPECT_FALSE(results[b.Mac].Got.Heart);
    EXPECT_EQ(results[b.Mac].Store.Heart, (std::array<std::uint8_t, HeartBlockSize>{}));
    EXPECT_EQ(results[b.Mac].Settings.Base.ModName, "B");
}

// The module refuses the log-in: the read ends at once with the password outcome.
TEST(ReadJob, APasswordRefusalEndsTheRead) {
    TFixture f;
    TLane& lane = f.Pool.Acquire();
    TReadJob job(lane, f.Clock, TReadRequest{f.Found, TLogin{"x", "y"}, 2000, 300});
    std::optional<TReadResult> result;
    job.OnDone = [&](TReadResult r) { result = std::move(r); };
    job.Start();
    ASSERT_TRUE(f.Module.Receive());
    f.Module.Reply(Ack(0x00, 'P'));
    ASSERT_TRUE(Pump([&] { return job.Partial().Status == TOutcome::Password; }));
    f.Clock.Advance(0);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->Status, TOutcome::Password);
}

// A search on a lane collects every reply until each MAC asked for answered.
TEST(FindJob, EndsWhenEveryMacAnswered) {
    TFixture f;
    TLane& lane = f.Pool.Acquire();
    TFindJob job(lane, f.Clock, TFindRequest{{"001A2B3C4D5E"}, 5000, 500});
    std::optional<std::vector<TFoundModule>> found;
    job.OnDone = [&](std::vector<TFoundModule> m) { found = std::move(m); };
    job.Start();
    const auto search = f.Module.Receive();
    ASSERT_TRUE(search);
    EXPECT_EQ(*search, BuildSearchRequest());
    TIdBytes reply(SearchReplySize, 0);
    const TIdBytes head = {0xFF, 0x24, 0x01, 0x77, 0x66, 10,   0,    0,   5,
                           0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0xB1, 0x0F};
    std::copy(head.begin(), head.end(), reply.begin());
    f.Module.Reply(reply);
    ASSERT_TRUE(Pump([&] { return found.has_value(); }));
    ASSERT_EQ(found->size(), 1u);
    EXPECT_EQ((*found)[0].Ip, "10.0.0.5");
    EXPECT_EQ((*found)[0].PeerAddr, "127.0.0.1");
    EXPECT_EQ((*found)[0].PeerPort, f.Module.Port());
    EXPECT_EQ((*found)[0].Firmware, 4017);
}
