#pragma once
// The lanes of a face (the window or a cli run), made on demand and reused. A lane given back is
// reused only once it has been quiet for a while, so a late reply of its previous module (a block
// names no module) cannot be taken into the next module's read.

#include "engine/clock.h"
#include "engine/lane.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace varnix {

class TLanePool {
public:
    TLanePool(TUdpSvrOptions options, TClock& clock, int cooldownMs = 300);
    ~TLanePool();

    // A lane that serves nobody: a cooled-down one, or a new one.
    TLane& Acquire();
    // The lane serves nobody from now on; it is handed out again after the cooldown.
    void Release(TLane& lane);
    int Size() const { return static_cast<int>(lanes_.size()); }

    // Called for every lane the pool makes, so a face can wire its traffic (the hex pane).
    std::function<void(TLane&)> OnNewLane;

private:
    struct TEntry {
        std::unique_ptr<TLane> Lane;
        bool InUse = false;
        std::int64_t ReleasedAt = 0;
    };
    TUdpSvrOptions options_;
    TClock& clock_;
    int cooldownMs_;
    std::vector<TEntry> lanes_;
};

} // namespace varnix
