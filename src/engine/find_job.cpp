#include "engine/find_job.h"

#include "core/convert.h"

#include <algorithm>

namespace varnix {

TFindJob::TFindJob(TLane& lane, TClock& clock, TFindRequest request)
    : lane_(lane), request_(std::move(request)), deadline_(clock.NewTimer()), repeat_(clock.NewTimer()) {
    for (const std::string& m : request_.Macs)
        keys_.push_back(MacKey(m));
}

TFindJob::~TFindJob() {
    Cancel();
}

void TFindJob::Start() {
    running_ = true;
    found_.clear();
    lane_.OnSearchHit = [this](const TFoundModule& m) { Hit(m); };
    lane_.Search();
    Repeat();
    deadline_->Start(std::max(0, request_.TimeoutMs), [this] { Finish(); });
}

void TFindJob::Repeat() {
    if (request_.RepeatMs <= 0)
        return;
    repeat_->Start(request_.RepeatMs, [this] {
        lane_.Search();
        Repeat();
    });
}

void TFindJob::Cancel() {
    if (!running_)
        return;
    running_ = false;
    lane_.OnSearchHit = nullptr;
    deadline_->Stop();
    repeat_->Stop();
}

bool TFindJob::AllFound() const {
    if (keys_.empty())
        return false;
    return std::all_of(keys_.begin(), keys_.end(), [this](const std::string& k) {
        return std::any_of(found_.begin(), found_.end(),
                           [&k](const TFoundModule& f) { return MacKey(f.Mac) == k; });
    });
}

void TFindJob::Hit(const TFoundModule& m) {
    found_.push_back(m);
    const bool enough = OnFound && OnFound(m);
    if (enough || AllFound())
        Finish();
}

void TFindJob::Finish() {
    if (!running_)
        return;
    Cancel();
    if (const auto done = OnDone)
        done(std::move(found_));
}

std::vector<TFoundModule> TFindJob::FirstOfEach(const std::vector<std::string>& macs,
                                                const std::vector<TFoundModule>& found) {
    std::vector<TFoundModule> out;
    for (const std::string& m : macs) {
        const std::string k = MacKey(m);
        const auto it = std::find_if(found.begin(), found.end(),
                                     [&k](const TFoundModule& f) { return MacKey(f.Mac) == k; });
        if (it != found.end())
            out.push_back(*it);
    }
    return out;
}

} // namespace varnix
