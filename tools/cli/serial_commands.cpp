#include "cli/serial_commands.h"

#include "app/app_paths.h"
#include "app/journal.h"
#include "cli/cli_out.h"
#include "cli/exit_codes.h"
#include "core/blocks.h"
#include "core/convert.h"
#include "lang/text_codec.h"
#include "model/fields.h"
#include "model/module_settings.h"
#include "model/z1_fields.h"
#include "serial/comm.h"
#include "serial/serial_frames.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

namespace varnix::cli {

namespace {

constexpr int FramePauseMs = 500;

QString Hex(std::span<const std::uint8_t> b) {
    return QString::fromStdString(BytesToHexDump(b)).trimmed();
}

// Why a port did not open, with what to do about it.
QString OpenFailure(const std::string& path, const ECommsError& e) {
    if (std::strcmp(e.what(), CommErrNotComm) == 0)
        return QStringLiteral("%1 is not a serial device (not a terminal)")
            .arg(QFile::decodeName(path.c_str()));
    const QString name = QFile::decodeName(path.c_str());
    switch (e.SystemError()) {
    case EBUSY:
        return QStringLiteral("%1 is busy: another program holds it (ModemManager or brltty may grab a newly "
                              "plugged adapter)")
            .arg(name);
    case EACCES:
    case EPERM: {
        struct stat st {};
        const struct group* g = ::stat(path.c_str(), &st) == 0 ? ::getgrgid(st.st_gid) : nullptr;
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
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return QStringLiteral("%1: no such port").arg(name);
    default:
        return QStringLiteral("%1: %2 (%3)")
            .arg(name, QString::fromLatin1(e.what()), QString::fromLocal8Bit(std::strerror(e.SystemError())));
    }
}

// One open port and the chunks it delivers; waits run the event loop with a deadline.
class TLine {
public:
    TLine() {
        comm_.SetOutx_CtsFlow(false);
        comm_.SetOutx_DsrFlow(false);
        comm_.SetReadIntervalTimeout(50);
        comm_.OnReceiveData = [this](TComm&, const std::uint8_t* b, std::uint16_t n) {
            chunks_.emplace_back(b, b + n);
            if (loop_ && done_ && done_())
                loop_->quit();
        };
        comm_.OnRequestHangup = [this](TComm&) {
            gone_ = true;
            if (loop_)
                loop_->quit();
        };
    }
    std::optional<QString> Open(const std::string& path, std::uint32_t baud) {
        comm_.SetCommName(path);
        comm_.SetBaudRate(baud);
        try {
            comm_.OpenPort();
        } catch (const ECommsError& e) {
            return OpenFailure(path, e);
        }
        return std::nullopt;
    }
    bool Send(const TIdBytes& frame) {
        sent_.append(Hex(frame));
        return comm_.WriteData(frame.data(), static_cast<std::uint16_t>(frame.size()));
    }
    // Runs the event loop until done() holds, the line goes away or ms pass.
    bool WaitFor(std::function<bool()> done, int ms) {
        if (done())
            return true;
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        deadline.start(ms);
        loop_ = &loop;
        done_ = done;
        loop.exec();
        loop_ = nullptr;
        done_ = nullptr;
        return done();
    }
    // The first chunk of this length since `from`, if any.
    const TIdBytes* Chunk(std::size_t length, std::size_t from = 0) const {
        for (std::size_t i = from; i < chunks_.size(); ++i)
            if (chunks_[i].size() == length)
                return &chunks_[i];
        return nullptr;
    }
    std::size_t Count() const { return chunks_.size(); }
    const std::vector<TIdBytes>& Chunks() const { return chunks_; }
    bool Gone() const { return gone_; }
    const QJsonArray& Sent() const { return sent_; }

private:
    TComm comm_;
    std::vector<TIdBytes> chunks_;
    QJsonArray sent_;
    QEventLoop* loop_ = nullptr;
    std::function<bool()> done_;
    bool gone_ = false;
};

struct TSerialRead {
    TExit Status = TExit::NoAnswer;
    QString Error;
    std::optional<TZ1Params> Z1;
    TModuleSettings Z2;
    std::array<std::uint8_t, ParamReplySize> Z2Blocks{};
    bool More = false;
};

TSerialRead ReadZ1(TLine& line, std::int32_t family, int timeoutMs) {
    TSerialRead r;
    const std::size_t from = line.Count();
    line.Send(BuildComReadRequest(family));
    if (!line.WaitFor([&] { return line.Chunk(ComZ1ReplySize, from) != nullptr || line.Gone(); },
                      timeoutMs)) {
        r.Error = QStringLiteral("no 32-byte reply (is the CFG pin grounded and the rate right?)");
        return r;
    }
    const TIdBytes* c = line.Chunk(ComZ1ReplySize, from);
    if (c == nullptr) {
        r.Error = QStringLiteral("the serial port went away");
        return r;
    }
    r.Z1 = ParseZ1ComReply(std::span<const std::uint8_t, ComZ1ReplySize>(c->data(), ComZ1ReplySize));
    if (!r.Z1) {
        r.Status = TExit::ModuleError;
        r.Error = QStringLiteral("the reply's header or checksum is wrong");
        return r;
    }
    r.Status = TExit::Ok;
    return r;
}

TSerialRead ReadZ2(TLine& line, int timeoutMs) {
    TSerialRead r;
    const std::size_t from = line.Count();
    line.Send(BuildComReadRequest(FamilyZ2));
    if (!line.WaitFor([&] { return line.Chunk(ComZ2ParamReplySize, from) != nullptr || line.Gone(); },
                      timeoutMs) ||
        line.Gone()) {
        r.Error = QStringLiteral("no 137-byte reply (is the CFG pin grounded and the rate right?)");
        return r;
    }
    const TComZ2Params p = ParseZ2ComParams(std::span<const std::uint8_t, ComZ2ParamReplySize>(
        line.Chunk(ComZ2ParamReplySize, from)->data(), ComZ2ParamReplySize));
    r.Z2Blocks = p.Blocks;
    TBlockStore store;
    store.StoreParamReply(p.Blocks);
    TReceivedBlocks got;
    got.Params = true;
    line.Send(BuildComZ2MoreRequest());
    if (line.WaitFor([&] { return line.Chunk(ComZ2MoreReplySize, from) != nullptr || line.Gone(); },
                     timeoutMs) &&
        !line.Gone()) {
        const TIdBytes& m = *line.Chunk(ComZ2MoreReplySize, from);
        std::copy_n(m.begin(), 30, store.Cloud.begin());
        std::copy_n(m.begin() + 30, HeartBlockSize, store.Heart.begin());
        got.Cloud = got.Heart = true;
        r.More = true;
    }
    r.Z2 = DecodeModuleSettings(FamilyZ2, 0, store, got);
    r.Status = TExit::Ok;
    return r;
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

struct TArgs {
    QString Sub, Port;
    QStringList Assignments;
    std::uint32_t Baud = 9600;
    std::int32_t Family = FamilyZ2;
    int TimeoutMs = 2000;
    bool DryRun = false;
};

// Counts the 'K' chunks from `from` on.
int Acks(const TLine& line, std::size_t from) {
    int n = 0;
    for (std::size_t i = from; i < line.Chunks().size(); ++i)
        n += ClassifyComReply(line.Chunks()[i]) == TComReply::Ack;
    return n;
}

int CmdSerialRead(TLine& line, const TArgs& a, TOut& out) {
    const TSerialRead r =
        a.Family == FamilyZ2 ? ReadZ2(line, a.TimeoutMs) : ReadZ1(line, a.Family, a.TimeoutMs);
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
std::optional<std::vector<TIdBytes>> PlanSet(const TArgs& a, const TSerialRead& r, QJsonArray& changes,
                                             QStringList& errors) {
    if (a.Family != FamilyZ2) {
        TZ1Params v = *r.Z1;
        for (const QString& text : a.Assignments) {
            const qsizetype eq = text.indexOf(u'=');
            const TZ1Field* f = eq > 0 ? FindZ1Field(text.left(eq)) : nullptr;
            QString why;
            if (f == nullptr) {
                errors << QStringLiteral("%1: not a field of a Z1/Z3 module").arg(text.left(eq));
                continue;
            }
            const QJsonValue value = ParseFieldText(f->Def, text.mid(eq + 1), &why);
            if (value.isUndefined() || !CheckRange(f->Def, value, FamBoth, &why)) {
                errors << QStringLiteral("%1: %2").arg(f->Def.Name, why);
                continue;
            }
            const QJsonValue old = f->Get(v);
            f->Set(v, value);
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
        QString why;
        const auto as = ParseAssignment(text, &why);
        if (!as) {
            errors << why;
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
QStringList Mismatches(const TArgs& a, const std::vector<TIdBytes>& frames, const TSerialRead& back) {
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
void JournalSerialSave(const TArgs& a, const TSerialRead& r, const QJsonArray& changes, int acks, int want,
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
    if (QString error; !AppendJournal(JournalPath(ResolveProgramDir()), e, &error))
        out.Error(error);
}

int CmdSerialSet(TLine& line, const TArgs& a, TOut& out) {
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
    const auto read = [&] {
        return a.Family == FamilyZ2 ? ReadZ2(line, a.TimeoutMs) : ReadZ1(line, a.Family, a.TimeoutMs);
    };
    const TSerialRead r = read();
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
        planned.append(QJsonObject{{QStringLiteral("hex"), Hex((*frames)[i])},
                                   {QStringLiteral("pauseMs"), i + 1 < frames->size() ? FramePauseMs : 0}});
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
    const std::size_t from = line.Count();
    for (std::size_t i = 0; i < frames->size(); ++i) {
        if (i > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(FramePauseMs));
        line.Send((*frames)[i]);
    }
    const int want = static_cast<int>(frames->size());
    line.WaitFor([&] { return Acks(line, from) >= want || line.Gone(); }, a.TimeoutMs);
    const int acks = Acks(line, from);
    QJsonArray ackList;
    for (int i = 0; i < acks; ++i)
        ackList.append(QJsonObject{{QStringLiteral("result"), QStringLiteral("K")}});
    job.insert(QStringLiteral("acks"), ackList);
    out.Line(QStringLiteral("acknowledged: %1 of %2 frames").arg(acks).arg(want));
    JournalSerialSave(a, r, changes, acks, want, out);
    // Read back and compare, whatever the acknowledgements said. A module busy storing its
    // settings may miss the first request, so the read is tried three times.
    TSerialRead back;
    for (int attempt = 0; attempt < 3 && back.Status != TExit::Ok && !line.Gone(); ++attempt)
        back = read();
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

int RunSerialCli(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption baud(QStringLiteral("baud"), QStringLiteral("Line rate (default 9600)."),
                                  QStringLiteral("N"));
    const QCommandLineOption family(QStringLiteral("family"), QStringLiteral("z1, z2 (default) or z3."),
                                    QStringLiteral("F"));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
                                     QStringLiteral("Seconds to wait per reply (default 2)."),
                                     QStringLiteral("SECONDS"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"),
                                    QStringLiteral("Show the changes and frames; write nothing."));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Machine-readable output."));
    const QCommandLineOption home(QStringLiteral("home"),
                                  QStringLiteral("Program directory (holds journal.jsonl)."),
                                  QStringLiteral("DIR"));
    parser.addOptions({baud, family, timeout, dryRun, json, home});
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
    const std::string path = TComm::DevicePath(QFile::encodeName(a.Port).toStdString());
    out.Root().insert(QStringLiteral("module"),
                      QJsonObject{{QStringLiteral("port"), QFile::decodeName(path.c_str())},
                                  {QStringLiteral("family"), FamilyName(a.Family)},
                                  {QStringLiteral("familyCode"), a.Family},
                                  {QStringLiteral("baud"), static_cast<qint64>(a.Baud)}});
    TLine line;
    if (const auto failure = line.Open(path, a.Baud)) {
        out.Error(*failure);
        return out.Finish(TExit::NoAnswer);
    }
    return a.Sub == QLatin1String("read") ? CmdSerialRead(line, a, out) : CmdSerialSet(line, a, out);
}

} // namespace varnix::cli
