#pragma once
// Reads of many modules side by side.
//
// A module answers a read (0x03) to the address and port the read came from: the 130-byte reply,
// then the 50/85/302-byte and Modbus blocks of its family. Only the 130-byte reply names the
// module (by MAC); the other blocks do not, and modules behind one router, or simulated in one
// process, all answer from one address. Two reads in flight from one port therefore cannot be
// told apart. A lane is an endpoint of its own - its own ports, its own block store - that reads
// one module at a time, so each reply is known by the port it arrives on. A read ends when no
// reply came for the quiet time, when the module refuses it, or at its deadline.

#include "cli/session.h"

#include <QTimer>

#include <functional>
#include <memory>
#include <string>

namespace varnix::cli {

class TReadLane {
public:
    // `options` as the session's endpoint has them (same local addresses, so a module's binding
    // is found by its local address); the lane's store replaces options.Store.
    explicit TReadLane(TUdpSvrOptions options);
    ~TReadLane();
    TReadLane(const TReadLane&) = delete;
    TReadLane& operator=(const TReadLane&) = delete;

    // Sends the read to `m` from the binding on m.Local and collects its replies; `done` gets the
    // result once the read is over (on a later turn of the event loop, never inside Start).
    void Start(const TFoundModule& m, const TLogin& login, int timeoutMs, int quietMs,
               std::function<void(TReadResult)> done);
    bool Busy() const { return static_cast<bool>(done_); }

private:
    void Wire();
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
};

} // namespace varnix::cli
