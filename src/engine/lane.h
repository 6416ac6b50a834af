#pragma once
// A lane: an endpoint of its own (its own ports on every local address) that serves one module at
// a time. A module answers to the address and port a command came from, so whatever reaches this
// lane's ports is an answer to this lane's commands. Only the 130-byte reply names the module (by
// MAC); the other blocks and the acknowledgements name nobody, and modules behind one router (or
// simulated in one process) may answer from one address, so serving one module per lane is what
// tells their answers apart.
//
// Trust: the module is its MAC plus the address and port its search reply came from. A block
// counts only from that address and port; an acknowledgement from that address (at that port, or
// at the port the last command went to: a module of the other family port answers a restart sent
// to the Z2 port from there). Everything else that reaches the lane is counted as foreign and
// otherwise ignored.

#include "engine/ack.h"
#include "engine/module_ref.h"
#include "lan/lan_protocol.h"
#include "lan/udp_svr.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace varnix {

class TLane {
public:
    // The endpoint's options (local addresses, destination, ports) as the search endpoint has them,
    // so a module's binding is found by its local address.
    explicit TLane(TUdpSvrOptions options);
    ~TLane();
    TLane(const TLane&) = delete;
    TLane& operator=(const TLane&) = delete;

    // Serves `m` from now on (commands leave from the binding on m.Local, m.Binding when no
    // binding has that address). Resets the foreign count.
    void Serve(const TFoundModule& m);
    // Serves nobody: everything that arrives is foreign.
    void Release();
    bool Serving() const { return serving_; }
    const TFoundModule& Module() const { return module_; }

    // An addressed command to the module served, to `port`.
    void Send(const TLogin& login, std::uint8_t code, std::span<const std::uint8_t> payload,
              std::uint16_t port);
    // A plain command to the port its family takes it on: the restart goes to the Z2 port for
    // every family, every other command of a Z3 module to the Z3 port.
    void SendCommand(const TLogin& login, std::uint8_t code);
    std::uint16_t PortFor(std::uint8_t code) const;
    // Handles what already waits in this lane's sockets (see TUdpSvr::PollNow).
    void PollNow() { svr_->PollNow(); }
    // The search request from this lane's bindings; every reply comes as OnSearchHit.
    void Search();

    // --- What arrives, already checked against the module served. ---
    std::function<void(const TAck&)> OnAck;
    std::function<void(TBlockReply block, std::span<const std::uint8_t> bytes)> OnBlock;
    std::function<void(const TModbusDatagram& modbus, std::span<const std::uint8_t> bytes)> OnModbus;
    // The module sent something that is no answer of a command: a datagram of an unknown length
    // (stReceiveOther, its length as text) or a reply of another product series.
    std::function<void(std::int32_t code, const std::string& text)> OnOtherStatus;
    // A module answered this lane's search (from anyone: a search asks everybody).
    std::function<void(const TFoundModule&)> OnSearchHit;
    // Every datagram received and sent, before any check: the hex pane and captures.
    std::function<void(const TIdBytes& data, const std::string& peer, const std::string& local,
                       std::uint16_t peerPort, std::uint16_t localPort)>
        OnReceived;
    std::function<void(const TIdBytes& data, const std::string& dest, const std::string& local,
                       std::uint16_t destPort, std::uint16_t localPort)>
        OnSent;

    // Datagrams that reached the lane from anyone but the module served since Serve.
    int ForeignCount() const { return foreign_; }
    TUdpSvr& Endpoint() { return *svr_; }

private:
    void Received(const TIdBytes& data, const std::string& peer, std::uint16_t peerPort);
    int BindingFor(const TFoundModule& m);

    std::unique_ptr<TUdpSvr> svr_;
    TFoundModule module_;
    bool serving_ = false;
    int binding_ = -1;
    std::uint16_t lastPort_ = 0;
    int foreign_ = 0;
};

} // namespace varnix
