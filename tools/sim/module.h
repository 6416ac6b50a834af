#pragma once
// The simulated modules: their stored blocks, identity and log-in, and how each one answers a
// datagram. Pure logic, no sockets and no Qt, so the LAN transport here and a serial or
// upgrade side later drive the same model.

#include "bytes.h"
#include "vary.h"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace varnix::sim {

enum class Family { Z2, Z3, Other193, Other256 };
const char* familyName(Family f);
std::optional<Family> parseFamily(std::string_view text);

// The two module ports. Z2 modules (and other series) listen and answer on Z2 (1500), Z3
// modules on Z3 (1901); a Z3 module also hears the restart command on Z2.
enum class Port { Z2, Z3 };

// Block sizes on the wire.
inline constexpr std::size_t kBaseSize = 67;
inline constexpr std::size_t kPortSize = 63;
inline constexpr std::size_t kCloudSize = 50;
inline constexpr std::size_t kHeartSize = 85;
inline constexpr std::size_t kHttpdUrlSize = 101;
inline constexpr std::size_t kHttpdHeaderSize = 201;
inline constexpr std::size_t kHttpdSize = kHttpdUrlSize + kHttpdHeaderSize;
inline constexpr std::size_t kSearchReplySize = 36;

struct Blocks {
    Bytes base, port, cloud, heart, httpd, modbus;
};

// How a module behaves as the client of a firmware upgrade (JSON "upgrade": {...}); an option
// not given takes the --upgrade-* one of the command line.
struct UpgradeTweaks {
    std::optional<Bytes> signature;   // "signature": the 4 bytes of its boot request
    std::optional<int> byte26;        // "byte26": 1 asks the PC to say when the image does not fit
    std::optional<double> dropBlocks; // "dropBlocks": share of received blocks ignored
    std::optional<double> dropAcks;   // "dropAcks": share of acknowledgements not sent
    std::optional<long> stopAfter;    // "stopAfter": no answer after this many blocks
    std::optional<int> dropLastAcks;  // "dropLastAcks": the first N acks of the final block are lost
    std::optional<int> firmware;      // "firmware": its number after an upgrade
};

// What a module is made from: the --module/--generate/JSON description.
struct ModuleDesc {
    Family family = Family::Z2;
    std::optional<Mac> mac;
    std::optional<Ip4> ip;
    std::optional<std::string> name;
    int firmware = 4017;
    std::string user = "vesta";
    std::string password = "vesta";
    std::optional<Bytes> base, port, cloud, heart, httpd, modbus;
    std::vector<std::string> replies; // empty: the family's default
    int modbusKind = 0;               // 0: length of the given Modbus block, else 7
    bool ignoreWrites = false;
    bool silent = false;
    UpgradeTweaks upgrade;
};

// Blocks made from a desc's identity, from byte offsets (values that look like a module fresh
// from the factory configured for this address). The bytes the program only carries back (it
// never interprets them) come from `vary`.
Blocks synthesiseBlocks(Family family, const Mac& mac, const Ip4& ip, const std::string& name,
                        const std::string& user, const std::string& password, Vary& vary);

// The bytes of the search reply that the program does not interpret: 3-4, 17-18 and 33-35.
using SearchOpenBytes = std::array<std::uint8_t, 7>;

// The 36-byte search reply of a Z2/Z3 module.
Bytes buildSearchReply(const Ip4& ip, const Mac& mac, int firmware, const std::string& name,
                       const SearchOpenBytes& open);

// 8-bit sum of bytes [from, to] of a datagram.
std::uint8_t sum8(const std::uint8_t* data, std::size_t from, std::size_t to);

class Module {
public:
    // Throws std::invalid_argument for an inconsistent desc (missing MAC, blocks of wrong size).
    // `vary` fills every byte the desc leaves open (see vary.h).
    Module(const ModuleDesc& desc, Vary vary);

    Family family() const { return family_; }
    Port replyPort() const { return family_ == Family::Z3 ? Port::Z3 : Port::Z2; }
    int firmware() const { return firmware_; }
    const Mac& mac() const { return mac_; }
    const Ip4& ip() const { return ip_; }
    const std::string& name() const { return name_; }
    const Blocks& blocks() const { return blocks_; }
    int restarts() const { return restarts_; }
    int resets() const { return resets_; }
    const std::vector<int>& writes() const { return writes_; }
    bool silent() const { return silent_; }
    // Restarting, or in its loader for a firmware upgrade: it answers nothing on the LAN.
    bool rebooting(double nowMs) const { return inLoader_ || nowMs < rebootUntilMs_; }
    int upgrades() const { return upgrades_; }
    bool inLoader() const { return inLoader_; }
    const UpgradeTweaks& upgradeTweaks() const { return tweaks_; }

    // A factory reset brings back the factory values (address 192.168.0.7, the family's name,
    // log-in vesta/vesta, the serial and network defaults; its MAC stays) instead of the blocks
    // the module started with.
    void setResetToFactory(bool on) { resetToFactory_ = on; }
    // The upgrade request took it into its loader; it leaves with the new firmware number when
    // the image came whole, else with the old one. Either way it restarts.
    void enterLoader() { inLoader_ = true; }
    void leaveLoader(std::optional<int> newFirmware, double nowMs, int restartMs);

    // Whether this module hears an addressed command with this code on this port.
    bool listensTo(Port port, std::uint8_t code) const;
    // The reply to a search (36 bytes, or 193/256 bytes for a module of another series).
    Bytes searchReply() const;

    struct Outcome {
        std::string result; // "read", "K", "P", "E", "checksum"
        std::vector<Bytes> replies;
        bool changed = false;         // blocks, counters or identity changed
        bool identityChanged = false; // MAC may differ now
    };
    // An addressed command (>= 22 bytes, byte 0 0xFF) whose MAC is this module's, on a port it
    // listens to, while it is neither rebooting nor silent.
    Outcome command(const std::uint8_t* d, std::size_t n, double nowMs, int restartMs);

private:
    void reboot(double nowMs, int restartMs);
    void takeIdentityFromBase();
    Bytes modbusReply() const;
    Bytes padding(std::size_t n) const;
    Bytes ack(std::uint8_t code, char status);

    Family family_;
    int firmware_;
    Mac mac_{};
    Ip4 ip_{};
    std::string name_;
    std::array<std::uint8_t, 12> login_{}; // user name and password bytes, as at the last restart
    Blocks blocks_;
    Blocks initial_;
    Blocks factory_;
    bool resetToFactory_ = false;
    bool inLoader_ = false;
    int upgrades_ = 0;
    UpgradeTweaks tweaks_;
    std::vector<std::string> replies_;
    int modbusKind_;
    bool ignoreWrites_;
    bool silent_;
    int restarts_ = 0;
    int resets_ = 0;
    std::vector<int> writes_;
    double rebootUntilMs_ = -1;
    Vary vary_;                     // per datagram: the acknowledgement's byte 2
    SearchOpenBytes searchOpen_{};  // per module, kept across restarts
    std::uint64_t paddingSeed_ = 0; // per module: unread reply bytes, the same on every read
};

// All modules, with the index by current MAC that addressed commands are matched against.
class Fleet {
public:
    void add(Module m);
    // The module that answers to this MAC now (the first one when several do); null for none.
    Module* find(const Mac& mac);
    void setRestartMs(int ms) { restartMs_ = ms; }
    const std::vector<Module>& modules() const { return modules_; }

    struct Reply {
        Port from;
        Bytes data;
    };
    struct Result {
        std::string result; // "search", "read", "K", "P", "E", "checksum", "ignored"
        std::optional<Mac> module;
        std::vector<Reply> replies;
        bool changed = false;
    };
    // Any datagram that arrived on one of the two module ports.
    Result handle(Port port, const std::uint8_t* d, std::size_t n, double nowMs);

private:
    void reindex();
    std::vector<Module> modules_;
    std::unordered_map<std::uint64_t, std::vector<std::size_t>> byMac_;
    int restartMs_ = 300;
};

} // namespace varnix::sim
