#pragma once
// A read of one module on a lane: the read command (0x03), then the module's replies (the
// 130-byte base and port blocks, and for a Z2 module its cloud, heartbeat, HTTPD and Modbus
// replies, as its firmware sends them) into a block store of this read's own. The read ends when
// no reply came for the quiet time, when the module refuses it ('P', 'E', a checksum error), or at
// its deadline. A 130-byte reply that carries another MAC is counted and ignored (a module not yet
// given a MAC reports FF FF FF FF FF FF and is taken).

#include "core/block_store.h"
#include "engine/clock.h"
#include "engine/lane.h"
#include "engine/outcome.h"
#include "model/module_settings.h"

#include <QString>

#include <functional>
#include <memory>

namespace varnix {

struct TReadResult {
    TOutcome Status = TOutcome::NoAnswer;
    QString Error;            // why Status is not Ok
    TReceivedBlocks Got;      // which replies came
    TBlockStore Store;        // the module's blocks as it sent them in this read
    TModuleSettings Settings; // decoded from Store (when Status is Ok)
    int ForeignReplies = 0;   // 130-byte replies of another MAC
    int ForeignDatagrams = 0; // datagrams from anyone but the module
};

struct TReadRequest {
    TFoundModule Module;
    TLogin Login;
    int TimeoutMs = 2000;
    int QuietMs = 300;
};

class TReadJob {
public:
    TReadJob(TLane& lane, TClock& clock, TReadRequest request);
    ~TReadJob();
    TReadJob(const TReadJob&) = delete;
    TReadJob& operator=(const TReadJob&) = delete;

    // Serves the module on the lane and sends the read. Callbacks come from later events only.
    void Start();
    // Stops listening; OnDone is not raised.
    void Cancel();
    bool Running() const { return running_; }

    // A reply of the module arrived and is in Partial(): the window shows a module's values as
    // they come.
    std::function<void()> OnProgress;
    std::function<void(TReadResult)> OnDone;
    const TReadResult& Partial() const { return result_; }
    // The settings decoded from what arrived so far.
    TModuleSettings PartialSettings() const;

private:
    void Block(TBlockReply block, std::span<const std::uint8_t> bytes);
    void Modbus(const TModbusDatagram& m, std::span<const std::uint8_t> bytes);
    void Ack(const TAck& ack);
    void Replied();
    void Quiet();
    void Finish();
    void Unhook();

    TLane& lane_;
    TReadRequest request_;
    std::unique_ptr<ITimer> deadline_, quiet_;
    TReadResult result_;
    std::string mac_; // MacKey of the module
    bool running_ = false;
};

} // namespace varnix
