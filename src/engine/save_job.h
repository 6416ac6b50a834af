#pragma once
// One module's save on a lane: the plan's datagrams in order, each followed by its pause (a timer),
// then a short wait for the acknowledgements still owed. Nothing waits for an acknowledgement
// before the next datagram; each one is reported as it arrives.
//
// An acknowledgement names no command (its byte 2 is left open), but within a lane every
// acknowledgement is the module's, and the module answers its datagrams in the order they came:
// each one belongs to the oldest send that has none yet. One that arrives when no send is owed
// one is kept as an extra.

#include "engine/ack.h"
#include "engine/clock.h"
#include "engine/lane.h"
#include "lan/save_plan.h"

#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace varnix {

struct TSaveReport {
    std::vector<TSaveStep> Steps;
    std::vector<std::optional<TAck>> AckOf; // per step, in step order
    std::vector<TAck> Extra;                // acknowledgements no send was owed
    struct TArrived {
        int Step = -1; // the send it belongs to; -1 when none was owed one
        TAck Ack;
    };
    std::vector<TArrived> Arrived; // every acknowledgement, in arrival order
    // The command code of the send an arrived acknowledgement belongs to; -1 for none.
    int CodeOf(const TArrived& a) const;
    // Ok when every step has a 'K'; else the worst acknowledgement, or NoAnswer for a missing one.
    TOutcome Outcome() const;
    int Acknowledged() const;
    // Every acknowledgement in arrival order as the journal keeps it: "0x05 K" (the code of the
    // send it belongs to), "K" for one no send was owed.
    QStringList Words() const;
};

class TSaveJob {
public:
    // ackGraceMs: after the last step's pause, how long the job waits for acknowledgements still
    // owed before it ends.
    TSaveJob(TLane& lane, TClock& clock, const TFoundModule& module, TLogin login,
             std::vector<TSaveStep> steps, int ackGraceMs);
    ~TSaveJob();
    TSaveJob(const TSaveJob&) = delete;
    TSaveJob& operator=(const TSaveJob&) = delete;

    void Start();
    bool Running() const { return running_; }

    std::function<void(int step)> OnSent;
    // An acknowledgement arrived; `step` is the send it belongs to, -1 when none was owed one.
    std::function<void(int step, const TAck& ack)> OnAck;
    std::function<void(const TSaveReport&)> OnDone;

private:
    void SendNext();
    void Acked(const TAck& ack);
    void Finish();

    TLane& lane_;
    TFoundModule module_;
    TLogin login_;
    int ackGraceMs_;
    std::unique_ptr<ITimer> timer_;
    TSaveReport report_;
    std::size_t next_ = 0;
    bool running_ = false;
    bool draining_ = false; // every step sent, waiting for the last acknowledgements
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace varnix
