#pragma once
// TUdpSvr: the program's UDP endpoint towards modules on the LAN.
//
// One "binding" per local IPv4 address, each with the system-chosen port and broadcast enabled.
// Every command is sent as a broadcast from the binding the module was found on; the module names
// itself by MAC inside the datagram and answers to the sender's port: to the sender's address
// when it has a route to it, else (a factory address in a foreign subnet) by broadcast.
//
// A binding receives what a socket bound to its address receives on Windows: every datagram that
// arrives on its interface at its port addressed to its own address, to 255.255.255.255 or to its
// subnet's broadcast address, each exactly once. Linux gives a socket bound to a unicast address
// only the first kind, so each binding has a companion socket bound to 0.0.0.0 at the same port
// (SO_REUSEADDR), kept to the address's interface by SO_BINDTODEVICE and by the IP_PKTINFO
// interface index, that takes the broadcasts (and whatever unicast the kernel hands it instead of
// the first socket). Two addresses on one interface are two bindings with two ports; each hears
// the broadcast replies to its own port, as on Windows.
//
// Every received datagram is raised as it arrived (OnReceive), then classified by its length
// (ClassifyDatagram): search replies and status datagrams (acknowledgements, checksum errors,
// other series, unknown lengths) have events of their own. Parameter blocks have none here: a
// module is read on a lane of the engine (src/engine/lane.h), which knows whose blocks they are.
//
// Threading: all of it runs on the thread that owns the endpoint (the GUI thread); a
// QSocketNotifier per socket wakes it. Each wake-up handles a bounded amount (a few recvmmsg
// batches or a few milliseconds, whichever ends first) and continues on the next event-loop turn
// until the queues are empty, so timers, painting and input keep running under a flood while
// nothing the kernel delivered is dropped (the receive buffers are at least 4 MiB). While a handler
// runs (even a modal dialog), that binding is not read again, so datagrams queue up in the kernel
// instead of being handled re-entrantly.
//
// A handler may search again (rebuilding the bindings mid-burst: the rest of the old sockets'
// queues is dropped), but must not destroy the endpoint whose event it is handling.
//
// Sending never reports failure: an unparsable MAC text, a binding index that does not exist or
// a socket error drop the datagram silently; the user notices the missing acknowledgement.

#include "core/capture_sink.h"
#include "core/records.h"
#include "core/types.h"
#include "lan/lan_protocol.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct msghdr;

namespace varnix {

struct TUdpSvrOptions {
    // Destination of every datagram sent. The limited broadcast by default; a directed broadcast
    // (192.168.1.255), one module's unicast address, or 127.0.0.1 for the loopback demo.
    std::string DestinationAddr = BroadcastAddr;
    // Include loopback interfaces among the local addresses (demo and tests).
    bool IncludeLoopback = false;
    // Replaces the enumeration of local addresses (GetLocalIPList) when set.
    std::function<std::vector<std::string>()> LocalAddresses;
    // Destination ports of Z2 (search, restart) and Z3 commands; change only in tests.
    std::uint16_t PortZ2 = varnix::PortZ2;
    std::uint16_t PortZ3 = varnix::PortZ3;
    // Receive buffer each binding asks for (SO_RCVBUF; the kernel doubles it, capped by
    // net.core.rmem_max), so a burst of thousands of search replies is kept while the GUI is busy.
    int ReceiveBufferBytes = 4 * 1024 * 1024;
    // When set, every datagram sent and every datagram handled (before any check) is handed to it
    // as it is, without a copy; the sink must outlive the endpoint.
    capture::ICaptureSink* Capture = nullptr;
};

// A search reply as it arrived.
struct TSearchHit {
    TSearchReply Reply;
    int Binding = -1;
    std::string PeerAddr;
    std::uint16_t PeerPort = 0;
};

class TUdpSvr {
public:
    // --- Events: raised only when assigned. Texts are byte strings. ---
    // A datagram was sent.
    std::function<void(const TIdBytes& data, const std::string& destAddr, const std::string& localAddr,
                       std::uint16_t destPort, std::uint16_t localPort)>
        OnSend;
    // Any datagram arrived, before classification.
    std::function<void(const TIdBytes& data, const std::string& peerAddr, const std::string& localAddr,
                       std::uint16_t peerPort, std::uint16_t localPort)>
        OnReceive;
    // A valid 36-byte search reply, with the binding it arrived on (to be used for every later
    // command to that module) and where it came from (the module's address and port, which later
    // replies must come from to count as the module's).
    std::function<void(const TSearchHit& hit)> OnSearchReply;
    // A status code (stSearchSent ... stReceiveOther) and its text.
    std::function<void(std::int32_t code, const std::string& text)> OnStatus;

    // Create: the endpoint starts inactive, without bindings; they are made by the first search.
    explicit TUdpSvr(TUdpSvrOptions options = {});
    static std::unique_ptr<TUdpSvr> Create(TUdpSvrOptions options = {});
    ~TUdpSvr();
    TUdpSvr(const TUdpSvr&) = delete;
    TUdpSvr& operator=(const TUdpSvr&) = delete;

    // Closes every binding. The endpoint may be used again (the next search binds afresh).
    void Destroy();

    // Makes the bindings match the local address list: when the count or any address differs
    // (position by position) and the list is not empty, every binding is closed and one is made
    // per address, in list order; otherwise nothing changes. A binding that cannot be made raises
    // OnStatus(stPortInUse, "port is used"); the bindings made before it stay.
    void UpdateBindings();

    // UpdateBindings, then sends FF 01 01 02 to the destination at PortZ2 and raises
    // OnStatus(stSearchSent, ""): to the limited broadcast from every binding; to any other
    // destination (routed by the destination alone) once, from the binding the kernel would send
    // from (from every binding when none is that one). Returns 1, or 0 when a send failed (the
    // other bindings are still sent on; no stSearchSent is raised then).
    int Search();

    // Sends a datagram exactly as given from `binding` to the destination address at destPort and
    // raises OnSend; silently nothing for a binding that does not exist or a socket error. For
    // tools that build their own datagrams (and tests that need a wrong checksum).
    void SendDatagram(int binding, const TIdBytes& data, std::uint16_t destPort);

    // The receive dispatch for one datagram, as if it had arrived on `binding` from
    // peerAddr:peerPort. Used by the socket reader; public so a datagram source other than a
    // socket (a replay, a test) can feed the same path.
    void HandleDatagram(int binding, std::span<const std::uint8_t> datagram, const std::string& peerAddr,
                        std::uint16_t peerPort);

    // The module port a datagram's source port stands for: the endpoint's PortZ2 and PortZ3 (moved
    // in tests and the demo) are the protocol's 1500 and 1901, which tell a module's family.
    std::uint16_t RolePort(std::uint16_t peerPort) const;

    // Handles at once what the sockets hold now, as the event loop would on its next turns (a
    // bounded amount per binding). A timer that ends a wait on "nothing more came" calls this
    // first: on a busy machine the event loop may run the timer before the socket's turn, with
    // the answer already waiting in the kernel.
    void PollNow();

    // Work done per event-loop turn (tests and benchmarks may lower or raise it).
    void SetTurnBudget(int maxBatches, int maxMicroseconds);
    void SetCapture(capture::ICaptureSink* sink) { options_.Capture = sink; }

    // --- Inspection. ---
    int BindingCount() const { return static_cast<int>(bindings_.size()); }
    // Local address text and port of a binding ("" and 0 for an index that does not exist).
    std::string BindingAddress(int binding) const;
    std::uint16_t BindingPort(int binding) const;
    // Receive buffer size the kernel granted a binding (SO_RCVBUF as read back), 0 if none.
    int BindingReceiveBuffer(int binding) const;
    // Whether a binding has its broadcast companion (an address on a broadcast-capable interface).
    bool BindingHearsBroadcasts(int binding) const;
    // Event-loop turns that ended with work left over for the next one (a flood or a burst).
    std::uint64_t YieldedTurns() const { return yieldedTurns_; }
    const TUdpSvrOptions& Options() const { return options_; }

private:
    void Captured(capture::TDirection direction, std::span<const std::uint8_t> data, std::string_view peer,
                  std::string_view local, std::uint16_t peerPort, std::uint16_t localPort) const;
    struct Binding;
    void CloseBindings();
    bool OpenBinding(const std::string& address);
    void ReadBinding(const std::shared_ptr<Binding>& b);
    bool ReceiveBatch(Binding& b);
    static bool CompanionKeeps(const Binding& b, msghdr& h);
    void SetNotifiers(Binding& b, bool enabled);
    std::vector<std::string> LocalAddressList() const;
    int turnBatches_ = 4;
    int turnMicroseconds_ = 4000;
    std::uint64_t yieldedTurns_ = 0;
    TUdpSvrOptions options_;
    // Shared with a reader that is running, so a handler that rebuilds the bindings cannot free
    // the receive batch under it.
    std::vector<std::shared_ptr<Binding>> bindings_;
    // Changes whenever the bindings are rebuilt, so a reader whose handler rebuilt them stops.
    std::uint64_t generation_ = 0;
    // Cleared on destruction, so a reader whose handler destroyed the endpoint stops.
    std::shared_ptr<bool> alive_;
};

} // namespace varnix
