#pragma once
// Health checks over the result of one search: what a technician should know about the modules
// that answered before changing any of them. Pure: no sockets, no widgets; the window and the
// command-line tool feed it the rows they list and the local bindings they searched from.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace varnix {

// One search reply as listed (a module that answered through two adapters is two rows).
struct THealthModule {
    std::string Ip;   // dotted IPv4 text as the module reports it
    std::string Name; // module name bytes
    std::string Mac;  // any MAC text; compared without separators, ignoring case
    int Firmware = 0;
    std::int32_t Family = 0; // FamilyZ2 / FamilyZ3; anything else is incompatible firmware
    int Binding = -1;        // index of the local binding the reply arrived on
};

// A local binding: its address and the netmask of that address ("" when unknown).
struct THealthBinding {
    std::string Address;
    std::string Netmask;
};

enum class THealthKind {
    DuplicateIp,          // two or more modules (distinct MACs) on one IP address
    TwoAdapters,          // one module (one MAC) answered through two or more bindings
    OutsideSubnet,        // the module's address is outside the subnet of its binding
    IncompatibleFirmware, // the reply's firmware belongs to no family this program configures
    DuplicateName,        // two or more modules (distinct MACs) carry the same non-empty name
};

struct THealthFinding {
    THealthKind Kind = THealthKind::DuplicateIp;
    std::vector<int> Rows; // indexes into the module list, ascending
    std::string Subject;   // the shared IP, the MAC, the module's IP, or the shared name
    std::string Local;     // OutsideSubnet: "address/netmask" of the binding
};

// Stable machine name of a kind: "duplicate-ip", "two-adapters", "outside-subnet",
// "incompatible-firmware", "duplicate-name".
const char* HealthKindName(THealthKind kind);
// Key of the kind's text in the string table (the text takes the subject as %1).
const char* HealthKindTextKey(THealthKind kind);

// Every finding, grouped by kind in the order of THealthKind, each kind's findings in the order
// of their first row. A clean fleet yields nothing.
std::vector<THealthFinding> RunHealthChecks(const std::vector<THealthModule>& modules,
                                            const std::vector<THealthBinding>& bindings);

// The same findings in the same order, handed to `sink` one at a time, for a caller that keeps
// less than all of them (per-row marks over tens of thousands of rows).
using THealthSink = std::function<void(THealthFinding&&)>;
void VisitHealthFindings(const std::vector<THealthModule>& modules,
                         const std::vector<THealthBinding>& bindings, const THealthSink& sink);

// Commands that let the replies of modules (UDP from their ports 1500 and 1901) through a host
// firewall, for the message of a search nobody answered. The varnix package ships the firewalld
// service and the ufw profiles they name (data/firewall/); a build tree has neither, so each
// command also says what does the same without them.
inline constexpr const char* FirewalldAllowCommand =
    "sudo firewall-cmd --add-service=varnix (without the varnix package: sudo firewall-cmd "
    "--add-source-port=1500/udp --add-source-port=1901/udp)";
inline constexpr const char* UfwAllowCommand =
    "sudo ufw allow from any app varnix-modules (without the varnix package: sudo ufw allow proto udp "
    "from any port 1500,1901)";
// The same for a firmware upgrade's ports on this PC (67, 69, 40300); the firewalld service covers
// the replies and the upgrade alike.
inline constexpr const char* FirewalldUpgradeCommand =
    "sudo firewall-cmd --add-service=varnix (without the varnix package: sudo firewall-cmd "
    "--add-port=67/udp --add-port=69/udp --add-port=40300/udp)";
inline constexpr const char* UfwUpgradeCommand =
    "sudo ufw allow varnix (without the varnix package: sudo ufw allow proto udp to any port 67,69,40300)";

// Parses dotted IPv4 text ("10.0.0.1"); false for anything else.
bool ParseIpv4(const std::string& text, std::uint32_t& out);

} // namespace varnix
