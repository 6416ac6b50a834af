#pragma once
// Whether this PC can serve a firmware upgrade, asked before the run starts: can it bind the
// upgrade's four UDP ports (9, 67, 69 and 40300, bound as TUpgradeEndpoint binds them), and does it
// have an address on the module's /24 (the module takes its new address from the boot reply and
// reads the image from that address). Each problem comes with what to do about it; the advice for
// a missing capability depends on whether the program is the packaged one (its postinst gives the
// capability) or a build of its own (setcap after every build). Shared by the upgrade window and
// varnix-cli; no widgets.

#include "upgrade/upgrade_runner.h"
#include "upgrade/upgrade_session.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace varnix {

inline constexpr std::array<std::uint16_t, 4> UpgradeServerPorts{UpgradeRequestPort, BootServerPort,
                                                                 FileServerPort, DataLocalPort};

// What the check asks of this PC. SystemUpgradeHost() answers from the real one; tests hand in a
// world of their own.
struct TUpgradeHost {
    // Every IPv4 address of this PC, dotted.
    std::function<std::vector<std::string>()> LocalAddresses;
    // Binds a UDP socket to addr:port (addr in host order, 0 = every address) and closes it again:
    // 0, or the errno of the bind.
    std::function<int(std::uint32_t addr, std::uint16_t port)> TryBind;
    // This program's file, named in the advice.
    std::string ProgramPath;
    std::vector<std::uint16_t> Ports{UpgradeServerPorts.begin(), UpgradeServerPorts.end()};
};

// The real PC: its adapters (loopback too when asked), real binds, /proc/self/exe.
TUpgradeHost SystemUpgradeHost(bool includeLoopback);

// This program's file (/proc/self/exe).
std::string ProgramFilePath();

// A UDP bind of addr:port as the upgrade does it, closed at once: 0 or errno.
int TryBindUdp(std::uint32_t addrHostOrder, std::uint16_t port);

enum class TReadyProblem {
    NoAddressOnNetwork,   // no address of this PC on the module's /24
    NotAnAddressOfThisPC, // the chosen local address belongs to no adapter
    NotOnModuleNetwork,   // the chosen local address is on another /24 than the module
    PortsDenied,          // ports below 1024 without the capability (all of them in one finding)
    PortInUse,            // another program holds the port (one finding per port)
    PortError,            // any other bind failure
};

struct TReadyFinding {
    TReadyProblem Problem;
    std::vector<std::uint16_t> Ports;
    int Errno = 0;
    std::string Address; // the local address at fault
    bool operator==(const TReadyFinding&) const = default;
};

struct TUpgradeReadiness {
    // The address the ports were checked on: the chosen one when it is of this PC, else this PC's
    // address on the module's /24, else empty (checked on every address).
    std::string LocalIP;
    std::string ModuleNetwork; // "192.168.0.0/24"; empty without a module address
    std::vector<TReadyFinding> Findings;
    bool Ready() const { return Findings.empty(); }
};

// targetIP: the module's address (empty or not an address: the network is not checked).
// localIP: the address to serve from (empty: this PC's address on the module's /24).
TUpgradeReadiness CheckUpgradeReadiness(const TUpgradeHost& host, std::string_view targetIP,
                                        std::string_view localIP);

// True for a program the package installed (under /usr, not /usr/local).
bool IsPackagedProgram(std::string_view path);

// One text per finding with what to do, in the language of `text`.
QStringList ReadinessTexts(const TUpgradeReadiness& r, const std::string& programPath,
                           const TUpgradeTextFn& text);
// The one line for a ready PC.
QString ReadyText(const TUpgradeReadiness& r, const std::vector<std::uint16_t>& ports,
                  const TUpgradeTextFn& text);
// What to do about a firewall that drops the module's requests (not something the check can see).
QString FirewallAdviceText(const TUpgradeTextFn& text);

// The texts of the built-in table in English (varnix-cli and the rollout job's messages).
QString EnglishTableText(const QString& key);

} // namespace varnix
