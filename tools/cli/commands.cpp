#include "cli/commands.h"

#include "app/app_paths.h"
#include "cli/cli_help.h"
#include "cli/cli_options.h"
#include "cli/cli_out.h"
#include "cli/exit_codes.h"
#include "cli/fleet_commands.h"
#include "cli/inventory_commands.h"
#include "cli/module_json.h"
#include "cli/module_lines.h"
#include "cli/rollout_command.h"
#include "cli/save_run.h"
#include "cli/serial_commands.h"
#include "cli/sheet.h"
#include "cli/upgrade_command.h"
#include "core/convert.h"
#include "core/file_read.h"
#include "engine/lan_session.h"
#include "engine/save_prepare.h"
#include "lan/lan_protocol.h"
#include "lang/error_text.h"
#include "lang/safe_text.h"
#include "lang/text_codec.h"
#include "model/fields.h"
#include "model/profile.h"

#include <QCommandLineParser>
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

namespace varnix::cli {

namespace {

constexpr const char* DefaultLogin = "vesta";

TFleetContext FleetContext(TLanSession* session, const TOptions& o, TOut& out) {
    TFleetContext c;
    c.Session = session;
    c.ProgramDir = o.ProgramDir;
    c.Login = o.Login;
    c.TimeoutMs = o.TimeoutMs;
    c.All = o.All;
    c.Parallel = o.Parallel;
    c.Line = [&out](const QString& t) { out.Line(t); };
    c.Error = [&out](const QString& t) { out.Error(t); };
    c.Root = &out.Root();
    return c;
}

QString Shown(const std::string& wireText) {
    return BytesToDisplay(wireText);
}

std::optional<std::string> ParseMacArg(const QString& text, TOut& out) {
    const TResult<QJsonValue> v = ParseFieldText(*FindField(QStringLiteral("UserMAC")), text);
    if (!v) {
        out.Error(QStringLiteral("bad MAC: %1").arg(QString::fromStdString(ErrorReason(v.Error()))));
        return std::nullopt;
    }
    return v->toString().toStdString();
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
    if (::inet_pton(AF_INET, ip.c_str(), &sa.sin_addr) != 1)
        return false;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return true; // cannot tell; the endpoint will report its own failure
    const bool bound =
        ::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 || errno != EADDRNOTAVAIL;
    ::close(fd);
    return bound;
}

// Finds one module by MAC; reports and returns nullopt when it does not answer.
std::optional<TFoundModule> Locate(TLanSession& session, const std::string& mac, const TOptions& o,
                                   TOut& out) {
    const auto found = session.Find({mac}, o.TimeoutMs);
    if (found.empty()) {
        out.Error(QStringLiteral("%1 did not answer the search within %2 s%3")
                      .arg(Q(mac))
                      .arg(o.TimeoutMs / 1000.0)
                      .arg(session.BindingProblem().isEmpty()
                               ? QString()
                               : QStringLiteral(" (%1)").arg(session.BindingProblem())));
        return std::nullopt;
    }
    return found.front();
}

// --- fields ---

int CmdFields(TOut& out) {
    QJsonArray list;
    out.Line(QStringLiteral("%1 %2 %3 %4  %5")
                 .arg(QStringLiteral("NAME"), -24)
                 .arg(QStringLiteral("GROUP"), -10)
                 .arg(QStringLiteral("SHOWN"), -6)
                 .arg(QStringLiteral("WRITES"), -7)
                 .arg(QStringLiteral("VALUES")));
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
        if (f.Kind == TFieldKind::Text || f.Kind == TFieldKind::Data)
            o.insert(QStringLiteral("maxBytes"), static_cast<double>(f.Max));
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
    // Each row is shown as its reply arrives: the list grows while the search runs, and the time
    // to format thousands of replies (a crowded or hostile LAN) is spent inside the search time
    // instead of after it.
    QJsonArray list;
    out.Line(SearchHeader());
    const auto found = session.Search(o.TimeoutMs, 0, {}, [&](const TFoundModule& m) {
        if (out.Json())
            list.append(ModuleJson(m));
        else
            out.Line(SearchRow(m));
    });
    out.Line(QStringLiteral("%1 module(s) answered within %2 s").arg(found.size()).arg(o.TimeoutMs / 1000.0));
    if (session.IncompatibleReplies() > 0)
        out.Line(QStringLiteral("%1 reply(ies) from modules of another product series")
                     .arg(session.IncompatibleReplies()));
    out.Root().insert(QStringLiteral("modules"), list);
    out.Root().insert(QStringLiteral("otherSeriesReplies"), session.IncompatibleReplies());
    if (!session.BindingProblem().isEmpty())
        out.Error(session.BindingProblem());
    TFleetContext fleet = FleetContext(&session, o, out);
    if (o.Check)
        ReportSearchChecks(session, found, fleet);
    if (found.empty()) {
        out.Error(QStringLiteral("no module answered"));
        ReportEmptySearch(session, o.Session.Broadcast, fleet);
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
        if (FieldShown(f, s))
            o.insert(f.Name, f.Get(s));
    return o;
}

void PrintFields(const TModuleSettings& s, TOut& out) {
    std::optional<TFieldGroup> group;
    for (const TFieldDef& f : FieldTable()) {
        if (!FieldShown(f, s))
            continue;
        if (group != f.Group) {
            group = f.Group;
            out.Line(QStringLiteral("[%1]").arg(GroupName(f.Group)));
        }
        out.Line(QStringLiteral("  %1 %2%3")
                     .arg(f.Name, -24)
                     .arg(DisplayValue(f, f.Get(s)),
                          FieldWritable(f, s) ? QString() : QStringLiteral("  (read-only)")));
    }
}

QString RepliesText(const TReceivedBlocks& g) {
    QStringList parts;
    if (g.Params)
        parts << QStringLiteral("base+port (130)");
    parts << (g.Cloud ? QStringLiteral("cloud (50)") : QStringLiteral("no cloud"));
    parts << (g.Heart ? QStringLiteral("heartbeat (85)") : QStringLiteral("no heartbeat"));
    parts << (g.Httpd ? QStringLiteral("httpd (302)") : QStringLiteral("no httpd"));
    parts << (g.ModbusKind ? QStringLiteral("modbus kind %1").arg(g.ModbusKind)
                           : QStringLiteral("no modbus"));
    return parts.join(QStringLiteral(", "));
}

// Reads a located module; reports the failure and returns nullopt.
std::optional<TReadResult> ReadModule(TLanSession& session, const TFoundModule& m, const TLogin& login,
                                      const TOptions& o, TOut& out, TExit& status) {
    if (m.Family != FamilyZ2 && m.Family != FamilyZ3) {
        out.Error(QStringLiteral("%1 has incompatible firmware (%2); nothing is sent to it")
                      .arg(Q(m.Mac))
                      .arg(m.Firmware));
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
    if (!mac)
        return out.Finish(TExit::Usage);
    const auto m = Locate(session, *mac, o, out);
    if (!m)
        return out.Finish(TExit::NoAnswer);
    TExit status = TExit::Ok;
    const auto r = ReadModule(session, *m, o.Login, o, out, status);
    out.Root().insert(QStringLiteral("module"), ModuleJson(*m));
    if (!r)
        return out.Finish(status);
    out.Line(ModuleTitle(*m));
    out.Line(QStringLiteral("replies: %1").arg(RepliesText(r->Got)));
    PrintFields(r->Settings, out);
    out.Root().insert(QStringLiteral("replies"), RepliesJson(r->Got));
    out.Root().insert(QStringLiteral("fields"), FieldsJson(r->Settings));
    return out.Finish(TExit::Ok);
}

// --- restart, reset ---

int CmdRestartOrReset(TLanSession& session, const QString& macText, bool reset, const TOptions& o,
                      TOut& out) {
    const auto mac = ParseMacArg(macText, out);
    if (!mac)
        return out.Finish(TExit::Usage);
    if (reset && !o.Yes && !isatty(STDIN_FILENO)) {
        out.Error(
            QStringLiteral("reset restores the factory settings; without a terminal to ask on, give --yes"));
        return out.Finish(TExit::Usage);
    }
    const auto m = Locate(session, *mac, o, out);
    if (!m)
        return out.Finish(TExit::NoAnswer);
    out.Root().insert(QStringLiteral("module"), ModuleJson(*m));
    if (reset && m->Family != FamilyZ2 && m->Family != FamilyZ3) {
        out.Error(QStringLiteral("%1 has incompatible firmware (%2); nothing is sent to it")
                      .arg(Q(m->Mac))
                      .arg(m->Firmware));
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
    // A restart always goes to port 1500; a reset to the family's port (the lane knows which).
    const std::uint8_t code = reset ? CmdFactoryReset : CmdRestart;
    const TSaveReport report = session.Command(*m, o.Login, code, o.TimeoutMs);
    out.Line(ModuleTitle(*m));
    QJsonArray list;
    for (const TSaveReport::TArrived& a : report.Arrived)
        list.append(AckJson(report.CodeOf(a), a.Ack));
    out.Root().insert(QStringLiteral("acks"), list);
    if (report.Arrived.empty()) {
        out.Error(QStringLiteral("%1: no acknowledgement of the %2 within %3 s")
                      .arg(Q(m->Mac), BlockNameOfCode(code))
                      .arg(o.TimeoutMs / 1000.0));
        return out.Finish(TExit::NoAnswer);
    }
    out.Line(QStringLiteral("0x%1 %2: %3")
                 .arg(code, 2, 16, QLatin1Char('0'))
                 .arg(BlockNameOfCode(code), AckResultText(report.Arrived.front().Ack)));
    if (report.Arrived.front().Ack.Result != 'K')
        out.Error(QStringLiteral("%1: %2").arg(Q(m->Mac), AckResultText(report.Arrived.front().Ack)));
    return out.Finish(AckOutcome(report.Arrived.front().Ack));
}

// --- saves: set, profile apply, provision (the run itself is in save_run.cpp) ---

int CmdSet(TLanSession& session, const QStringList& args, const TOptions& o, TOut& out) {
    if (args.size() < 2) {
        out.Error(QStringLiteral("usage: varnix-cli set MAC NAME=VALUE..."));
        return out.Finish(TExit::Usage);
    }
    const auto mac = ParseMacArg(args[0], out);
    QList<TAssignment> list;
    bool bad = !mac;
    for (const QString& a : args.mid(1)) {
        const TResult<TAssignment> assignment = ParseAssignment(a);
        if (!assignment) {
            out.Error(ErrorMessage(assignment.Error()));
            bad = true;
            continue;
        }
        // A field given twice: the last value wins, as a shell user expects.
        list.removeIf([&assignment](const TAssignment& x) { return x.Field == assignment->Field; });
        list << *assignment;
    }
    if (bad)
        return out.Finish(TExit::Usage);
    TJob job{QString(), *mac, [list](const TModuleSettings&, QStringList&) { return list; }};
    return out.Finish(RunJobs(session, {job}, o, out));
}

// Sheets and profiles are small text files; a device, a pipe or a huge file is refused with
// the reason instead of being read until memory runs out.
std::optional<QByteArray> ReadInputFile(const QString& path, TOut& out) {
    const auto bytes = ReadRegularFile(QFile::encodeName(path).toStdString(), MaxTextFileBytes);
    if (!bytes) {
        out.Error(QStringLiteral("cannot read ") + QString::fromLocal8Bit(bytes.Error().Message));
        return std::nullopt;
    }
    return QByteArray(bytes->data(), static_cast<qsizetype>(bytes->size()));
}

int CmdProfileSave(TLanSession& session, const QString& macText, const QString& path, const TOptions& o,
                   TOut& out) {
    const auto mac = ParseMacArg(macText, out);
    if (!mac)
        return out.Finish(TExit::Usage);
    const auto m = Locate(session, *mac, o, out);
    if (!m)
        return out.Finish(TExit::NoAnswer);
    TExit status = TExit::Ok;
    const auto r = ReadModule(session, *m, o.Login, o, out, status);
    out.Root().insert(QStringLiteral("module"), ModuleJson(*m));
    if (!r)
        return out.Finish(status);
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
    for (const TFieldDef& f : FieldTable())
        count += FieldWritable(f, r->Settings) ? 1 : 0;
    out.Line(QStringLiteral("%1: wrote %2 (%3 fields; replies: %4)")
                 .arg(Q(m->Mac), path, QString::number(count), RepliesText(r->Got)));
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
    if (!data)
        return out.Finish(TExit::Usage);
    QStringList errors;
    const auto profile = ReadProfile(*data, &errors);
    for (const QString& e : errors)
        out.Error(QStringLiteral("%1: %2").arg(args[0], e));
    std::vector<TJob> jobs;
    bool bad = !profile;
    for (const QString& macText : args.mid(1)) {
        const auto mac = ParseMacArg(macText, out);
        if (!mac) {
            bad = true;
            continue;
        }
        if (std::any_of(jobs.begin(), jobs.end(),
                        [&mac](const TJob& j) { return MacKey(j.Mac) == MacKey(*mac); }))
            continue;
        if (profile)
            jobs.push_back(TJob{
                QString(), *mac,
                [p = *profile, withIdentity = o.WithIdentity](const TModuleSettings& s, QStringList& notes) {
                    const TProfileApplication a = SelectForModule(p, s, withIdentity);
                    notes << a.Skipped;
                    return a.Applied;
                },
                TPrepareMode::Lenient});
    }
    if (bad)
        return out.Finish(TExit::Usage);
    return out.Finish(RunJobs(session, std::move(jobs), o, out));
}

int CmdProvision(TLanSession& session, const QString& path, const TOptions& o, TOut& out) {
    const auto data = ReadInputFile(path, out);
    if (!data)
        return out.Finish(TExit::Usage);
    QStringList errors;
    const auto sheet = ParseSheet(*data, &errors);
    for (const QString& e : errors)
        out.Error(QStringLiteral("%1: %2").arg(path, e));
    if (!sheet)
        return out.Finish(TExit::Usage);
    std::vector<TJob> jobs;
    for (const TSheetRow& row : sheet->Rows)
        jobs.push_back(TJob{QStringLiteral("line %1").arg(row.Line), row.Mac.toStdString(),
                            [list = row.Assignments](const TModuleSettings&, QStringList&) { return list; }});
    return out.Finish(RunJobs(session, std::move(jobs), o, out));
}

// The inventory's options into `o`; the problem with one of them, or empty.
QString InventoryOptions(const QCommandLineParser& parser, const std::vector<const QCommandLineOption*>& opts,
                         TOptions& o) {
    const QCommandLineOption &since = *opts[0], &below = *opts[1], &family = *opts[2], &snapshot = *opts[3],
                             &at = *opts[4], &to = *opts[5];
    if (parser.isSet(since) && (o.Since = InventoryTimeArg(parser.value(since), false)).isEmpty())
        return QStringLiteral("--since: '%1' is not a date (2026-12-09 or 2026-12-09T14:30)")
            .arg(parser.value(since));
    if (parser.isSet(at) && (o.At = InventoryTimeArg(parser.value(at), true)).isEmpty())
        return QStringLiteral("--at: '%1' is not a date (2026-12-09 or 2026-12-09T14:30)")
            .arg(parser.value(at));
    bool ok = true;
    if (parser.isSet(below) &&
        (!(o.FirmwareBelow = parser.value(below).toInt(&ok)) || !ok || o.FirmwareBelow < 1))
        return QStringLiteral("--firmware-below: '%1' is not a firmware number").arg(parser.value(below));
    if (parser.isSet(snapshot) &&
        (!(o.SnapshotId = parser.value(snapshot).toLongLong(&ok)) || !ok || o.SnapshotId < 1))
        return QStringLiteral("--snapshot: '%1' is not a snapshot id").arg(parser.value(snapshot));
    if (parser.isSet(family)) {
        const QString f = parser.value(family).toLower();
        o.FamilyFilter = f == u"z1" ? FamilyZ1 : f == u"z2" ? FamilyZ2 : f == u"z3" ? FamilyZ3 : 0;
        if (o.FamilyFilter == 0)
            return QStringLiteral("--family: '%1' is not z1, z2 or z3").arg(parser.value(family));
    }
    if (parser.isSet(to)) {
        o.To = InventoryMac(parser.value(to)).toStdString();
        if (o.To.empty())
            return QStringLiteral("--to: bad MAC '%1'").arg(parser.value(to));
    }
    return QString();
}

} // namespace

int RunCli(const QStringList& args, capture::ICaptureSink* capture) {
    // Help first, whatever the command: it lists them all.
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        std::fputs(HelpText().toUtf8().constData(), stdout);
        return 0;
    }
    // The three with parsers of their own get every other argument, also options given before
    // the command's name ("varnix-cli --json upgrade ...").
    const int at = CommandIndex(args);
    if (const TCliCommand* c = at < 0 ? nullptr : FindCliCommand(args[at])) {
        const QStringList others = args.mid(at + 1) + args.mid(0, at);
        if (c->Route == TCommandRoute::Serial)
            return RunSerialCli(others, capture);
        if (c->Route == TCommandRoute::Upgrade)
            return RunUpgrade(others, capture);
        if (c->Route == TCommandRoute::Rollout)
            return RunRollout(others, capture);
    }
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QList<QCommandLineOption> options = LanOptions();
    const auto named = [&options](const char* name) -> const QCommandLineOption& {
        return NamedOption(options, name);
    };
    const QCommandLineOption &version = named("version"), &timeout = named("timeout"),
                             &verifyTimeout = named("verify-timeout"), &noVerify = named("no-verify"),
                             &dryRun = named("dry-run"), &yes = named("yes"),
                             &withIdentity = named("with-identity"), &user = named("user"),
                             &password = named("password"), &broadcast = named("broadcast"),
                             &iface = named("interface"), &loopback = named("loopback"),
                             &check = named("check"), &all = named("all"), &parallel = named("parallel"),
                             &since = named("since"), &firmwareBelow = named("firmware-below"),
                             &family = named("family"), &snapshot = named("snapshot"), &atDate = named("at"),
                             &to = named("to"), &withMac = named("with-mac");
    parser.addOptions(options);
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("see --help"));

    TOut out(args.contains(QStringLiteral("--json")));
    if (!parser.parse(QStringList{QStringLiteral("varnix-cli")} + args)) {
        out.Error(parser.errorText());
        return out.Finish(TExit::Usage);
    }
    if (parser.isSet(version)) {
        std::printf("varnix-cli %s\n", VARNIX_VERSION);
        return 0;
    }

    TOptions o;
    const auto env = QProcessEnvironment::systemEnvironment();
    const QString userText =
        parser.isSet(user) ? parser.value(user)
                           : env.value(QStringLiteral("VARNIX_USER"), QString::fromLatin1(DefaultLogin));
    const QString passwordText = parser.isSet(password) ? parser.value(password)
                                                        : env.value(QStringLiteral("VARNIX_PASSWORD"),
                                                                    QString::fromLatin1(DefaultLogin));
    o.Login = TLogin{DisplayToBytes(userText), DisplayToBytes(passwordText)};
    // Every command carries the log-in in six bytes; one that does not fit is refused, not cut.
    const std::pair<const char*, const std::string*> logins[] = {{"UserName", &o.Login.User},
                                                                 {"Password", &o.Login.Password}};
    for (const auto& [field, text] : logins)
        if (const TStatus fits = CheckLoginText(field, *text); !fits) {
            out.Error(QString::fromStdString(fits.Error().Message));
            return out.Finish(TExit::Usage);
        }
    if (parser.isSet(timeout)) {
        const auto ms = ParseSeconds(parser.value(timeout), QStringLiteral("timeout"), out);
        if (!ms)
            return out.Finish(TExit::Usage);
        o.TimeoutMs = *ms;
    }
    if (parser.isSet(verifyTimeout)) {
        const auto ms = ParseSeconds(parser.value(verifyTimeout), QStringLiteral("verify-timeout"), out);
        if (!ms)
            return out.Finish(TExit::Usage);
        o.VerifyTimeoutMs = *ms;
    }
    o.DryRun = parser.isSet(dryRun);
    o.NoVerify = parser.isSet(noVerify);
    o.Yes = parser.isSet(yes);
    o.WithIdentity = parser.isSet(withIdentity);
    o.Check = parser.isSet(check);
    o.All = parser.isSet(all);
    if (parser.isSet(parallel)) {
        bool ok = false;
        o.Parallel = parser.value(parallel).toInt(&ok);
        if (!ok || o.Parallel < 1 || o.Parallel > 256) {
            out.Error(
                QStringLiteral("--parallel: '%1' is not a number from 1 to 256").arg(parser.value(parallel)));
            return out.Finish(TExit::Usage);
        }
    }
    const TFieldDef& ipDef = *FindField(QStringLiteral("StaticIP"));
    for (const auto* opt : {&broadcast, &iface}) {
        if (!parser.isSet(*opt))
            continue;
        const TResult<QJsonValue> v = ParseFieldText(ipDef, parser.value(*opt));
        if (!v) {
            out.Error(QStringLiteral("--%1: %2")
                          .arg(opt->names().front(), QString::fromStdString(ErrorReason(v.Error()))));
            return out.Finish(TExit::Usage);
        }
        (opt == &broadcast ? o.Session.Broadcast : o.Session.Interface) = v->toString().toStdString();
    }
    if (!o.Session.Interface.empty() && !IsLocalAddress(o.Session.Interface)) {
        out.Error(
            QStringLiteral("--interface: %1 is not an address of this machine").arg(Q(o.Session.Interface)));
        return out.Finish(TExit::Usage);
    }
    o.Session.Loopback = parser.isSet(loopback);
    o.Session.Capture = capture;
    if (const QString problem =
            InventoryOptions(parser, {&since, &firmwareBelow, &family, &snapshot, &atDate, &to}, o);
        !problem.isEmpty()) {
        out.Error(problem);
        return out.Finish(TExit::Usage);
    }
    o.WithMac = parser.isSet(withMac);

    const QStringList pos = parser.positionalArguments();
    if (pos.isEmpty()) {
        std::fputs(ShortUsage(), stderr);
        return out.Finish(TExit::Usage);
    }
    const QString cmd = pos.front();
    const TCliCommand* command = FindCliCommand(cmd);
    if (!command) {
        out.Error(QStringLiteral("unknown command '%1'").arg(cmd));
        std::fputs(ShortUsage(), stderr);
        return out.Finish(TExit::Usage);
    }
    const QStringList rest = pos.mid(1);
    const auto wrongCount = [&](const char* usage) {
        out.Error(QStringLiteral("usage: varnix-cli %1").arg(QString::fromLatin1(usage)));
        return out.Finish(TExit::Usage);
    };
    if (command->Route == TCommandRoute::Fields)
        return rest.isEmpty() ? CmdFields(out) : wrongCount("fields");
    o.ProgramDir = ResolveProgramDir();
    if (command->Route == TCommandRoute::Inventory) {
        if (const QString usage = InventoryUsageProblem(cmd, rest, o); !usage.isEmpty())
            return wrongCount(usage.toUtf8().constData());
        TResult<std::unique_ptr<TInventory>> opened = TInventory::Open(o.ProgramDir);
        if (!opened) {
            out.Error(QString::fromStdString(opened.Error().Message));
            return out.Finish(TExit::Local);
        }
        for (const QString& note : (*opened)->Notes())
            out.Error(note);
        const std::unique_ptr<TInventory> inventory = std::move(*opened);
        std::optional<TLanSession> lan;
        std::optional<TInventoryRecorder> recorder;
        if (InventoryCommandNeedsLan(cmd)) {
            lan.emplace(o.Session);
            recorder.emplace(*inventory, out);
            recorder->Watch(*lan);
        }
        return out.Finish(RunInventoryCommand(cmd, rest, *inventory, lan ? &*lan : nullptr,
                                              recorder ? &*recorder : nullptr, o, out));
    }
    // Every search and read of the commands below is recorded in the inventory, when it opens.
    const std::unique_ptr<TInventory> inventory = OpenInventoryOrWarn(o.ProgramDir);
    std::optional<TInventoryRecorder> recorder;
    if (inventory)
        recorder.emplace(*inventory, out);
    if (command->Route == TCommandRoute::Fleet) {
        std::optional<TLanSession> lan;
        if (FleetCommandNeedsLan(cmd))
            lan.emplace(o.Session);
        if (lan && recorder)
            recorder->Watch(*lan);
        TFleetContext fleet = FleetContext(lan ? &*lan : nullptr, o, out);
        fleet.RunSet = [&](const std::string& mac, const QList<TAssignment>& list) {
            return RunJobs(
                *lan, {TJob{QString(), mac, [list](const TModuleSettings&, QStringList&) { return list; }}},
                o, out);
        };
        return out.Finish(RunFleetCommand(cmd, rest, fleet));
    }

    // Argument counts are checked before the endpoint binds anything.
    if (cmd == QLatin1String("search") && !rest.isEmpty())
        return wrongCount("search [--timeout SECONDS]");
    if ((cmd == QLatin1String("read") || cmd == QLatin1String("restart") || cmd == QLatin1String("reset")) &&
        rest.size() != 1)
        return wrongCount("read|restart|reset MAC");
    if (cmd == QLatin1String("provision") && rest.size() != 1)
        return wrongCount("provision FILE.csv");
    if (cmd == QLatin1String("profile")) {
        const QString sub = rest.value(0);
        if (sub == QLatin1String("save") ? rest.size() != 3 : sub != QLatin1String("apply"))
            return wrongCount("profile save MAC FILE | profile apply FILE MAC...");
    }

    TLanSession session(o.Session);
    if (recorder)
        recorder->Watch(session);
    if (cmd == QLatin1String("search"))
        return CmdSearch(session, o, out);
    if (cmd == QLatin1String("read"))
        return CmdRead(session, rest[0], o, out);
    if (cmd == QLatin1String("set"))
        return CmdSet(session, rest, o, out);
    if (cmd == QLatin1String("restart"))
        return CmdRestartOrReset(session, rest[0], false, o, out);
    if (cmd == QLatin1String("reset"))
        return CmdRestartOrReset(session, rest[0], true, o, out);
    if (cmd == QLatin1String("provision"))
        return CmdProvision(session, rest[0], o, out);
    if (cmd == QLatin1String("profile"))
        return rest[0] == QLatin1String("save") ? CmdProfileSave(session, rest[1], rest[2], o, out)
                                                : CmdProfileApply(session, rest.mid(1), o, out);
    // A row of the command table that no branch above runs (tests/cli/test_cli_help.cpp).
    out.Error(QStringLiteral("'%1' is listed but not dispatched").arg(cmd));
    return out.Finish(TExit::Usage);
}

} // namespace varnix::cli
