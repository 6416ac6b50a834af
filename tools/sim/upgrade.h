#pragma once
// The module side of a firmware upgrade, for any number of modules at once: on the 30-byte
// upgrade request to port 9 naming a module's MAC, that module goes into its loader (silent on the
// LAN), broadcasts a 300-byte boot request from port 68 to 255.255.255.255:67, takes the address
// the boot reply gives it (only a reply with its MAC and its transaction id), reads
// "firmware.bin" with a 21-byte read request from that address's port 13633 to port 69,
// acknowledges every block to the port it came from and, once the short last block came, writes
// the image to a file and restarts with its new firmware number. Each module has its own address,
// data socket, counters and losses. Driven by the simulator's main loop (no thread of its own).

#include "bytes.h"
#include "module.h"

#include <netinet/in.h>
#include <poll.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

namespace varnix::sim {

struct UpgradeOptions {
    std::string mac;             // --upgrade-mac: a module of the upgrade side alone (not of the fleet)
    std::string out;             // --upgrade-out: where that module's image is written
    bool fleet = false;          // --upgrade-fleet: every module of the fleet can be upgraded
    std::string outDir;          // --upgrade-out-dir: each fleet module's image as DIR/<12 hex digits>.bin
    std::string iface;           // --upgrade-iface: the segment's interface (all when empty)
    std::optional<int> firmware; // --upgrade-firmware: the number after an upgrade (default: +1)
    int loaderMs = 30000;        // --upgrade-loader-ms: silence after which a loader gives up
    UpgradeTweaks defaults;      // --upgrade-signature, -byte26, -drop-blocks, -drop-acks, -stop-after
    int dropLastAcks = 0;        // --upgrade-drop-last-acks N: the first N acks of the final block are lost
    unsigned seed = 1;           // --upgrade-seed
    bool enabled() const { return !mac.empty() || fleet; }
};

// Takes the --upgrade-* options out of argv (so the rest parses as before). Throws
// std::invalid_argument with a message for the user.
UpgradeOptions takeUpgradeOptions(std::vector<char*>& args);

class UpgradeSide {
public:
    // What the upgrade side does to the fleet's modules.
    struct Hooks {
        std::function<Module*(const Mac&)> find; // a fleet module by MAC
        std::function<void()> changed;           // a module's state changed
        std::function<double()> nowMs;
        int restartMs = 300;
    };
    UpgradeSide(UpgradeOptions o, Hooks hooks);
    ~UpgradeSide();
    UpgradeSide(const UpgradeSide&) = delete;
    UpgradeSide& operator=(const UpgradeSide&) = delete;

    // Opens the request and boot sockets (throws std::runtime_error); nothing when not enabled.
    void start();
    // The sockets to poll for reading.
    void addFds(std::vector<pollfd>& fds) const;
    // Handles what is ready on `fd`, and gives up loaders that waited too long.
    void handle(int fd);
    void tick();

private:
    struct Loader {
        Mac mac{};
        std::uint32_t xid = 0, expected = 1;
        int fdData = -1;
        in_addr_t server = 0;
        long blocks = 0;
        int lastAcksToDrop = 0;
        bool done = false;
        Bytes image;
        double lastMs = 0;
        UpgradeTweaks t; // this module's, the command line's filled in
        std::mt19937 rng;
    };
    void onRequest();
    void onBootReply();
    void onData(Loader& l);
    void start(const Mac& mac);
    void finish(Loader& l, bool whole);
    Loader* loaderFor(const Mac& mac);
    int dataSocket(in_addr_t mine);

    UpgradeOptions opt_;
    Hooks hooks_;
    int fdRequest_ = -1, fdBoot_ = -1;
    int ifindex_ = 0;
    std::vector<Loader> loaders_;
    std::mt19937 xids_;
};

} // namespace varnix::sim
