// The four roles against real peers (socat) on 127.0.0.1 inside a private network namespace:
// the bytes of a row arrive exactly (hex rows as bytes, text rows as text, nothing appended),
// and what the peers send back shows in the received-data pane. Also the cycle's schedule as a
// receiver sees it, asserted loosely (bench/ measures it).
#include "debug/recv_model.h"
#include "debug_harness.h"

#include <QProcess>

#include <arpa/inet.h>
#include <chrono>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace varnix;
using namespace varnix::test;

namespace {

struct TPeer {
    std::unique_ptr<QProcess> Proc = std::make_unique<QProcess>();
    QByteArray Out;
    explicit TPeer(const QStringList& args) {
        QObject::connect(Proc.get(), &QProcess::readyReadStandardOutput,
                         [this] { Out += Proc->readAllStandardOutput(); });
        Proc->start(QStringLiteral("socat"), args);
        EXPECT_TRUE(Proc->waitForStarted(3000));
    }
    ~TPeer() {
        Proc->kill();
        Proc->waitForFinished(3000);
    }
};

bool ReceivedContains(Tfrm_DataDebug& w, const QString& text) {
    w.Received().Flush();
    for (int i = 0; i < w.Received().rowCount(); ++i)
        if (w.Received().data(w.Received().index(i), Qt::DisplayRole).toString().contains(text))
            return true;
    return false;
}

void Role(TDebugHarness& h, int role, const QString& ip, int port) {
    h.Combo("cbbProtrolType")->setCurrentIndex(role);
    h.Combo("cbbIP")->setEditText(ip);
    h.Edit("edtPort")->setText(QString::number(port));
    h.Button("btnConnet")->click();
}

class DataDebugPeers : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("VARNIX_NS"))
            GTEST_SKIP() << "runs inside tests/netns-run";
        h.Open({-1, QString(), QString(), QString()});
        h.Win->CmdRow(0)->SetRow({true, QStringLiteral("hex"), QStringLiteral("41 42 0d"), true, QString()});
        h.Win->CmdRow(1)->SetRow(
            {true, QStringLiteral("text"), QStringLiteral("hi there"), false, QString()});
    }
    TDebugHarness h;
};

} // namespace

TEST_F(DataDebugPeers, TcpServerSendsARowToEveryClient) {
    Role(h, Tfrm_DataDebug::TcpServer, QStringLiteral("0.0.0.0"), 47001);
    ASSERT_EQ(h.Button("btnConnet")->text(), QStringLiteral("Stop")) << h.Win->StatusText().toStdString();
    std::vector<std::unique_ptr<TPeer>> clients;
    for (int i = 0; i < 3; ++i)
        clients.push_back(
            std::make_unique<TPeer>(QStringList{QStringLiteral("-"), QStringLiteral("TCP:127.0.0.1:47001")}));
    ASSERT_TRUE(WaitFor([&] { return h.Win->ClientCount() == 3; }, 5000));
    EXPECT_TRUE(h.Win->StatusText().startsWith(QStringLiteral("Client has been monitored 127.0.0.1")));
    h.Win->SendRow(0);
    ASSERT_TRUE(WaitFor(
        [&] {
            return std::all_of(clients.begin(), clients.end(), [](auto& c) { return c->Out.size() >= 3; });
        },
        5000));
    for (auto& c : clients)
        EXPECT_EQ(c->Out, QByteArray("AB\r"));
    clients[1]->Proc->write("back from 2");
    EXPECT_TRUE(WaitFor([&] { return ReceivedContains(*h.Win, QStringLiteral("back from 2")); }, 5000));
    h.Button("btnConnet")->click(); // Stop drops every client
    EXPECT_EQ(h.Win->ClientCount(), 0);
    EXPECT_TRUE(WaitFor([&] { return clients[0]->Proc->state() == QProcess::NotRunning; }, 5000));
}

TEST_F(DataDebugPeers, TcpClientConnectsSendsAndHearsBack) {
    TPeer server({QStringLiteral("-"), QStringLiteral("TCP-LISTEN:47002,bind=127.0.0.1,reuseaddr")});
    ASSERT_TRUE(WaitFor(
        [&] {
            Role(h, Tfrm_DataDebug::TcpClient, QStringLiteral("127.0.0.1"), 47002);
            return WaitFor(
                       [&] {
                           return h.Button("btnConnet")->text() == QStringLiteral("Disconnect") ||
                                  h.Edit("edtPort")->isEnabled();
                       },
                       2000) &&
                   h.Button("btnConnet")->text() == QStringLiteral("Disconnect");
        },
        5000));
    EXPECT_EQ(h.Win->StatusText(), QStringLiteral("Already connected to 127.0.0.1"));
    h.Win->SendRow(1);
    ASSERT_TRUE(WaitFor([&] { return server.Out.size() >= 8; }, 5000));
    EXPECT_EQ(server.Out, QByteArray("hi there"));
    server.Proc->write("pong");
    EXPECT_TRUE(WaitFor([&] { return ReceivedContains(*h.Win, QStringLiteral("70 6F 6E 67")); }, 5000));
    server.Proc->closeWriteChannel(); // socat closes the connection
    EXPECT_TRUE(WaitFor([&] { return h.Button("btnConnet")->text() == QStringLiteral("Connect"); }, 5000));
    EXPECT_TRUE(h.Edit("edtPort")->isEnabled());

    // Disconnect right after a send: the row still arrives, then the connection ends.
    TPeer second({QStringLiteral("-"), QStringLiteral("TCP-LISTEN:47003,bind=127.0.0.1,reuseaddr")});
    h.Edit("edtPort")->setText(QStringLiteral("47003"));
    ASSERT_TRUE(WaitFor(
        [&] {
            if (h.Button("btnConnet")->text() == QStringLiteral("Connect") && h.Edit("edtPort")->isEnabled())
                h.Button("btnConnet")->click();
            return h.Button("btnConnet")->text() == QStringLiteral("Disconnect");
        },
        5000));
    h.Win->SendRow(0);
    h.Button("btnConnet")->click();
    ASSERT_TRUE(WaitFor([&] { return second.Proc->state() == QProcess::NotRunning; }, 5000));
    second.Out += second.Proc->readAllStandardOutput();
    EXPECT_EQ(second.Out, QByteArray("AB\r"));
    EXPECT_EQ(h.Button("btnConnet")->text(), QStringLiteral("Connect"));
}

TEST_F(DataDebugPeers, UdpRolesSendToTheDestinationAndShowTheAnswer) {
    for (int role : {Tfrm_DataDebug::UdpServer, Tfrm_DataDebug::UdpClient}) {
        const int peerPort = 47010 + role;
        TPeer peer({QStringLiteral("-"), QStringLiteral("UDP-LISTEN:%1,bind=127.0.0.1").arg(peerPort)});
        Role(h, role, QStringLiteral("127.0.0.1"), 47020 + role);
        ASSERT_EQ(h.Button("btnConnet")->text(), QStringLiteral("Stop")) << h.Win->StatusText().toStdString();
        h.Edit("edtLoport")->setText(QString::number(peerPort));
        ASSERT_TRUE(WaitFor(
            [&] {
                if (peer.Out.isEmpty())
                    h.Win->SendRow(0); // until socat listens
                return WaitFor([&] { return !peer.Out.isEmpty(); }, 200);
            },
            5000));
        EXPECT_TRUE(peer.Out.startsWith("AB\r"));
        peer.Out.clear();
        h.Win->SendRow(1);
        ASSERT_TRUE(WaitFor([&] { return peer.Out.size() >= 8; }, 5000));
        EXPECT_EQ(peer.Out, QByteArray("hi there"));
        peer.Proc->write("udp answer");
        EXPECT_TRUE(WaitFor(
            [&] { return ReceivedContains(*h.Win, QStringLiteral("127.0.0.1:%1").arg(peerPort)); }, 5000));
        EXPECT_TRUE(ReceivedContains(*h.Win, QStringLiteral("udp answer")));
        h.Button("btnConnet")->click();
        EXPECT_EQ(h.Win->StatusText(), QStringLiteral("UDP has stopped!"));
    }
}

// Rows A (delay 100) and B (delay 200), interval 1000: A, +100 B, +1200 A, ...
TEST_F(DataDebugPeers, CycleFollowsItsScheduleAndStopsAtOnce) {
    const int rx = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(47030);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(rx, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    timeval tv{0, 200000};
    ::setsockopt(rx, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::vector<std::pair<char, std::chrono::steady_clock::time_point>> got;
    std::mutex gotLock;
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        char buf[64];
        while (!stop) {
            const ssize_t n = ::recv(rx, buf, sizeof buf, 0);
            const auto now = std::chrono::steady_clock::now();
            std::lock_guard g(gotLock);
            if (n > 0)
                got.emplace_back(buf[0], now);
        }
    });
    auto count = [&] {
        std::lock_guard g(gotLock);
        return got.size();
    };
    h.Win->ClearCmdRows();
    h.Win->CmdRow(3)->SetRow({true, QStringLiteral("A"), QStringLiteral("A"), false, QStringLiteral("100")});
    h.Win->CmdRow(7)->SetRow({true, QStringLiteral("B"), QStringLiteral("B"), false, QStringLiteral("200")});
    Role(h, Tfrm_DataDebug::UdpServer, QStringLiteral("127.0.0.1"), 47031);
    h.Edit("edtLoport")->setText(QStringLiteral("47030"));
    h.Edit("edtCycle")->setText(QStringLiteral("1000"));
    h.Button("btnCycleSend")->click();
    WaitFor([] { return false; }, 2500); // A B (1.3 s) A B
    h.Button("btnCycleSend")->click();
    EXPECT_EQ(h.Button("btnCycleSend")->text(), QStringLiteral("Cycle send"));
    const std::size_t atStop = count();
    WaitFor([] { return false; }, 400);
    stop = true;
    reader.join();
    ::close(rx);
    EXPECT_EQ(got.size(), atStop); // nothing after the stop
    ASSERT_GE(got.size(), 4u);
    const int expectedGap[] = {100, 1200, 100};
    for (std::size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(got[i].first, i % 2 ? 'B' : 'A');
        const auto gap =
            std::chrono::duration_cast<std::chrono::milliseconds>(got[i].second - got[i - 1].second).count();
        EXPECT_NEAR(static_cast<double>(gap), expectedGap[i - 1], 60.0) << "gap " << i;
    }
}
