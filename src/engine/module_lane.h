#pragma once
// Work on many modules side by side.
//
// A module answers to the address and port a command came from. A read (0x03) brings the 130-byte
// reply, then the 50/85/302-byte and Modbus blocks of its family; a save step brings a 4-byte
// acknowledgement naming only the command it answers. Only the 130-byte reply names the module
// (by MAC), and modules behind one router, or simulated in one process, all answer from one
// address, so two modules served from one port cannot be told apart. A lane is an endpoint of its
// own - its own ports, its own block store - that serves one module at a time, so every reply is
// known by the port it arrives on. A read ends when no reply came for the quiet time, when the
// module refuses it, or at its deadline.

#include "engine/lan_session.h"

#include <QTimer>

#include <functional>
#include <memory>
#include <string>

namespace varnix {

class TModuleLane {
public:
    // `options` as the session's endpoint has them (same local addresses, so a module's binding
    // is found by its local address); the lane's store replaces options.Store.
    explicit TModuleLane(TUdpSvrOptions options);
    ~TModuleLane();
    TModuleLane(const TModuleLane&) = delete;
    TModuleLane& operator=(const TModuleLane&) = delete;

    // Sends the read to `m` from the binding on m.Local and collects its replies; `done` gets the
    // result once the read is over (on a later turn of the event loop, never inside StartRead).
    void StartRead(const TFoundModule& m, const TLogin& login, int timeoutMs, int quietMs,
                   std::function<void(TReadResult)> done);
    bool Reading() const { return static_cast<bool>(done_); }

    // Sends one save step to `m` from this lane's port; its acknowledgement comes to OnAck (while
    // no read runs on the lane).
    void SendStep(const TFoundModule& m, const TLogin& login, const TSaveStep& step);
    std::function<void(const TAck&)> OnAck;

private:
    void Wire();
    int BindingFor(const TFoundModule& m);
    void Replied();
    void Finish();

    TBlockStore store_;
    std::unique_ptr<TUdpSvr> svr_;
    QTimer deadline_, quiet_;
    int quietMs_ = 0;
    TFoundModule module_;
    std::string mac_; // MacKey of the module read
    TReadResult result_;
    std::function<void(TReadResult)> done_;
    TIdBytes lastDatagram_; // the datagram a status event was decoded from
};

} // namespace varnix
