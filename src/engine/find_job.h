#pragma once
// A search on a lane: the search request now and every `RepeatMs` (a module busy restarting
// misses one), collecting the replies until the deadline, or, when MACs are asked for, until each
// of them answered. Replies are kept in arrival order; a module heard through two local addresses
// is there twice.

#include "engine/clock.h"
#include "engine/lane.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace varnix {

struct TFindRequest {
    std::vector<std::string> Macs; // any MAC text; empty: everybody who answers before the deadline
    int TimeoutMs = 2000;
    int RepeatMs = 0; // 0: one search request
};

class TFindJob {
public:
    TFindJob(TLane& lane, TClock& clock, TFindRequest request);
    ~TFindJob();
    TFindJob(const TFindJob&) = delete;
    TFindJob& operator=(const TFindJob&) = delete;

    void Start();
    void Cancel();
    bool Running() const { return running_; }

    // Each reply as it arrives; returning true ends the search early.
    std::function<bool(const TFoundModule&)> OnFound;
    std::function<void(std::vector<TFoundModule>)> OnDone;

    // The first reply of each MAC asked for, in the order asked (MACs that did not answer are
    // left out).
    static std::vector<TFoundModule> FirstOfEach(const std::vector<std::string>& macs,
                                                 const std::vector<TFoundModule>& found);

private:
    void Repeat();
    void Hit(const TFoundModule& m);
    bool AllFound() const;
    void Finish();

    TLane& lane_;
    TFindRequest request_;
    std::vector<std::string> keys_;
    std::unique_ptr<ITimer> deadline_, repeat_;
    std::vector<TFoundModule> found_;
    bool running_ = false;
};

} // namespace varnix
