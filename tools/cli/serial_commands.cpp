#include "cli/serial_commands.h"

#include "cli/cli_help.h"

#include "app/app_paths.h"
#include "app/journal.h"
#include "cli/cli_out.h"
#include "cli/exit_codes.h"
#include "core/blocks.h"
#include "core/convert.h"
#include "engine/clock.h"
#include "engine/event_wait.h"
#include "engine/outcome.h"
#include "engine/serial_job.h"
#include "inventory/inventory_db.h"
#include "inventory/journal_store.h"
#include "lang/error_text.h"
#include "lang/text_codec.h"
#include "model/fields.h"
#include "model/module_settings.h"
#include "model/z1_fields.h"
#include "serial/comm.h"
#include "serial/serial_frames.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

namespace varnix::cli {

namespace {

QString Hex(std::span<const std::uint8_t> b) {
    return QString::fromStdString(BytesToHexDump(b)).trimmed();
}

// Why a port did not open, with what to do about it.
QString OpenFailure(const TSerialOpenError& e) {
    const QString name = QFile::decodeName(e.Path.c_str());
    switch (e.Kind) {
    case TSerialOpenFailure::NotSerial:
        return QStringLiteral("%1 is not a serial device (not a terminal)").arg(name);
    case TSerialOpenFailure::Busy:
        return QStringLiteral("%1 is busy: another program holds it (ModemManager or brltty may grab a newly "
                              "plugged adapter)")
            .arg(name);
    case TSerialOpenFailure::NoPermission: {
        struct stat st {};
        const struct group* g = ::stat(e.Path.c_str(), &st) == 0 ? ::getgrgid(st.st_gid) : nullptr;
        if (g == nullptr || st.st_gid == 0)
            return QStringLiteral(
                       "no permission to open %1: the device belongs to root alone; serial devices "
                       "normally belong to the group dialout, and the user must be in that group")
                .arg(name);
        const QString owner = QString::fromLocal8Bit(g->gr_name);
        return QStringLiteral("no permission to open %1: the user must be in the group that owns the device "
                              "('%2', usually dialout): sudo usermod -aG %2 $USER, then log in again")
            .arg(name, owner);
    }
    case TSerialOpenFailure::Missing:
        return QStringLiteral("%1: no such port").arg(name);
    case TSerialOpenFailure::NoName:
        return QStringLiteral("no serial port named");
    case TSerialOpenFailure::Other:
        break;
    }
    return QStringLiteral("%1: %2 (%3)")
        .arg(name, QString::fromStdString(e.Text), QString::fromLocal8Bit(std::strerror(e.SystemError)));
}

struct TArgs {
    QString Sub, Port;
    std::string Path; // the device path of Port
    QStringList Assignments;
    std::uint32_t Baud = 9600;
    std::int32_t Family = FamilyZ2;
    int TimeoutMs = 2000;
    bool DryRun = false;
    capture::ICaptureSink* Capture = nullptr;
};

// Runs a job to its end, the one wait of this command. A job ends by itself (its reply wait);
// the bound is only a safety net.
template <typename Result, typename Job>
Result RunToEnd(Job& job, const TArgs& a, int boundMs, const std::function<void()>& start) {
    std::optional<Result> result;
    job.SetReplyWaitMs(a.TimeoutMs);
    job.OnDone = [&](const Result& r) { result = r; };
    start();
    if (!WaitUntil([&] { return result.has_value(); }, boundMs)) {
        job.Cancel();
        Result r;
        r.Failure = TSerialFailure::NoReply;
        return r;
    }
    return *result;
}

// A read as this command uses it: the module's fields, or the status and why.
// A Z2 read over the serial line is a snapshot of the module too (link "serial"); its row in the
// modules table keeps the address, firmware and local address a search gave it.
void StoreSerialRead(const TModuleSettings& s, const TSnapshotBlocks& blocks) {
    const std::unique_ptr<TInventory> inv = OpenInventoryOrWarn(ResolveProgramDir());
    if (!inv)
        return;
    const TSeenModule m{QString::fromStdString(s.Base.UserMAC), FamilyZ2, 0, QString(),
                        BytesToDisplay(s.Base.ModName),         QString()};
    if (const auto stored = inv->StoreSnapshot(m, QStringLiteral("serial"), blocks); !stored)
        qWarning("%s", stored.Error().Message.c_str());
}

struct TReadOutcome {
    TExit Status = TExit::NoAnswer;
    QString Error;
    bool OpenFailed = false;
    std::optional<TZ1Params> Z1;
    TModuleSettings Z2;
    std::array<std::uint8_t, ParamReplySize> Z2Blocks{};
    bool More = false;
};

TReadOutcome ReadModule(const TArgs& a) {
    TSerialReadJob job(RealClock());
    job.SetCapture(a.Capture);
    const TSerialReadResult r = RunToEnd<TSerialReadResult>(job, a, 2 * a.TimeoutMs + 5000, [&] {
        job.Start({a.Path, a.Baud}, a.Family);
    });
    TReadOutcome o;
    const QString wanted = a.Family == FamilyZ2 ? QStringLiteral("137") : QStringLiteral("32");
    switch (r.Failure) {
    case TSerialFailure::None:
        break;
    case TSerialFailure::OpenFailed:
        o.OpenFailed = true;
        o.Error = OpenFailure(r.Open);
        return o;
    case TSerialFailure::NotSent:
        o.Error = QStringLiteral("the port refused the request");
        return o;
    case TSerialFailure::NoReply:
        o.Error =
            QStringLiteral("no %1-byte reply (is the CFG pin grounded and the rate right?)").arg(wanted);
        return o;
    case TSerialFailure::BadReply:
        o.Status = TExit::ModuleError;
        o.Error = QStringLiteral("the reply's header or checksum is wrong");
        return o;
    case TSerialFailure::LineGone:
        o.Error = QStringLiteral("the serial port went away");
        return o;
    }
    o.Status = TExit::Ok;
    if (a.Family != FamilyZ2) {
        o.Z1 = r.Z1;
        return o;
    }
    o.Z2Blocks = r.Z2->Blocks;
    const std::span<const std::uint8_t> more =
        r.Z2More ? std::span<const std::uint8_t>(*r.Z2More) : std::span<const std::uint8_t>();
    const TSerialZ2Read read = SerialZ2Read(r.Z2->Blocks, more);
    o.More = r.Z2More.has_value();
    o.Z2 = read.Settings;
    StoreSerialRead(o.Z2, read.Snapshot);
    return o;
}

TSerialSaveResult SendFrames(const TArgs& a, const std::vector<TIdBytes>& frames) {
    TSerialSaveJob job(RealClock());
    job.SetCapture(a.Capture);
    const int bound = static_cast<int>(frames.size()) * TSerialSaveJob::FramePauseMs + a.TimeoutMs + 5000;
    return RunToEnd<TSerialSaveResult>(job, a, bound, [&] { job.Start({a.Path, a.Baud}, frames); });
}

QJsonObject Z1Json(const TZ1Params& p) {
    QJsonObject o;
    for (const TZ1Field& f : Z1FieldTable())
        o.insert(f.Def.Name, f.Get(p));
    return o;
}

QJsonObject Z2Json(const TModuleSettings& s) {
    QJsonObject o;
    for (const TFieldDef& f : FieldTable())
        if (FieldShown(f, s))
            o.insert(f.Name, f.Get(s));
    return o;
}

void PrintFields(TOut& out, const QJsonObject& fields,
                 const std::function<const TFieldDef*(const QString&)>& def) {
    for (auto it = fields.begin(); it != fields.end(); ++it)
        out.Line(QStringLiteral("  %1 %2").arg(it.key(), -24).arg(DisplayValue(*def(it.key()), it.value())));
}

int CmdSerialRead(const TArgs& a, TOut& out) {
    const TReadOutcome r = ReadModule(a);
    if (r.OpenFailed) {
        out.Error(r.Error);
        return out.Finish(TExit::NoAnswer);
    }
    if (r.Status != TExit::Ok) {
        out.Error(QStringLiteral("%1: %2").arg(a.Port, r.Error));
        return out.Finish(r.Status);
    }
    QJsonObject replies;
    if (a.Family == FamilyZ2) {
        replies.insert(QStringLiteral("params"), true);
        replies.insert(QStringLiteral("cloud"), r.More);
        replies.insert(QStringLiteral("heartbeat"), r.More);
    } else {
        replies.insert(QStringLiteral("z1"), true);
    }
    const QJsonObject fields = a.Family == FamilyZ2 ? Z2Json(r.Z2) : Z1Json(*r.Z1);
    out.Root().insert(QStringLiteral("replies"), replies);
    out.Root().insert(QStringLiteral("fields"), fields);
    out.Line(QStringLiteral("%1  serial %2 baud").arg(a.Port).arg(a.Baud));
    PrintFields(out, fields,
                [&](const QString& n) { return a.Family == FamilyZ2 ? FindField(n) : &FindZ1Field(n)->Def; });
    return out.Finish(TExit::Ok);
}

// Applies NAME=VALUE to what was read; returns the frames to send or the errors.
std::optional<std::vector<TIdBytes>> PlanSet(const TArgs& a, const TReadOutcome& r, QJsonArray& changes,
                                             QStringList& errors) {
    if (a.Family != FamilyZ2) {
        TZ1Params v = *r.Z1;
        for (const QString& text : a.Assignments) {
            const qsizetype eq = text.indexOf(u'=');
            const TZ1Field* f = eq > 0 ? FindZ1Field(text.left(eq)) : nullptr;
            if (f == nullptr) {
                errors << QStringLiteral("%1: not a field of a Z1/Z3 module").arg(text.left(eq));
                continue;
            }
            const TResult<QJsonValue> value = ParseFieldText(f->Def, text.mid(eq + 1));
            const TStatus ok = value ? CheckRange(f->Def, *value, FamBoth) : TStatus(value.Error());
            if (!ok) {
                errors << ErrorMessage(ok.Error());
                continue;
            }
            const QJsonValue old = f->Get(v);
            f->Set(v, *value);
            if (old != f->Get(v))
                changes.append(QJsonObject{{QStringLiteral("field"), f->Def.Name},
                                           {QStringLiteral("old"), old},
                                           {QStringLiteral("new"), f->Get(v)}});
        }
        if (!errors.isEmpty())
            return std::nullopt;
        std::array<std::uint8_t, Z1BodySize> body{};
        EncodeZ1Body(v, body);
        const auto frame = BuildZ1SerialFrame(body);
        return std::vector<TIdBytes>{TIdBytes(frame.begin(), frame.end())};
    }
    TModuleSettings s = r.Z2;
    QList<TAssignment> list;
    for (const QString& text : a.Assignments) {
        const TResult<TAssignment> as = ParseAssignment(text);
        if (!as) {
            errors << ErrorMessage(as.Error());
            continue;
        }
        if (as->Field->Group != TFieldGroup::Base && as->Field->Group != TFieldGroup::Port) {
            errors << QStringLiteral(
                          "%1: written over the LAN only (a serial save writes the base and port blocks)")
                          .arg(as->Field->Name);
            continue;
        }
        list << *as;
    }
    errors << ApplyAssignments(s, list);
    if (!errors.isEmpty())
        return std::nullopt;
    for (const TFieldChange& c : DiffSettings(r.Z2, s))
        changes.append(QJsonObject{{QStringLiteral("field"), c.Field->Name},
                                   {QStringLiteral("old"), c.Old},
                                   {QStringLiteral("new"), c.New}});
    try {
        const auto frames = BuildZ2ComSaveFrames(r.Z2Blocks, s.Base, s.Port);
        return std::vector<TIdBytes>(frames.begin(), frames.end());
    } catch (const ConversionError& e) {
        errors << QStringLiteral("'%1' is not a valid value").arg(QString::fromStdString(e.text()));
        return std::nullopt;
    }
}

// Fields whose read-back value differs from what was written.
QStringList Mismatches(const TArgs& a, const std::vector<TIdBytes>& frames, const TReadOutcome& back) {
    QStringList diff;
    if (a.Family != FamilyZ2) {
        const TZ1Params sent =
            DecodeZ1Body(std::span<const std::uint8_t, Z1BodySize>(frames[0].data() + 2, Z1BodySize));
        for (const TZ1Field& f : Z1FieldTable())
            if (f.Get(sent) != f.Get(*back.Z1))
                diff << f.Def.Name;
        return diff;
    }
    TBlockStore sentStore;
    std::array<std::uint8_t, ParamReplySize> blocks{};
    std::copy_n(frames[0].begin() + 2, BaseBlockSize, blocks.begin());
    std::copy_n(frames[1].begin() + 2, PortBlockSize, blocks.begin() + BaseBlockSize);
    sentStore.StoreParamReply(blocks);
    TReceivedBlocks got;
    got.Params = true;
    const TModuleSettings sent = DecodeModuleSettings(FamilyZ2, 0, sentStore, got);
    for (const TFieldDef& f : FieldTable())
        if ((f.Group == TFieldGroup::Base || f.Group == TFieldGroup::Port) && FieldShown(f, sent) &&
            f.Get(sent) != f.Get(back.Z2))
            diff << f.Name;
    return diff;
}

QString FamilyName(std::int32_t family) {
    return family == FamilyZ2   ? QStringLiteral("Z2")
           : family == FamilyZ1 ? QStringLiteral("Z1")
                                : QStringLiteral("Z3");
}

// The journal line of a serial save, written once the frames are out and their acknowledgements
// counted, so a run stopped before its read-back still leaves the record. A Z1 module has no
// MAC on its serial line; its entry has the address only.
void JournalSerialSave(const TArgs& a, const TReadOutcome& r, const QJsonArray& changes, int acks, int want,
                       TOut& out) {
    TJournalEntry e;
    if (a.Family == FamilyZ2) {
        e.Mac = QString::fromStdString(r.Z2.Base.UserMAC);
        e.Ip = QString::fromStdString(r.Z2.Base.StaticIP);
        e.Name = BytesToDisplay(r.Z2.Base.ModName);
    } else {
        e.Ip = QString::fromStdString(r.Z1->ModuleIP);
    }
    e.Family = FamilyName(a.Family);
    e.Link = QStringLiteral("serial");
    for (const QJsonValue& c : changes) {
        const QJsonObject o = c.toObject();
        e.Changes.append(TJournalChange{o.value(QStringLiteral("field")).toString(),
                                        o.value(QStringLiteral("old")), o.value(QStringLiteral("new"))});
    }
    for (int i = 0; i < acks; ++i)
        e.Acks.append(QStringLiteral("frame %1 K").arg(i + 1));
    e.Outcome = acks >= want ? QStringLiteral("acknowledged") : QStringLiteral("no-answer");
    if (const TStatus appended = AppendJournalEntry(ResolveProgramDir(), e); !appended)
        out.Error(ErrorMessage(appended.Error()));
}

int CmdSerialSet(const TArgs& a, TOut& out) {
    // The LAN set's shape: one entry per module under "modules", each with its own outcome.
    QJsonObject job{{QStringLiteral("port"), a.Port},
                    {QStringLiteral("module"), out.Root().value(QStringLiteral("module"))}};
    const auto finish = [&](const QString& outcome, TExit status) {
        job.insert(QStringLiteral("outcome"), outcome);
        job.insert(QStringLiteral("exit"), ToInt(status));
        out.Root().insert(QStringLiteral("dryRun"), a.DryRun);
        out.Root().insert(QStringLiteral("modules"), QJsonArray{job});
        return out.Finish(status);
    };
    const TReadOutcome r = ReadModule(a);
    if (r.OpenFailed) {
        out.Error(r.Error);
        return out.Finish(TExit::NoAnswer);
    }
    if (r.Status != TExit::Ok) {
        out.Error(QStringLiteral("%1: read before the save: %2; nothing was written").arg(a.Port, r.Error));
        job.insert(QStringLiteral("detail"), r.Error);
        return finish(QStringLiteral("not-sent"), r.Status);
    }
    QJsonArray changes;
    QStringList errors;
    const auto frames = PlanSet(a, r, changes, errors);
    job.insert(QStringLiteral("changes"), changes);
    if (!frames) {
        for (const QString& e : errors)
            out.Error(e);
        job.insert(QStringLiteral("detail"), errors.join(QStringLiteral("; ")));
        return finish(QStringLiteral("refused"), TExit::Usage);
    }
    QJsonArray planned;
    for (std::size_t i = 0; i < frames->size(); ++i)
        planned.append(QJsonObject{
            {QStringLiteral("hex"), Hex((*frames)[i])},
            {QStringLiteral("pauseMs"), i + 1 < frames->size() ? TSerialSaveJob::FramePauseMs : 0}});
    job.insert(QStringLiteral("frames"), planned);
    for (const QJsonValue& c : changes) {
        const QJsonObject o = c.toObject();
        out.Line(QStringLiteral("%1: %2 -> %3")
                     .arg(o.value(QStringLiteral("field")).toString(),
                          o.value(QStringLiteral("old")).toVariant().toString(),
                          o.value(QStringLiteral("new")).toVariant().toString()));
    }
    if (a.DryRun) {
        for (const TIdBytes& f : *frames)
            out.Line(Hex(f));
        return finish(QStringLiteral("dry-run"), TExit::Ok);
    }
    const TSerialSaveResult sent = SendFrames(a, *frames);
    if (sent.Frames == 0) {
        const QString why = sent.Failure == TSerialFailure::OpenFailed
                                ? OpenFailure(sent.Open)
                                : QStringLiteral("the port refused the frames");
        out.Error(QStringLiteral("%1: save: %2; nothing was written").arg(a.Port, why));
        job.insert(QStringLiteral("detail"), why);
        return finish(QStringLiteral("not-sent"), TExit::NoAnswer);
    }
    const int want = static_cast<int>(frames->size());
    QJsonArray ackList;
    for (int i = 0; i < sent.Acks; ++i)
        ackList.append(QJsonObject{{QStringLiteral("result"), QStringLiteral("K")}});
    job.insert(QStringLiteral("acks"), ackList);
    out.Line(QStringLiteral("acknowledged: %1 of %2 frames").arg(sent.Acks).arg(want));
    JournalSerialSave(a, r, changes, sent.Acks, want, out);
    // Read back and compare, whatever the acknowledgements said. A module busy storing its
    // settings may miss the first request, so the read is tried three times.
    TReadOutcome back;
    back.Error = QStringLiteral("the serial port went away");
    for (int attempt = 0; attempt < 3 && back.Status != TExit::Ok && !sent.LineGone; ++attempt)
        back = ReadModule(a);
    if (back.Status != TExit::Ok) {
        out.Error(QStringLiteral("%1: read-back: %2").arg(a.Port, back.Error));
        job.insert(QStringLiteral("verify"), back.Error);
        return finish(QStringLiteral("unverified"), TExit::NoAnswer);
    }
    const QStringList diff = Mismatches(a, *frames, back);
    job.insert(QStringLiteral("mismatches"), QJsonArray::fromStringList(diff));
    if (!diff.isEmpty()) {
        const QString why = QStringLiteral("read back differs in %1").arg(diff.join(QStringLiteral(", ")));
        out.Error(QStringLiteral("%1: %2").arg(a.Port, why));
        job.insert(QStringLiteral("verify"), why);
        return finish(QStringLiteral("unverified"), TExit::NoAnswer);
    }
    out.Line(QStringLiteral("verified"));
    return finish(QStringLiteral("verified"), TExit::Ok);
}

constexpr const char* SerialUsage =
    "usage: varnix-cli serial read PORT [--baud N] [--family z1|z2|z3] [--timeout SECONDS] [--json]\n"
    "       varnix-cli serial set PORT [--baud N] [--family z1|z2|z3] NAME=VALUE... [--dry-run] [--json] "
    "[--home DIR]\n";

} // namespace

int RunSerialCli(const QStringList& args, capture::ICaptureSink* capture) {
    QCommandLineParser parser;
    const QList<QCommandLineOption> options = SerialOptions();
    const QCommandLineOption &baud = NamedOption(options, "baud"), &family = NamedOption(options, "family"),
                             &timeout = NamedOption(options, "timeout"),
                             &dryRun = NamedOption(options, "dry-run");
    parser.addOptions(options);
    TOut out(args.contains(QStringLiteral("--json")));
    auto usage = [&](const QString& why) {
        out.Error(why);
        std::fputs(SerialUsage, stderr);
        return out.Finish(TExit::Usage);
    };
    if (!parser.parse(QStringList{QStringLiteral("varnix-cli serial")} + args))
        return usage(parser.errorText());
    const QStringList pos = parser.positionalArguments();
    TArgs a;
    a.Sub = pos.value(0);
    a.Port = pos.value(1);
    a.Assignments = pos.mid(2);
    a.DryRun = parser.isSet(dryRun);
    if ((a.Sub != QLatin1String("read") && a.Sub != QLatin1String("set")) || a.Port.isEmpty())
        return usage(QStringLiteral("serial needs read or set and a port"));
    if (a.Sub == QLatin1String("read") && !a.Assignments.isEmpty())
        return usage(QStringLiteral("read takes no NAME=VALUE"));
    if (a.Sub == QLatin1String("set") && a.Assignments.isEmpty())
        return usage(QStringLiteral("set needs NAME=VALUE"));
    if (parser.isSet(baud)) {
        bool ok = false;
        const uint v = parser.value(baud).toUInt(&ok);
        if (!ok || v == 0 || v > 4000000)
            return usage(QStringLiteral("--baud: a rate from 1 to 4000000"));
        a.Baud = v;
    }
    if (parser.isSet(family)) {
        const QString f = parser.value(family).toLower();
        if (f == QLatin1String("z1"))
            a.Family = FamilyZ1;
        else if (f == QLatin1String("z3"))
            a.Family = FamilyZ3;
        else if (f != QLatin1String("z2"))
            return usage(QStringLiteral("--family: z1, z2 or z3"));
    }
    if (parser.isSet(timeout)) {
        bool ok = false;
        const double s = parser.value(timeout).toDouble(&ok);
        if (!ok || s <= 0 || s > 600)
            return usage(QStringLiteral("--timeout: seconds above 0, at most 600"));
        a.TimeoutMs = static_cast<int>(s * 1000);
    }
    a.Path = TComm::DevicePath(QFile::encodeName(a.Port).toStdString());
    a.Capture = capture;
    out.Root().insert(QStringLiteral("module"),
                      QJsonObject{{QStringLiteral("port"), QFile::decodeName(a.Path.c_str())},
                                  {QStringLiteral("family"), FamilyName(a.Family)},
                                  {QStringLiteral("familyCode"), a.Family},
                                  {QStringLiteral("baud"), static_cast<qint64>(a.Baud)}});
    return a.Sub == QLatin1String("read") ? CmdSerialRead(a, out) : CmdSerialSet(a, out);
}

} // namespace varnix::cli
