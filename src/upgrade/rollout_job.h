#pragma once
// A firmware rollout: new firmware into many modules, each keeping its configuration. One job of
// the engine, used alike by varnix-cli and a window view; it never sleeps and waits only on timers
// of the injected clock.
//
// Per module, each stage journalled (rollout_journal.h):
//   find     it answered the search (or the journal holds its kept configuration: a rerun)
//   keep     its configuration is read and journalled, before anything changes it
//   upgrade  the image is loaded (one upgrade endpoint serves every module of the rollout)
//   return   it answers a search again under its MAC, with a changed firmware number (or the
//            one expected)
//   reset    its factory settings are restored, with its own log-in or else the factory one
//   refind   it answers again after the reset
//   restore  its kept configuration is written back field by field into the blocks the new
//            firmware sends (a field it no longer has is reported, never guessed)
//   verify   it is read back, and every field written back holds its kept value
//   done
//
// At most `Parallel` modules are in flight. With `Canary` K the first K modules go first and the
// others start only when all K ended verified; a canary that fails (a firmware mismatch included)
// stops the rollout with the others untouched. Stop() starts no new module and lets the ones in
// flight finish or time out. A module already at the expected firmware is skipped, and so is one
// that a rollout of the same image finished before; one that stopped half-way starts again from
// the configuration it kept then, without reading the module again.
//
// A view shows Modules() (one row per module: stage, transfer progress, outcome and detail) and
// refreshes a row on OnModule.

#include "core/result.h"
#include "engine/clock.h"
#include "engine/lane_pool.h"
#include "engine/outcome.h"
#include "upgrade/rollout_journal.h"
#include "upgrade/transfer_addresses.h"
#include "upgrade/upgrade_link.h"

#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace varnix {

struct TRolloutOptions {
    std::string LocalIP; // the upgrade endpoint's address; "" = the one the modules answer on
    std::shared_ptr<const TIdBytes> Image; // the whole file, signature first
    std::vector<std::string> Macs;         // the modules asked for, in this order
    bool All = false; // every module that answers, and every one the journal has half-way
    int Parallel = 8;
    int Canary = 0;
    std::optional<int> ExpectFirmware;
    std::optional<TAddressRange> Pool;
    TLogin Login;        // the modules' log-in now
    TLogin FactoryLogin; // the log-in a module has after its factory reset
    bool KeepConfig = true;
    int TimeoutMs = 2000; // a search, a read's reply wait, acknowledgements
    int QuietMs = 300;
    int ReturnTimeoutMs = 60000;  // for a module to answer with its new firmware after the transfer
    int RestartTimeoutMs = 15000; // for it to answer after its reset, and after the restore
    QString ProgramDir;           // where the journal is
};

enum class TRolloutOutcome { Waiting, Running, Done, Skipped, Failed, NotStarted };
QString OutcomeName(TRolloutOutcome o); // "waiting", "running", "done", "skipped", "failed", "not-started"

// A log-in typed as "USER:PASS" (the first colon splits; a password may hold colons), each part
// as the bytes sent. Both must fit their six-byte fields: a reset or a save with a longer one
// would be refused module by module, after the module's firmware was already replaced.
TResult<TLogin> ParseLoginPair(const QString& text);

struct TUnrestoredField {
    QString Field;
    QJsonValue Value; // as kept
    QString Reason;
};

// One module's row.
struct TRolloutModule {
    std::string Mac; // "00 1A 2B 3C 4D 5E"
    TRolloutStage Stage = TRolloutStage::Find;
    TRolloutOutcome Outcome = TRolloutOutcome::Waiting;
    int Percent = 0; // of the transfer
    QString Detail;  // what it is doing or waiting for; why it failed or was skipped
    TOutcome Status = TOutcome::Ok;
    int FirmwareBefore = 0, FirmwareAfter = 0;
    std::string Ip;     // where it answered last
    std::string Target; // the address of its transfer
    bool Canary = false;
    bool Resumed = false; // started again from a configuration kept by an earlier run
    QList<TUnrestoredField> Unrestored;
};

class TModuleRun;

class TRolloutJob {
public:
    TRolloutJob(TLanePool& pool, TClock& clock, IUpgradeLink& link, TRolloutOptions options);
    ~TRolloutJob();
    TRolloutJob(const TRolloutJob&) = delete;
    TRolloutJob& operator=(const TRolloutJob&) = delete;

    void Start();
    // No new module starts; the ones in flight go on to their end.
    void Stop();
    bool Running() const { return running_; }
    bool Stopping() const { return stopped_; }

    const std::vector<TRolloutModule>& Modules() const { return rows_; }
    // Why the rollout as a whole could not go on (a port that cannot be bound, no local address).
    const QString& Error() const { return error_; }
    // The worst status of every module (not-started counts as NoAnswer); Ok when all are done or
    // skipped.
    TOutcome Outcome() const;

    std::function<void()> OnRows;          // the rows were (re)made: after the search with All
    std::function<void(int row)> OnModule; // a row changed
    std::function<void(const QString&)> OnLog;
    std::function<void()> OnDone;

private:
    friend class TModuleRun;
    void Searched(std::vector<TFoundModule> found);
    void Prepare(const std::vector<TFoundModule>& found);
    void Pump();
    void Launch(std::size_t row);
    void Ended(std::size_t row);
    void Abort(const QString& why);
    void Finish();
    void Later(std::function<void()> fn);
    void WaitForAddress(std::function<void()> retry);
    void ReleaseAddress(std::uint32_t address);
    void Log(const QString& line);

    TLanePool& pool_;
    TClock& clock_;
    TRolloutOptions options_;
    QString imageHash_;
    std::unique_ptr<class TUpgradeServer> server_;
    std::unique_ptr<TTransferAddresses> addresses_;
    std::map<std::string, TRolloutHistory> history_;
    std::vector<TRolloutModule> rows_;
    std::vector<std::unique_ptr<TModuleRun>> runs_;
    std::vector<std::function<void()>> waiting_;
    TLane* searchLane_ = nullptr;
    std::unique_ptr<class TFindJob> find_;
    std::unique_ptr<ITimer> later_, wake_, retry_;
    std::size_t next_ = 0;
    int inFlight_ = 0;
    int canaryLaunched_ = 0, canaryDone_ = 0;
    bool canaryPhase_ = false;
    bool running_ = false, stopped_ = false, searched_ = false;
    QString stopReason_, error_;
    int ignoredLogged_ = 0;
};

} // namespace varnix
