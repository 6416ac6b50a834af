#pragma once
// The module side of a firmware upgrade, for tests and benchmarks.
//
// On the 30-byte upgrade request (six 0xAA, then its MAC four times) to port 9 the module, which
// has no address yet, broadcasts a 300-byte boot request from port 68 to 255.255.255.255:67
// carrying its firmware signature at bytes 44..47. From the boot reply (also a broadcast, to
// port 68) it takes its address (bytes 16..19) and the server's (20..23), asks the server for
// "firmware.bin" with a 21-byte read request from port 13633 to port 69, acknowledges every
// block to the port it came from and writes the image to a file once the short last block came.
// Runs on its own thread with its own sockets, beside the LAN simulator.

#include "bytes.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace varnix::sim {

struct UpgradeOptions {
    std::string mac;   // --upgrade-mac: the module that answers; empty = no upgrade side
    std::string out;   // --upgrade-out: where the received image is written
    std::string iface; // --upgrade-iface: the segment's interface (all when empty)
    Bytes signature{0x5A, 0x32, 0x10, 0x07}; // --upgrade-signature HEX
    int byte26 = 0;          // --upgrade-byte26: 1 asks the PC to say when the image does not fit
    double dropBlocks = 0.0; // --upgrade-drop-blocks: share of received blocks ignored
    double dropAcks = 0.0;   // --upgrade-drop-acks: share of acknowledgements not sent
    int dropLastAcks = 0;    // --upgrade-drop-last-acks N: the first N acks of the final block are lost
    long stopAfter = -1;     // --upgrade-stop-after N: no answer at all after N blocks
    unsigned seed = 1;
};

// Takes the --upgrade-* options out of argv (so the rest parses as before). Throws
// std::invalid_argument with a message for the user.
UpgradeOptions takeUpgradeOptions(std::vector<char*>& args);

class UpgradeModule {
public:
    explicit UpgradeModule(UpgradeOptions o) : opt_(std::move(o)) {}
    ~UpgradeModule() { stop(); }
    // Opens the sockets (throws std::runtime_error) and starts the thread.
    void start();
    void stop();

private:
    void loop();
    int dataSocket(unsigned int mineNetworkOrder);

    UpgradeOptions opt_;
    int fdRequest_ = -1, fdBoot_ = -1, fdData_ = -1;
    int ifindex_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace varnix::sim
