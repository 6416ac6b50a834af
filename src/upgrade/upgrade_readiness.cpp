#include "upgrade/upgrade_readiness.h"

#include "core/convert.h"
#include "lan/health_checks.h"
#include "lan/local_addresses.h"
#include "lang/lang_table.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace varnix {

namespace {

constexpr std::uint32_t Net24 = 0xFFFFFF00U;

bool HasAddress(const std::vector<std::string>& list, std::uint32_t addr) {
    for (const std::string& a : list)
        if (ParseIPv4(a) == addr)
            return true;
    return false;
}

// This PC's address on the module's /24 (never the module's own address).
std::optional<std::uint32_t> AddressOnNetwork(const std::vector<std::string>& list, std::uint32_t target) {
    for (const std::string& a : list) {
        const std::optional<std::uint32_t> l = ParseIPv4(a);
        if (l && *l != target && (*l & Net24) == (target & Net24))
            return l;
    }
    return std::nullopt;
}

// Which problem the bind of `port` ran into; std::nullopt when it worked.
std::optional<TReadyProblem> BindProblem(int err) {
    switch (err) {
    case 0:
        return std::nullopt;
    case EACCES:
    case EPERM:
        return TReadyProblem::PortsDenied;
    case EADDRINUSE:
        return TReadyProblem::PortInUse;
    default:
        return TReadyProblem::PortError;
    }
}

void CheckPorts(const TUpgradeHost& host, std::uint32_t addr, TUpgradeReadiness& r) {
    TReadyFinding denied{TReadyProblem::PortsDenied, {}, EACCES, {}};
    for (const std::uint16_t port : host.Ports) {
        // The boot request is a broadcast, which only a socket on every address receives.
        const int err = host.TryBind(port == BootServerPort ? 0 : addr, port);
        const std::optional<TReadyProblem> problem = BindProblem(err);
        if (!problem)
            continue;
        if (*problem == TReadyProblem::PortsDenied)
            denied.Ports.push_back(port);
        else
            r.Findings.push_back({*problem, {port}, err, {}});
    }
    if (!denied.Ports.empty())
        r.Findings.insert(r.Findings.begin(), denied);
}

QString PortList(const std::vector<std::uint16_t>& ports) {
    QStringList list;
    for (const std::uint16_t p : ports)
        list << QString::number(p);
    return list.join(QStringLiteral(", "));
}

QString FindingText(const TReadyFinding& f, const TUpgradeReadiness& r, const std::string& programPath,
                    const TUpgradeTextFn& text) {
    const QString address = QString::fromStdString(f.Address);
    const QString network = QString::fromStdString(r.ModuleNetwork);
    const QString program = QString::fromStdString(programPath);
    switch (f.Problem) {
    case TReadyProblem::NoAddressOnNetwork:
        return text(QStringLiteral("lang_UpCheck_NoAddress")).arg(network);
    case TReadyProblem::NotAnAddressOfThisPC:
        return text(QStringLiteral("lang_Hint_UpNoLocalIP")).arg(address).trimmed();
    case TReadyProblem::NotOnModuleNetwork:
        return text(QStringLiteral("lang_UpCheck_NotOnNetwork")).arg(address, network);
    case TReadyProblem::PortsDenied:
        return text(QStringLiteral("lang_UpCheck_Denied")).arg(PortList(f.Ports)) + u' ' +
               text(IsPackagedProgram(programPath) ? QStringLiteral("lang_UpCheck_FixPackage")
                                                   : QStringLiteral("lang_UpCheck_FixBuild"))
                   .arg(program);
    case TReadyProblem::PortInUse:
        return text(QStringLiteral("lang_Hint_UpPortInUse")).arg(PortList(f.Ports)).trimmed();
    case TReadyProblem::PortError:
        return text(QStringLiteral("lang_Hint_UpPortError"))
            .arg(PortList(f.Ports), QString::fromLocal8Bit(std::strerror(f.Errno)))
            .trimmed();
    }
    return QString();
}

} // namespace

int TryBindUdp(std::uint32_t addrHostOrder, std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(addrHostOrder);
    sa.sin_port = htons(port);
    const int err = ::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 ? 0 : errno;
    ::close(fd);
    return err;
}

TUpgradeHost SystemUpgradeHost(bool includeLoopback) {
    TUpgradeHost host;
    host.LocalAddresses = [includeLoopback] {
        std::vector<std::string> list;
        GetLocalIPList(list, includeLoopback);
        return list;
    };
    host.TryBind = TryBindUdp;
    host.ProgramPath = ProgramFilePath();
    return host;
}

std::string ProgramFilePath() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string("varnix") : self.string();
}

TUpgradeReadiness CheckUpgradeReadiness(const TUpgradeHost& host, std::string_view targetIP,
                                        std::string_view localIP) {
    TUpgradeReadiness r;
    const std::vector<std::string> addresses =
        host.LocalAddresses ? host.LocalAddresses() : std::vector<std::string>{};
    const std::optional<std::uint32_t> target = ParseIPv4(targetIP);
    if (target)
        r.ModuleNetwork = IntToIPText(*target & Net24) + "/24";
    std::optional<std::uint32_t> local;
    if (!localIP.empty()) {
        const std::optional<std::uint32_t> given = ParseIPv4(localIP);
        if (!given || !HasAddress(addresses, *given)) {
            r.Findings.push_back({TReadyProblem::NotAnAddressOfThisPC, {}, 0, std::string(localIP)});
        } else {
            local = given;
            if (target && (*given & Net24) != (*target & Net24))
                r.Findings.push_back({TReadyProblem::NotOnModuleNetwork, {}, 0, IntToIPText(*given)});
        }
    } else if (target) {
        local = AddressOnNetwork(addresses, *target);
        if (!local)
            r.Findings.push_back({TReadyProblem::NoAddressOnNetwork, {}, 0, {}});
    }
    if (local)
        r.LocalIP = IntToIPText(*local);
    if (host.TryBind)
        CheckPorts(host, local.value_or(0), r);
    return r;
}

bool IsPackagedProgram(std::string_view path) {
    return path.starts_with("/usr/") && !path.starts_with("/usr/local/");
}

QStringList ReadinessTexts(const TUpgradeReadiness& r, const std::string& programPath,
                           const TUpgradeTextFn& text) {
    QStringList out;
    for (const TReadyFinding& f : r.Findings)
        out << FindingText(f, r, programPath, text);
    return out;
}

QString ReadyText(const TUpgradeReadiness& r, const std::vector<std::uint16_t>& ports,
                  const TUpgradeTextFn& text) {
    if (r.LocalIP.empty() || r.ModuleNetwork.empty())
        return text(QStringLiteral("lang_UpCheck_ReadyPorts")).arg(PortList(ports));
    return text(QStringLiteral("lang_UpCheck_Ready"))
        .arg(PortList(ports), QString::fromStdString(r.LocalIP), QString::fromStdString(r.ModuleNetwork));
}

QString FirewallAdviceText(const TUpgradeTextFn& text) {
    return text(QStringLiteral("lang_UpCheck_Firewall")).arg(QLatin1String(FirewalldUpgradeCommand));
}

QString EnglishTableText(const QString& key) {
    for (const TLangRow& row : BuiltinLangTable())
        if (key == QLatin1String(row.Name))
            return QString::fromUtf8(row.En).trimmed();
    return key;
}

} // namespace varnix
