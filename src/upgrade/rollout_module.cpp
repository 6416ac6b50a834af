#include "upgrade/rollout_module.h"

#include "core/convert.h"
#include "lan/lan_protocol.h"
#include "lang/text_codec.h"
#include "model/fields.h"

#include <algorithm>

namespace varnix {

namespace {

constexpr int SearchRepeatMs = 500;

QString Seconds(int ms) {
    return QString::number(ms / 1000.0);
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

TLogin LoginOfFields(const QJsonObject& fields, const TLogin& otherwise) {
    const QJsonValue user = fields.value(QStringLiteral("UserName"));
    const QJsonValue password = fields.value(QStringLiteral("Password"));
    if (!user.isString() || !password.isString())
        return otherwise;
    return TLogin{DisplayToBytes(user.toString()), DisplayToBytes(password.toString())};
}

QString MismatchText(const QList<TMismatch>& list) {
    QStringList parts;
    for (const TMismatch& m : list)
        parts << QStringLiteral("%1 is %2, kept %3")
                     .arg(m.Field->Name, DisplayValue(*m.Field, m.Read), DisplayValue(*m.Field, m.Sent));
    return parts.join(QStringLiteral("; "));
}

} // namespace

TModuleRun::TModuleRun(TRolloutJob& job, std::size_t row, std::optional<TFoundModule> found,
                       TRolloutHistory history)
    : job_(job), row_(row), found_(std::move(found)), history_(std::move(history)),
      later_(job.clock_.NewTimer()) {}

TModuleRun::~TModuleRun() {
    later_->Stop();
    read_.reset();
    save_.reset();
    find_.reset();
    if (run_ != 0)
        job_.server_->Forget(run_);
    ReleaseLane();
}

void TModuleRun::Start() {
    Row().Outcome = TRolloutOutcome::Running;
    if (found_)
        Row().Ip = found_->Ip;
    Decide();
}

void TModuleRun::Enter(TRolloutStage stage, const QString& detail) {
    Row().Stage = stage;
    Row().Detail = detail;
    Changed();
}

void TModuleRun::Changed() {
    if (job_.OnModule)
        job_.OnModule(static_cast<int>(row_));
}

void TModuleRun::Later(std::function<void()> fn) {
    later_->Start(0, std::move(fn));
}

TLane& TModuleRun::TakeLane() {
    if (lane_ == nullptr)
        lane_ = &job_.pool_.Acquire();
    return *lane_;
}

void TModuleRun::ReleaseLane() {
    if (lane_ != nullptr)
        job_.pool_.Release(*lane_);
    lane_ = nullptr;
}

bool TModuleRun::FirmwareOk(int firmware) const {
    return Options().ExpectFirmware ? firmware == *Options().ExpectFirmware
                                    : firmware != job_.rows_[row_].FirmwareBefore;
}

TRolloutRecord TModuleRun::Record(const QString& event) const {
    const TRolloutModule& row = job_.rows_[row_];
    TRolloutRecord r;
    r.Event = event;
    r.Mac = row.Mac;
    r.Ip = row.Ip;
    r.Name = found_ ? found_->Name : std::string();
    r.Family = found_ ? found_->Family : keptFamily_;
    r.FirmwareBefore = row.FirmwareBefore;
    r.FirmwareAfter = row.FirmwareAfter;
    r.Image = job_.imageHash_;
    return r;
}

bool TModuleRun::Journal(const TRolloutRecord& record, bool mustLast) {
    const QString error = JournalRollout(Options().ProgramDir, record);
    if (error.isEmpty())
        return true;
    if (!mustLast) {
        job_.Log(QStringLiteral("%1: journal: %2").arg(Q(Row().Mac), error));
        return true;
    }
    Fail(Row().Stage, TOutcome::Local, QStringLiteral("the journal cannot be written (%1)").arg(error));
    return false;
}

// --- find: what the journal and the search say decide where the module starts ---

void TModuleRun::Decide() {
    const TRolloutOptions& o = Options();
    const auto& done = history_.Done;
    if (done && !history_.Kept && found_ && done->Image == job_.imageHash_ &&
        found_->Firmware == done->FirmwareAfter &&
        (!o.ExpectFirmware || found_->Firmware == *o.ExpectFirmware)) {
        Row().FirmwareBefore = done->FirmwareBefore;
        Row().FirmwareAfter = found_->Firmware;
        Skip(QStringLiteral("rolled out with this image before (journal entry %1)").arg(done->Entry));
        return;
    }
    if (!history_.Kept && found_ && o.ExpectFirmware && found_->Firmware == *o.ExpectFirmware) {
        Row().FirmwareBefore = Row().FirmwareAfter = found_->Firmware;
        Skip(QStringLiteral("already at firmware %1").arg(found_->Firmware));
        return;
    }
    if (history_.Kept) {
        // An earlier run stopped half-way: its kept configuration is the module's, whatever the
        // module holds now (perhaps its factory settings).
        const TRolloutRecord& k = *history_.Kept;
        kept_ = k.Fields;
        keptFamily_ = k.Family;
        Row().Resumed = true;
        Row().FirmwareBefore = k.FirmwareBefore;
        if (Row().Ip.empty())
            Row().Ip = k.Ip;
        ownLogin_ = LoginOfFields(*kept_, o.Login);
        if (found_ && FirmwareOk(found_->Firmware)) {
            Row().FirmwareAfter = found_->Firmware;
            Reset(false, 0);
        } else {
            Upgrade(); // not found: it may be waiting in its loader for the image
        }
        return;
    }
    if (!found_) {
        Fail(TRolloutStage::Find, TOutcome::NoAnswer,
             QStringLiteral("did not answer the search within %1 s").arg(Seconds(o.TimeoutMs)));
        return;
    }
    Row().FirmwareBefore = found_->Firmware;
    ownLogin_ = o.Login;
    if (auto why = job_.addresses_->Refusal(ParseIPv4Text(found_->Ip).value_or(0))) {
        Fail(TRolloutStage::Find, TOutcome::Usage, Q(*why));
        return;
    }
    if (!o.KeepConfig) {
        Upgrade();
    } else if (found_->Family != FamilyZ2 && found_->Family != FamilyZ3) {
        Fail(TRolloutStage::Find, TOutcome::Usage,
             QStringLiteral("incompatible firmware %1: its configuration cannot be read "
                            "(--no-keep-config upgrades it without keeping it)")
                 .arg(found_->Firmware));
    } else {
        Keep();
    }
}

// --- keep ---

void TModuleRun::Keep() {
    Enter(TRolloutStage::Keep, QStringLiteral("reading its configuration"));
    read_ = std::make_unique<TReadJob>(
        TakeLane(), job_.clock_,
        TReadRequest{*found_, Options().Login, Options().TimeoutMs, Options().QuietMs});
    read_->OnDone = [this](TReadResult r) { Later([this, r = std::move(r)] { Kept(r); }); };
    read_->Start();
}

void TModuleRun::Kept(const TReadResult& r) {
    if (r.Status != TOutcome::Ok) {
        Fail(TRolloutStage::Keep, r.Status,
             QStringLiteral("its configuration could not be read: %1").arg(r.Error));
        return;
    }
    kept_ = KeptFields(r.Settings);
    keptFamily_ = found_->Family;
    // Nothing changes the module before its configuration is on disk.
    TRolloutRecord record = Record(QStringLiteral("kept"));
    record.Fields = *kept_;
    if (Journal(record, true))
        Upgrade();
}

// --- upgrade ---

void TModuleRun::Upgrade() {
    Enter(TRolloutStage::Upgrade, QStringLiteral("starting the transfer"));
    const std::string& current = found_ ? found_->Ip : Row().Ip;
    const TLease lease = job_.addresses_->Lease(ParseIPv4Text(current).value_or(0));
    if (lease.Kind == TLeaseKind::Refused) {
        Fail(TRolloutStage::Upgrade, TOutcome::Usage, Q(lease.Reason));
        return;
    }
    if (lease.Kind == TLeaseKind::Wait) {
        Row().Detail = QStringLiteral("waiting for a free transfer address");
        Changed();
        job_.WaitForAddress([this] { Upgrade(); });
        return;
    }
    target_ = lease.Address;
    Row().Target = IntToIPText(target_);
    TUpgradeStart start;
    start.TargetIP = Row().Target;
    start.TargetMAC = Row().Mac;
    start.FileName = "firmware";
    start.SharedImage = Options().Image;
    auto id =
        job_.server_->Start(std::move(start), [this](const TUpgradeOutput& out) { UpgradeOutput(out); });
    if (!id) {
        job_.ReleaseAddress(target_);
        Fail(TRolloutStage::Upgrade, TOutcome::Local, Q(id.Error().Message));
        return;
    }
    run_ = *id;
}

void TModuleRun::UpgradeOutput(const TUpgradeOutput& out) {
    if (out.Ended) {
        Later([this, out] { Upgraded(out); });
        return;
    }
    const std::string key = out.LabelKey.value_or(std::string());
    if (out.Progress)
        Row().Percent = *out.Progress;
    if (key == "lang_Hint_UpSearching")
        Row().Detail =
            QStringLiteral("upgrade request sent to %1; waiting for its boot request").arg(Q(Row().Target));
    else if (key == "lang_Hint_UpReady")
        Row().Detail = QStringLiteral("boot reply sent; waiting for its read request");
    else if (key == "lang_Hint_UpProgress")
        Row().Detail = QStringLiteral("transfer %1%").arg(Row().Percent);
    Changed();
}

void TModuleRun::Upgraded(const TUpgradeOutput& out) {
    const TUpgradeSession* s = job_.server_->Session(run_);
    const std::uint32_t block = s ? s->currentBlock() : 0;
    const int resends = s ? std::max(0, s->retryCount()) : 0;
    const bool lastSent = s && s->lastBlockSent();
    job_.server_->Forget(run_);
    run_ = 0;
    job_.ReleaseAddress(target_);
    const std::string key = out.LabelKey.value_or(std::string());
    // Only the acknowledgement of the last block was missing: the module has the whole image
    // and is flashing it; its firmware number, once it answers, tells whether it took it.
    const bool lastAckLost = key == "lang_Hint_UpTimeOut" && lastSent;
    if (out.Succeeded || lastAckLost) {
        Row().Percent = 100;
        TRolloutRecord record = Record(QStringLiteral("upgraded"));
        record.Target = Q(Row().Target);
        if (lastAckLost)
            record.Reason = QStringLiteral("the last block's acknowledgement never came");
        Journal(record, false);
        Return();
    } else if (key == "lang_Hint_BinNotMatch") {
        Fail(TRolloutStage::Upgrade, TOutcome::ModuleError,
             QStringLiteral("the module says the image does not match its hardware (nothing was written)"));
    } else if (key == "lang_Hint_UpTimeOut") {
        Fail(TRolloutStage::Upgrade, TOutcome::NoAnswer,
             block == 0 ? QStringLiteral("no boot and read request within %1 s").arg(SearchTimeoutMs / 1000)
                        : QStringLiteral("timed out at block %1 after %2 re-sends").arg(block).arg(resends));
    } else {
        Fail(TRolloutStage::Upgrade, TOutcome::Local,
             QStringLiteral("upgrade failed:%1").arg(Q(out.LabelSuffix)));
    }
}

// --- return: the new firmware answers under the module's MAC ---

void TModuleRun::Return() {
    Enter(TRolloutStage::Return, QStringLiteral("waiting for it to answer with its new firmware"));
    seen_.reset();
    const std::string key = MacKey(Row().Mac);
    find_ = std::make_unique<TFindJob>(TakeLane(), job_.clock_,
                                       TFindRequest{{}, Options().ReturnTimeoutMs, SearchRepeatMs});
    find_->OnFound = [this, key](const TFoundModule& m) {
        if (MacKey(m.Mac) != key)
            return false;
        seen_ = m;
        return FirmwareOk(m.Firmware); // an answer with the old number: it may not have restarted yet
    };
    find_->OnDone = [this](std::vector<TFoundModule>) { Later([this] { Returned(); }); };
    find_->Start();
}

void TModuleRun::Returned() {
    if (!seen_) {
        Fail(TRolloutStage::Return, TOutcome::NoAnswer,
             QStringLiteral("did not answer a search within %1 s of its upgrade")
                 .arg(Seconds(Options().ReturnTimeoutMs)));
        return;
    }
    found_ = seen_;
    Row().Ip = found_->Ip;
    Row().FirmwareAfter = found_->Firmware;
    if (!FirmwareOk(found_->Firmware)) {
        Fail(TRolloutStage::Return, TOutcome::ModuleError,
             Options().ExpectFirmware
                 ? QStringLiteral("answers with firmware %1, not the %2 expected")
                       .arg(found_->Firmware)
                       .arg(*Options().ExpectFirmware)
                 : QStringLiteral("answers with firmware %1, the number it had before the upgrade")
                       .arg(found_->Firmware));
        return;
    }
    Journal(Record(QStringLiteral("returned")), false);
    Reset(false, 0);
}

// --- reset ---

void TModuleRun::Reset(bool factoryLogin, int attempt) {
    Enter(TRolloutStage::Reset, QStringLiteral("restoring its factory settings"));
    if (found_->Family != FamilyZ2 && found_->Family != FamilyZ3) {
        Fail(TRolloutStage::Reset, TOutcome::Usage,
             QStringLiteral("answers as incompatible firmware %1; no reset is sent to it")
                 .arg(found_->Firmware));
        return;
    }
    TLane& lane = TakeLane();
    lane.Serve(*found_);
    const TSaveStep step{CmdFactoryReset, lane.PortFor(CmdFactoryReset), {}, 0};
    save_ = std::make_unique<TSaveJob>(lane, job_.clock_, *found_,
                                       factoryLogin ? Options().FactoryLogin : ownLogin_,
                                       std::vector<TSaveStep>{step}, Options().TimeoutMs);
    save_->OnDone = [this, factoryLogin, attempt](const TSaveReport& r) {
        Later([this, r, factoryLogin, attempt] { ResetDone(r, factoryLogin, attempt); });
    };
    save_->Start();
}

void TModuleRun::ResetDone(const TSaveReport& report, bool factoryLogin, int attempt) {
    const std::optional<TAck> ack = report.AckOf.empty() ? std::nullopt : report.AckOf.front();
    if (ack && ack->Result == 'P') {
        // The new firmware may have dropped the module's log-in already.
        if (!factoryLogin) {
            Reset(true, 0);
            return;
        }
        Fail(TRolloutStage::Reset, TOutcome::Password,
             QStringLiteral("the module takes neither its own log-in nor the factory log-in"));
        return;
    }
    if (ack && ack->Result != 'K') {
        Fail(TRolloutStage::Reset, TOutcome::ModuleError,
             QStringLiteral("the module answered the reset with %1").arg(AckResultText(*ack)));
        return;
    }
    if (!ack && attempt == 0) {
        Reset(factoryLogin, 1);
        return;
    }
    // Without an acknowledgement the reset may still have happened; the read that follows tells.
    TRolloutRecord record = Record(QStringLiteral("reset"));
    if (!ack)
        record.Reason = QStringLiteral("not acknowledged");
    Journal(record, false);
    restartDeadlineMs_ = job_.clock_.NowMs() + Options().RestartTimeoutMs;
    Refind();
}

// --- refind ---

void TModuleRun::Refind() {
    Enter(TRolloutStage::Refind, QStringLiteral("waiting for it to answer after its reset"));
    const int wait = static_cast<int>(std::max<std::int64_t>(restartDeadlineMs_ - job_.clock_.NowMs(), 0));
    find_ =
        std::make_unique<TFindJob>(TakeLane(), job_.clock_, TFindRequest{{Row().Mac}, wait, SearchRepeatMs});
    find_->OnDone = [this](std::vector<TFoundModule> found) {
        Later([this, found = TFindJob::FirstOfEach({Row().Mac}, found)] {
            if (found.empty()) {
                Fail(TRolloutStage::Refind, TOutcome::NoAnswer,
                     QStringLiteral("did not answer a search within %1 s of its reset")
                         .arg(Seconds(Options().RestartTimeoutMs)));
                return;
            }
            found_ = found.front();
            Row().Ip = found_->Ip;
            if (kept_)
                Restore(true);
            else
                Finish(); // --no-keep-config: nothing to write back
        });
    };
    find_->Start();
}

// --- restore: the kept fields into the blocks the new firmware sends ---

void TModuleRun::Restore(bool factoryLogin) {
    Enter(TRolloutStage::Restore, QStringLiteral("reading what the new firmware holds"));
    const TLogin login = factoryLogin ? Options().FactoryLogin : ownLogin_;
    read_ = std::make_unique<TReadJob>(TakeLane(), job_.clock_,
                                       TReadRequest{*found_, login, Options().TimeoutMs, Options().QuietMs});
    read_->OnDone = [this, factoryLogin](TReadResult r) {
        Later([this, r = std::move(r), factoryLogin] { RestoreRead(r, factoryLogin); });
    };
    read_->Start();
}

// Which kept fields go into the write-back: the ones the module now shows and its save writes.
// One it no longer shows is reported now; one its save does not write (it keeps the module's own
// value) is checked on the read-back.
QList<TAssignment> TModuleRun::SortKept(const TModuleSettings& now) {
    QList<TAssignment> list;
    Row().Unrestored.clear();
    carried_.clear();
    for (auto it = kept_->begin(); it != kept_->end(); ++it) {
        const TFieldDef* f = FindField(it.key());
        const TResult<QJsonValue> v =
            f ? ParseFieldJson(*f, it.value()) : TError{"", "", "not a known field"};
        if (!v)
            Row().Unrestored << TUnrestoredField{it.key(), it.value(), Q(ErrorReason(v.Error()))};
        else if (!FieldShown(*f, now))
            Row().Unrestored << TUnrestoredField{
                f->Name, it.value(),
                QStringLiteral("the new firmware sent no %1 settings").arg(GroupName(f->Group))};
        else if (!FieldWritable(*f, now))
            carried_ << TAssignment{f, *v};
        else
            list << TAssignment{f, *v};
    }
    return list;
}

bool TModuleRun::PlanRestore(const TReadResult& r) {
    QList<TAssignment> list = SortKept(r.Settings);
    // A value the new firmware refuses (another range) is reported and the rest written back.
    for (int round = 0; round < 3; ++round) {
        prepared_ = PrepareSave(r.Settings, r.Store, list, TPrepareMode::Lenient);
        if (prepared_.Ok)
            break;
        for (const QString& e : prepared_.Errors) {
            const QString name = e.section(QLatin1Char(':'), 0, 0);
            const auto it = std::find_if(list.begin(), list.end(),
                                         [&name](const TAssignment& a) { return a.Field->Name == name; });
            if (it == list.end())
                continue;
            Row().Unrestored << TUnrestoredField{name, kept_->value(name),
                                                 e.section(QLatin1Char(':'), 1).trimmed()};
            list.erase(it);
        }
    }
    if (!prepared_.Ok) {
        Fail(TRolloutStage::Restore, TOutcome::Usage, prepared_.Errors.join(QStringLiteral("; ")));
        return false;
    }
    // A field the save cannot write as kept (the new firmware's rules) is reported, not verified.
    restoring_.clear();
    for (const TAssignment& a : list) {
        const QString prefix = a.Field->Name + QLatin1Char(':');
        const auto note = std::find_if(prepared_.Notes.begin(), prepared_.Notes.end(),
                                       [&prefix](const QString& n) { return n.startsWith(prefix); });
        if (note != prepared_.Notes.end())
            Row().Unrestored << TUnrestoredField{a.Field->Name, kept_->value(a.Field->Name),
                                                 note->mid(prefix.size()).trimmed()};
        else
            restoring_ << a;
    }
    return true;
}

void TModuleRun::RestoreRead(const TReadResult& r, bool factoryLogin) {
    if (r.Status == TOutcome::Password && factoryLogin) {
        Restore(false); // the reset did not take: its own log-in still holds
        return;
    }
    if (r.Status == TOutcome::NoAnswer && job_.clock_.NowMs() < restartDeadlineMs_) {
        Refind(); // it answered the search on its way down; it is restarting
        return;
    }
    if (r.Status != TOutcome::Ok) {
        Fail(TRolloutStage::Restore, r.Status,
             QStringLiteral("its new settings could not be read: %1").arg(r.Error));
        return;
    }
    loginUsed_ = factoryLogin ? Options().FactoryLogin : ownLogin_;
    if (!PlanRestore(r))
        return;
    if (prepared_.Nothing()) {
        VerifyJudge(r, *found_, false); // it holds every kept value already
        return;
    }
    Row().Detail = QStringLiteral("writing back %1 field(s)").arg(prepared_.Changes.size());
    Changed();
    save_ = std::make_unique<TSaveJob>(TakeLane(), job_.clock_, *found_, loginUsed_, prepared_.Plan.Steps,
                                       Options().TimeoutMs);
    save_->OnDone = [this](const TSaveReport& report) { Later([this, report] { Restored(report); }); };
    save_->Start();
}

void TModuleRun::Restored(const TSaveReport& report) {
    restartDeadlineMs_ = job_.clock_.NowMs() + Options().RestartTimeoutMs;
    const TOutcome acked = report.Outcome();
    if (acked == TOutcome::Password || acked == TOutcome::ModuleError) {
        Fail(TRolloutStage::Restore, acked,
             acked == TOutcome::Password ? QStringLiteral("the module refused the log-in of the write-back")
                                         : QStringLiteral("the module refused a block of the write-back"));
        return;
    }
    TRolloutRecord record = Record(QStringLiteral("restored"));
    for (const TUnrestoredField& u : Row().Unrestored)
        record.Fields.insert(u.Field, u.Value);
    if (acked != TOutcome::Ok)
        record.Reason = QStringLiteral("not every datagram was acknowledged");
    Journal(record, false);
    Verify();
}

// --- verify ---

QList<TMismatch> TModuleRun::Mismatches(const TModuleSettings& readBack) const {
    QList<TMismatch> out = CompareReadBack(prepared_, readBack);
    for (const TAssignment& a : restoring_) {
        const TFieldDef& f = *a.Field;
        const QJsonValue read = FieldShown(f, readBack) ? f.Get(readBack) : QJsonValue(QJsonValue::Null);
        const bool listed =
            std::any_of(out.begin(), out.end(), [&f](const TMismatch& m) { return m.Field == &f; });
        if (read != a.Value && !listed)
            out.push_back(TMismatch{&f, a.Value, read});
    }
    return out;
}

void TModuleRun::Unwritten(const TModuleSettings& readBack) {
    const unsigned family = FamilyBit(readBack.Family);
    for (const TAssignment& a : carried_) {
        const TFieldDef& f = *a.Field;
        if (f.Get(readBack) == a.Value)
            continue;
        Row().Unrestored.removeIf([&f](const TUnrestoredField& u) { return u.Field == f.Name; });
        Row().Unrestored << TUnrestoredField{
            f.Name, kept_->value(f.Name),
            f.Writable == 0 ? QStringLiteral("no save writes it (the module keeps its own value)")
                            : QStringLiteral("a %1 save does not write it (the module keeps its own value)")
                                  .arg(FamiliesText(family))};
    }
}

// The module restarts after the write-back: it is searched for under the MAC it answers to now,
// read with the log-in it takes at its restart (the one of the write-back while it has not
// restarted yet) and compared, until every field holds its kept value or its time is up.
void TModuleRun::Verify() {
    Enter(TRolloutStage::Verify, QStringLiteral("reading it back"));
    const int wait = static_cast<int>(std::max<std::int64_t>(restartDeadlineMs_ - job_.clock_.NowMs(), 0));
    const std::string mac = prepared_.NewMac;
    find_ = std::make_unique<TFindJob>(TakeLane(), job_.clock_, TFindRequest{{mac}, wait, SearchRepeatMs});
    find_->OnDone = [this, mac](std::vector<TFoundModule> found) {
        Later([this, found = TFindJob::FirstOfEach({mac}, found), mac] {
            if (found.empty())
                Fail(TRolloutStage::Verify, TOutcome::NoAnswer,
                     QStringLiteral("did not answer under %1 within %2 s of the write-back")
                         .arg(Q(mac), Seconds(Options().RestartTimeoutMs)));
            else
                VerifyRead(found.front(), false);
        });
    };
    find_->Start();
}

void TModuleRun::VerifyRead(const TFoundModule& where, bool oldLogin) {
    const TLogin login = oldLogin ? loginUsed_ : prepared_.NewLogin;
    read_ = std::make_unique<TReadJob>(TakeLane(), job_.clock_,
                                       TReadRequest{where, login, Options().TimeoutMs, Options().QuietMs});
    read_->OnDone = [this, where, oldLogin](TReadResult r) {
        Later([this, r = std::move(r), where, oldLogin] { VerifyJudge(r, where, oldLogin); });
    };
    read_->Start();
}

void TModuleRun::VerifyJudge(const TReadResult& r, const TFoundModule& where, bool oldLogin) {
    if (r.Status == TOutcome::Password && !oldLogin) {
        VerifyRead(where, true); // not restarted yet: the log-in of the write-back still holds
        return;
    }
    const bool timeLeft = job_.clock_.NowMs() < restartDeadlineMs_;
    if (r.Status != TOutcome::Ok) {
        if (timeLeft)
            Verify(); // restarting
        else
            Fail(TRolloutStage::Verify, r.Status, QStringLiteral("its read-back failed: %1").arg(r.Error));
        return;
    }
    const QList<TMismatch> mismatches = Mismatches(r.Settings);
    if (mismatches.isEmpty()) {
        Unwritten(r.Settings);
        Row().Ip = where.Ip;
        Finish();
    } else if (timeLeft) {
        Verify();
    } else {
        Fail(TRolloutStage::Verify, TOutcome::NoAnswer,
             QStringLiteral("read back: %1").arg(MismatchText(mismatches)));
    }
}

// --- ends ---

void TModuleRun::Finish() {
    Row().Stage = TRolloutStage::Done;
    Row().Outcome = TRolloutOutcome::Done;
    Row().Detail = Row().Unrestored.isEmpty()
                       ? QStringLiteral("verified")
                       : QStringLiteral("verified; %1 kept field(s) could not be written back")
                             .arg(Row().Unrestored.size());
    TRolloutRecord record = Record(QStringLiteral("done"));
    for (const TUnrestoredField& u : Row().Unrestored)
        record.Fields.insert(u.Field, u.Value);
    Journal(record, false);
    End();
}

void TModuleRun::Skip(const QString& why) {
    Row().Outcome = TRolloutOutcome::Skipped;
    Row().Detail = why;
    TRolloutRecord record = Record(QStringLiteral("skipped"));
    record.Reason = why;
    Journal(record, false);
    End();
}

void TModuleRun::Fail(TRolloutStage stage, TOutcome status, const QString& why) {
    Row().Stage = stage;
    Row().Outcome = TRolloutOutcome::Failed;
    Row().Status = status;
    Row().Detail = why;
    TRolloutRecord record = Record(QStringLiteral("failed"));
    record.Stage = stage;
    record.Reason = why;
    Journal(record, false);
    End();
}

void TModuleRun::End() {
    ended_ = true;
    ReleaseLane();
    Changed();
    job_.Ended(row_);
}

} // namespace varnix
