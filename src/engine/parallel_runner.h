#pragma once
// Work on many modules side by side: each task gets a lane of its own from the pool for as long as
// it runs; at most `parallel` run at once; the first wave starts `staggerMs` apart, so a hundred
// modules' datagrams do not leave in one burst, and every later task starts when one ends.

#include "engine/clock.h"
#include "engine/lane_pool.h"

#include <functional>
#include <memory>
#include <vector>

namespace varnix {

class TParallelRunner {
public:
    // A task runs on `lane` and calls `done` once (on a later event, or at once) when it is over.
    using TTask = std::function<void(TLane& lane, std::function<void()> done)>;

    TParallelRunner(TLanePool& pool, TClock& clock, int parallel, int staggerMs = 0);
    ~TParallelRunner();
    TParallelRunner(const TParallelRunner&) = delete;
    TParallelRunner& operator=(const TParallelRunner&) = delete;

    void Add(TTask task);
    void Start();
    bool Done() const { return finished_ == tasks_.size(); }
    // Raised once every task has called its `done` (at once for no tasks).
    std::function<void()> OnAllDone;

private:
    void Launch(std::size_t index);
    void Finished(TLane& lane);

    TLanePool& pool_;
    TClock& clock_;
    int parallel_, staggerMs_;
    std::vector<TTask> tasks_;
    std::vector<std::unique_ptr<ITimer>> starts_;
    std::size_t next_ = 0, finished_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace varnix
