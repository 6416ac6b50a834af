#include "cli/fleet_commands.h"

#include "app/journal.h"
#include "core/blocks.h"
#include "core/convert.h"
#include "core/file_read.h"
#include "inventory/journal_store.h"
#include "lan/health_checks.h"
#include "lan/lan_protocol.h"
#include "lan/local_addresses.h"
#include "lan/save_plan.h"
#include "lang/error_text.h"
#include "lang/text_codec.h"
#include "model/profile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <set>

namespace varnix::cli {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// --- search --check ---

QString FindingText(const THealthFinding& f, const std::vector<TFoundModule>& found) {
    QStringList macs, locals;
    std::set<std::string> seenMac;
    for (const int r : f.Rows) {
        const TFoundModule& m = found[static_cast<std::size_t>(r)];
        if (seenMac.insert(MacKey(m.Mac)).second)
            macs << Q(m.Mac);
        locals << Q(m.Local);
    }
    const TFoundModule& first = found[static_cast<std::size_t>(f.Rows.front())];
    switch (f.Kind) {
    case THealthKind::DuplicateIp:
        return QStringLiteral("%1 is used by %2 modules: %3")
            .arg(Q(f.Subject))
            .arg(macs.size())
            .arg(macs.join(QStringLiteral(", ")));
    case THealthKind::TwoAdapters:
        return QStringLiteral("%1 answered through %2 adapters: %3")
            .arg(Q(f.Subject))
            .arg(locals.size())
            .arg(locals.join(QStringLiteral(", ")));
    case THealthKind::OutsideSubnet:
        return QStringLiteral(
                   "%1 (%2) is outside the subnet of the adapter it answered on (%3): it can be configured, "
                   "but cannot carry data until it is given an address in that subnet")
            .arg(Q(first.Mac), Q(f.Subject), Q(f.Local));
    case THealthKind::IncompatibleFirmware:
        return QStringLiteral("%1 (%2) has incompatible firmware %3; nothing is sent to it")
            .arg(Q(first.Mac), Q(first.Ip), Q(f.Subject));
    case THealthKind::DuplicateName:
        return QStringLiteral("the name '%1' is used by %2 modules: %3")
            .arg(BytesToDisplay(f.Subject))
            .arg(macs.size())
            .arg(macs.join(QStringLiteral(", ")));
    }
    return {};
}

// --- journal ---

QString ValueText(const QJsonValue& v) {
    if (v.isNull() || v.isUndefined())
        return QStringLiteral("?");
    if (v.isBool())
        return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    if (v.isDouble())
        return QString::number(v.toDouble(), 'g', 16);
    return v.toString();
}

QJsonObject EntryJson(const TJournalEntry& e) {
    QJsonObject o = QJsonDocument::fromJson(JournalLine(e)).object();
    o.insert(QStringLiteral("entry"), e.Number);
    return o;
}

TExit CmdJournal(const QStringList& args, TFleetContext& ctx) {
    if (args.size() > 1) {
        ctx.Error(QStringLiteral("usage: varnix-cli journal [MAC] [--json]"));
        return TExit::Usage;
    }
    std::string filter;
    if (!args.isEmpty()) {
        filter = MacKey(args[0].toStdString());
        if (filter.size() != 12) {
            ctx.Error(QStringLiteral("bad MAC: '%1'").arg(args[0]));
            return TExit::Usage;
        }
    }
    const QString path = InventoryJournalName(ctx.ProgramDir);
    const TJournalRead r = ReadJournalEntries(ctx.ProgramDir);
    if (!r.Error.isEmpty()) {
        ctx.Error(r.Error);
        return TExit::Local;
    }
    for (const QString& w : r.Warnings)
        ctx.Error(QStringLiteral("%1: %2").arg(path, w));
    QJsonArray list;
    for (const TJournalEntry& e : r.Entries) {
        if (!filter.empty() && MacKey(e.Mac.toStdString()) != filter)
            continue;
        ctx.Line(QStringLiteral("#%1 %2 %3 %4 %5 %6 %7: %8")
                     .arg(e.Number)
                     .arg(e.Time, e.Mac, e.Ip, e.Name, e.Family, e.Link, e.Outcome));
        for (const TJournalChange& c : e.Changes)
            ctx.Line(QStringLiteral("    %1: %2 -> %3").arg(c.Field, ValueText(c.Old), ValueText(c.New)));
        if (!e.Acks.isEmpty())
            ctx.Line(QStringLiteral("    acks: %1").arg(e.Acks.join(QStringLiteral(", "))));
        list.append(EntryJson(e));
    }
    ctx.Line(QStringLiteral("%1 entr%2 in %3")
                 .arg(list.size())
                 .arg(list.size() == 1 ? QStringLiteral("y") : QStringLiteral("ies"), path));
    ctx.Root->insert(QStringLiteral("journal"), path);
    ctx.Root->insert(QStringLiteral("entries"), list);
    ctx.Root->insert(QStringLiteral("warnings"), QJsonArray::fromStringList(r.Warnings));
    return TExit::Ok;
}

// --- undo ---

bool IsBlockChange(const TJournalChange& c) {
    return c.Field.startsWith(QLatin1String("block 0x"));
}

// The window records whole blocks, old -> new bytes. Undoing such an entry reads the module, puts
// the old bytes into a copy of its blocks, decodes that copy into fields and sets every field
// whose value differs from what the module holds now; the carried bytes stay the module's own.
QList<TAssignment> BlockEntryAssignments(const TJournalEntry& e, TFleetContext& ctx, QStringList& problems) {
    const auto found = ctx.Session->Find({e.Mac.toStdString()}, ctx.TimeoutMs);
    if (found.empty()) {
        problems << QStringLiteral("%1 did not answer the search").arg(e.Mac);
        return {};
    }
    const TReadResult r = ctx.Session->Read(found.front(), ctx.Login, ctx.TimeoutMs);
    if (r.Status != TExit::Ok) {
        problems << r.Error;
        return {};
    }
    TBlockStore old = r.Store;
    TReceivedBlocks got = r.Got;
    for (const TJournalChange& c : e.Changes) {
        bool ok = false;
        const int code = c.Field.mid(8).toInt(&ok, 16);
        TIdBytes bytes;
        const bool readable = c.Old.isString() && HexTextToBytes(c.Old.toString().toStdString(), bytes);
        if (ok && code == CmdWriteModbus && readable &&
            (bytes.size() == 1 || bytes.size() == ModbusBlockMax)) {
            // The Modbus block as it was, read as the reply of its kind would be.
            TIdBytes reply(bytes.size() == 1 ? 1 : 64, 0);
            std::copy(bytes.begin(), bytes.end(), reply.begin());
            const auto [param, kind] = DecodeModbusAnswer(reply);
            got.Modbus = param;
            got.ModbusKind = kind;
            continue;
        }
        const std::span<std::uint8_t> block = ok && code > 0 && code < 256
                                                  ? WrittenBlock(old, static_cast<std::uint8_t>(code))
                                                  : std::span<std::uint8_t>();
        if (block.empty() || !readable || bytes.size() != block.size()) {
            problems
                << QStringLiteral("%1: the old bytes were not recorded or do not fit the block").arg(c.Field);
            continue;
        }
        std::copy(bytes.begin(), bytes.end(), block.begin());
    }
    if (!problems.isEmpty())
        return {};
    const TModuleSettings before =
        DecodeModuleSettings(found.front().Family, found.front().Firmware, old, got);
    QList<TAssignment> list;
    for (const TFieldChange& c : DiffSettings(r.Settings, before))
        list << TAssignment{c.Field, c.New};
    return list;
}

// A field entry (the cli's): each field's old value as recorded. The module answers under its
// new MAC if the entry changed it.
QList<TAssignment> FieldEntryAssignments(const TJournalEntry& e, std::string& mac, QStringList& problems) {
    QList<TAssignment> list;
    for (const TJournalChange& c : e.Changes) {
        const TFieldDef* f = FindField(c.Field);
        if (!f) {
            problems << QStringLiteral("%1: unknown field").arg(c.Field);
            continue;
        }
        if (c.Old.isNull() || c.Old.isUndefined()) {
            problems << QStringLiteral("%1: the old value was not recorded").arg(c.Field);
            continue;
        }
        const TResult<QJsonValue> v = ParseFieldJson(*f, c.Old);
        if (!v) {
            problems << QStringLiteral("%1: %2").arg(c.Field, QString::fromStdString(ErrorReason(v.Error())));
            continue;
        }
        if (f->Name == QLatin1String("UserMAC") && c.New.isString())
            mac = c.New.toString().toStdString();
        list << TAssignment{f, *v};
    }
    return list;
}

TExit CmdUndo(const QStringList& args, TFleetContext& ctx) {
    bool ok = false;
    const int number = args.size() == 1 ? args[0].toInt(&ok) : 0;
    if (!ok || number < 1) {
        ctx.Error(
            QStringLiteral("usage: varnix-cli undo ENTRY (the entry number `varnix-cli journal` shows)"));
        return TExit::Usage;
    }
    const QString path = InventoryJournalName(ctx.ProgramDir);
    const TJournalRead r = ReadJournalEntries(ctx.ProgramDir);
    if (!r.Error.isEmpty()) {
        ctx.Error(r.Error);
        return TExit::Local;
    }
    for (const QString& w : r.Warnings)
        ctx.Error(QStringLiteral("%1: %2").arg(path, w));
    const auto it = std::find_if(r.Entries.begin(), r.Entries.end(),
                                 [number](const TJournalEntry& e) { return e.Number == number; });
    if (it == r.Entries.end()) {
        ctx.Error(QStringLiteral("%1 has no entry %2").arg(path).arg(number));
        return TExit::Usage;
    }
    if (it->Link == QLatin1String("rollout")) {
        ctx.Error(
            QStringLiteral("entry %1 is a rollout's record (%2), not a save: nothing to undo; running the "
                           "rollout again resumes the module from its kept configuration")
                .arg(number)
                .arg(it->Outcome));
        return TExit::Usage;
    }
    if (it->Link != QLatin1String("lan")) {
        ctx.Error(QStringLiteral("entry %1 was saved over a %2 link; undo works over the LAN only")
                      .arg(number)
                      .arg(it->Link));
        return TExit::Usage;
    }
    std::string mac = it->Mac.toStdString();
    QList<TAssignment> list;
    QStringList problems;
    if (std::any_of(it->Changes.begin(), it->Changes.end(), IsBlockChange))
        list = BlockEntryAssignments(*it, ctx, problems);
    else
        list = FieldEntryAssignments(*it, mac, problems);
    for (const QString& p : problems)
        ctx.Error(QStringLiteral("entry %1: %2").arg(number).arg(p));
    if (!problems.isEmpty() || list.isEmpty()) {
        if (problems.isEmpty())
            ctx.Error(QStringLiteral("entry %1 changed nothing; nothing to undo").arg(number));
        return TExit::Usage;
    }
    ctx.Line(QStringLiteral("undoing entry %1 (%2, %3)").arg(number).arg(it->Mac, it->Time));
    ctx.Root->insert(QStringLiteral("undo"), number);
    return ctx.RunSet(mac, list);
}

// --- audit ---

QJsonObject DeviationJson(const TFieldChange& c) {
    QJsonObject x;
    x.insert(QStringLiteral("field"), c.Field->Name);
    x.insert(QStringLiteral("module"), c.Old);
    x.insert(QStringLiteral("profile"), c.New);
    return x;
}

// One module against the profile: every field the profile sets (identity left out) that the
// module holds another value of.
TExit AuditOne(const TFoundModule& m, const TReadResult* read, const TProfile& profile, TFleetContext& ctx,
               QJsonArray& out) {
    QJsonObject o;
    o.insert(QStringLiteral("mac"), Q(m.Mac));
    o.insert(QStringLiteral("ip"), Q(m.Ip));
    TExit status = TExit::Ok;
    if (m.Family != FamilyZ2 && m.Family != FamilyZ3) {
        ctx.Error(
            QStringLiteral("%1: incompatible firmware (%2); not audited").arg(Q(m.Mac)).arg(m.Firmware));
        o.insert(QStringLiteral("outcome"), QStringLiteral("incompatible"));
        out.append(o);
        return TExit::NoAnswer;
    }
    const TReadResult& r = *read;
    if (r.Status != TExit::Ok) {
        ctx.Error(QStringLiteral("%1: %2").arg(Q(m.Mac), r.Error));
        o.insert(QStringLiteral("outcome"), QStringLiteral("unread"));
        out.append(o);
        return r.Status;
    }
    TProfileApplication a = SelectForModule(profile, r.Settings, false);
    // The cloud device number names one module to the cloud service, like its address and name
    // do on the LAN: a profile's number is another module's, so it is not compared either.
    if (a.Applied.removeIf([](const TAssignment& x) { return x.Field->Name == QLatin1String("DeviceNo"); }) >
        0)
        a.Skipped << QStringLiteral("DeviceNo: names one module to the cloud; not compared");
    TModuleSettings wanted = r.Settings;
    const QStringList refused = ApplyAssignments(wanted, a.Applied);
    const QList<TFieldChange> diff = DiffSettings(r.Settings, wanted);
    QJsonArray list;
    ctx.Line(QStringLiteral("%1  %2  %3: %4")
                 .arg(Q(m.Mac), Q(m.Ip), BytesToDisplay(m.Name),
                      diff.isEmpty() ? QStringLiteral("matches the profile")
                                     : QStringLiteral("%1 field(s) differ").arg(diff.size())));
    for (const TFieldChange& c : diff) {
        ctx.Line(QStringLiteral("    %1: module %2, profile %3")
                     .arg(c.Field->Name, DisplayValue(*c.Field, c.Old), DisplayValue(*c.Field, c.New)));
        list.append(DeviationJson(c));
    }
    for (const QString& why : refused)
        ctx.Line(QStringLiteral("    note: %1").arg(why));
    o.insert(QStringLiteral("differences"), list);
    o.insert(QStringLiteral("notes"), QJsonArray::fromStringList(refused + a.Skipped));
    o.insert(QStringLiteral("outcome"),
             diff.isEmpty() ? QStringLiteral("matches") : QStringLiteral("differs"));
    out.append(o);
    if (!diff.isEmpty())
        status = TExit::NoAnswer;
    return status;
}

TExit CmdAudit(const QStringList& args, TFleetContext& ctx) {
    if (args.isEmpty() || (ctx.All == (args.size() > 1))) {
        ctx.Error(QStringLiteral("usage: varnix-cli audit PROFILE MAC... | audit PROFILE --all"));
        return TExit::Usage;
    }
    const auto bytes = ReadRegularFile(QFile::encodeName(args[0]).toStdString(), MaxTextFileBytes);
    if (!bytes) {
        ctx.Error(QStringLiteral("cannot read ") + QString::fromLocal8Bit(bytes.Error().Message));
        return TExit::Usage;
    }
    QStringList errors;
    const auto profile =
        ReadProfile(QByteArray(bytes->data(), static_cast<qsizetype>(bytes->size())), &errors);
    for (const QString& e : errors)
        ctx.Error(QStringLiteral("%1: %2").arg(args[0], e));
    std::vector<std::string> macs;
    for (const QString& text : args.mid(1)) {
        const std::string key = MacKey(text.toStdString());
        if (key.size() != 12) {
            ctx.Error(QStringLiteral("bad MAC: '%1'").arg(text));
            return TExit::Usage;
        }
        macs.push_back(text.toStdString());
    }
    if (!profile)
        return TExit::Usage;
    std::vector<TFoundModule> found =
        ctx.All ? ctx.Session->Search(ctx.TimeoutMs) : ctx.Session->Find(macs, ctx.TimeoutMs);
    // One row per module: the first reply of each MAC.
    std::set<std::string> seen;
    std::erase_if(found, [&seen](const TFoundModule& m) { return !seen.insert(MacKey(m.Mac)).second; });
    TExit status = TExit::Ok;
    QJsonArray list;
    for (const std::string& mac : macs)
        if (!seen.count(MacKey(mac))) {
            ctx.Error(QStringLiteral("%1 did not answer the search").arg(Q(mac)));
            status = TExit::NoAnswer;
        }
    if (found.empty() && ctx.All) {
        ctx.Error(QStringLiteral("no module answered"));
        status = TExit::NoAnswer;
    }
    // The compatible ones are read side by side.
    std::vector<TReadRequest> requests;
    for (const TFoundModule& m : found)
        if (m.Family == FamilyZ2 || m.Family == FamilyZ3)
            requests.push_back({m, ctx.Login, ctx.TimeoutMs, ctx.Session->Options().QuietMs});
    const auto reads = ctx.Session->ReadMany(requests, ctx.Parallel);
    int differing = 0;
    std::size_t n = 0;
    for (const TFoundModule& m : found) {
        const bool compatible = m.Family == FamilyZ2 || m.Family == FamilyZ3;
        const TExit s = AuditOne(m, compatible ? &reads[n++] : nullptr, *profile, ctx, list);
        differing +=
            list.last().toObject().value(QStringLiteral("outcome")).toString() == QLatin1String("differs")
                ? 1
                : 0;
        status = Worse(status, s);
    }
    ctx.Line(
        QStringLiteral("%1 of %2 module(s) differ from %3").arg(differing).arg(found.size()).arg(args[0]));
    ctx.Root->insert(QStringLiteral("profile"), args[0]);
    ctx.Root->insert(QStringLiteral("modules"), list);
    ctx.Root->insert(QStringLiteral("differing"), differing);
    return status;
}

} // namespace

bool FleetCommandNeedsLan(const QString& cmd) {
    return cmd == QLatin1String("undo") || cmd == QLatin1String("audit");
}

TExit RunFleetCommand(const QString& cmd, const QStringList& args, TFleetContext& ctx) {
    if (cmd == QLatin1String("journal"))
        return CmdJournal(args, ctx);
    if (cmd == QLatin1String("undo"))
        return CmdUndo(args, ctx);
    return CmdAudit(args, ctx);
}

int ReportSearchChecks(TLanSession& session, const std::vector<TFoundModule>& found, TFleetContext& ctx) {
    std::vector<THealthModule> modules;
    for (const TFoundModule& m : found)
        modules.push_back(THealthModule{m.Ip, m.Name, m.Mac, m.Firmware, m.Family, m.Binding});
    std::vector<THealthBinding> bindings;
    for (const std::string& address : session.SearchAddresses())
        bindings.push_back(THealthBinding{address, LocalNetmask(address)});
    const auto findings = RunHealthChecks(modules, bindings);
    QJsonArray list;
    for (const THealthFinding& f : findings) {
        const QString text = FindingText(f, found);
        ctx.Line(QStringLiteral("check %1: %2").arg(QString::fromLatin1(HealthKindName(f.Kind)), text));
        QJsonObject o;
        o.insert(QStringLiteral("kind"), QString::fromLatin1(HealthKindName(f.Kind)));
        o.insert(QStringLiteral("subject"),
                 f.Kind == THealthKind::DuplicateName ? BytesToDisplay(f.Subject) : Q(f.Subject));
        QJsonArray rows, macs;
        for (const int r : f.Rows) {
            rows.append(r);
            macs.append(Q(found[static_cast<std::size_t>(r)].Mac));
        }
        o.insert(QStringLiteral("rows"), rows);
        o.insert(QStringLiteral("macs"), macs);
        o.insert(QStringLiteral("text"), text);
        list.append(o);
    }
    if (findings.empty())
        ctx.Line(QStringLiteral("checks: nothing to report"));
    ctx.Root->insert(QStringLiteral("checks"), list);
    return static_cast<int>(findings.size());
}

void ReportEmptySearch(TLanSession& session, const std::string& destination, TFleetContext& ctx) {
    QStringList tried;
    for (const std::string& address : session.SearchAddresses())
        tried << Q(address);
    QStringList causes;
    if (tried.isEmpty())
        causes << QStringLiteral("no adapter has an IPv4 address up (see `ip -4 addr`)");
    else
        ctx.Error(QStringLiteral("searched from %1 to %2 port %3")
                      .arg(tried.join(QStringLiteral(", ")), Q(destination))
                      .arg(PortZ2));
    causes << QStringLiteral("a firewall drops the replies: allow UDP from the module ports 1500 and 1901 "
                             "(firewalld: %1; ufw: %2)")
                  .arg(QString::fromLatin1(FirewalldAllowCommand), QString::fromLatin1(UfwAllowCommand));
    causes << QStringLiteral(
        "the module is on another adapter or cable than the ones tried (see --interface)");
    for (const QString& c : causes)
        ctx.Error(QStringLiteral("likely cause: %1").arg(c));
    QJsonObject o;
    o.insert(QStringLiteral("tried"), QJsonArray::fromStringList(tried));
    o.insert(QStringLiteral("destination"), Q(destination));
    o.insert(QStringLiteral("causes"), QJsonArray::fromStringList(causes));
    ctx.Root->insert(QStringLiteral("noAnswer"), o);
}

bool RestartPending(const TFoundModule& m, const TModuleSettings& s) {
    const QJsonValue addrType = FindField(QStringLiteral("AddrType"))->Get(s);
    const QJsonValue ip = FindField(QStringLiteral("StaticIP"))->Get(s);
    const QJsonValue name = FindField(QStringLiteral("ModName"))->Get(s);
    // A module on DHCP runs with an address of its server's choosing.
    if (addrType.toInt() == 1 && ip.isString() && ip.toString() != Q(m.Ip))
        return true;
    return name.isString() && name.toString() != BytesToDisplay(m.Name);
}

QString JournalSave(const QString& programDir, const TFoundModule& m, const TPreparedSave& save,
                    const TSaveReport& report, const QString& outcome) {
    TJournalEntry e;
    e.Mac = Q(m.Mac);
    e.Ip = Q(m.Ip);
    e.Name = BytesToDisplay(m.Name);
    e.Family = FamilyText(m.Family);
    e.Link = QStringLiteral("lan");
    for (const TFieldChange& c : save.Changes + save.SideEffects)
        e.Changes.append(TJournalChange{c.Field->Name, c.Old, c.New});
    e.Acks = report.Words();
    e.Outcome = outcome;
    const TStatus appended = AppendJournalEntry(programDir, e);
    return appended ? QString() : ErrorMessage(appended.Error());
}

} // namespace varnix::cli
