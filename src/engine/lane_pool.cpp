#include "engine/lane_pool.h"

namespace varnix {

TLanePool::TLanePool(TUdpSvrOptions options, TClock& clock, int cooldownMs)
    : options_(std::move(options)), clock_(clock), cooldownMs_(cooldownMs) {}

TLanePool::~TLanePool() = default;

TLane& TLanePool::Acquire() {
    const std::int64_t now = clock_.NowMs();
    for (TEntry& e : lanes_)
        if (!e.InUse && now - e.ReleasedAt >= cooldownMs_) {
            e.InUse = true;
            return *e.Lane;
        }
    TEntry e;
    e.Lane = std::make_unique<TLane>(options_);
    e.InUse = true;
    if (OnNewLane)
        OnNewLane(*e.Lane);
    lanes_.push_back(std::move(e));
    return *lanes_.back().Lane;
}

void TLanePool::Release(TLane& lane) {
    for (TEntry& e : lanes_)
        if (e.Lane.get() == &lane) {
            lane.Release();
            lane.OnAck = nullptr;
            lane.OnBlock = nullptr;
            lane.OnModbus = nullptr;
            lane.OnSearchHit = nullptr;
            e.InUse = false;
            e.ReleasedAt = clock_.NowMs();
        }
}

} // namespace varnix
