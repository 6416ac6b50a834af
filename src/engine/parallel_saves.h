#pragma once
// Saves of many modules side by side. Each module gets its plan's datagrams in order, with the
// plan's pause after each step; modules interleave, at most `Parallel` at a time, their starts a
// little apart so their datagrams do not leave in one burst. Pauses are timers: the event loop
// keeps running, one endpoint sends and receives for every module, and nobody sleeps.
//
// Acknowledgements name only the command they answer (byte 2), not the module, and in a test
// fleet every reply may come from one address. Each one is given to the module whose send of
// that code is the oldest one still unacknowledged (modules answer in the order they are
// written to), preferring a module whose address the reply came from. The read-back after the
// save is what proves each module's values; the acknowledgements are its record.
//
// The runner is driven by an injected scheduler, so tests run it on a virtual clock.

#include "engine/lan_session.h"
#include "lan/save_plan.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace varnix {

class TParallelSaves {
public:
    // Calls `fn` after `ms` milliseconds (0: on the next turn of the event loop).
    using TScheduler = std::function<void(int ms, std::function<void()> fn)>;
    // Sends step `step` of module `module`.
    using TSender = std::function<void(int module, const TSaveStep& step)>;

    // After its last step a module waits up to ackGraceMs for its outstanding acknowledgements
    // before it counts as done (and the next module takes its place).
    TParallelSaves(int parallel, int staggerMs, int ackGraceMs, TScheduler schedule, TSender send);
    static constexpr int AckPollMs = 10;

    // Adds a module's plan (before Start); returns its index. `ip` is where its replies come from.
    int Add(const TSavePlan& plan, const std::string& ip);
    void Start();
    // An acknowledgement that arrived from `peer`; returns the module it was given to, or -1.
    // `module` >= 0 when the port it came back to tells whose it is: only that module's sends
    // are considered then.
    int Ack(const TAck& ack, const std::string& peer, int module = -1);

    // Every step of every module sent and its last pause over.
    bool Done() const { return finished_ == static_cast<int>(modules_.size()); }
    // Raised when a module's last step has been sent, its last pause is over and its
    // acknowledgements are in (or the grace time is up).
    std::function<void(int module)> OnModuleDone;

    const std::vector<TAck>& Acks(int module) const {
        return modules_.at(static_cast<std::size_t>(module)).Acks;
    }
    // Every acknowledgement every module was given has been given (none is outstanding).
    bool AllAcked() const;

private:
    struct TModule {
        std::vector<TSaveStep> Steps;
        std::string Ip;
        std::size_t Next = 0;
        int GraceLeftMs = 0;
        std::vector<TAck> Acks;
        std::vector<std::uint64_t> Unacked; // send sequence numbers of steps without an ack
        std::vector<std::uint8_t> UnackedCode;
    };
    void StartNext();
    void SendStep(int module);

    int parallel_, staggerMs_, ackGraceMs_;
    TScheduler schedule_;
    TSender send_;
    std::vector<TModule> modules_;
    int nextToStart_ = 0, running_ = 0, finished_ = 0;
    std::uint64_t sequence_ = 0;
};

// The scheduler of the running event loop (QTimer::singleShot).
TParallelSaves::TScheduler EventLoopScheduler();

} // namespace varnix
