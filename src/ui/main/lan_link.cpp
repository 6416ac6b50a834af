#include "ui/main/lan_link.h"

#include "core/convert.h"
#include "lan/lan_protocol.h"
#include "lang/apply_texts.h"
#include "lang/error_text.h"
#include "lang/text_codec.h"
#include "ui/common/colours.h"
#include "ui/main/pages/page_host.h"
#include "ui/main/pages/page_set.h"
#include "ui/main/pages/z2_page.h"
#include "ui/main/pages/z3_page.h"
#include "ui/main/window_journal.h"

namespace varnix {

namespace {

constexpr int ReadTimeoutMs = 2000;
constexpr int ReadQuietMs = 300;
constexpr int AckGraceMs = 1000;

bool SameModule(const TFoundModule& a, const TFoundModule& b) {
    return MacKey(a.Mac) == MacKey(b.Mac) && a.Local == b.Local;
}

// Both pages offer the same calls; the family picks the page.
template <typename Fn> void OnPage(const TLanLinkParts& p, std::int32_t family, Fn fn) {
    if (family == FamilyZ2)
        fn(p.Pages->Z2());
    else if (family == FamilyZ3)
        fn(p.Pages->Z3());
}

} // namespace

TLanLink::TLanLink(TLanLinkParts parts, QObject* parent)
    : QObject(parent), p_(std::move(parts)), clock_(p_.Clock != nullptr ? *p_.Clock : RealClock()),
      pool_(p_.Udp, clock_) {
    pool_.OnNewLane = [this](TLane& lane) {
        lane.OnSent = [this](const TIdBytes& d, const std::string& dest, const std::string& local,
                             std::uint16_t destPort, std::uint16_t localPort) {
            if (p_.Sent)
                p_.Sent(d, dest, local, destPort, localPort);
        };
        lane.OnOtherStatus = [this](std::int32_t code, const std::string& text) {
            if (p_.Status)
                p_.Status(code, text);
        };
        lane.OnReceived = [this](const TIdBytes& d, const std::string& peer, const std::string& local,
                                 std::uint16_t peerPort, std::uint16_t localPort) {
            if (p_.Received)
                p_.Received(d, peer, local, peerPort, localPort);
        };
    };
}

TLanLink::~TLanLink() {
    read_.reset();
    save_.reset();
    verify_.reset();
    commands_.clear();
}

TFoundModule TLanLink::ModuleOf(const TDeviceRow& row, const std::string& local) {
    TFoundModule m;
    m.Ip = DisplayToBytes(row.IP);
    m.Name = DisplayToBytes(row.Name);
    m.Mac = row.Mac.toStdString();
    bool ok = false;
    m.Firmware = row.Version.toInt(&ok);
    if (!ok)
        m.Firmware = 0;
    m.Family = row.Family;
    m.Binding = row.Binding;
    m.Local = local;
    m.PeerAddr = row.PeerAddr != 0 ? IntToIPText(row.PeerAddr) : std::string();
    m.PeerPort = row.PeerPort;
    return m;
}

QString TLanLink::CurrentMac() const {
    return QString::fromStdString(MacKey(reading_.Mac));
}

QString TLanLink::Text(const char* key) const {
    return p_.Host->Texts().Text(key);
}

void TLanLink::Log(const QString& text, const QColor& colour) {
    p_.Host->WriteLog(text, colour);
}

// --- Reading ---------------------------------------------------------------------------------

void TLanLink::Read(const TFoundModule& module) {
    if (read_) {
        read_->Cancel();
        read_.reset();
    }
    if (readLane_ != nullptr) {
        pool_.Release(*readLane_);
        readLane_ = nullptr;
    }
    // Nothing of the module shown before stays under another module's row; the same module read
    // again (the pop-up menu repeats the click) keeps its values until the new read shows them.
    if (!SameModule(module, reading_) || !lastRead_) {
        p_.Pages->ClearLanPages();
        lastRead_.reset();
    }
    reading_ = module;
    shown_ = false;
    readLane_ = &pool_.Acquire();
    read_ = std::make_unique<TReadJob>(*readLane_, clock_,
                                       TReadRequest{module, p_.Login(), ReadTimeoutMs, ReadQuietMs});
    read_->OnProgress = [this] { ShowProgress(); };
    read_->OnDone = [this](TReadResult r) { ReadDone(std::move(r)); };
    read_->Start();
}

void TLanLink::ShowProgress() {
    const TReadResult& partial = read_->Partial();
    if (!partial.Got.Params)
        return; // the base and port part first: every other block is shown with it
    const TModuleSettings s = read_->PartialSettings();
    if (!shown_) {
        shown_ = true;
        p_.Host->SetPageMode(reading_.Family == FamilyZ2 ? 2 : 3);
        Log(Text("lang_ts_Read") + Text("lang_ts_OK"), kColourGreen);
    }
    OnPage(p_, reading_.Family, [&](auto& page) {
        page.ShowSettings(s);
        // Editable only once the read is over and while no save of this module runs.
        page.SetEditable(false);
    });
}

void TLanLink::ReadDone(TReadResult r) {
    pool_.Release(*readLane_);
    readLane_ = nullptr;
    if (r.ForeignDatagrams > 0)
        Log(Text("lang_Hint_LanForeign").arg(r.ForeignDatagrams), kColourMaroon);
    if (r.Status != TOutcome::Ok) {
        Log(Text("lang_Hint_ReadFailed").arg(r.Error), kColourRed);
        if (r.Status == TOutcome::Password && p_.AskPassword)
            p_.AskPassword();
        return;
    }
    lastModule_ = reading_;
    if (readObserver_)
        readObserver_(reading_, r);
    const bool busy = Saving() && SameModule(saving_, reading_);
    OnPage(p_, reading_.Family, [&](auto& page) {
        page.ShowSettings(r.Settings);
        page.SetEditable(!busy);
    });
    lastRead_ = std::move(r);
}

// --- Saving ----------------------------------------------------------------------------------

void TLanLink::Save(std::int32_t family, const std::optional<TFoundModule>& selected) {
    if (!selected)
        return;
    if (Saving()) {
        Log(Text("lang_Hint_SaveBusy"), kColourRed);
        p_.Host->Prompts().Message(p_.Pages->Window(), p_.Pages->Window()->windowTitle(),
                                   Text("lang_Hint_SaveBusy"), IUserPrompts::Icon::Warning);
        return;
    }
    // A save is built from this very module's read: another row, or a read not over, sends nothing.
    if (selected->Family != family || !lastRead_ || !SameModule(*selected, lastModule_) ||
        lastModule_.Family != family) {
        Log(Text("lang_Hint_ReadFirstLan"), kColourRed);
        return;
    }
    TResult<TModuleSettings> wanted = TError{};
    OnPage(p_, family, [&](auto& page) { wanted = page.ReadSettings(lastRead_->Settings); });
    if (!wanted) {
        OnPage(p_, family, [&](auto& page) { page.ShowFieldError(wanted.Error()); });
        return;
    }
    const TPreparedSave save = PrepareSaveOf(lastRead_->Settings, lastRead_->Store, *wanted);
    if (SaveRefused(save))
        return;
    saving_ = lastModule_;
    savedFrom_ = *lastRead_;
    StartSave(save);
}

bool TLanLink::LastReadIs(const TFoundModule& module) const {
    return lastRead_ && SameModule(module, lastModule_);
}

bool TLanLink::SaveAssignments(const TFoundModule& module, const QList<TAssignment>& list) {
    if (Saving()) {
        Log(Text("lang_Hint_SaveBusy"), kColourRed);
        return false;
    }
    if (!LastReadIs(module)) {
        Log(Text("lang_Hint_ReadFirstLan"), kColourRed);
        return false;
    }
    const TPreparedSave save =
        PrepareSave(lastRead_->Settings, lastRead_->Store, list, TPrepareMode::Lenient);
    if (SaveRefused(save))
        return false;
    for (const QString& note : save.Notes)
        Log(note, kColourMaroon);
    saving_ = lastModule_;
    savedFrom_ = *lastRead_;
    StartSave(save);
    return true;
}

bool TLanLink::SaveRefused(const TPreparedSave& save) {
    if (save.Ok)
        return false;
    const QString why = save.Errors.join(QStringLiteral("; "));
    Log(Text("lang_Hint_SaveRefused").arg(why), kColourRed);
    p_.Host->Prompts().Message(p_.Pages->Window(), p_.Pages->Window()->windowTitle(),
                               Text("lang_Hint_SaveRefused").arg(why), IUserPrompts::Icon::Warning);
    return true;
}

void TLanLink::StartSave(const TPreparedSave& save) {
    // The jobs of the last save are over; they are destroyed here, outside their callbacks.
    save_.reset();
    verify_.reset();
    state_ = TSaveState::Sending;
    prepared_ = save;
    OnPage(p_, saving_.Family, [](auto& page) { page.SetEditable(false); });
    saveLane_ = &pool_.Acquire();
    save_ = std::make_unique<TSaveJob>(*saveLane_, clock_, saving_, p_.Login(), save.Plan.Steps, AckGraceMs);
    save_->OnAck = [this](int, const TAck& ack) { LogAck(ack); };
    save_->OnDone = [this](const TSaveReport& report) { SaveDone(report); };
    save_->Start();
}

void TLanLink::LogAck(const TAck& ack) {
    switch (ack.Result) {
    case 'K':
        Log(Text("lang_Hint_ACK"), kColourGreen);
        break;
    case 'P':
        Log(Text("lang_Hint_PswdErr"), kColourRed);
        if (p_.AskPassword)
            p_.AskPassword();
        break;
    case 'E':
        Log(Text("lang_Hint_OtherErr"), kColourRed);
        break;
    default:
        Log(Text("lang_Hint_CheckErr") +
                QStringLiteral("%1").arg(ack.Expected, 2, 16, QLatin1Char('0')).toUpper(),
            kColourRed);
        break;
    }
}

void TLanLink::SaveDone(const TSaveReport& report) {
    pool_.Release(*saveLane_);
    saveLane_ = nullptr;
    savedAt_ = clock_.NowMs();
    const TOutcome acked = report.Outcome();
    if (const TStatus j = JournalWindowSave(p_.ProgramDir, saving_, savedFrom_, report); !j)
        Log(ErrorMessage(j.Error()), kColourRed);
    if (acked == TOutcome::Password || acked == TOutcome::ModuleError) {
        Log(Text("lang_Hint_SaveRefused")
                .arg(acked == TOutcome::Password ? Text("lang_Hint_PswdErr") : Text("lang_Hint_OtherErr")),
            kColourRed);
        EndSave(false);
        return;
    }
    StartVerify();
}

void TLanLink::StartVerify() {
    state_ = TSaveState::Verifying;
    Log(Text("lang_Hint_Verifying"), kColourBlue);
    TVerifyItem item;
    item.Mac = prepared_.NewMac;
    item.Login = prepared_.NewLogin;
    item.OldLogin = p_.Login();
    item.Compare = [this](const TModuleSettings& read) { return CompareReadBack(prepared_, read); };
    item.SavedAtMs = savedAt_;
    verify_ = std::make_unique<TVerifyJob>(pool_, clock_, std::vector<TVerifyItem>{item},
                                           TVerifyOptions{p_.VerifyTimeoutMs, ReadTimeoutMs, ReadQuietMs, 1});
    verify_->OnDone = [this](std::vector<TVerifyOutcome> out) { VerifyDone(out.front()); };
    verify_->Start();
}

void TLanLink::VerifyDone(const TVerifyOutcome& v) {
    if (v.ReadBack && readObserver_)
        readObserver_(v.Where, *v.ReadBack);
    const int changed = static_cast<int>(prepared_.Changes.size() + prepared_.SideEffects.size());
    if (v.Verified) {
        Log(Text("lang_Hint_SaveVerified").arg(changed), kColourGreen);
        if (p_.ModuleMoved)
            p_.ModuleMoved(saving_, v.Where);
        // The page and the next save go on from what the module holds now, when it still shows it.
        if (v.ReadBack && lastRead_ && SameModule(lastModule_, saving_) && !Reading()) {
            lastRead_ = v.ReadBack;
            lastModule_ = v.Where;
            reading_ = v.Where;
            OnPage(p_, saving_.Family, [&](auto& page) { page.ShowSettings(v.ReadBack->Settings); });
        }
    } else if (!v.Seen) {
        Log(Text("lang_Hint_SaveNotSeen")
                .arg(QString::fromStdString(prepared_.NewMac))
                .arg(p_.VerifyTimeoutMs / 1000.0),
            kColourRed);
    } else {
        QStringList parts;
        for (const TMismatch& m : v.Mismatches)
            parts << QStringLiteral("%1 = %2 (%3)")
                         .arg(m.Field->Name, DisplayValue(*m.Field, m.Read), DisplayValue(*m.Field, m.Sent));
        Log(Text("lang_Hint_SaveMismatch")
                .arg(parts.isEmpty() ? v.ReadError : parts.join(QStringLiteral("; "))),
            kColourRed);
    }
    EndSave(v.Verified);
}

void TLanLink::EndSave(bool verified) {
    state_ = TSaveState::Idle;
    const bool shown = lastRead_ && SameModule(lastModule_, saving_) && !Reading();
    if (shown)
        OnPage(p_, saving_.Family, [](auto& page) { page.SetEditable(true); });
    emit SaveFinished(verified);
}

// --- Commands --------------------------------------------------------------------------------

void TLanLink::Command(const TFoundModule& module, std::uint8_t code) {
    std::erase_if(commands_, [](const auto& job) { return !job->Running(); });
    TLane& lane = pool_.Acquire();
    lane.Serve(module);
    const TSaveStep step{code, lane.PortFor(code), {}, 0};
    auto job = std::make_unique<TSaveJob>(lane, clock_, module, p_.Login(), std::vector<TSaveStep>{step},
                                          ReadTimeoutMs);
    TSaveJob* raw = job.get();
    TLane* used = &lane;
    job->OnAck = [this](int, const TAck& ack) { LogAck(ack); };
    job->OnDone = [this, used](const TSaveReport&) { pool_.Release(*used); };
    commands_.push_back(std::move(job));
    raw->Start();
}

} // namespace varnix
