// The endpoint against varnix-sim on a segment like a real one, made by tests/netns-run
// --segments 2: the PC's adapters 10.9.0.1 and 10.9.1.1, the modules in a namespace of their own
// behind them, in subnets foreign to the PC (192.168.0.x, 192.168.1.x), without a route back, so
// every reply comes by broadcast. With --bridge both adapters reach one segment. A few cases run
// again on --veth 2 with the modules in the PC's subnets answering unicast. Refuses to run
// anywhere else, so no broadcast can reach a real network.

#include "core/blocks.h"
#include "engine/event_wait.h"
#include "engine/lan_session.h"
#include "engine/read_job.h"
#include "engine/save_job.h"
#include "lan/local_addresses.h"
#include "lan/udp_svr.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

using namespace varnix;

namespace {

std::vector<std::string> Split(const std::string& s) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= s.size()) {
        const std::size_t comma = s.find(',', start);
        out.push_back(s.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return out;
}

std::vector<std::string> PcIps() {
    const char* v = std::getenv("VARNIX_NS_PC_IPS");
    return v ? Split(v) : std::vector<std::string>{};
}

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

TIdBytes Hex(const QJsonValue& v) {
    const QByteArray b = QByteArray::fromHex(v.toString().toLatin1());
    return TIdBytes(b.begin(), b.end());
}

QJsonObject Module(const char* family, const char* mac, const char* ip, const char* name, int firmware) {
    return QJsonObject{{QStringLiteral("family"), QString::fromLatin1(family)},
                       {QStringLiteral("mac"), QString::fromLatin1(mac)},
                       {QStringLiteral("ip"), QString::fromLatin1(ip)},
                       {QStringLiteral("name"), QString::fromLatin1(name)},
                       {QStringLiteral("firmware"), firmware}};
}

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

// Runs a command in this namespace and waits for it; true when it exited 0.
bool RunHere(const QString& program, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(program, args);
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// One simulator run with its own config, state file and journal, in the modules' namespace,
// serving `ifaces` (every module-side interface by default).
class Sim {
public:
    explicit Sim(const QJsonArray& modules, std::string ifaces = Env("VARNIX_NS_SIM_IFACES")) {
        const QString config = dir_.filePath(QStringLiteral("config.json"));
        QFile f(config);
        if (!f.open(QIODevice::WriteOnly))
            return;
        f.write(QJsonDocument(QJsonObject{{QStringLiteral("modules"), modules}}).toJson());
        f.close();
        // The wrapper exec's the simulator in the modules' namespace, so terminate() reaches it.
        proc_.setProgram(QString::fromStdString(Env("VARNIX_NS_IN_MODULES")));
        proc_.setArguments(
            {QString::fromStdString(Env("VARNIX_SIM")), QStringLiteral("--bind"), QStringLiteral("0.0.0.0"),
             QStringLiteral("--iface"), QString::fromStdString(ifaces), QStringLiteral("--config"), config,
             QStringLiteral("--state"), dir_.filePath(QStringLiteral("state.json")),
             QStringLiteral("--journal"), dir_.filePath(QStringLiteral("journal.txt")),
             QStringLiteral("--restart-ms"), QStringLiteral("300"), QStringLiteral("--duration"),
             QStringLiteral("120"), QStringLiteral("--reply"),
             Env("VARNIX_E2E_REPLY") == "unicast" ? QStringLiteral("unicast") : QStringLiteral("broadcast")});
        proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proc_.start();
        QByteArray out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!out.contains("varnix-sim: ready") && std::chrono::steady_clock::now() < end) {
            if (!proc_.waitForReadyRead(200) && proc_.state() == QProcess::NotRunning)
                break;
            out += proc_.readAllStandardOutput();
        }
        ready_ = out.contains("varnix-sim: ready");
    }
    ~Sim() {
        proc_.terminate();
        if (!proc_.waitForFinished(3000))
            proc_.kill();
    }
    bool Ready() const { return ready_; }
    std::vector<QJsonObject> Journal() const {
        std::vector<QJsonObject> lines;
        QFile f(dir_.filePath(QStringLiteral("journal.txt")));
        if (!f.open(QIODevice::ReadOnly))
            return lines;
        for (const QByteArray& line : f.readAll().split('\n'))
            if (!line.trimmed().isEmpty())
                lines.push_back(QJsonDocument::fromJson(line).object());
        return lines;
    }
    // The state entry of the module with this identity MAC.
    QJsonObject State(const char* mac) const {
        QFile f(dir_.filePath(QStringLiteral("state.json")));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        for (const QJsonValue& m :
             QJsonDocument::fromJson(f.readAll()).object()[QStringLiteral("modules")].toArray())
            if (m.toObject()[QStringLiteral("mac")].toString() == QString::fromLatin1(mac))
                return m.toObject();
        return {};
    }

private:
    QTemporaryDir dir_;
    QProcess proc_;
    bool ready_ = false;
};

constexpr const char* MacZ2 = "00 1A 2B 3C 4D 5E";
constexpr const char* MacZ3 = "00 1A 2B 3C 4D 60";
constexpr const char* MacOld = "00 1A 2B 3C 4D 61";
constexpr const char* Mac4016 = "00 1A 2B 3C 4D 62";

QJsonArray Modules() {
    QJsonObject z3 = Module("z3", MacZ3, "192.168.0.60", "Z3-A", 4017);
    z3[QStringLiteral("replies")] = QJsonArray{QStringLiteral("130"), QStringLiteral("37")};
    return QJsonArray{Module("z2", MacZ2, "192.168.0.50", "Line-1", 4017),
                      z3,
                      Module("z2", MacOld, "192.168.0.61", "Old-1", 2001),
                      Module("z2", Mac4016, "192.168.0.62", "Line-4016", 4016),
                      Module("other193", "00 1A 2B 3C 4D 63", "192.168.0.63", "", 4017),
                      Module("other256", "00 1A 2B 3C 4D 64", "192.168.0.64", "", 4017)};
}

// The journal lines from `from` on that concern the module with this MAC, without datagrams the
// simulator ignored (on --veth, the looped-back copies of our own broadcasts).
std::vector<QJsonObject> Handled(const std::vector<QJsonObject>& journal, std::size_t from, const char* mac) {
    std::vector<QJsonObject> out;
    for (std::size_t i = from; i < journal.size(); ++i) {
        if (journal[i][QStringLiteral("result")].toString() == QStringLiteral("ignored"))
            continue;
        if (journal[i][QStringLiteral("module")].toString() != QString::fromLatin1(mac))
            continue;
        out.push_back(journal[i]);
    }
    return out;
}

struct Received {
    std::vector<std::pair<std::int32_t, std::string>> statuses;
    std::map<std::string, std::set<std::pair<std::int32_t, std::int32_t>>>
        found; // MAC -> {(family, binding)}
    std::map<std::string, std::string> names;
    int receives = 0;
    int Count(std::int32_t code) const {
        int n = 0;
        for (const auto& s : statuses)
            n += s.first == code;
        return n;
    }
};

class E2E : public ::testing::Test {
protected:
    void SetUp() override {
        const bool sameSubnet = Env("VARNIX_NS_TOPOLOGY") == "veth" && Env("VARNIX_E2E_REPLY") == "unicast";
        if ((Env("VARNIX_NS_TOPOLOGY") != "segments" && !sameSubnet) || Env("VARNIX_SIM").empty() ||
            PcIps().size() < 2)
            GTEST_FAIL() << "run through tests/netns-run --segments 2 with VARNIX_SIM set";
        addresses = PcIps();
        TUdpSvrOptions o;
        o.LocalAddresses = [this] { return addresses; };
        svr = TUdpSvr::Create(o);
        Wire();
    }

    void Wire() {
        svr->OnStatus = [this](std::int32_t code, const std::string& text) {
            got.statuses.emplace_back(code, text);
        };
        svr->OnReceive = [this](const TIdBytes&, const std::string&, const std::string&, std::uint16_t,
                                std::uint16_t) { ++got.receives; };
        svr->OnSearchReply = [this](const TSearchHit& h) {
            got.found[h.Reply.MAC].insert({h.Reply.Family, h.Binding});
            got.names[h.Reply.MAC] = h.Reply.Name;
        };
    }

    // Search and wait until `count` replies (of any kind) have come in.
    void SearchAndWait(int count) {
        got = {};
        ASSERT_EQ(svr->Search(), 1);
        PumpUntil([&] { return got.receives >= count; });
        Pump(100); // nothing more should come
    }

    std::vector<std::string> addresses;
    std::unique_ptr<TUdpSvr> svr;
    Received got;
};

} // namespace

TEST_F(E2E, LocalAddressesInTheNamespace) {
    std::vector<std::string> list;
    ASSERT_EQ(GetLocalIPList(list), static_cast<int>(PcIps().size()));
    for (const std::string& ip : PcIps())
        EXPECT_NE(std::find(list.begin(), list.end(), ip), list.end()) << ip;
    EXPECT_EQ(std::find(list.begin(), list.end(), "127.0.0.1"), list.end());
}

TEST_F(E2E, SearchFindsEveryFamilyOnBothAdapters) {
    Sim sim(Modules());
    ASSERT_TRUE(sim.Ready());
    SearchAndWait(2 * 6);
    ASSERT_EQ(svr->BindingCount(), 2);
    using Rows = std::set<std::pair<std::int32_t, std::int32_t>>;
    EXPECT_EQ(got.found[MacZ2], (Rows{{FamilyZ2, 0}, {FamilyZ2, 1}}));
    EXPECT_EQ(got.found[MacZ3], (Rows{{FamilyZ3, 0}, {FamilyZ3, 1}}));
    EXPECT_EQ(got.found[MacOld], (Rows{{FamilyUnknown, 0}, {FamilyUnknown, 1}}));
    EXPECT_EQ(got.found[Mac4016], (Rows{{FamilyZ2, 0}, {FamilyZ2, 1}}));
    EXPECT_EQ(got.found.size(), 4u);
    EXPECT_EQ(got.names[MacZ2], "Line-1");
    EXPECT_EQ(got.Count(stVerIncompatible), 4); // two other-series modules, two adapters
    EXPECT_EQ(got.Count(stSearchSent), 1);
    EXPECT_EQ(got.receives, 12);

    // An unchanged address list keeps the sockets and their ports; a changed one rebuilds them.
    const std::uint16_t p0 = svr->BindingPort(0), p1 = svr->BindingPort(1);
    SearchAndWait(12);
    EXPECT_EQ(svr->BindingPort(0), p0);
    EXPECT_EQ(svr->BindingPort(1), p1);
    EXPECT_EQ(got.found[MacZ2].size(), 2u);

    addresses = {PcIps()[1]};
    SearchAndWait(6);
    ASSERT_EQ(svr->BindingCount(), 1);
    EXPECT_EQ(svr->BindingAddress(0), PcIps()[1]);
    EXPECT_EQ(got.found[MacZ2], (Rows{{FamilyZ2, 0}}));
    EXPECT_EQ(got.receives, 6);
}

namespace {

// A read of `m` on a lane of the pool, to its end.
TReadResult ReadNow(TLanePool& pool, const TFoundModule& m, const std::string& password = "vesta",
                    const std::function<void(TLane&)>& duringRead = {}) {
    TLane& lane = pool.Acquire();
    TReadJob job(lane, RealClock(), TReadRequest{m, TLogin{"vesta", password}, 2000, 300});
    std::optional<TReadResult> result;
    job.OnDone = [&](TReadResult r) { result = std::move(r); };
    job.Start();
    if (duringRead)
        duringRead(lane);
    WaitUntil([&] { return result.has_value(); }, 5000);
    pool.Release(lane);
    return result.value_or(TReadResult{});
}

TSaveReport SaveNow(TLanePool& pool, const TFoundModule& m, const TSavePlan& plan) {
    TLane& lane = pool.Acquire();
    TSaveJob job(lane, RealClock(), m, TLogin{"vesta", "vesta"}, plan.Steps, 1000);
    std::optional<TSaveReport> report;
    job.OnDone = [&](const TSaveReport& r) { report = r; };
    job.Start();
    WaitUntil([&] { return report.has_value(); }, 10000);
    pool.Release(lane);
    return report.value_or(TSaveReport{});
}

TZ2SaveInput InputFromRead(const TModuleSettings& read, int firmware) {
    TZ2SaveInput in;
    in.Base = read.Base;
    in.Base.ModName = "Saved-1";
    in.Port = read.Port;
    in.Port.LocalPort = 9000;
    in.Cloud = {"DEV-77", "secret12"};
    in.Heart = {0x05, "45", "beat", false, "52454731", true};
    in.HttpdUrl = "/new";
    in.HttpdHeader = "X-Test: 1";
    in.Modbus = {1, 1, "7", 1, "250"};
    in.Firmware = firmware;
    return in;
}

} // namespace

// A read on a lane of its own: the read command from the binding the module answered on, every
// reply of the module into the read's store, exactly as the module holds its blocks; a Z3 module's
// datagram of an unknown length is reported with that length.
TEST_F(E2E, ReadOnALaneTakesEveryReplyOfTheModule) {
    Sim sim(Modules());
    ASSERT_TRUE(sim.Ready());
    TLanSession session(TSessionOptions{});
    const auto found = session.Find({MacZ2, MacZ3}, 3000);
    ASSERT_EQ(found.size(), 2u);
    TLanePool pool(EndpointOptions(TSessionOptions{}), RealClock());
    TIdBytes sent;
    pool.OnNewLane = [&](TLane& lane) {
        lane.OnSent = [&](const TIdBytes& d, const std::string& dest, const std::string&, std::uint16_t port,
                          std::uint16_t) {
            sent = d;
            EXPECT_EQ(dest, "255.255.255.255");
            EXPECT_EQ(port, d[2] == CmdRead && found[0].Family == FamilyZ2 ? 1500 : port);
        };
    };
    const TReadResult r = ReadNow(pool, found[0]);
    const TIdBytes expected{0xFF, 0x13, 0x03, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 'v',  'e',
                            's',  't',  'a',  0x00, 'v',  'e',  's',  't',  'a',  0x00, 0x88};
    EXPECT_EQ(sent, expected);
    ASSERT_EQ(r.Status, TOutcome::Ok) << r.Error.toStdString();
    EXPECT_TRUE(r.Got.Params && r.Got.Cloud && r.Got.Heart && r.Got.Httpd);
    EXPECT_EQ(r.Got.ModbusKind, 7);
    const QJsonObject state = sim.State(MacZ2);
    const TIdBytes base = Hex(state[QStringLiteral("base")]), port = Hex(state[QStringLiteral("port")]);
    EXPECT_TRUE(std::equal(base.begin(), base.end(), r.Store.BasePort.begin()));
    EXPECT_TRUE(std::equal(port.begin(), port.end(), r.Store.BasePort.begin() + 67));
    EXPECT_EQ(Hex(state[QStringLiteral("cloud")]), TIdBytes(r.Store.Cloud.begin(), r.Store.Cloud.end()));
    EXPECT_EQ(Hex(state[QStringLiteral("heart")]), TIdBytes(r.Store.Heart.begin(), r.Store.Heart.end()));
    EXPECT_EQ(Hex(state[QStringLiteral("httpd")]), TIdBytes(r.Store.Httpd.begin(), r.Store.Httpd.end()));
    EXPECT_EQ(r.Settings.Base.ModName, "Line-1");
    EXPECT_EQ(r.Settings.Base.StaticIP, "192.168.0.50");
    EXPECT_EQ(r.Settings.Port.BaudRate, 115200u);
    EXPECT_EQ(r.ForeignDatagrams, 0);
    const auto reads = Handled(sim.Journal(), 0, MacZ2);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0][QStringLiteral("result")].toString().toStdString(), "read");
    EXPECT_TRUE(
        reads[0][QStringLiteral("from")].toString().startsWith(QString::fromStdString(found[0].Local + ":")));

    std::vector<std::pair<std::int32_t, std::string>> other;
    TLanePool z3Pool(EndpointOptions(TSessionOptions{}), RealClock());
    z3Pool.OnNewLane = [&](TLane& lane) {
        lane.OnOtherStatus = [&](std::int32_t code, const std::string& text) {
            other.emplace_back(code, text);
        };
    };
    const TReadResult z3 = ReadNow(z3Pool, found[1]);
    ASSERT_EQ(z3.Status, TOutcome::Ok);
    EXPECT_EQ(z3.Settings.Family, FamilyZ3);
    EXPECT_EQ(z3.Settings.Base.ModName, "Z3-A");
    Pump(100);
    EXPECT_EQ(other, (std::vector<std::pair<std::int32_t, std::string>>{{stReceiveOther, "37"}}));
}

// A Z2 save on a lane: the plan's datagrams in order with their 500 ms pauses (timers of the event
// loop), each acknowledged whatever byte 2 held, the module stores exactly what was sent, and
// every byte the encoders carry is the one the module reported.
TEST_F(E2E, Z2SaveSendsThePlanWithPausesAndTheModuleStoresIt) {
    Sim sim(Modules());
    ASSERT_TRUE(sim.Ready());
    TLanSession session(TSessionOptions{});
    const auto found = session.Find({MacZ2}, 3000);
    ASSERT_EQ(found.size(), 1u);
    const QJsonObject reported = sim.State(MacZ2);
    TLanePool pool(EndpointOptions(TSessionOptions{}), RealClock());
    TReadResult r = ReadNow(pool, found[0]);
    ASSERT_EQ(r.Status, TOutcome::Ok);
    TZ2SaveInput in = InputFromRead(r.Settings, 4017);
    in.Conditions = {3, 4, true, true};
    const TSavePlan plan = PlanZ2Save(in, r.Store);
    ASSERT_TRUE(plan.Ok) << plan.Error.Message;
    EXPECT_EQ(plan.CorrectedPollTimeout, std::optional<std::string>("10"));
    const std::size_t before = sim.Journal().size();
    const TSaveReport report = SaveNow(pool, found[0], plan);
    EXPECT_EQ(report.Acknowledged(), 8);
    EXPECT_EQ(report.Outcome(), TOutcome::Ok);

    std::vector<int> codes;
    std::vector<double> times;
    for (const QJsonObject& line : Handled(sim.Journal(), before, MacZ2)) {
        EXPECT_EQ(line[QStringLiteral("result")].toString().toStdString(), "K");
        codes.push_back(line[QStringLiteral("code")].toInt());
        times.push_back(line[QStringLiteral("t_ms")].toDouble());
    }
    ASSERT_EQ(codes, (std::vector<int>{0x05, 0x06, 0x0C, 0x21, 0x22, 0x23, 0x24, 0x02}));
    double minGap = 1e9;
    for (std::size_t i = 0; i < 6; ++i)
        minGap = std::min(minGap, times[i + 1] - times[i]);
    // 500 ms timers; the simulator stamps arrival with the kernel's time.
    EXPECT_GE(minGap, 450.0);
    EXPECT_LT(times[7] - times[6], 100.0);

    Pump(400); // its restart
    const QJsonObject state = sim.State(MacZ2);
    EXPECT_EQ(Hex(state[QStringLiteral("base")]), plan.Steps[0].Payload);
    EXPECT_EQ(Hex(state[QStringLiteral("port")]), plan.Steps[1].Payload);
    EXPECT_EQ(Hex(state[QStringLiteral("cloud")]), plan.Steps[2].Payload);
    EXPECT_EQ(Hex(state[QStringLiteral("heart")]), plan.Steps[3].Payload);
    const TIdBytes httpd = Hex(state[QStringLiteral("httpd")]);
    EXPECT_EQ(TIdBytes(httpd.begin(), httpd.begin() + 101), plan.Steps[4].Payload);
    EXPECT_EQ(TIdBytes(httpd.begin() + 101, httpd.end()), plan.Steps[5].Payload);
    EXPECT_EQ(Hex(state[QStringLiteral("modbus")]), plan.Steps[6].Payload);
    EXPECT_EQ(state[QStringLiteral("restarts")].toInt(), 1);
    const TIdBytes oldBase = Hex(reported[QStringLiteral("base")]),
                   oldPort = Hex(reported[QStringLiteral("port")]),
                   oldCloud = Hex(reported[QStringLiteral("cloud")]);
    for (std::size_t i : {0, 1, 2, 8, 49, 50, 51, 64, 65, 66})
        EXPECT_EQ(plan.Steps[0].Payload[i], oldBase[i]) << "base " << i;
    for (std::size_t i : {46, 47, 48, 49, 57, 58, 59, 60, 61, 62})
        EXPECT_EQ(plan.Steps[1].Payload[i], oldPort[i]) << "port " << i;
    for (std::size_t i : {0, 1, 30, 40, 49})
        EXPECT_EQ(plan.Steps[2].Payload[i], oldCloud[i]) << "cloud " << i;

    // After its restart the module answers the search with the name it was given.
    const auto again = session.Find({MacZ2}, 3000);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].Name, "Saved-1");
}

TEST_F(E2E, Firmware4016NeverGetsHeartbeatOrHttpd) {
    Sim sim(Modules());
    ASSERT_TRUE(sim.Ready());
    TLanSession session(TSessionOptions{});
    const auto found = session.Find({Mac4016}, 3000);
    ASSERT_EQ(found.size(), 1u);
    TLanePool pool(EndpointOptions(TSessionOptions{}), RealClock());
    TReadResult r = ReadNow(pool, found[0]);
    ASSERT_EQ(r.Status, TOutcome::Ok);
    TZ2SaveInput in = InputFromRead(r.Settings, 4016);
    in.Conditions = {3, 4, true, false};
    const TSavePlan plan = PlanZ2Save(in, r.Store);
    ASSERT_TRUE(plan.Ok);
    const std::size_t before = sim.Journal().size();
    SaveNow(pool, found[0], plan);
    std::vector<int> codes;
    for (const QJsonObject& line : Handled(sim.Journal(), before, Mac4016))
        codes.push_back(line[QStringLiteral("code")].toInt());
    EXPECT_EQ(codes, (std::vector<int>{0x05, 0x06, 0x0C, 0x24, 0x02}));
    Pump(400);
    EXPECT_EQ(sim.State(Mac4016)[QStringLiteral("writes")].toArray().size(), 4);
    EXPECT_EQ(Hex(sim.State(Mac4016)[QStringLiteral("modbus")]).size(), 1u); // kind 1
}

// A wrong log-in ends a read with the password outcome; a datagram with a wrong checksum is
// answered with the sum the module expected; a MAC that does not read sends nothing.
TEST_F(E2E, ErrorsFromTheModuleAndSendsThatNeverLeave) {
    Sim sim(Modules());
    ASSERT_TRUE(sim.Ready());
    TLanSession session(TSessionOptions{});
    const auto found = session.Find({MacZ2}, 3000);
    ASSERT_EQ(found.size(), 1u);
    TLanePool pool(EndpointOptions(TSessionOptions{}), RealClock());
    EXPECT_EQ(ReadNow(pool, found[0], "wrong").Status, TOutcome::Password);

    TLane& lane = pool.Acquire();
    lane.Serve(found[0]);
    std::vector<TAck> acks;
    lane.OnAck = [&](const TAck& a) { acks.push_back(a); };
    TIdBytes d = BuildAddressedCommand(CmdRead, MacZ2, "vesta", "vesta");
    const std::uint8_t sum = d.back();
    d.back() = static_cast<std::uint8_t>(sum + 1);
    lane.Endpoint().SendDatagram(found[0].Binding, d, PortZ2);
    ASSERT_TRUE(PumpUntil([&] { return !acks.empty(); }));
    EXPECT_EQ(acks[0], (TAck{'C', sum}));

    const std::size_t lines = sim.Journal().size();
    int sends = 0;
    lane.OnSent = [&](const TIdBytes&, const std::string&, const std::string&, std::uint16_t, std::uint16_t) {
        ++sends;
    };
    TFoundModule bad = found[0];
    bad.Mac = "00 1A 2B 3C 4D 5X";
    lane.Serve(bad);
    lane.SendCommand(TLogin{"vesta", "vesta"}, CmdRead);
    Pump(300);
    EXPECT_EQ(sends, 0);
    EXPECT_EQ(sim.Journal().size(), lines);
    pool.Release(lane);
}

TEST_F(E2E, TwoSegmentsWithAModuleEachAnswerOnTheirOwnBinding) {
    // One simulator per segment, each kept to its interface: module A only behind pc0, B only
    // behind pc1.
    const std::vector<std::string> ifaces = Split(Env("VARNIX_NS_SIM_IFACES"));
    ASSERT_EQ(ifaces.size(), 2u);
    Sim a(QJsonArray{Module("z2", MacZ2, "192.168.0.50", "Seg-A", 4017)}, ifaces[0]);
    Sim b(QJsonArray{Module("z2", Mac4016, "192.168.1.50", "Seg-B", 4017)}, ifaces[1]);
    ASSERT_TRUE(a.Ready() && b.Ready());
    SearchAndWait(2);
    using Rows = std::set<std::pair<std::int32_t, std::int32_t>>;
    EXPECT_EQ(got.found[MacZ2], (Rows{{FamilyZ2, 0}}));
    EXPECT_EQ(got.found[Mac4016], (Rows{{FamilyZ2, 1}}));
    EXPECT_TRUE(svr->BindingHearsBroadcasts(0));
    EXPECT_TRUE(svr->BindingHearsBroadcasts(1));

    // A read goes out of the binding the module answered on, and only that segment sees it.
    TLanSession session(TSessionOptions{});
    const auto found = session.Find({Mac4016}, 3000);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].Local, PcIps()[1]);
    const std::size_t seenBefore = a.Journal().size();
    const TReadResult r = session.Read(found[0], TLogin{"vesta", "vesta"}, 2000);
    ASSERT_EQ(r.Status, TOutcome::Ok);
    EXPECT_EQ(r.Settings.Base.ModName, "Seg-B");
    const auto reads = Handled(b.Journal(), 0, Mac4016);
    ASSERT_FALSE(reads.empty());
    EXPECT_EQ(reads.back()[QStringLiteral("result")].toString().toStdString(), "read");
    EXPECT_TRUE(
        reads.back()[QStringLiteral("from")].toString().startsWith(QString::fromStdString(PcIps()[1] + ":")));
    // A saw searches only, never the read.
    const auto seenByA = a.Journal();
    for (std::size_t i = seenBefore; i < seenByA.size(); ++i)
        EXPECT_EQ(seenByA[i][QStringLiteral("result")].toString().toStdString(), "search");
}

// Blocks of every read length from another host (one using the module's port) reach the lane
// while the module is read: counted as foreign, never taken as the module's.
TEST_F(E2E, SpoofedBlocksDuringAReadChangeNothing) {
    Sim sim(Modules());
    ASSERT_TRUE(sim.Ready());
    TLanSession session(TSessionOptions{});
    const auto found = session.Find({MacZ2}, 3000);
    ASSERT_EQ(found.size(), 1u);
    TLanePool pool(EndpointOptions(TSessionOptions{}), RealClock());
    int sent = 0;
    const TReadResult r = ReadNow(pool, found[0], "vesta", [&](TLane& lane) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_port = htons(1500);
        inet_pton(AF_INET, PcIps()[1].c_str(), &from.sin_addr);
        ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(lane.Endpoint().BindingPort(found[0].Binding));
        inet_pton(AF_INET, found[0].Local.c_str(), &to.sin_addr);
        for (std::size_t len : {130u, 50u, 85u, 302u, 64u, 4u, 1u}) {
            TIdBytes junk(len, 0x5A);
            if (len == 130) // the module's own MAC, forged
                std::copy_n(TIdBytes{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}.begin(), 6, junk.begin() + 53);
            sent += ::sendto(fd, junk.data(), junk.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
                    static_cast<ssize_t>(len);
        }
        ::close(fd);
    });
    ASSERT_EQ(sent, 7);
    ASSERT_EQ(r.Status, TOutcome::Ok);
    EXPECT_EQ(r.ForeignDatagrams, 7);
    const QJsonObject state = sim.State(MacZ2);
    EXPECT_EQ(Hex(state[QStringLiteral("cloud")]), TIdBytes(r.Store.Cloud.begin(), r.Store.Cloud.end()));
    EXPECT_EQ(Hex(state[QStringLiteral("heart")]), TIdBytes(r.Store.Heart.begin(), r.Store.Heart.end()));
    EXPECT_EQ(r.Settings.Base.ModName, "Line-1");
}

TEST_F(E2E, AnAdapterAddedBetweenSearchesRebuildsTheBindings) {
    // The real interface list this time.
    TUdpSvrOptions o;
    svr = TUdpSvr::Create(o);
    Wire();
    SearchAndWait(0);
    ASSERT_EQ(svr->BindingCount(), 2);

    const QString pid = QString::fromStdString(Env("VARNIX_NS_MODULES_PID"));
    const QString inModules = QString::fromStdString(Env("VARNIX_NS_IN_MODULES"));
    ASSERT_FALSE(pid.isEmpty());
    const QString ip = QStringLiteral("ip");
    ASSERT_TRUE(RunHere(ip, {QStringLiteral("link"), QStringLiteral("add"), QStringLiteral("pc7"),
                             QStringLiteral("type"), QStringLiteral("veth"), QStringLiteral("peer"),
                             QStringLiteral("name"), QStringLiteral("m7")}));
    ASSERT_TRUE(RunHere(ip, {QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("m7"),
                             QStringLiteral("netns"), pid}));
    ASSERT_TRUE(RunHere(ip, {QStringLiteral("addr"), QStringLiteral("add"), QStringLiteral("10.9.7.1/24"),
                             QStringLiteral("broadcast"), QStringLiteral("10.9.7.255"), QStringLiteral("dev"),
                             QStringLiteral("pc7")}));
    ASSERT_TRUE(
        RunHere(inModules, {ip, QStringLiteral("addr"), QStringLiteral("add"),
                            QStringLiteral("192.168.7.2/24"), QStringLiteral("dev"), QStringLiteral("m7")}));
    ASSERT_TRUE(RunHere(inModules, {ip, QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("m7"),
                                    QStringLiteral("up")}));
    ASSERT_TRUE(RunHere(
        ip, {QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("pc7"), QStringLiteral("up")}));
    Sim sim(QJsonArray{Module("z2", MacZ2, "192.168.7.50", "New-Seg", 4017)}, "m7");
    ASSERT_TRUE(sim.Ready());

    // The carrier of a new pair takes a moment: search until the module answers.
    got = {};
    ASSERT_TRUE(PumpUntil(
        [&] {
            if (!got.found.empty())
                return true;
            svr->Search();
            Pump(100);
            return !got.found.empty();
        },
        5000));
    ASSERT_EQ(svr->BindingCount(), 3);
    EXPECT_EQ(svr->BindingAddress(2), "10.9.7.1");
    using Rows = std::set<std::pair<std::int32_t, std::int32_t>>;
    EXPECT_EQ(got.found[MacZ2], (Rows{{FamilyZ2, 2}}));
}

// tests/netns-run --segments 2 --bridge: one segment behind both adapters.
class Bridge : public E2E {};

TEST_F(Bridge, OneModuleThroughTwoAdaptersIsListedOncePerAdapter) {
    ASSERT_EQ(Env("VARNIX_NS_SIM_IFACES"), "br0") << "run through tests/netns-run --segments 2 --bridge";
    Sim sim(QJsonArray{Module("z2", MacZ2, "192.168.0.50", "Bridged", 4017)});
    ASSERT_TRUE(sim.Ready());
    SearchAndWait(2);
    using Rows = std::set<std::pair<std::int32_t, std::int32_t>>;
    EXPECT_EQ(got.found[MacZ2], (Rows{{FamilyZ2, 0}, {FamilyZ2, 1}}));
    EXPECT_EQ(got.receives, 2); // each reply once, on the binding whose port it names

    // Read through the second adapter: a lane's binding there takes the module's replies once.
    TLanSession session(TSessionOptions{});
    const auto found = session.Search(2000);
    ASSERT_EQ(found.size(), 2u);
    const auto viaSecond =
        std::find_if(found.begin(), found.end(), [](const TFoundModule& m) { return m.Local == PcIps()[1]; });
    ASSERT_NE(viaSecond, found.end());
    const TReadResult r = session.Read(*viaSecond, TLogin{"vesta", "vesta"}, 2000);
    ASSERT_EQ(r.Status, TOutcome::Ok);
    EXPECT_EQ(r.Settings.Base.ModName, "Bridged");
    EXPECT_EQ(r.ForeignDatagrams, 0);
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// Every endpoint of the process (a lane each, hundreds in a fleet run) gets a port that no other
// holds: two endpoints on one port would both hear each other's broadcast replies.
TEST(Ports, EveryEndpointHasAPortOfItsOwn) {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    const std::string pc = PcIps().at(0);
    std::vector<std::unique_ptr<TUdpSvr>> endpoints;
    std::set<std::uint16_t> ports;
    for (int i = 0; i < 400; ++i) {
        TUdpSvrOptions o;
        o.LocalAddresses = [pc] { return std::vector<std::string>{pc}; };
        o.ReceiveBufferBytes = 0;
        endpoints.push_back(std::make_unique<TUdpSvr>(o));
        endpoints.back()->UpdateBindings();
        ASSERT_EQ(endpoints.back()->BindingCount(), 1) << i;
        ASSERT_TRUE(endpoints.back()->BindingHearsBroadcasts(0));
        EXPECT_TRUE(ports.insert(endpoints.back()->BindingPort(0)).second)
            << "port given twice at endpoint " << i;
    }
}
