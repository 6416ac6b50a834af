#include "engine/verify_job.h"

#include "core/convert.h"
#include "engine/find_job.h"
#include "engine/parallel_runner.h"

#include <algorithm>

namespace varnix {

namespace {
// How long one search round waits at most for modules still restarting.
constexpr int RoundSearchMs = 2000;
constexpr int SearchRepeatMs = 500;
} // namespace

TVerifyJob::TVerifyJob(TLanePool& pool, TClock& clock, std::vector<TVerifyItem> items, TVerifyOptions options)
    : pool_(pool), clock_(clock), items_(std::move(items)), options_(options), out_(items_.size()),
      finished_(items_.size(), false) {}

TVerifyJob::~TVerifyJob() {
    find_.reset();
    runner_.reset();
    reads_.clear();
    if (searchLane_ != nullptr)
        pool_.Release(*searchLane_);
}

void TVerifyJob::Start() {
    running_ = true;
    Round();
}

std::int64_t TVerifyJob::LatestEnd() const {
    std::int64_t latest = 0;
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (!finished_[i])
            latest = std::max(latest, items_[i].SavedAtMs + options_.VerifyTimeoutMs);
    return latest;
}

void TVerifyJob::Round() {
    const std::int64_t now = clock_.NowMs();
    std::vector<std::string> macs;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (!finished_[i] && now >= items_[i].SavedAtMs + options_.VerifyTimeoutMs)
            finished_[i] = true; // its time is up: it stays as its last round left it
        if (!finished_[i])
            macs.push_back(items_[i].Mac);
    }
    if (macs.empty()) {
        Finish();
        return;
    }
    if (searchLane_ == nullptr)
        searchLane_ = &pool_.Acquire();
    const int wait = static_cast<int>(std::min<std::int64_t>(LatestEnd() - now, RoundSearchMs));
    find_ = std::make_unique<TFindJob>(*searchLane_, clock_, TFindRequest{macs, wait, SearchRepeatMs});
    find_->OnDone = [this](std::vector<TFoundModule> found) { Found(std::move(found)); };
    find_->Start();
}

void TVerifyJob::Found(std::vector<TFoundModule> found) {
    runner_ = std::make_unique<TParallelRunner>(pool_, clock_, options_.Parallel);
    reads_.clear();
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (finished_[i])
            continue;
        const std::string key = MacKey(items_[i].Mac);
        const auto it = std::find_if(found.begin(), found.end(),
                                     [&key](const TFoundModule& f) { return MacKey(f.Mac) == key; });
        if (it == found.end())
            continue;
        out_[i].Seen = true;
        out_[i].Where = *it;
        const TFoundModule where = *it;
        runner_->Add([this, i, where](TLane& lane, std::function<void()> done) {
            ReadBack(lane, i, where, false, std::move(done));
        });
    }
    // The next round starts on the next turn: this is called from inside the search's end.
    runner_->OnAllDone = [this] {
        find_.reset();
        Round();
    };
    runner_->Start();
}

void TVerifyJob::ReadBack(TLane& lane, std::size_t item, const TFoundModule& where, bool oldLogin,
                          std::function<void()> done) {
    const TVerifyItem& v = items_[item];
    auto job = std::make_unique<TReadJob>(
        lane, clock_,
        TReadRequest{where, oldLogin ? v.OldLogin : v.Login, options_.ReadTimeoutMs, options_.QuietMs});
    TReadJob* raw = job.get();
    reads_.push_back(std::move(job));
    raw->OnDone = [this, &lane, item, where, oldLogin, done](TReadResult r) {
        if (r.Status == TOutcome::Password && !oldLogin) {
            ReadBack(lane, item, where, true, done); // not restarted yet: the old log-in holds
            return;
        }
        Judge(item, r);
        done();
    };
    raw->Start();
}

void TVerifyJob::Judge(std::size_t item, const TReadResult& r) {
    TVerifyOutcome& o = out_[item];
    if (r.Status != TOutcome::Ok) {
        o.ReadError = r.Error;
        return;
    }
    o.ReadError.clear();
    o.ReadBack = r;
    o.Mismatches = items_[item].Compare(r.Settings);
    if (o.Mismatches.isEmpty()) {
        o.Verified = true;
        o.AfterMs = clock_.NowMs() - items_[item].SavedAtMs;
        finished_[item] = true;
    }
}

void TVerifyJob::Finish() {
    if (!running_)
        return;
    running_ = false;
    if (searchLane_ != nullptr) {
        pool_.Release(*searchLane_);
        searchLane_ = nullptr;
    }
    const std::vector<TVerifyOutcome> out = out_;
    if (const auto done = OnDone)
        done(out);
}

} // namespace varnix
