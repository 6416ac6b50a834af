#pragma once
// One module's way through a rollout (the stages in rollout_job.h), on one lane of the job's pool
// (taken at its first exchange and kept to its end: every stage talks to this one module, and a
// lane is costly to make) and a run of its upgrade server. Every stage ends in a callback of a
// job; the next stage starts on a fresh turn of the clock, so no job is torn down from inside its
// own callback.

#include "engine/find_job.h"
#include "engine/read_job.h"
#include "engine/save_job.h"
#include "engine/save_prepare.h"
#include "upgrade/rollout_job.h"
#include "upgrade/upgrade_server.h"

#include <QJsonObject>

#include <functional>
#include <memory>
#include <optional>

namespace varnix {

class TModuleRun {
public:
    TModuleRun(TRolloutJob& job, std::size_t row, std::optional<TFoundModule> found, TRolloutHistory history);
    ~TModuleRun();
    TModuleRun(const TModuleRun&) = delete;
    TModuleRun& operator=(const TModuleRun&) = delete;

    void Start();
    bool Ended() const { return ended_; }

private:
    TRolloutModule& Row() { return job_.rows_[row_]; }
    const TRolloutOptions& Options() const { return job_.options_; }
    void Enter(TRolloutStage stage, const QString& detail);
    void Changed();
    void Later(std::function<void()> fn);
    TLane& TakeLane();
    void ReleaseLane();
    bool FirmwareOk(int firmware) const;
    TRolloutRecord Record(const QString& event) const;
    // Appends to the journal; false (and the module failed) when that is impossible at a stage
    // whose record a rerun needs.
    bool Journal(const TRolloutRecord& record, bool mustLast);

    void Decide();
    void Keep();
    void Kept(const TReadResult& r);
    void Upgrade();
    void UpgradeOutput(const TUpgradeOutput& out);
    void Upgraded(const TUpgradeOutput& out);
    void Return();
    void Returned();
    void Reset(bool factoryLogin, int attempt);
    void ResetDone(const TSaveReport& report, bool factoryLogin, int attempt);
    void Refind();
    void Restore(bool factoryLogin);
    void RestoreRead(const TReadResult& r, bool factoryLogin);
    QList<TAssignment> SortKept(const TModuleSettings& now);
    bool PlanRestore(const TReadResult& r); // false: the module failed
    void Restored(const TSaveReport& report);
    void Verify();
    void VerifyRead(const TFoundModule& where, bool oldLogin);
    void VerifyJudge(const TReadResult& r, const TFoundModule& where, bool oldLogin);
    QList<TMismatch> Mismatches(const TModuleSettings& readBack) const;
    // The carried fields the read-back does not hold as kept; each becomes an unrestored field.
    void Unwritten(const TModuleSettings& readBack);
    void Finish();
    void Skip(const QString& why);
    void Fail(TRolloutStage stage, TOutcome status, const QString& why);
    void End();

    TRolloutJob& job_;
    std::size_t row_;
    std::optional<TFoundModule> found_;
    TRolloutHistory history_;
    std::optional<QJsonObject> kept_;
    std::int32_t keptFamily_ = FamilyUnknown;
    TLogin ownLogin_, loginUsed_;
    TPreparedSave prepared_;
    QList<TAssignment> restoring_;       // kept fields written back as given
    QList<TAssignment> carried_;         // kept fields the module's save does not write (checked at the end)
    std::int64_t restartDeadlineMs_ = 0; // for the current wait on a restart
    std::optional<TFoundModule> seen_;   // the last search reply under its MAC
    TLane* lane_ = nullptr;
    std::unique_ptr<TReadJob> read_;
    std::unique_ptr<TSaveJob> save_;
    std::unique_ptr<TFindJob> find_;
    TUpgradeServer::TRunId run_ = 0;
    std::uint32_t target_ = 0;
    std::unique_ptr<ITimer> later_;
    bool ended_ = false;
};

} // namespace varnix
