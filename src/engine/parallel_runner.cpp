#include "engine/parallel_runner.h"

#include <algorithm>

namespace varnix {

TParallelRunner::TParallelRunner(TLanePool& pool, TClock& clock, int parallel, int staggerMs)
    : pool_(pool), clock_(clock), parallel_(std::max(1, parallel)), staggerMs_(std::max(0, staggerMs)) {}

TParallelRunner::~TParallelRunner() = default;

void TParallelRunner::Add(TTask task) {
    tasks_.push_back(std::move(task));
    starts_.push_back(clock_.NewTimer());
}

void TParallelRunner::Start() {
    if (tasks_.empty()) {
        if (const auto done = OnAllDone)
            done();
        return;
    }
    const std::size_t first = std::min<std::size_t>(static_cast<std::size_t>(parallel_), tasks_.size());
    for (std::size_t i = 0; i < first; ++i) {
        const std::size_t index = next_++;
        starts_[index]->Start(static_cast<int>(i) * staggerMs_, [this, index] { Launch(index); });
    }
}

void TParallelRunner::Launch(std::size_t index) {
    TLane& lane = pool_.Acquire();
    const std::weak_ptr<bool> alive = alive_;
    // A task may copy its `done`; whichever copy is called first counts.
    const auto called = std::make_shared<bool>(false);
    tasks_[index](lane, [this, alive, &lane, called] {
        if (alive.expired() || *called)
            return;
        *called = true;
        Finished(lane);
    });
}

void TParallelRunner::Finished(TLane& lane) {
    pool_.Release(lane);
    ++finished_;
    if (next_ < tasks_.size()) {
        // On the next turn: a task that ends inside its own start must not start the next one
        // from within it.
        const std::size_t following = next_++;
        starts_[following]->Start(0, [this, following] { Launch(following); });
    }
    if (Done())
        if (const auto done = OnAllDone)
            done();
}

} // namespace varnix
