#include "cli/inventory_commands.h"

#include "cli/module_json.h"
#include "cli/module_lines.h"
#include "cli/save_run.h"
#include "core/convert.h"
#include "inventory/restore_plan.h"
#include "lang/text_codec.h"
#include "model/fields.h"
#include "model/profile.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QTimeZone>

#include <algorithm>

namespace varnix::cli {

namespace {

TSeenModule Seen(const TFoundModule& m) {
    return TSeenModule{Q(m.Mac), m.Family, m.Firmware, Q(m.Ip), BytesToDisplay(m.Name), Q(m.Local)};
}

QString FamilyName(std::int32_t family) {
    return family == FamilyZ1 ? QStringLiteral("Z1") : FamilyText(family);
}

// A JSON string: quotes, backslashes and control characters escaped, the rest as UTF-8.
void PutString(QByteArray& out, const QString& text) {
    out += '"';
    for (const char c : text.toUtf8()) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            out += "\\u00";
            out += "0123456789abcdef"[u >> 4];
            out += "0123456789abcdef"[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

// One module as a JSON object, written directly (see TOut::RawList); keys in sorted order.
QByteArray RowJson(const TModuleRow& r) {
    QByteArray o;
    o.reserve(320);
    const auto key = [&o](const char* name) {
        o += o.isEmpty() ? "{\"" : ", \"";
        o += name;
        o += "\": ";
    };
    const auto text = [&](const char* name, const QString& value) {
        key(name);
        PutString(o, value);
    };
    const auto number = [&](const char* name, qint64 value) {
        key(name);
        o += QByteArray::number(value);
    };
    text("family", FamilyName(r.Family));
    number("familyCode", r.Family);
    number("firmware", r.Firmware);
    text("firstSeen", r.FirstSeen);
    text("ip", r.Ip);
    text("lastSeen", r.LastSeen);
    if (r.LastSnapshot.isEmpty()) {
        key("lastSnapshot");
        o += "null";
    } else {
        text("lastSnapshot", r.LastSnapshot);
    }
    text("local", r.Local);
    text("mac", r.Mac);
    text("name", r.Name);
    number("snapshots", r.Snapshots);
    o += '}';
    return o;
}

QJsonObject SnapshotJson(const TSnapshotInfo& s) {
    QJsonObject o;
    o.insert(QStringLiteral("id"), static_cast<double>(s.Id));
    o.insert(QStringLiteral("time"), s.Time);
    o.insert(QStringLiteral("mac"), s.Mac);
    o.insert(QStringLiteral("link"), s.Link);
    o.insert(QStringLiteral("family"), FamilyName(s.Family));
    o.insert(QStringLiteral("firmware"), s.Firmware);
    return o;
}

QString MacArg(const QString& text) {
    return InventoryMac(text);
}

TExit Failed(TOut& out, const TError& e) {
    out.Error(QString::fromStdString(e.Message));
    return TExit::Local;
}

TExit CmdInventory(TInventory& inv, const TOptions& o, TOut& out) {
    const auto rows = inv.Modules(TModuleFilter{o.Since, o.FirmwareBelow, o.FamilyFilter});
    if (!rows)
        return Failed(out, rows.Error());
    if (out.Json()) {
        QList<QByteArray> list;
        list.reserve(static_cast<qsizetype>(rows->size()));
        for (const TModuleRow& r : *rows)
            list.append(RowJson(r));
        out.RawList(QStringLiteral("modules"), std::move(list));
    } else {
        out.Line(QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
                     .arg(QStringLiteral("MAC"), -17)
                     .arg(QStringLiteral("FAMILY"), -6)
                     .arg(QStringLiteral("FIRMWARE"), -8)
                     .arg(QStringLiteral("ADDRESS"), -15)
                     .arg(QStringLiteral("LAST SEEN"), -24)
                     .arg(QStringLiteral("SNAPSHOTS"), -9)
                     .arg(QStringLiteral("NAME")));
        for (const TModuleRow& r : *rows)
            out.Line(QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
                         .arg(r.Mac, -17)
                         .arg(FamilyName(r.Family), -6)
                         .arg(r.Firmware, -8)
                         .arg(r.Ip, -15)
                         .arg(r.LastSeen, -24)
                         .arg(r.Snapshots, -9)
                         .arg(r.Name));
        out.Line(QStringLiteral("%1 module(s)").arg(rows->size()));
    }
    return TExit::Ok;
}

TExit CmdSnapshots(TInventory& inv, const QString& mac, TOut& out) {
    const auto list = inv.Snapshots(mac);
    if (!list)
        return Failed(out, list.Error());
    QJsonArray json;
    out.Line(QStringLiteral("%1 %2 %3 %4 %5")
                 .arg(QStringLiteral("ID"), -8)
                 .arg(QStringLiteral("TIME"), -24)
                 .arg(QStringLiteral("LINK"), -6)
                 .arg(QStringLiteral("FAMILY"), -6)
                 .arg(QStringLiteral("FIRMWARE")));
    for (const TSnapshotInfo& s : *list) {
        json.append(SnapshotJson(s));
        out.Line(QStringLiteral("%1 %2 %3 %4 %5")
                     .arg(s.Id, -8)
                     .arg(s.Time, -24)
                     .arg(s.Link, -6)
                     .arg(FamilyName(s.Family), -6)
                     .arg(s.Firmware));
    }
    out.Root().insert(QStringLiteral("snapshots"), json);
    if (list->empty()) {
        out.Error(QStringLiteral("no snapshot of %1").arg(mac));
        return TExit::NoAnswer;
    }
    return TExit::Ok;
}

// A snapshot of `mac` by id; reports why not.
std::optional<TSnapshot> SnapshotOfModule(TInventory& inv, const QString& mac, qint64 id, TOut& out) {
    const auto s = inv.Snapshot(id);
    if (!s) {
        Failed(out, s.Error());
        return std::nullopt;
    }
    if (!*s || (*s)->Info.Mac != mac) {
        out.Error(QStringLiteral("%1 has no snapshot %2 (see `varnix-cli snapshots %1`)").arg(mac).arg(id));
        return std::nullopt;
    }
    return **s;
}

TExit CmdDiff(TInventory& inv, const QString& mac, const QStringList& ids, TOut& out) {
    // No id: the two newest snapshots; one: that one against the newest; two: those two.
    std::vector<qint64> pick;
    for (const QString& t : ids) {
        bool ok = false;
        pick.push_back(t.toLongLong(&ok));
        if (!ok || pick.back() < 1) {
            out.Error(QStringLiteral("'%1' is not a snapshot id").arg(t));
            return TExit::Usage;
        }
    }
    if (pick.size() < 2) {
        const auto list = inv.Snapshots(mac);
        if (!list)
            return Failed(out, list.Error());
        if (list->size() < (pick.empty() ? 2u : 1u)) {
            out.Error(QStringLiteral("%1 has %2 snapshot(s); nothing to compare").arg(mac).arg(list->size()));
            return TExit::NoAnswer;
        }
        if (pick.empty())
            pick.push_back((*list)[list->size() - 2].Id);
        pick.push_back(list->back().Id);
    }
    const auto a = SnapshotOfModule(inv, mac, pick[0], out);
    const auto b = a ? SnapshotOfModule(inv, mac, pick[1], out) : std::nullopt;
    if (!a || !b)
        return TExit::Usage;
    const QList<TFieldChange> changes = DiffSettings(a->Settings(), b->Settings());
    out.Line(QStringLiteral("%1: snapshot %2 (%3) -> %4 (%5)")
                 .arg(mac)
                 .arg(a->Info.Id)
                 .arg(a->Info.Time)
                 .arg(b->Info.Id)
                 .arg(b->Info.Time));
    QJsonArray list;
    for (const TFieldChange& c : changes) {
        out.Line(QStringLiteral("  %1 %2 -> %3")
                     .arg(c.Field->Name, -24)
                     .arg(DisplayValue(*c.Field, c.Old), DisplayValue(*c.Field, c.New)));
        QJsonObject x;
        x.insert(QStringLiteral("field"), c.Field->Name);
        x.insert(QStringLiteral("old"), c.Old);
        x.insert(QStringLiteral("new"), c.New);
        list.append(x);
    }
    if (changes.isEmpty())
        out.Line(QStringLiteral("  no field differs"));
    out.Root().insert(QStringLiteral("from"), SnapshotJson(a->Info));
    out.Root().insert(QStringLiteral("to"), SnapshotJson(b->Info));
    out.Root().insert(QStringLiteral("changes"), list);
    return TExit::Ok;
}

// Searches for the modules (every one that answers with --all) and reads them; each read is
// stored by the recorder.
TExit CmdBackup(TLanSession& session, const TInventoryRecorder& recorder, const QStringList& args,
                const TOptions& o, TOut& out) {
    std::vector<TFoundModule> found;
    TExit status = TExit::Ok;
    if (o.All) {
        found = session.Search(o.TimeoutMs);
    } else {
        std::vector<std::string> macs;
        for (const QString& a : args)
            macs.push_back(MacArg(a).toStdString());
        found = session.Find(macs, o.TimeoutMs);
        for (const std::string& mac : macs)
            if (std::none_of(found.begin(), found.end(),
                             [&](const TFoundModule& m) { return MacKey(m.Mac) == MacKey(mac); })) {
                out.Error(QStringLiteral("%1 did not answer the search").arg(Q(mac)));
                status = TExit::NoAnswer;
            }
    }
    std::vector<TReadRequest> requests;
    std::vector<std::string> seen;
    for (const TFoundModule& m : found) {
        if (std::find(seen.begin(), seen.end(), MacKey(m.Mac)) != seen.end())
            continue; // one read per module, also when it answered on two addresses
        seen.push_back(MacKey(m.Mac));
        if (m.Family != FamilyZ2 && m.Family != FamilyZ3) {
            out.Error(
                QStringLiteral("%1 has incompatible firmware (%2); not read").arg(Q(m.Mac)).arg(m.Firmware));
            continue;
        }
        requests.push_back(TReadRequest{m, o.Login, o.TimeoutMs, o.Session.QuietMs});
    }
    const std::vector<TReadResult> reads = session.ReadMany(requests, o.Parallel);
    QJsonArray list;
    for (std::size_t i = 0; i < reads.size(); ++i) {
        const TFoundModule& m = requests[i].Module;
        QJsonObject x;
        x.insert(QStringLiteral("mac"), Q(m.Mac));
        if (reads[i].Status != TExit::Ok) {
            out.Error(QStringLiteral("%1: %2").arg(Q(m.Mac), reads[i].Error));
            status = Worse(status, reads[i].Status);
            x.insert(QStringLiteral("error"), reads[i].Error);
        } else if (const auto id = recorder.Stored(MacKey(m.Mac)); id && *id > 0) {
            out.Line(QStringLiteral("%1: snapshot %2").arg(Q(m.Mac)).arg(*id));
            x.insert(QStringLiteral("snapshot"), static_cast<double>(*id));
        } else if (id) {
            out.Line(QStringLiteral("%1: unchanged since its last snapshot").arg(Q(m.Mac)));
            x.insert(QStringLiteral("unchanged"), true);
        } else {
            status = Worse(status, TExit::Local);
            x.insert(QStringLiteral("error"), QStringLiteral("not stored"));
        }
        list.append(x);
    }
    out.Root().insert(QStringLiteral("modules"), list);
    if (found.empty()) {
        out.Error(QStringLiteral("no module answered"));
        return TExit::NoAnswer;
    }
    return status;
}

// The stored configuration to write back: by id, the last one at a time, or the newest.
std::optional<TSnapshot> RestoreSource(TInventory& inv, const QString& mac, const TOptions& o, TOut& out) {
    if (o.SnapshotId > 0)
        return SnapshotOfModule(inv, mac, o.SnapshotId, out);
    const auto s = inv.SnapshotAt(mac, o.At);
    if (!s) {
        Failed(out, s.Error());
        return std::nullopt;
    }
    if (!*s) {
        out.Error(o.At.isEmpty() ? QStringLiteral("no snapshot of %1").arg(mac)
                                 : QStringLiteral("no snapshot of %1 at or before %2").arg(mac, o.At));
        return std::nullopt;
    }
    return **s;
}

TExit CmdRestore(TLanSession& session, TInventory& inv, const QString& mac, const TOptions& o, TOut& out) {
    const auto snap = RestoreSource(inv, mac, o, out);
    if (!snap)
        return TExit::Usage;
    const auto profile = RestoreProfile(*snap);
    if (!profile)
        return Failed(out, profile.Error());
    const std::string target = o.To.empty() ? mac.toStdString() : o.To;
    out.Line(QStringLiteral("restoring snapshot %1 of %2 (%3) into %4")
                 .arg(snap->Info.Id)
                 .arg(mac, snap->Info.Time, Q(target)));
    out.Root().insert(QStringLiteral("snapshot"), SnapshotJson(snap->Info));
    const bool withMac = o.WithMac;
    TJob job{QString(), target,
             [p = *profile, withMac](const TModuleSettings& s, QStringList& notes) {
                 TRestoreSelection a = SelectRestore(p, s, withMac);
                 if (a.OtherFamily)
                     notes << QStringLiteral(
                                  "the snapshot is of a %1 module, this one is %2: only the fields "
                                  "both have are written")
                                  .arg(FamilyText(p.Family), FamilyText(s.Family));
                 notes << a.Skipped;
                 return a.Applied;
             },
             TPrepareMode::Lenient};
    return RunJobs(session, {job}, o, out);
}

} // namespace

void TInventoryRecorder::Watch(TLanSession& session) {
    TSessionObserver watch;
    watch.Searched = [this](const std::vector<TFoundModule>& found) {
        std::vector<TSeenModule> seen;
        seen.reserve(found.size());
        for (const TFoundModule& m : found)
            seen.push_back(Seen(m));
        if (const TStatus ok = inv_.RecordSearch(seen); !ok)
            Failed(ok.Error());
    };
    watch.Read = [this](const TFoundModule& m, const TReadResult& r) {
        const auto id = inv_.StoreSnapshot(Seen(m), QStringLiteral("lan"), TSnapshotBlocks{r.Store, r.Got});
        if (!id) {
            Failed(id.Error());
            return;
        }
        stored_[MacKey(m.Mac)] = id->value_or(0);
    };
    session.SetObserver(std::move(watch));
}

std::optional<qint64> TInventoryRecorder::Stored(const std::string& mac) const {
    const auto it = stored_.find(mac);
    return it == stored_.end() ? std::nullopt : std::optional<qint64>(it->second);
}

void TInventoryRecorder::Failed(const TError& e) {
    if (told_)
        return;
    told_ = true;
    out_.Error(QString::fromStdString(e.Message));
}

bool IsInventoryCommand(const QString& cmd) {
    return cmd == QLatin1String("inventory") || cmd == QLatin1String("backup") ||
           cmd == QLatin1String("snapshots") || cmd == QLatin1String("diff") ||
           cmd == QLatin1String("restore");
}

bool InventoryCommandNeedsLan(const QString& cmd) {
    return cmd == QLatin1String("backup") || cmd == QLatin1String("restore");
}

QString InventoryUsageProblem(const QString& cmd, const QStringList& args, const TOptions& o) {
    const auto macsOk = [&](const QStringList& list) {
        return std::all_of(list.begin(), list.end(), [](const QString& a) { return !MacArg(a).isEmpty(); });
    };
    if (cmd == QLatin1String("inventory"))
        return args.isEmpty() ? QString()
                              : QStringLiteral("inventory [--json] [--since DATE] [--firmware-below N] "
                                               "[--family z1|z2|z3]");
    if (cmd == QLatin1String("backup"))
        return (o.All ? args.isEmpty() : !args.isEmpty() && macsOk(args))
                   ? QString()
                   : QStringLiteral("backup MAC...|--all");
    if (cmd == QLatin1String("snapshots"))
        return args.size() == 1 && macsOk(args) ? QString() : QStringLiteral("snapshots MAC");
    if (cmd == QLatin1String("diff"))
        return !args.isEmpty() && args.size() <= 3 && macsOk(args.mid(0, 1))
                   ? QString()
                   : QStringLiteral("diff MAC [SNAP [SNAP]]");
    const bool ok = args.size() == 1 && macsOk(args) && !(o.SnapshotId > 0 && !o.At.isEmpty());
    return ok ? QString()
              : QStringLiteral(
                    "restore MAC [--snapshot ID | --at DATE] [--to NEW_MAC] [--with-mac] [--dry-run]");
}

TExit RunInventoryCommand(const QString& cmd, const QStringList& args, TInventory& inventory,
                          TLanSession* session, TInventoryRecorder* recorder, const TOptions& o, TOut& out) {
    if (cmd == QLatin1String("inventory"))
        return CmdInventory(inventory, o, out);
    if (cmd == QLatin1String("snapshots"))
        return CmdSnapshots(inventory, MacArg(args[0]), out);
    if (cmd == QLatin1String("diff"))
        return CmdDiff(inventory, MacArg(args[0]), args.mid(1), out);
    if (cmd == QLatin1String("backup"))
        return CmdBackup(*session, *recorder, args, o, out);
    return CmdRestore(*session, inventory, MacArg(args[0]), o, out);
}

QString InventoryTimeArg(const QString& text, bool endOfDay) {
    const QDate date = QDate::fromString(text, Qt::ISODate);
    QDateTime t;
    if (date.isValid() && text.size() == 10)
        t = endOfDay ? QDateTime(date, QTime(23, 59, 59, 999)) : QDateTime(date, QTime(0, 0));
    else
        t = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!t.isValid())
        return QString();
    return t.toUTC().toString(Qt::ISODateWithMs);
}

} // namespace varnix::cli
