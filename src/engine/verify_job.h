#pragma once
// Proof of saves: each saved module is searched for under the MAC it answers to after the save,
// read back (with the log-in it takes at its restart; one that has not restarted yet still takes
// the old one) and compared field by field with what was sent, round after round, until every
// module holds what was sent or its time is up. A module that is still restarting misses a round
// and is searched for again in the next.

#include "engine/clock.h"
#include "engine/lane_pool.h"
#include "engine/read_job.h"
#include "engine/save_prepare.h"

#include <QList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace varnix {

struct TVerifyItem {
    std::string Mac;        // the MAC the module answers to after the save
    TLogin Login, OldLogin; // the log-in after its restart, and the one before
    // The fields that do not hold what was sent, from a read-back.
    std::function<QList<TMismatch>(const TModuleSettings&)> Compare;
    std::int64_t SavedAtMs = 0; // clock time the save ended; the item's time runs from there
};

struct TVerifyOutcome {
    bool Verified = false;
    bool Seen = false;                   // it answered a search under its MAC
    TFoundModule Where;                  // where it answered last
    std::int64_t AfterMs = 0;            // from the end of the save to the read-back that proved it
    QList<TMismatch> Mismatches;         // of the last read-back (empty when it never read back)
    QString ReadError;                   // why the last read-back failed, if it did
    std::optional<TReadResult> ReadBack; // the last read-back that succeeded
};

struct TVerifyOptions {
    int VerifyTimeoutMs = 15000; // per module, from the end of its save
    int ReadTimeoutMs = 2000;
    int QuietMs = 300;
    int Parallel = 100;
};

class TVerifyJob {
public:
    TVerifyJob(TLanePool& pool, TClock& clock, std::vector<TVerifyItem> items, TVerifyOptions options);
    ~TVerifyJob();
    TVerifyJob(const TVerifyJob&) = delete;
    TVerifyJob& operator=(const TVerifyJob&) = delete;

    void Start();
    bool Running() const { return running_; }
    std::function<void(std::vector<TVerifyOutcome>)> OnDone;

private:
    struct TPending {
        std::size_t Item;
        TFoundModule Where;
    };
    void Round();
    void Found(std::vector<TFoundModule> found);
    void ReadBack(TLane& lane, std::size_t item, const TFoundModule& where, bool oldLogin,
                  std::function<void()> done);
    void Judge(std::size_t item, const TReadResult& r);
    std::int64_t LatestEnd() const;
    void Finish();

    TLanePool& pool_;
    TClock& clock_;
    std::vector<TVerifyItem> items_;
    TVerifyOptions options_;
    std::vector<TVerifyOutcome> out_;
    std::vector<bool> finished_;
    TLane* searchLane_ = nullptr;
    std::unique_ptr<class TFindJob> find_;
    std::unique_ptr<class TParallelRunner> runner_;
    std::vector<std::unique_ptr<TReadJob>> reads_;
    bool running_ = false;
};

} // namespace varnix
