#pragma once
// The engine for a command-line run: a pool of lanes and a clock, and the jobs run to their end
// one call at a time (WaitUntil). Search, read, plain commands, saves and their verification go out
// exactly as the window sends them, through the same jobs.

#include "engine/clock.h"
#include "engine/lane_pool.h"
#include "engine/module_ref.h"
#include "engine/read_job.h"
#include "engine/save_job.h"
#include "engine/verify_job.h"
#include "lan/save_plan.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace varnix {

struct TSessionOptions {
    std::string Broadcast = "255.255.255.255";
    std::string Interface; // search and send from this local address only ("" = every address)
    bool Loopback = false; // include loopback interfaces among the local addresses
    std::uint16_t PortZ2 = 1500, PortZ3 = 1901;
    int QuietMs = 300;                        // a read ends when no reply arrived for this long
    capture::ICaptureSink* Capture = nullptr; // every datagram of the run, when set
};

// What a run saw, for whoever keeps records of it (varnix-cli's inventory): the replies of every
// search, and every read that succeeded (the read-backs of a verification included), as each
// search or batch of reads ends. The engine itself keeps nothing.
struct TSessionObserver {
    std::function<void(const std::vector<TFoundModule>&)> Searched;
    std::function<void(const TFoundModule&, const TReadResult&)> Read;
};

// The endpoint options every lane of a run shares.
TUdpSvrOptions EndpointOptions(const TSessionOptions& options);

class TLanSession {
public:
    explicit TLanSession(const TSessionOptions& options, TClock& clock = RealClock());
    ~TLanSession();

    // Sends the search request every `repeatMs` (once when 0) and collects the replies for
    // `timeoutMs`, or until `enough` says so. Replies are listed in arrival order; a module that
    // answers on two local addresses is listed twice. `onFound` sees each reply as it arrives.
    std::vector<TFoundModule> Search(int timeoutMs, int repeatMs = 0,
                                     const std::function<bool(const std::vector<TFoundModule>&)>& enough = {},
                                     const std::function<void(const TFoundModule&)>& onFound = {});
    // Searches until every MAC answered (or the time is up); the first reply of each MAC, in the
    // order asked.
    std::vector<TFoundModule> Find(const std::vector<std::string>& macs, int timeoutMs);
    int IncompatibleReplies() const { return incompatible_; }  // 193/256-byte replies seen
    QString BindingProblem() const { return bindingProblem_; } // "port is used" etc.
    // The local addresses the searches went out from.
    std::vector<std::string> SearchAddresses();

    TReadResult Read(const TFoundModule& m, const TLogin& login, int timeoutMs);
    // Reads side by side, at most `parallel` at a time, each on a lane of its own; the results in
    // the order asked.
    std::vector<TReadResult> ReadMany(const std::vector<TReadRequest>& requests, int parallel);

    // A plain command (restart, reset) and the module's answer, waiting at most timeoutMs for it.
    TSaveReport Command(const TFoundModule& m, const TLogin& login, std::uint8_t code, int timeoutMs);

    // Saves side by side, at most `parallel` at a time, each module written from a lane of its own;
    // `onDone(i, report)` as module i's save ends (its acknowledgements in, or ackWaitMs after its
    // last step). The reports in the order given.
    struct TPlannedSave {
        TFoundModule Module;
        TSavePlan Plan;
    };
    std::vector<TSaveReport> SaveMany(const std::vector<TPlannedSave>& saves, const TLogin& login,
                                      int parallel, int ackWaitMs,
                                      const std::function<void(int, const TSaveReport&)>& onDone);

    std::vector<TVerifyOutcome> Verify(std::vector<TVerifyItem> items, const TVerifyOptions& options);

    void SetObserver(TSessionObserver observer) { observer_ = std::move(observer); }

    TClock& Clock() { return clock_; }
    TLanePool& Pool() { return pool_; }
    const TSessionOptions& Options() const { return options_; }

private:
    TSessionOptions options_;
    TClock& clock_;
    TLanePool pool_;
    TLane* searchLane_ = nullptr;
    int incompatible_ = 0;
    QString bindingProblem_;
    TSessionObserver observer_;
};

} // namespace varnix
