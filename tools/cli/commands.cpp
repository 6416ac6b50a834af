#include "cli/commands.h"

#include "cli/exit_codes.h"
#include "cli/fields.h"
#include "cli/module_lines.h"
#include "cli/profile.h"
#include "cli/save_job.h"
#include "cli/serial_commands.h"
#include "cli/session.h"
#include "cli/sheet.h"
#include "cli/upgrade_command.h"
#include "core/convert.h"
#include "core/file_read.h"
#include "lan/lan_protocol.h"
#include "lang/safe_text.h"
#include "lang/text_codec.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QSaveFile>
#include <QTextStream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace varnix::cli {

namespace {

constexpr const char* DefaultLogin = "vesta";

// --- Output: lines for people on stdout, or one JSON document with --json. Problems always go
// to stderr as well, so a script that parses stdout still sees them in its log. A line is one
// line: any control character that reaches it (from a file name, a profile key, a module's
// text) is written escaped rather than acted on by the terminal. ---
class TOut {
public:
    explicit TOut(bool json) : json_(json) {}
    bool Json() const { return json_; }
    void Line(const QString& text = {}) {
        if (json_) return;
        std::fputs(EscapeForTerminal(text, false).toUtf8().constData(), stdout);
        std::fputc('\n', stdout);
    }
    void Error(const QString& text) {
        std::fputs((QStringLiteral("varnix-cli: ") + EscapeForTerminal(text, false)).toUtf8().constData(), stderr);
        std::fputc('\n', stderr);
        errors_.append(text);
    }
    QJsonObject& Root() { return root_; }
    int Finish(TExit status) {
        if (json_) {
            if (!errors_.isEmpty()) root_.insert(QStringLiteral("errors"), errors_);
            root_.insert(QStringLiteral("exit"), ToInt(status));
            std::fputs(QJsonDocument(root_).toJson(QJsonDocument::Indented).constData(), stdout);
        }
        std::fflush(stdout);
        return ToInt(status);
    }

private:
    bool json_;
    QJsonObject root_;
    QJsonArray errors_;
};

struct TOptions {
    TSessionOptions Session;
    TLogin Login;
    int TimeoutMs = 2000;
    int VerifyTimeoutMs = 15000;
    bool DryRun = false;
    bool NoVerify = false;
    bool Yes = false;
    bool WithIdentity = false;
};

QString Hex(const TIdBytes& b) { return QString::fromStdString(BytesToHexDump(b)).trimmed(); }
QString Q(const std::string& s) { return QString::fromStdString(s); }
QString Shown(const std::string& wireText) { return BytesToDisplay(wireText); }

QJsonObject ModuleJson(const TFoundModule& m) {
    QJsonObject o;
    o.insert(QStringLiteral("ip"), Q(m.Ip));
    o.insert(QStringLiteral("name"), Shown(m.Name));
    o.insert(QStringLiteral("mac"), Q(m.Mac));
    o.insert(QStringLiteral("firmware"), m.Firmware);
    o.insert(QStringLiteral("family"), FamilyText(m.Family));
    o.insert(QStringLiteral("familyCode"), m.Family);
    o.insert(QStringLiteral("local"), Q(m.Local));
    return o;
}

QJsonObject ChangeJson(const TFieldChange& c) {
    QJsonObject o;
    o.insert(QStringLiteral("field"), c.Field->Name);
    o.insert(QStringLiteral("old"), c.Old);
    o.insert(QStringLiteral("new"), c.New);
    return o;
}

QString ChangeLine(const TFieldChange& c) {
    return QStringLiteral("%1: %2 -> %3").arg(c.Field->Name, DisplayValue(*c.Field, c.Old), DisplayValue(*c.Field, c.New));
}

QJsonObject AckJson(const TAck& a) {
    QJsonObject o;
    if (a.Code >= 0) o.insert(QStringLiteral("code"), a.Code);
    o.insert(QStringLiteral("result"), a.Result == 'C' ? QStringLiteral("checksum") : QString(QLatin1Char(a.Result)));
    if (a.Result == 'C') o.insert(QStringLiteral("expected"), a.Expected);
    return o;
}

std::optional<std::string> ParseMacArg(const QString& text, TOut& out) {
    QString why;
    const QJsonValue v = ParseFieldText(*FindField(QStringLiteral("UserMAC")), text, &why);
    if (v.isUndefined()) {
        out.Error(QStringLiteral("bad MAC: %1").arg(why));
        return std::nullopt;
    }
    return v.toString().toStdString();
}

std::optional<int> ParseSeconds(const QString& text, const QString& option, TOut& out) {
    bool ok = false;
    const double s = text.toDouble(&ok);
    // Written so that NaN fails too (every comparison with NaN is false); the range check comes
    // before the conversion to an integer.
    if (!ok || !(s >= 0 && s <= 3600)) {
        out.Error(QStringLiteral("--%1: '%2' is not a number of seconds (0..3600)").arg(option, text));
        return std::nullopt;
    }
    return static_cast<int>(std::lround(s * 1000));
}

// True when `ip` is one of this machine's addresses: the kernel lets a socket bind to it. A
// busy port is no concern here (port 0), so a failure means the address is not local.
bool IsLocalAddress(const std::string& ip) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    if (::inet_pton(AF_INET, ip.c_str(), &sa.sin_addr) != 1) return false;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return true;  // cannot tell; the endpoint will report its own failure
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 || errno != EADDRNOTAVAIL;
    ::close(fd);
    return bound;
}

// Finds one module by MAC; reports and returns nullopt when it does not answer.
std::optional<TFoundModule> Locate(TLanSession& session, const std::string& mac, const TOptions& o, TOut& out) {
    const auto found = session.Find({mac}, o.TimeoutMs);
    if (found.empty()) {
        out.Error(QStringLiteral("%1 did not answer the search within %2 s%3")
                      .arg(Q(mac))
                      .arg(o.TimeoutMs / 1000.0)
                      .arg(session.BindingProblem().isEmpty() ? QString() : QStringLiteral(" (%1)").arg(session.BindingProblem())));
        return std::nullopt;
    }
    return found.front();
}

// --- fields ---

int CmdFields(TOut& out) {
    QJsonArray list;
    out.Line(QStringLiteral("%1 %2 %3 %4  %5").arg(QStringLiteral("NAME"), -24).arg(QStringLiteral("GROUP"), -10)
                 .arg(QStringLiteral("SHOWN"), -6).arg(QStringLiteral("WRITES"), -7).arg(QStringLiteral("VALUES")));
    for (const TFieldDef& f : FieldTable()) {
        QString range = RangeText(f);
        out.Line(QStringLiteral("%1 %2 %3 %4  %5%6 - %7")
                     .arg(f.Name, -24)
                     .arg(GroupName(f.Group), -10)
                     .arg(FamiliesText(f.Shown), -6)
                     .arg(f.Writable ? FamiliesText(f.Writable) : QStringLiteral("read"), -7)
                     .arg(range, f.Identity ? QStringLiteral(" [identity]") : QString(), f.Help));
        QJsonObject o;
        o.insert(QStringLiteral("name"), f.Name);
        o.insert(QStringLiteral("group"), GroupName(f.Group));
        o.insert(QStringLiteral("shown"), FamiliesText(f.Shown));
        o.insert(QStringLiteral("writable"), f.Writable ? FamiliesText(f.Writable) : QString());
        o.insert(QStringLiteral("identity"), f.Identity);
        o.insert(QStringLiteral("values"), range);
        if (f.Kind == TFieldKind::Int) {
            o.insert(QStringLiteral("min"), static_cast<double>(f.Min));
            o.insert(QStringLiteral("max"), static_cast<double>(f.Max));
        }
        if (f.Kind == TFieldKind::Text || f.Kind == TFieldKind::Data) o.insert(QStringLiteral("maxBytes"), static_cast<double>(f.Max));
        if (f.Kind == TFieldKind::Enum) {
            QJsonArray items;
            for (const TEnumItem& it : f.Items) {
                QJsonObject i;
                i.insert(QStringLiteral("value"), it.Value);
                i.insert(QStringLiteral("names"), QJsonArray::fromStringList(it.Names));
                items.append(i);
            }
            o.insert(QStringLiteral("items"), items);
        }
        o.insert(QStringLiteral("help"), f.Help);
        list.append(o);
    }
    out.Root().insert(QStringLiteral("fields"), list);
    return out.Finish(TExit::Ok);
}

// --- search ---

int CmdSearch(TLanSession& session, const TOptions& o, TOut& out) {
    const auto found = session.Search(o.TimeoutMs);
    QJsonArray list;
    out.Line(SearchHeader());
    for (const TFoundModule& m : found) {
        out.Line(SearchRow(m));
        list.append(ModuleJson(m));
    }
    out.Line(QStringLiteral("%1 module(s) answered within %2 s").arg(found.size()).arg(o.TimeoutMs / 1000.0));
    if (session.IncompatibleReplies() > 0)
        out.Line(QStringLiteral("%1 reply(ies) from modules of another product series").arg(session.IncompatibleReplies()));
    out.Root().insert(QStringLiteral("modules"), list);
    out.Root().insert(QStringLiteral("otherSeriesReplies"), session.IncompatibleReplies());
    if (!session.BindingProblem().isEmpty()) out.Error(session.BindingProblem());
    if (found.empty()) {
        out.Error(QStringLiteral("no module answered"));
        return out.Finish(TExit::NoAnswer);
    }
    return out.Finish(TExit::Ok);
}

// --- read ---

QJsonObject RepliesJson(const TReceivedBlocks& g) {
    QJsonObject o;
    o.insert(QStringLiteral("params"), g.Params);
    o.insert(QStringLiteral("cloud"), g.Cloud);
    o.insert(QStringLiteral("heartbeat"), g.Heart);
    o.insert(QStringLiteral("httpd"), g.Httpd);
    o.insert(QStringLiteral("modbusKind"), g.ModbusKind);
    return o;
}

QJsonObject FieldsJson(const TModuleSettings& s) {
    QJsonObject o;
    for (const TFieldDef& f : FieldTable())
        if (FieldShown(f, s)) o.insert(f.Name, f.Get(s));
    return o;
}

void PrintFields(const TModuleSettings& s, TOut& out) {
    std::optional<TFieldGroup> group;
    for (const TFieldDef& f : FieldTable()) {
        if (!FieldShown(f, s)) continue;
        if (group != f.Group) {
            group = f.Group;
            out.Line(QStringLiteral("[%1]").arg(GroupName(f.Group)));
        }
        out.Line(QStringLiteral("  %1 %2%3").arg(f.Name, -24).arg(DisplayValue(f, f.Get(s)),
                                                                FieldWritable(f, s) ? QString() : QStringLiteral("  (read-only)")));
    }
}

QString RepliesText(const TReceivedBlocks& g) {
    QStringList parts;
    if (g.Params) parts << QStringLiteral("base+port (130)");
    parts << (g.Cloud ? QStringLiteral("cloud (50)") : QStringLiteral("no cloud"));
    parts << (g.Heart ? QStringLiteral("heartbeat (85)") : QStringLiteral("no heartbeat"));
    parts << (g.Httpd ? QStringLiteral("httpd (302)") : QStringLiteral("no httpd"));
    parts << (g.ModbusKind ? QStringLiteral("modbus kind %1").arg(g.ModbusKind) : QStringLiteral("no modbus"));
    return parts.join(QStringLiteral(", "));
}

// Reads a located module; reports the failure and returns nullopt.
std::optional<TReadResult> ReadModule(TLanSession& session, const TFoundModule& m, const TLogin& login,
                                      const TOptions& o, TOut& out, TExit& status) {
    if (m.Family != FamilyZ2 && m.Family != FamilyZ3) {
        out.Error(QStringLiteral("%1 has incompatible firmware (%2); nothing is sent to it").arg(Q(m.Mac)).arg(m.Firmware));
        status = TExit::Usage;
        return std::nullopt;
    }
    TReadResult r = session.Read(m, login, o.TimeoutMs);
    if (r.Status != TExit::Ok) {
        out.Error(QStringLiteral("%1: %2").arg(Q(m.Mac), r.Error));
        status = r.Status;
        return std::nullopt;
    }
    return r;
}

int CmdRead(TLanSession& session, const QString& macText, const TOptions& o, TOut& out) {
    const auto mac = ParseMacArg(macText, out);
    if (!mac) return out.Finish(TExit::Usage);
    const auto m = Locate(session, *mac, o, out);
    if (!m) return out.Finish(TExit::NoAnswer);
    TExit status = TExit::Ok;
    const auto r = ReadModule(session, *m, o.Login, o, out, status);
    out.Root().insert(QStringLiteral("module"), ModuleJson(*m));
    if (!r) return out.Finish(status);
    out.Line(ModuleTitle(*m));
    out.Line(QStringLiteral("replies: %1").arg(RepliesText(r->Got)));
    PrintFields(r->Settings, out);
    out.Root().insert(QStringLiteral("replies"), RepliesJson(r->Got));
    out.Root().insert(QStringLiteral("fields"), FieldsJson(r->Settings));
    return out.Finish(TExit::Ok);
}

// --- restart, reset ---

int CmdRestartOrReset(TLanSession& session, const QString& macText, bool reset, const TOptions& o, TOut& out) {
    const auto mac = ParseMacArg(macText, out);
    if (!mac) return out.Finish(TExit::Usage);
    if (reset && !o.Yes && !isatty(STDIN_FILENO)) {
        out.Error(QStringLiteral("reset restores the factory settings; without a terminal to ask on, give --yes"));
        return out.Finish(TExit::Usage);
    }
    const auto m = Locate(session, *mac, o, out);
    if (!m) return out.Finish(TExit::NoAnswer);
    out.Root().insert(QStringLiteral("module"), ModuleJson(*m));
    if (reset && m->Family != FamilyZ2 && m->Family != FamilyZ3) {
        out.Error(QStringLiteral("%1 has incompatible firmware (%2); nothing is sent to it").arg(Q(m->Mac)).arg(m->Firmware));
        return out.Finish(TExit::Usage);
    }
    if (reset && !o.Yes) {
        std::fprintf(stderr, "Restore the factory settings of %s (%s, %s)? [y/N] ", m->Mac.c_str(),
                     TerminalText(m->Name).toUtf8().constData(), m->Ip.c_str());
        std::fflush(stderr);
        QTextStream in(stdin);
        const QString answer = in.readLine().trimmed().toLower();
        if (answer != QLatin1String("y") && answer != QLatin1String("yes")) {
            out.Error(QStringLiteral("not confirmed; nothing sent"));
            return out.Finish(TExit::Usage);
        }
    }
    // A restart always goes to port 1500; a reset to the family's port.
    const std::uint8_t code = reset ? CmdFactoryReset : CmdRestart;
    const auto acks = session.Command(*m, o.Login, code, reset && m->Family == FamilyZ3, o.TimeoutMs);
    out.Line(ModuleTitle(*m));
    QJsonArray list;
    for (const TAck& a : acks) list.append(AckJson(a));
    out.Root().insert(QStringLiteral("acks"), list);
    if (acks.empty()) {
        out.Error(QStringLiteral("%1: no acknowledgement of the %2 within %3 s").arg(Q(m->Mac), BlockNameOfCode(code)).arg(o.TimeoutMs / 1000.0));
        return out.Finish(TExit::NoAnswer);
    }
    out.Line(QStringLiteral("0x%1 %2: %3").arg(code, 2, 16, QLatin1Char('0')).arg(BlockNameOfCode(code), AckText(acks.front())));
    if (acks.front().Result != 'K') out.Error(QStringLiteral("%1: %2").arg(Q(m->Mac), AckText(acks.front())));
    return out.Finish(AckExit(acks.front()));
}

// --- saves: set, profile apply, provision ---

struct TJob {
    QString Label;  // "row at line 3", "" for set
    std::string Mac;
    // The assignments for this module, chosen once its settings are known; notes go to the output.
    std::function<QList<TAssignment>(const TModuleSettings&, QStringList& notes)> Select;
    TPrepareMode Mode = TPrepareMode::Strict;
};

struct TJobRun {
    TJob Job;
    std::optional<TFoundModule> Found;
    std::optional<TReadResult> Read;
    TPreparedSave Save;
    QStringList Notes;
    std::vector<TAck> Acks;
    TExit Status = TExit::Ok;
    QString Outcome;  // one word: verified, saved, unchanged, unverified, not-found, no-answer, ...
    QString Detail;
    QJsonObject Verify;
    qint64 SavedAtMs = 0;
    bool Saved = false;
};

void Fail(TJobRun& j, TExit status, const QString& outcome, const QString& detail) {
    j.Status = Worse(j.Status, status);
    j.Outcome = outcome;
    j.Detail = detail;
}

QString OutcomeForExit(TExit e) {
    switch (e) {
    case TExit::Password: return QStringLiteral("password");
    case TExit::ModuleError: return QStringLiteral("error");
    case TExit::Usage: return QStringLiteral("refused");
    default: return QStringLiteral("no-answer");
    }
}

// Acknowledgements against the steps: matched by the code they name, else in arrival order.
TExit CheckAcks(TJobRun& j, TOut& out) {
    const auto& steps = j.Save.Plan.Steps;
    std::vector<std::optional<TAck>> byStep(steps.size());
    std::vector<TAck> unmatched;
    for (const TAck& a : j.Acks) {
        bool placed = false;
        for (std::size_t i = 0; i < steps.size() && a.Code >= 0; ++i)
            if (!byStep[i] && steps[i].Code == a.Code) {
                byStep[i] = a;
                placed = true;
                break;
            }
        if (!placed) unmatched.push_back(a);
    }
    for (std::size_t i = 0, u = 0; i < steps.size() && u < unmatched.size(); ++i)
        if (!byStep[i]) byStep[i] = unmatched[u++];
    TExit status = TExit::Ok;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const QString what = QStringLiteral("0x%1 %2").arg(steps[i].Code, 2, 16, QLatin1Char('0')).arg(BlockNameOfCode(steps[i].Code));
        if (!byStep[i]) {
            out.Line(QStringLiteral("  %1: no acknowledgement").arg(what));
            status = Worse(status, TExit::NoAnswer);
        } else {
            out.Line(QStringLiteral("  %1: %2").arg(what, AckText(*byStep[i])));
            status = Worse(status, AckExit(*byStep[i]));
        }
    }
    return status;
}

void PrintPrepared(const TJobRun& j, const TOptions& o, TOut& out) {
    const TPreparedSave& p = j.Save;
    for (const QString& n : j.Notes) out.Line(QStringLiteral("  note: %1").arg(n));
    if (p.Nothing()) {
        out.Line(QStringLiteral("  no field changes; nothing to send"));
        return;
    }
    for (const TFieldChange& c : p.Changes) out.Line(QStringLiteral("  %1").arg(ChangeLine(c)));
    for (const TFieldChange& c : p.SideEffects) out.Line(QStringLiteral("  also %1 (written by the save's rules)").arg(ChangeLine(c)));
    for (const TSkippedBlock& s : p.Skipped)
        out.Line(QStringLiteral("  skips 0x%1 %2: %3").arg(s.Code, 2, 16, QLatin1Char('0')).arg(s.Block, s.Reason));
    if (o.DryRun) {
        for (const TPlannedDatagram& d : PlanDatagrams(p.Plan, j.Found->Mac, o.Login))
            out.Line(QStringLiteral("  would send to port %1%2: %3")
                         .arg(d.Port)
                         .arg(d.PauseMs ? QStringLiteral(" (then %1 ms)").arg(d.PauseMs) : QString())
                         .arg(Hex(d.Bytes)));
    }
}

QJsonObject JobJson(const TJobRun& j, const TOptions& o) {
    QJsonObject m;
    m.insert(QStringLiteral("mac"), Q(j.Job.Mac));
    if (!j.Job.Label.isEmpty()) m.insert(QStringLiteral("source"), j.Job.Label);
    if (j.Found) {
        m.insert(QStringLiteral("module"), ModuleJson(*j.Found));
    }
    QJsonArray changes, side, skipped, datagrams, acks, notes;
    for (const TFieldChange& c : j.Save.Changes) changes.append(ChangeJson(c));
    for (const TFieldChange& c : j.Save.SideEffects) side.append(ChangeJson(c));
    for (const TSkippedBlock& s : j.Save.Skipped) {
        QJsonObject b;
        b.insert(QStringLiteral("code"), s.Code);
        b.insert(QStringLiteral("block"), s.Block);
        b.insert(QStringLiteral("reason"), s.Reason);
        skipped.append(b);
    }
    if (o.DryRun && j.Save.Ok && j.Found)
        for (const TPlannedDatagram& d : PlanDatagrams(j.Save.Plan, j.Found->Mac, o.Login)) {
            QJsonObject b;
            b.insert(QStringLiteral("code"), d.Code);
            b.insert(QStringLiteral("port"), d.Port);
            b.insert(QStringLiteral("pauseMs"), d.PauseMs);
            b.insert(QStringLiteral("hex"), Hex(d.Bytes));
            datagrams.append(b);
        }
    for (const TAck& a : j.Acks) acks.append(AckJson(a));
    for (const QString& n : j.Notes) notes.append(n);
    m.insert(QStringLiteral("changes"), changes);
    m.insert(QStringLiteral("sideEffects"), side);
    m.insert(QStringLiteral("skipped"), skipped);
    if (o.DryRun) m.insert(QStringLiteral("datagrams"), datagrams);
    m.insert(QStringLiteral("acks"), acks);
    m.insert(QStringLiteral("notes"), notes);
    if (!j.Verify.isEmpty()) m.insert(QStringLiteral("verify"), j.Verify);
    m.insert(QStringLiteral("outcome"), j.Outcome);
    if (!j.Detail.isEmpty()) m.insert(QStringLiteral("detail"), j.Detail);
    m.insert(QStringLiteral("exit"), ToInt(j.Status));
    return m;
}

// Searches for every saved module under the MAC it will answer with, reads it back with its new
// log-in (the old one if it has not restarted yet) and compares, until each one matches or its
// time is up.
void VerifyAll(TLanSession& session, std::vector<TJobRun*> pending, const TOptions& o, const QElapsedTimer& clock) {
    std::map<TJobRun*, QList<TMismatch>> lastMismatch;
    std::map<TJobRun*, bool> seen;
    while (!pending.empty()) {
        const qint64 now = clock.elapsed();
        qint64 latest = 0;
        for (TJobRun* j : pending) latest = std::max(latest, j->SavedAtMs + o.VerifyTimeoutMs);
        if (now >= latest) break;
        std::vector<std::string> macs;
        for (TJobRun* j : pending) macs.push_back(j->Save.NewMac);
        const auto found = session.Find(macs, static_cast<int>(std::min<qint64>(latest - now, 2000)));
        std::vector<TJobRun*> still;
        for (TJobRun* j : pending) {
            const auto it = std::find_if(found.begin(), found.end(),
                                         [j](const TFoundModule& f) { return MacKey(f.Mac) == MacKey(j->Save.NewMac); });
            bool done = false;
            if (it != found.end()) {
                seen[j] = true;
                TReadResult r = session.Read(*it, j->Save.NewLogin, o.TimeoutMs);
                if (r.Status == TExit::Password) r = session.Read(*it, o.Login, o.TimeoutMs);
                if (r.Status == TExit::Ok) {
                    const auto mismatches = CompareReadBack(j->Save, r.Settings);
                    lastMismatch[j] = mismatches;
                    if (mismatches.isEmpty()) {
                        done = true;
                        j->Outcome = QStringLiteral("verified");
                        j->Detail = QStringLiteral("answers at %1; every field holds the value sent").arg(Q(it->Ip));
                        j->Verify.insert(QStringLiteral("verified"), true);
                        j->Verify.insert(QStringLiteral("ip"), Q(it->Ip));
                        j->Verify.insert(QStringLiteral("afterMs"), static_cast<double>(clock.elapsed() - j->SavedAtMs));
                    }
                }
            }
            if (!done) {
                if (clock.elapsed() < j->SavedAtMs + o.VerifyTimeoutMs)
                    still.push_back(j);
                else
                    lastMismatch.try_emplace(j);
            }
        }
        pending.swap(still);
    }
    for (auto& [j, mismatches] : lastMismatch) {
        if (j->Outcome == QLatin1String("verified")) continue;
        j->Status = Worse(j->Status, TExit::NoAnswer);
        j->Outcome = QStringLiteral("unverified");
        j->Verify.insert(QStringLiteral("verified"), false);
        if (!seen[j]) {
            j->Detail = QStringLiteral("did not answer under %1 within %2 s after the save")
                            .arg(Q(j->Save.NewMac))
                            .arg(o.VerifyTimeoutMs / 1000.0);
            j->Verify.insert(QStringLiteral("reason"), j->Detail);
            continue;
        }
        QStringList parts;
        QJsonArray list;
        for (const TMismatch& m : mismatches) {
            parts << QStringLiteral("%1 is %2, sent %3").arg(m.Field->Name, DisplayValue(*m.Field, m.Read), DisplayValue(*m.Field, m.Sent));
            QJsonObject x;
            x.insert(QStringLiteral("field"), m.Field->Name);
            x.insert(QStringLiteral("sent"), m.Sent);
            x.insert(QStringLiteral("read"), m.Read);
            list.append(x);
        }
        j->Detail = mismatches.isEmpty() ? QStringLiteral("answered the search but its read-back failed")
                                         : QStringLiteral("read back: %1").arg(parts.join(QStringLiteral("; ")));
        j->Verify.insert(QStringLiteral("reason"), j->Detail);
        j->Verify.insert(QStringLiteral("mismatches"), list);
    }
}

TExit RunJobs(TLanSession& session, std::vector<TJob> jobs, const TOptions& o, TOut& out) {
    std::vector<TJobRun> runs;
    for (TJob& j : jobs) runs.push_back(TJobRun{std::move(j), {}, {}, {}, {}, {}, TExit::Ok, {}, {}, {}, 0, false});

    // 1. One search for all of them.
    std::vector<std::string> macs;
    for (const TJobRun& r : runs) macs.push_back(r.Job.Mac);
    const auto found = session.Find(macs, o.TimeoutMs);
    for (TJobRun& r : runs) {
        const auto it = std::find_if(found.begin(), found.end(), [&r](const TFoundModule& f) { return MacKey(f.Mac) == MacKey(r.Job.Mac); });
        if (it == found.end()) {
            Fail(r, TExit::NoAnswer, QStringLiteral("not-found"),
                 QStringLiteral("did not answer the search within %1 s").arg(o.TimeoutMs / 1000.0));
            continue;
        }
        r.Found = *it;
    }
    // 2. Read each, 3. prepare each save. Any refused value stops everything before a write.
    bool refused = false;
    for (TJobRun& r : runs) {
        if (!r.Found) continue;
        TExit status = TExit::Ok;
        if (r.Found->Family != FamilyZ2 && r.Found->Family != FamilyZ3) {
            Fail(r, TExit::Usage, QStringLiteral("refused"),
                 QStringLiteral("incompatible firmware (%1); nothing is sent to it").arg(r.Found->Firmware));
            refused = true;
            continue;
        }
        r.Read = session.Read(*r.Found, o.Login, o.TimeoutMs);
        if (r.Read->Status != TExit::Ok) {
            status = r.Read->Status;
            Fail(r, status, OutcomeForExit(status), r.Read->Error);
            r.Read.reset();
            continue;
        }
        const QList<TAssignment> list = r.Job.Select(r.Read->Settings, r.Notes);
        r.Save = PrepareSave(r.Read->Settings, r.Read->Store, list, r.Job.Mode);
        r.Notes << r.Save.Notes;
        if (!r.Save.Ok) {
            Fail(r, TExit::Usage, QStringLiteral("refused"), r.Save.Errors.join(QStringLiteral("; ")));
            refused = true;
        }
    }
    // 4. What will change, per module.
    for (TJobRun& r : runs) {
        out.Line(r.Found ? ModuleTitle(*r.Found) : Q(r.Job.Mac) + (r.Job.Label.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(r.Job.Label)));
        if (!r.Outcome.isEmpty()) {
            out.Line(QStringLiteral("  %1").arg(r.Detail));
            out.Error(QStringLiteral("%1%2: %3").arg(Q(r.Job.Mac), r.Job.Label.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(r.Job.Label), r.Detail));
            continue;
        }
        PrintPrepared(r, o, out);
    }
    const auto finish = [&]() {
        TExit worst = TExit::Ok;
        QJsonArray list;
        out.Line();
        for (TJobRun& r : runs) {
            if (r.Outcome.isEmpty()) r.Outcome = o.DryRun ? QStringLiteral("dry-run") : QStringLiteral("saved");
            worst = Worse(worst, r.Status);
            out.Line(QStringLiteral("%1: %2%3").arg(Q(r.Job.Mac), r.Outcome, r.Detail.isEmpty() ? QString() : QStringLiteral(" - ") + r.Detail));
            list.append(JobJson(r, o));
        }
        out.Root().insert(QStringLiteral("dryRun"), o.DryRun);
        out.Root().insert(QStringLiteral("modules"), list);
        return worst;
    };
    if (refused) {
        out.Error(QStringLiteral("nothing was sent"));
        for (TJobRun& r : runs)
            if (r.Outcome.isEmpty()) {
                r.Outcome = QStringLiteral("not-sent");
                r.Detail = QStringLiteral("another module's values were refused");
            }
        finish();
        return TExit::Usage;
    }
    if (o.DryRun) return finish();

    // 5. Save each module that has something to change.
    QElapsedTimer clock;
    clock.start();
    std::vector<TJobRun*> toVerify;
    for (TJobRun& r : runs) {
        if (!r.Outcome.isEmpty() || !r.Save.Ok) continue;
        if (r.Save.Nothing()) {
            r.Outcome = QStringLiteral("unchanged");
            r.Detail = QStringLiteral("every field already holds the value given; nothing sent");
            continue;
        }
        out.Line(QStringLiteral("saving %1").arg(Q(r.Found->Mac)));
        r.Acks = session.ExecutePlan(*r.Found, o.Login, r.Save.Plan, o.TimeoutMs);
        r.SavedAtMs = clock.elapsed();
        r.Saved = true;
        const TExit acked = CheckAcks(r, out);
        r.Status = Worse(r.Status, acked);
        if (acked == TExit::Password || acked == TExit::ModuleError) {
            r.Outcome = OutcomeForExit(acked);
            r.Detail = acked == TExit::Password ? QStringLiteral("the module refused the log-in") : QStringLiteral("the module reported an error");
            continue;
        }
        if (acked == TExit::NoAnswer) r.Detail = QStringLiteral("not every datagram was acknowledged");
        if (!o.NoVerify) toVerify.push_back(&r);
        else r.Outcome = acked == TExit::Ok ? QStringLiteral("saved") : QStringLiteral("no-answer");
    }
    // 6. Verify.
    if (!toVerify.empty()) {
        out.Line(QStringLiteral("verifying %1 module(s)").arg(toVerify.size()));
        VerifyAll(session, toVerify, o, clock);
        for (TJobRun* r : toVerify)
            if (r->Outcome == QLatin1String("verified") && r->Status == TExit::NoAnswer)
                r->Detail += QStringLiteral(" (not every datagram was acknowledged)");
    }
    return finish();
}

int CmdSet(TLanSession& session, const QStringList& args, const TOptions& o, TOut& out) {
    if (args.size() < 2) {
        out.Error(QStringLiteral("usage: varnix-cli set MAC NAME=VALUE..."));
        return out.Finish(TExit::Usage);
    }
    const auto mac = ParseMacArg(args[0], out);
    QList<TAssignment> list;
    bool bad = !mac;
    for (const QString& a : args.mid(1)) {
        QString why;
        const auto assignment = ParseAssignment(a, &why);
        if (!assignment) {
            out.Error(why);
            bad = true;
            continue;
        }
        // A field given twice: the last value wins, as a shell user expects.
        list.removeIf([&assignment](const TAssignment& x) { return x.Field == assignment->Field; });
        list << *assignment;
    }
    if (bad) return out.Finish(TExit::Usage);
    TJob job{QString(), *mac, [list](const TModuleSettings&, QStringList&) { return list; }};
    return out.Finish(RunJobs(session, {job}, o, out));
}

// Sheets and profiles are small text files; a device, a pipe or a huge file is refused with
// the reason instead of being read until memory runs out.
std::optional<QByteArray> ReadInputFile(const QString& path, TOut& out) {
    std::string why;
    const auto bytes = ReadRegularFile(QFile::encodeName(path).toStdString(), MaxTextFileBytes, &why);
    if (!bytes) {
        out.Error(QStringLiteral("cannot read %1: %2").arg(path, QString::fromStdString(why)));
        return std::nullopt;
    }
    return QByteArray(bytes->data(), static_cast<qsizetype>(bytes->size()));
}

int CmdProfileSave(TLanSession& session, const QString& macText, const QString& path, const TOptions& o, TOut& out) {
    const auto mac = ParseMacArg(macText, out);
    if (!mac) return out.Finish(TExit::Usage);
    const auto m = Locate(session, *mac, o, out);
    if (!m) return out.Finish(TExit::NoAnswer);
    TExit status = TExit::Ok;
    const auto r = ReadModule(session, *m, o.Login, o, out, status);
    out.Root().insert(QStringLiteral("module"), ModuleJson(*m));
    if (!r) return out.Finish(status);
    const QByteArray data = WriteProfile(r->Settings, TProfileSource{Q(m->Mac), Q(m->Ip), Shown(m->Name)});
    // The profile holds the module's log-in, so it is readable by its owner only; written to a
    // temporary file and renamed, so an interrupted write never leaves half a profile.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) || !file.commit()) {
        out.Error(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
        return out.Finish(TExit::Usage);
    }
    int count = 0;
    for (const TFieldDef& f : FieldTable()) count += FieldWritable(f, r->Settings) ? 1 : 0;
    out.Line(QStringLiteral("%1: wrote %2 (%3 fields; replies: %4)").arg(Q(m->Mac), path, QString::number(count), RepliesText(r->Got)));
    out.Root().insert(QStringLiteral("file"), path);
    out.Root().insert(QStringLiteral("fieldCount"), count);
    return out.Finish(TExit::Ok);
}

int CmdProfileApply(TLanSession& session, const QStringList& args, const TOptions& o, TOut& out) {
    if (args.size() < 2) {
        out.Error(QStringLiteral("usage: varnix-cli profile apply FILE MAC..."));
        return out.Finish(TExit::Usage);
    }
    const auto data = ReadInputFile(args[0], out);
    if (!data) return out.Finish(TExit::Usage);
    QStringList errors;
    const auto profile = ReadProfile(*data, &errors);
    for (const QString& e : errors) out.Error(QStringLiteral("%1: %2").arg(args[0], e));
    std::vector<TJob> jobs;
    bool bad = !profile;
    for (const QString& macText : args.mid(1)) {
        const auto mac = ParseMacArg(macText, out);
        if (!mac) {
            bad = true;
            continue;
        }
        if (std::any_of(jobs.begin(), jobs.end(), [&mac](const TJob& j) { return MacKey(j.Mac) == MacKey(*mac); })) continue;
        if (profile)
            jobs.push_back(TJob{QString(), *mac, [p = *profile, withIdentity = o.WithIdentity](const TModuleSettings& s, QStringList& notes) {
                                    const TProfileApplication a = SelectForModule(p, s, withIdentity);
                                    notes << a.Skipped;
                                    return a.Applied;
                                },
                                TPrepareMode::Lenient});
    }
    if (bad) return out.Finish(TExit::Usage);
    return out.Finish(RunJobs(session, std::move(jobs), o, out));
}

int CmdProvision(TLanSession& session, const QString& path, const TOptions& o, TOut& out) {
    const auto data = ReadInputFile(path, out);
    if (!data) return out.Finish(TExit::Usage);
    QStringList errors;
    const auto sheet = ParseSheet(*data, &errors);
    for (const QString& e : errors) out.Error(QStringLiteral("%1: %2").arg(path, e));
    if (!sheet) return out.Finish(TExit::Usage);
    std::vector<TJob> jobs;
    for (const TSheetRow& row : sheet->Rows)
        jobs.push_back(TJob{QStringLiteral("line %1").arg(row.Line), row.Mac.toStdString(),
                            [list = row.Assignments](const TModuleSettings&, QStringList&) { return list; }});
    return out.Finish(RunJobs(session, std::move(jobs), o, out));
}

const char* Usage =
    "usage: varnix-cli COMMAND [options]\n"
    "  fields                          list the field names, their values and ranges\n"
    "  search                          list every module that answers\n"
    "  read MAC                        print a module's parameters\n"
    "  set MAC NAME=VALUE...           change fields and save (then verify)\n"
    "  restart MAC                     restart a module\n"
    "  reset MAC                       restore factory settings (asks; --yes)\n"
    "  profile save MAC FILE           write a module's settings as a JSON profile\n"
    "  profile apply FILE MAC...       apply a profile to modules (identity kept)\n"
    "  provision FILE.csv              give each module of a sheet its own values\n"
    "  upgrade MAC FILE --target IP    load a firmware image (--local ADDR, --json)\n"
    "See --help for the options.\n";

}  // namespace

int RunCli(const QStringList& args) {
    if (!args.isEmpty() && args.front() == QLatin1String("serial")) return RunSerialCli(args.mid(1));
    if (!args.isEmpty() && args.front() == QLatin1String("upgrade")) return RunUpgrade(args.mid(1));
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(Usage));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the version."));
    const QCommandLineOption timeout(QStringLiteral("timeout"), QStringLiteral("Seconds to wait for answers (default 2)."), QStringLiteral("SECONDS"));
    const QCommandLineOption verifyTimeout(QStringLiteral("verify-timeout"),
                                           QStringLiteral("Seconds a saved module has to come back (default 15)."), QStringLiteral("SECONDS"));
    const QCommandLineOption noVerify(QStringLiteral("no-verify"), QStringLiteral("Do not search and read back after a save."));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"), QStringLiteral("Show the changes and datagrams; write nothing."));
    const QCommandLineOption yes(QStringLiteral("yes"), QStringLiteral("Do not ask before a factory reset."));
    const QCommandLineOption withIdentity(QStringLiteral("with-identity"),
                                          QStringLiteral("profile apply: also set StaticIP, ModName and UserMAC."));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("Log-in user name (VARNIX_USER; default vesta)."), QStringLiteral("NAME"));
    const QCommandLineOption password(QStringLiteral("password"),
                                      QStringLiteral("Log-in password (VARNIX_PASSWORD; default vesta)."), QStringLiteral("TEXT"));
    const QCommandLineOption broadcast(QStringLiteral("broadcast"),
                                       QStringLiteral("Destination address of every datagram (default 255.255.255.255)."), QStringLiteral("ADDR"));
    const QCommandLineOption iface(QStringLiteral("interface"), QStringLiteral("Search and send from this local address only."), QStringLiteral("ADDR"));
    const QCommandLineOption loopback(QStringLiteral("loopback"), QStringLiteral("Include loopback interfaces."));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Machine-readable output."));
    parser.addOptions({help, version, timeout, verifyTimeout, noVerify, dryRun, yes, withIdentity, user, password, broadcast,
                       iface, loopback, json});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("fields, search, read, set, restart, reset, profile, provision"));

    TOut out(args.contains(QStringLiteral("--json")));
    if (!parser.parse(QStringList{QStringLiteral("varnix-cli")} + args)) {
        out.Error(parser.errorText());
        return out.Finish(TExit::Usage);
    }
    if (parser.isSet(help)) {
        std::fputs(parser.helpText().toUtf8().constData(), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("varnix-cli %s\n", VARNIX_VERSION);
        return 0;
    }

    TOptions o;
    const auto env = QProcessEnvironment::systemEnvironment();
    const QString userText = parser.isSet(user) ? parser.value(user) : env.value(QStringLiteral("VARNIX_USER"), QString::fromLatin1(DefaultLogin));
    const QString passwordText =
        parser.isSet(password) ? parser.value(password) : env.value(QStringLiteral("VARNIX_PASSWORD"), QString::fromLatin1(DefaultLogin));
    o.Login = TLogin{DisplayToBytes(userText), DisplayToBytes(passwordText)};
    if (parser.isSet(timeout)) {
        const auto ms = ParseSeconds(parser.value(timeout), QStringLiteral("timeout"), out);
        if (!ms) return out.Finish(TExit::Usage);
        o.TimeoutMs = *ms;
    }
    if (parser.isSet(verifyTimeout)) {
        const auto ms = ParseSeconds(parser.value(verifyTimeout), QStringLiteral("verify-timeout"), out);
        if (!ms) return out.Finish(TExit::Usage);
        o.VerifyTimeoutMs = *ms;
    }
    o.DryRun = parser.isSet(dryRun);
    o.NoVerify = parser.isSet(noVerify);
    o.Yes = parser.isSet(yes);
    o.WithIdentity = parser.isSet(withIdentity);
    const TFieldDef& ipDef = *FindField(QStringLiteral("StaticIP"));
    for (const auto* opt : {&broadcast, &iface}) {
        if (!parser.isSet(*opt)) continue;
        QString why;
        const QJsonValue v = ParseFieldText(ipDef, parser.value(*opt), &why);
        if (v.isUndefined()) {
            out.Error(QStringLiteral("--%1: %2").arg(opt->names().front(), why));
            return out.Finish(TExit::Usage);
        }
        (opt == &broadcast ? o.Session.Broadcast : o.Session.Interface) = v.toString().toStdString();
    }
    if (!o.Session.Interface.empty() && !IsLocalAddress(o.Session.Interface)) {
        out.Error(QStringLiteral("--interface: %1 is not an address of this machine").arg(Q(o.Session.Interface)));
        return out.Finish(TExit::Usage);
    }
    o.Session.Loopback = parser.isSet(loopback);

    const QStringList pos = parser.positionalArguments();
    if (pos.isEmpty()) {
        std::fputs(Usage, stderr);
        return out.Finish(TExit::Usage);
    }
    const QString cmd = pos.front();
    const QStringList rest = pos.mid(1);
    const auto wrongCount = [&](const char* usage) {
        out.Error(QStringLiteral("usage: varnix-cli %1").arg(QString::fromLatin1(usage)));
        return out.Finish(TExit::Usage);
    };
    if (cmd == QLatin1String("fields")) return rest.isEmpty() ? CmdFields(out) : wrongCount("fields");

    const QStringList known{QStringLiteral("search"), QStringLiteral("read"), QStringLiteral("set"), QStringLiteral("restart"),
                            QStringLiteral("reset"), QStringLiteral("profile"), QStringLiteral("provision")};
    if (!known.contains(cmd)) {
        out.Error(QStringLiteral("unknown command '%1'").arg(cmd));
        std::fputs(Usage, stderr);
        return out.Finish(TExit::Usage);
    }
    // Argument counts are checked before the endpoint binds anything.
    if (cmd == QLatin1String("search") && !rest.isEmpty()) return wrongCount("search [--timeout SECONDS]");
    if ((cmd == QLatin1String("read") || cmd == QLatin1String("restart") || cmd == QLatin1String("reset")) && rest.size() != 1)
        return wrongCount("read|restart|reset MAC");
    if (cmd == QLatin1String("provision") && rest.size() != 1) return wrongCount("provision FILE.csv");
    if (cmd == QLatin1String("profile")) {
        const QString sub = rest.value(0);
        if (sub == QLatin1String("save") ? rest.size() != 3 : sub != QLatin1String("apply"))
            return wrongCount("profile save MAC FILE | profile apply FILE MAC...");
    }

    TLanSession session(o.Session);
    if (cmd == QLatin1String("search")) return CmdSearch(session, o, out);
    if (cmd == QLatin1String("read")) return CmdRead(session, rest[0], o, out);
    if (cmd == QLatin1String("set")) return CmdSet(session, rest, o, out);
    if (cmd == QLatin1String("restart")) return CmdRestartOrReset(session, rest[0], false, o, out);
    if (cmd == QLatin1String("reset")) return CmdRestartOrReset(session, rest[0], true, o, out);
    if (cmd == QLatin1String("provision")) return CmdProvision(session, rest[0], o, out);
    if (rest[0] == QLatin1String("save")) return CmdProfileSave(session, rest[1], rest[2], o, out);
    return CmdProfileApply(session, rest.mid(1), o, out);
}

}  // namespace varnix::cli
