// Whether this PC can serve an upgrade, against a PC of the test's own: real binds on 127.0.0.1
// (ports the test holds are "in use"), a list of addresses without one on the module's /24, and a
// bind that is refused as an account without the capability is refused.
#include "upgrade/upgrade_readiness.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace varnix;

namespace {

// A UDP port of 127.0.0.1 held for the test's lifetime.
struct THeldPort {
    int Fd = -1;
    std::uint16_t Port = 0;
    THeldPort() {
        Fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(Fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
        socklen_t len = sizeof sa;
        ::getsockname(Fd, reinterpret_cast<sockaddr*>(&sa), &len);
        Port = ntohs(sa.sin_port);
    }
    ~THeldPort() { ::close(Fd); }
};

// A free port: bound once and let go.
std::uint16_t FreePort() {
    const THeldPort p;
    return p.Port;
}

TUpgradeHost LoopbackHost(std::vector<std::uint16_t> ports, std::string program) {
    TUpgradeHost host;
    host.LocalAddresses = [] { return std::vector<std::string>{"127.0.0.1", "10.77.0.1"}; };
    // The boot port is bound on every address, as the upgrade does; the rest on the address given.
    host.TryBind = TryBindUdp;
    host.ProgramPath = std::move(program);
    host.Ports = std::move(ports);
    return host;
}

QString English(const QString& key) {
    return EnglishTableText(key);
}

int Count(const QStringList& texts, const QString& part) {
    int n = 0;
    for (const QString& t : texts)
        n += t.count(part);
    return n;
}

} // namespace

TEST(UpgradeReadiness, PortsTakenOnThisAddressAreEachNamedOnceWithTheirAdvice) {
    const THeldPort a, b;
    const std::uint16_t free = FreePort();
    const TUpgradeHost host = LoopbackHost({a.Port, free, b.Port}, "/home/tech/varnix/build/varnix");
    const TUpgradeReadiness r = CheckUpgradeReadiness(host, "127.0.0.7", "");
    EXPECT_EQ(r.LocalIP, "127.0.0.1"); // this PC's address on the module's /24
    EXPECT_EQ(r.ModuleNetwork, "127.0.0.0/24");
    ASSERT_EQ(r.Findings.size(), 2u);
    EXPECT_EQ(r.Findings[0], (TReadyFinding{TReadyProblem::PortInUse, {a.Port}, EADDRINUSE, {}}));
    EXPECT_EQ(r.Findings[1], (TReadyFinding{TReadyProblem::PortInUse, {b.Port}, EADDRINUSE, {}}));
    const QStringList texts = ReadinessTexts(r, host.ProgramPath, English);
    ASSERT_EQ(texts.size(), 2);
    EXPECT_TRUE(texts[0].startsWith(QStringLiteral("Port %1 is in use by another program").arg(a.Port)));
    EXPECT_EQ(Count(texts, QString::number(free)), 0);

    // Let go: the same check passes and says where it would serve.
    const TUpgradeReadiness ok = CheckUpgradeReadiness(LoopbackHost({free}, ""), "127.0.0.7", "127.0.0.1");
    EXPECT_TRUE(ok.Ready());
    EXPECT_EQ(ReadyText(ok, {free}, English),
              QStringLiteral("This PC can serve the upgrade: ports %1 are free and allowed, and its address "
                             "127.0.0.1 is on the module's network 127.0.0.0/24.")
                  .arg(free));
}

TEST(UpgradeReadiness, AModuleOnANetworkThisPCHasNoAddressOnIsNamed) {
    const TUpgradeHost host = LoopbackHost({FreePort()}, "/usr/bin/varnix");
    TUpgradeReadiness r = CheckUpgradeReadiness(host, "192.168.0.7", "");
    ASSERT_EQ(r.Findings.size(), 1u);
    EXPECT_EQ(r.Findings[0].Problem, TReadyProblem::NoAddressOnNetwork);
    EXPECT_TRUE(r.LocalIP.empty());
    EXPECT_EQ(ReadinessTexts(r, host.ProgramPath, English),
              QStringList{
                  QStringLiteral("This PC has no address on the module's network 192.168.0.0/24: give one of "
                                 "its adapters an address there (the module gets its new address from this "
                                 "PC and reads the image from it).")});
    // A local address on another network, and one that is not this PC's at all.
    r = CheckUpgradeReadiness(host, "192.168.0.7", "127.0.0.1");
    ASSERT_EQ(r.Findings.size(), 1u);
    EXPECT_EQ(r.Findings[0], (TReadyFinding{TReadyProblem::NotOnModuleNetwork, {}, 0, "127.0.0.1"}));
    r = CheckUpgradeReadiness(host, "192.168.0.7", "192.168.0.10");
    ASSERT_EQ(r.Findings.size(), 1u);
    EXPECT_EQ(r.Findings[0].Problem, TReadyProblem::NotAnAddressOfThisPC);
    // The module's own address is never taken as this PC's.
    EXPECT_EQ(CheckUpgradeReadiness(host, "10.77.0.1", "").Findings[0].Problem,
              TReadyProblem::NoAddressOnNetwork);
}

TEST(UpgradeReadiness, RefusedPrivilegedPortsAreOneFindingWithTheAdviceForHowTheProgramCame) {
    TUpgradeHost host = LoopbackHost({9, 67, 69, 40300}, "/usr/bin/varnix");
    std::vector<std::pair<std::uint32_t, std::uint16_t>> binds;
    host.TryBind = [&binds](std::uint32_t addr, std::uint16_t port) {
        binds.emplace_back(addr, port);
        return port < 1024 ? EACCES : 0;
    };
    const TUpgradeReadiness r = CheckUpgradeReadiness(host, "10.77.0.50", "");
    // Bound as the upgrade binds them: the boot port on every address, the rest on this PC's.
    const std::uint32_t local = 0x0A4D0001;
    EXPECT_EQ(binds, (std::vector<std::pair<std::uint32_t, std::uint16_t>>{
                         {local, 9}, {0, 67}, {local, 69}, {local, 40300}}));
    ASSERT_EQ(r.Findings.size(), 1u);
    EXPECT_EQ(r.Findings[0].Ports, (std::vector<std::uint16_t>{9, 67, 69}));
    const QString packaged = ReadinessTexts(r, "/usr/bin/varnix", English).join(u'|');
    EXPECT_TRUE(packaged.startsWith(QStringLiteral("No permission to use ports 9, 67, 69:")));
    EXPECT_TRUE(packaged.contains(QStringLiteral("sudo dpkg-reconfigure varnix"))) << packaged.toStdString();
    EXPECT_FALSE(packaged.contains(QStringLiteral("scripts/setup")));
    const QString built = ReadinessTexts(r, "/home/tech/varnix/build/varnix", English).join(u'|');
    EXPECT_TRUE(
        built.contains(QStringLiteral("sudo setcap cap_net_bind_service=ep /home/tech/varnix/build/varnix")))
        << built.toStdString();
    EXPECT_FALSE(IsPackagedProgram("/usr/local/bin/varnix"));
    // The same words after Program when the run's own bind is refused.
    EXPECT_EQ(EndpointErrorText({67, EACCES}, QStringLiteral("10.77.0.1"), English).left(40),
              QStringLiteral("No permission to use ports 67: ports below 1024 need").left(40));
    EXPECT_TRUE(
        FirewallAdviceText(English).contains(QStringLiteral("sudo firewall-cmd --add-service=varnix")));
}
