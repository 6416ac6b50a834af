#include "upgrade/rollout_job.h"

#include "core/convert.h"
#include "engine/find_job.h"
#include "lang/text_codec.h"
#include "upgrade/rollout_module.h"
#include "upgrade/upgrade_readiness.h"
#include "upgrade/upgrade_server.h"

#include <QCryptographicHash>

#include <algorithm>

namespace varnix {

namespace {

constexpr int SearchRepeatMs = 500;
constexpr int MaxIgnoredLines = 20; // log lines of ignored upgrade datagrams; the rest are counted
// Modules start this far apart: each takes a lane, whose sockets and buffers take a few
// milliseconds to make, so twenty at once would hold the event loop up for a tenth of a second.
constexpr int StaggerMs = 10;

// "00:1a:2b:3c:4d:5e" -> "00 1A 2B 3C 4D 5E", the form search replies give.
std::string MacText(const std::string& mac) {
    const std::string key = MacKey(mac);
    std::string out;
    for (std::size_t i = 0; i + 1 < key.size(); i += 2)
        out += (i > 0 ? " " : "") + key.substr(i, 2);
    return out;
}

TRolloutModule NewRow(const std::string& mac) {
    TRolloutModule r;
    r.Mac = mac;
    return r;
}

} // namespace

QString OutcomeName(TRolloutOutcome o) {
    switch (o) {
    case TRolloutOutcome::Waiting:
        return QStringLiteral("waiting");
    case TRolloutOutcome::Running:
        return QStringLiteral("running");
    case TRolloutOutcome::Done:
        return QStringLiteral("done");
    case TRolloutOutcome::Skipped:
        return QStringLiteral("skipped");
    case TRolloutOutcome::Failed:
        return QStringLiteral("failed");
    case TRolloutOutcome::NotStarted:
        return QStringLiteral("not-started");
    }
    return {};
}

TResult<TLogin> ParseLoginPair(const QString& text) {
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return TError{"login", text.toStdString(), "no ':' between the user name and the password"};
    TLogin login{DisplayToBytes(text.left(colon)), DisplayToBytes(text.mid(colon + 1))};
    if (TStatus fits = CheckLoginText("user", login.User); !fits)
        return fits.Error();
    if (TStatus fits = CheckLoginText("password", login.Password); !fits)
        return fits.Error();
    return login;
}

TRolloutJob::TRolloutJob(TLanePool& pool, TClock& clock, IUpgradeLink& link, TRolloutOptions options)
    : pool_(pool), clock_(clock), options_(std::move(options)),
      server_(std::make_unique<TUpgradeServer>(link, clock)), later_(clock.NewTimer()),
      wake_(clock.NewTimer()), retry_(clock.NewTimer()) {
    options_.Parallel = std::max(1, options_.Parallel);
    server_->OnIgnored = [this](const std::string& why) {
        if (++ignoredLogged_ <= MaxIgnoredLines)
            Log(QStringLiteral("upgrade: ignored %1").arg(QString::fromStdString(why)));
    };
}

TRolloutJob::~TRolloutJob() {
    find_.reset();
    runs_.clear(); // before the server and the lanes they use
    if (searchLane_ != nullptr)
        pool_.Release(*searchLane_);
    server_.reset();
}

TOutcome TRolloutJob::Outcome() const {
    TOutcome worst = error_.isEmpty() ? TOutcome::Ok : TOutcome::Local;
    for (const TRolloutModule& r : rows_) {
        if (r.Outcome == TRolloutOutcome::Failed)
            worst = Worse(worst, r.Status);
        else if (r.Outcome != TRolloutOutcome::Done && r.Outcome != TRolloutOutcome::Skipped)
            worst = Worse(worst, TOutcome::NoAnswer);
    }
    return worst;
}

void TRolloutJob::Log(const QString& line) {
    if (OnLog)
        OnLog(line);
}

void TRolloutJob::Later(std::function<void()> fn) {
    later_->Start(0, std::move(fn));
}

void TRolloutJob::Start() {
    running_ = true;
    if (options_.Image)
        imageHash_ = QString::fromLatin1(
            QCryptographicHash::hash(
                QByteArrayView(options_.Image->data(), static_cast<qsizetype>(options_.Image->size())),
                QCryptographicHash::Sha256)
                .toHex());
    QStringList warnings;
    history_ = ReadRolloutHistory(options_.ProgramDir, &warnings);
    for (const QString& w : warnings)
        Log(QStringLiteral("journal: %1").arg(w));
    if (!options_.All) {
        for (const std::string& mac : options_.Macs) {
            const bool twice = std::any_of(rows_.begin(), rows_.end(), [&mac](const TRolloutModule& r) {
                return MacKey(r.Mac) == MacKey(mac);
            });
            if (!twice)
                rows_.push_back(NewRow(MacText(mac)));
        }
        if (OnRows)
            OnRows();
    }
    std::vector<std::string> macs;
    for (const TRolloutModule& r : rows_)
        macs.push_back(r.Mac);
    searchLane_ = &pool_.Acquire();
    find_ = std::make_unique<TFindJob>(*searchLane_, clock_,
                                       TFindRequest{macs, options_.TimeoutMs, SearchRepeatMs});
    find_->OnDone = [this](std::vector<TFoundModule> found) {
        Later([this, found = std::move(found)] { Searched(found); });
    };
    find_->Start();
}

void TRolloutJob::Searched(std::vector<TFoundModule> found) {
    pool_.Release(*searchLane_);
    searchLane_ = nullptr;
    searched_ = true;
    if (options_.All) {
        for (const TFoundModule& m : found)
            if (std::none_of(rows_.begin(), rows_.end(),
                             [&m](const TRolloutModule& r) { return MacKey(r.Mac) == MacKey(m.Mac); }))
                rows_.push_back(NewRow(m.Mac));
        // A module the journal has half-way may be waiting in its loader, silent to searches.
        for (const auto& entry : history_) {
            const std::string& key = entry.first; // named, not bound: a lambda captures it below
            if (entry.second.Kept &&
                std::none_of(rows_.begin(), rows_.end(),
                             [&key](const TRolloutModule& r) { return MacKey(r.Mac) == key; }))
                rows_.push_back(NewRow(entry.second.Kept->Mac));
        }
        if (OnRows)
            OnRows();
    }
    Prepare(found);
    if (!error_.isEmpty()) {
        Finish();
        return;
    }
    canaryPhase_ = options_.Canary > 0;
    Pump();
}

void TRolloutJob::Prepare(const std::vector<TFoundModule>& found) {
    std::string local = options_.LocalIP;
    for (const TRolloutModule& r : rows_) {
        const auto it = std::find_if(found.begin(), found.end(),
                                     [&r](const TFoundModule& f) { return MacKey(f.Mac) == MacKey(r.Mac); });
        if (it == found.end() || !options_.LocalIP.empty())
            continue;
        if (!local.empty() && local != it->Local) {
            Abort(QStringLiteral("the modules answer on %1 and %2; give the local address to work from")
                      .arg(QString::fromStdString(local), QString::fromStdString(it->Local)));
            return;
        }
        local = it->Local;
    }
    if (local.empty()) {
        Abort(QStringLiteral("no module answered; give the local address to work from"));
        return;
    }
    if (auto e = server_->Open(local)) {
        Abort(EndpointErrorText(*e, QString::fromStdString(local), EnglishTableText));
        return;
    }
    addresses_ = std::make_unique<TTransferAddresses>(ParseIPv4Text(local).value_or(0), options_.Pool);
    if (TStatus pool = addresses_->CheckPool(); !pool) {
        Abort(QString::fromStdString(pool.Error().Message));
        return;
    }
    for (const TFoundModule& m : found)
        addresses_->Reserve(ParseIPv4Text(m.Ip).value_or(0));
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const std::string key = MacKey(rows_[i].Mac);
        std::optional<TFoundModule> f;
        for (const TFoundModule& m : found)
            if (!f && MacKey(m.Mac) == key)
                f = m;
        const auto h = history_.find(key);
        runs_.push_back(
            std::make_unique<TModuleRun>(*this, i, f, h == history_.end() ? TRolloutHistory{} : h->second));
    }
}

// Not logged: Error() is shown once when the job has ended (and as the rows' detail).
void TRolloutJob::Abort(const QString& why) {
    error_ = why;
}

void TRolloutJob::Pump() {
    if (!stopped_ && inFlight_ < options_.Parallel && next_ < runs_.size() &&
        !(canaryPhase_ && canaryLaunched_ >= options_.Canary)) {
        const std::size_t row = next_++;
        if (canaryPhase_) {
            rows_[row].Canary = true;
            ++canaryLaunched_;
        }
        ++inFlight_;
        runs_[row]->Start();
        wake_->Start(StaggerMs, [this] { Pump(); });
        return;
    }
    const bool blocked =
        stopped_ || next_ >= runs_.size() || (canaryPhase_ && canaryLaunched_ >= options_.Canary);
    if (inFlight_ == 0 && blocked && running_)
        Later([this] { Finish(); });
}

void TRolloutJob::Ended(std::size_t row) {
    --inFlight_;
    const TRolloutModule& r = rows_[row];
    if (r.Canary) {
        if (r.Outcome == TRolloutOutcome::Done) {
            ++canaryDone_;
        } else if (r.Outcome == TRolloutOutcome::Skipped) {
            --canaryLaunched_; // proved nothing about this image: another module takes its place
        } else if (!stopped_) {
            stopped_ = true;
            stopReason_ =
                QStringLiteral("canary %1 did not end verified (%2 at %3: %4)")
                    .arg(QString::fromStdString(r.Mac), OutcomeName(r.Outcome), StageName(r.Stage), r.Detail);
            Log(stopReason_);
        }
        if (canaryPhase_ && canaryDone_ >= options_.Canary)
            canaryPhase_ = false;
    }
    // The next module starts on a fresh turn, not inside the one that just ended.
    wake_->Start(0, [this] { Pump(); });
}

void TRolloutJob::Stop() {
    if (stopped_ || !running_)
        return;
    stopped_ = true;
    stopReason_ = QStringLiteral("the rollout was stopped");
    if (searched_)
        wake_->Start(0, [this] { Pump(); });
}

void TRolloutJob::WaitForAddress(std::function<void()> retry) {
    waiting_.push_back(std::move(retry));
}

void TRolloutJob::ReleaseAddress(std::uint32_t address) {
    if (addresses_)
        addresses_->Release(address);
    if (waiting_.empty())
        return;
    // Each waiting module asks again; one that still finds none waits again.
    std::vector<std::function<void()>> waiting;
    waiting.swap(waiting_);
    retry_->Start(0, [waiting] {
        for (const auto& retry : waiting)
            retry();
    });
}

void TRolloutJob::Finish() {
    if (!running_ || inFlight_ > 0)
        return;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        TRolloutModule& r = rows_[i];
        if (r.Outcome != TRolloutOutcome::Waiting)
            continue;
        r.Outcome = TRolloutOutcome::NotStarted;
        r.Status = TOutcome::NoAnswer;
        r.Detail = !error_.isEmpty() ? error_ : stopReason_;
        if (OnModule)
            OnModule(static_cast<int>(i));
    }
    server_->Close();
    running_ = false;
    if (const auto done = OnDone)
        done();
}

} // namespace varnix
