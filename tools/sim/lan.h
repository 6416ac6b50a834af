#pragma once
// The LAN side of the simulator: the two module sockets (ports 1500 and 1901 by default) on one
// address, receiving with the arrival interface and sending bursts without dropping.

#include "bytes.h"

#include <netinet/in.h>

#include <map>
#include <string>
#include <vector>

namespace varnix::sim {

struct Datagram {
    int socket = 0; // 0: the Z2 socket, 1: the Z3 socket
    sockaddr_in from{};
    int ifindex = 0;
    Bytes data;
    // When the kernel took it in (CLOCK_REALTIME, ms since the epoch); < 0 when not known. A busy
    // simulator handles a datagram later than it arrived; the journal's gaps are the arrival's.
    double arrivalMs = -1;
};

class LanTransport {
public:
    struct Options {
        std::string bind;
        int ports[2];
        std::vector<std::string> ifaces; // accept only these arrival interfaces (empty: all)
        bool broadcastReplies = true;    // see send()
    };

    LanTransport() = default;
    LanTransport(const LanTransport&) = delete;
    LanTransport& operator=(const LanTransport&) = delete;
    ~LanTransport();

    // Binds both sockets; throws std::runtime_error with a message for the user.
    void open(const Options& o);
    int fd(int socket) const { return fds_[socket]; }
    int port(int socket) const { return ports_[socket]; }

    // One pending datagram of that socket; false when none is queued.
    bool receive(int socket, Datagram& out);
    // Whether a datagram arrived on an interface this simulator serves.
    bool accepted(const Datagram& d) const;

    // Sends every datagram from `socket` as the answer to a datagram from `to` that arrived on
    // `arrivalIfindex`. Answers to a datagram that came in on a served interface carry that
    // interface's address as source; with broadcast replies they go to 255.255.255.255 at `to`'s
    // port, out of that interface only (the per-datagram form of SO_BINDTODEVICE), never over lo.
    // Anything else (a simulator bound to one address, a datagram that came in on lo, unicast
    // replies) is answered to `to` itself: a broadcast without an interface would follow the routing
    // table off the machine. Waits for writability when the socket buffer is full rather than
    // dropping. Returns the number sent.
    std::size_t send(int socket, const sockaddr_in& to, int arrivalIfindex,
                     const std::vector<const Bytes*>& datagrams);

private:
    int fds_[2] = {-1, -1};
    int ports_[2] = {0, 0};
    bool anyAddress_ = false;
    bool broadcastReplies_ = true;
    std::map<int, bool> loopback_;     // served interfaces that are loopback
    std::map<int, in_addr> ifaceAddr_; // served interfaces: ifindex -> their IPv4 address
    Bytes buffer_ = Bytes(65536);
};

std::string endpointText(const sockaddr_in& a);

} // namespace varnix::sim
