#include "cli/save_run.h"

#include "cli/fleet_commands.h"
#include "cli/module_json.h"
#include "cli/module_lines.h"
#include "core/convert.h"
#include "engine/lan_session.h"
#include "lan/lan_protocol.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <map>

namespace varnix::cli {

namespace {

QString Hex(const TIdBytes& b) {
    return QString::fromStdString(BytesToHexDump(b)).trimmed();
}

QJsonObject ChangeJson(const TFieldChange& c) {
    QJsonObject o;
    o.insert(QStringLiteral("field"), c.Field->Name);
    o.insert(QStringLiteral("old"), c.Old);
    o.insert(QStringLiteral("new"), c.New);
    return o;
}

QString ChangeLine(const TFieldChange& c) {
    return QStringLiteral("%1: %2 -> %3")
        .arg(c.Field->Name, DisplayValue(*c.Field, c.Old), DisplayValue(*c.Field, c.New));
}

struct TJobRun {
    TJob Job;
    std::optional<TFoundModule> Found;
    std::optional<TReadResult> Read;
    TPreparedSave Save;
    QStringList Notes;
    TSaveReport Report;
    TExit Status = TExit::Ok;
    QString Outcome; // one word: verified, saved, unchanged, unverified, not-found, no-answer, ...
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
    case TExit::Password:
        return QStringLiteral("password");
    case TExit::ModuleError:
        return QStringLiteral("error");
    case TExit::Usage:
        return QStringLiteral("refused");
    default:
        return QStringLiteral("no-answer");
    }
}

// Each step's acknowledgement (by the order of the module's answers on its lane), one line each.
TExit CheckAcks(const TJobRun& j, TOut& out) {
    const TSaveReport& r = j.Report;
    for (std::size_t i = 0; i < r.Steps.size(); ++i) {
        const QString what = QStringLiteral("0x%1 %2")
                                 .arg(r.Steps[i].Code, 2, 16, QLatin1Char('0'))
                                 .arg(BlockNameOfCode(r.Steps[i].Code));
        if (i < r.AckOf.size() && r.AckOf[i])
            out.Line(QStringLiteral("  %1: %2").arg(what, AckResultText(*r.AckOf[i])));
        else
            out.Line(QStringLiteral("  %1: no acknowledgement").arg(what));
    }
    return r.Outcome();
}

void PrintPrepared(const TJobRun& j, const TOptions& o, TOut& out) {
    const TPreparedSave& p = j.Save;
    for (const QString& n : j.Notes)
        out.Line(QStringLiteral("  note: %1").arg(n));
    if (p.Nothing()) {
        out.Line(QStringLiteral("  no field changes; nothing to send"));
        return;
    }
    for (const TFieldChange& c : p.Changes)
        out.Line(QStringLiteral("  %1").arg(ChangeLine(c)));
    for (const TFieldChange& c : p.SideEffects)
        out.Line(QStringLiteral("  also %1 (written by the save's rules)").arg(ChangeLine(c)));
    for (const TSkippedBlock& s : p.Skipped)
        out.Line(QStringLiteral("  skips 0x%1 %2: %3")
                     .arg(s.Code, 2, 16, QLatin1Char('0'))
                     .arg(s.Block, s.Reason));
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
    if (!j.Job.Label.isEmpty())
        m.insert(QStringLiteral("source"), j.Job.Label);
    if (j.Found) {
        m.insert(QStringLiteral("module"), ModuleJson(*j.Found));
    }
    QJsonArray changes, side, skipped, datagrams, acks, notes;
    for (const TFieldChange& c : j.Save.Changes)
        changes.append(ChangeJson(c));
    for (const TFieldChange& c : j.Save.SideEffects)
        side.append(ChangeJson(c));
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
    for (const TSaveReport::TArrived& a : j.Report.Arrived)
        acks.append(AckJson(j.Report.CodeOf(a), a.Ack));
    for (const QString& n : j.Notes)
        notes.append(n);
    m.insert(QStringLiteral("changes"), changes);
    m.insert(QStringLiteral("sideEffects"), side);
    m.insert(QStringLiteral("skipped"), skipped);
    if (o.DryRun)
        m.insert(QStringLiteral("datagrams"), datagrams);
    m.insert(QStringLiteral("acks"), acks);
    m.insert(QStringLiteral("notes"), notes);
    if (!j.Verify.isEmpty())
        m.insert(QStringLiteral("verify"), j.Verify);
    m.insert(QStringLiteral("outcome"), j.Outcome);
    if (!j.Detail.isEmpty())
        m.insert(QStringLiteral("detail"), j.Detail);
    m.insert(QStringLiteral("exit"), ToInt(j.Status));
    return m;
}

// Searches for every saved module under the MAC it will answer with, reads it back with its new
// log-in (the old one if it has not restarted yet) and compares, until each one matches or its
// time is up.
void VerifyAll(TLanSession& session, const std::vector<TJobRun*>& pending, const TOptions& o) {
    std::vector<TVerifyItem> items;
    for (TJobRun* j : pending)
        items.push_back(TVerifyItem{
            j->Save.NewMac, j->Save.NewLogin, o.Login,
            [save = &j->Save](const TModuleSettings& read) { return CompareReadBack(*save, read); },
            j->SavedAtMs});
    const std::vector<TVerifyOutcome> results = session.Verify(
        std::move(items), TVerifyOptions{o.VerifyTimeoutMs, o.TimeoutMs, o.Session.QuietMs, o.Parallel});
    for (std::size_t k = 0; k < pending.size(); ++k) {
        TJobRun* j = pending[k];
        const TVerifyOutcome& v = results[k];
        if (v.Verified) {
            j->Outcome = QStringLiteral("verified");
            j->Detail = QStringLiteral("answers at %1; every field holds the value sent").arg(Q(v.Where.Ip));
            j->Verify.insert(QStringLiteral("verified"), true);
            j->Verify.insert(QStringLiteral("ip"), Q(v.Where.Ip));
            j->Verify.insert(QStringLiteral("afterMs"), static_cast<double>(v.AfterMs));
            continue;
        }
        j->Status = Worse(j->Status, TExit::NoAnswer);
        j->Outcome = QStringLiteral("unverified");
        j->Verify.insert(QStringLiteral("verified"), false);
        if (!v.Seen) {
            j->Detail = QStringLiteral("did not answer under %1 within %2 s after the save")
                            .arg(Q(j->Save.NewMac))
                            .arg(o.VerifyTimeoutMs / 1000.0);
            j->Verify.insert(QStringLiteral("reason"), j->Detail);
            continue;
        }
        QStringList parts;
        QJsonArray list;
        for (const TMismatch& m : v.Mismatches) {
            parts << QStringLiteral("%1 is %2, sent %3")
                         .arg(m.Field->Name, DisplayValue(*m.Field, m.Read), DisplayValue(*m.Field, m.Sent));
            QJsonObject x;
            x.insert(QStringLiteral("field"), m.Field->Name);
            x.insert(QStringLiteral("sent"), m.Sent);
            x.insert(QStringLiteral("read"), m.Read);
            list.append(x);
        }
        j->Detail = v.Mismatches.isEmpty()
                        ? QStringLiteral("answered the search but its read-back failed")
                        : QStringLiteral("read back: %1").arg(parts.join(QStringLiteral("; ")));
        j->Verify.insert(QStringLiteral("reason"), j->Detail);
        j->Verify.insert(QStringLiteral("mismatches"), list);
    }
}

QString OutcomeOfAcks(TExit acked) {
    return acked == TExit::Ok ? QStringLiteral("acknowledged") : OutcomeForExit(acked);
}

// Writes the modules side by side, each from a lane of its own (one after the other with
// --parallel 1); each one is journalled as soon as its save is over, so a run stopped midway leaves
// a record of every module it wrote.
void SaveAll(TLanSession& session, const std::vector<TJobRun*>& runs, const TOptions& o, TOut& out) {
    if (runs.size() > 1)
        out.Line(QStringLiteral("saving %1 modules, %2 at a time").arg(runs.size()).arg(o.Parallel));
    std::vector<TLanSession::TPlannedSave> saves;
    for (const TJobRun* r : runs)
        saves.push_back({*r->Found, r->Save.Plan});
    const auto reports =
        session.SaveMany(saves, o.Login, o.Parallel, o.TimeoutMs, [&](int i, const TSaveReport& report) {
            TJobRun& r = *runs[static_cast<std::size_t>(i)];
            r.SavedAtMs = session.Clock().NowMs();
            if (const QString e =
                    JournalSave(o.ProgramDir, *r.Found, r.Save, report, OutcomeOfAcks(report.Outcome()));
                !e.isEmpty()) {
                // The module is written but its entry is lost: undo cannot bring it back, so the
                // run does not end as a plain success.
                out.Error(e);
                r.Status = Worse(r.Status, TExit::Local);
            }
        });
    for (std::size_t i = 0; i < runs.size(); ++i) {
        runs[i]->Report = reports[i];
        runs[i]->Saved = true;
    }
}

} // namespace

TExit RunJobs(TLanSession& session, std::vector<TJob> jobs, const TOptions& o, TOut& out) {
    std::vector<TJobRun> runs;
    for (TJob& j : jobs)
        runs.push_back(TJobRun{std::move(j), {}, {}, {}, {}, {}, TExit::Ok, {}, {}, {}, 0, false});

    // 1. One search for all of them.
    std::vector<std::string> macs;
    for (const TJobRun& r : runs)
        macs.push_back(r.Job.Mac);
    const auto found = session.Find(macs, o.TimeoutMs);
    for (TJobRun& r : runs) {
        const auto it = std::find_if(found.begin(), found.end(), [&r](const TFoundModule& f) {
            return MacKey(f.Mac) == MacKey(r.Job.Mac);
        });
        if (it == found.end()) {
            Fail(r, TExit::NoAnswer, QStringLiteral("not-found"),
                 QStringLiteral("did not answer the search within %1 s").arg(o.TimeoutMs / 1000.0));
            continue;
        }
        r.Found = *it;
    }
    // 2. Read each (side by side), 3. prepare each save. Any refused value stops everything
    // before a write.
    bool refused = false;
    std::vector<TJobRun*> toRead;
    std::vector<TReadRequest> requests;
    for (TJobRun& r : runs) {
        if (!r.Found)
            continue;
        if (r.Found->Family != FamilyZ2 && r.Found->Family != FamilyZ3) {
            Fail(r, TExit::Usage, QStringLiteral("refused"),
                 QStringLiteral("incompatible firmware (%1); nothing is sent to it").arg(r.Found->Firmware));
            refused = true;
            continue;
        }
        toRead.push_back(&r);
        requests.push_back({*r.Found, o.Login, o.TimeoutMs, o.Session.QuietMs});
    }
    auto reads = session.ReadMany(requests, o.Parallel);
    for (std::size_t i = 0; i < toRead.size(); ++i) {
        TJobRun& r = *toRead[i];
        r.Read = std::move(reads[i]);
        if (r.Read->Status != TExit::Ok) {
            const TExit status = r.Read->Status;
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
        out.Line(r.Found ? ModuleTitle(*r.Found)
                         : Q(r.Job.Mac) + (r.Job.Label.isEmpty() ? QString()
                                                                 : QStringLiteral(" (%1)").arg(r.Job.Label)));
        if (!r.Outcome.isEmpty()) {
            out.Line(QStringLiteral("  %1").arg(r.Detail));
            out.Error(QStringLiteral("%1%2: %3")
                          .arg(Q(r.Job.Mac),
                               r.Job.Label.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(r.Job.Label),
                               r.Detail));
            continue;
        }
        PrintPrepared(r, o, out);
    }
    const auto finish = [&]() {
        TExit worst = TExit::Ok;
        QJsonArray list;
        out.Line();
        for (TJobRun& r : runs) {
            if (r.Outcome.isEmpty())
                r.Outcome = o.DryRun ? QStringLiteral("dry-run") : QStringLiteral("acknowledged");
            worst = Worse(worst, r.Status);
            out.Line(QStringLiteral("%1: %2%3")
                         .arg(Q(r.Job.Mac), r.Outcome,
                              r.Detail.isEmpty() ? QString() : QStringLiteral(" - ") + r.Detail));
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
    if (o.DryRun)
        return finish();

    // 5. Save each module that has something to change, side by side (--parallel 1: one after
    // the other).
    std::vector<TJobRun*> toVerify, toSave;
    for (TJobRun& r : runs) {
        if (!r.Outcome.isEmpty() || !r.Save.Ok)
            continue;
        if (r.Save.Nothing() && RestartPending(*r.Found, r.Read->Settings)) {
            out.Line(
                QStringLiteral(
                    "%1: holds settings it does not run with yet (a save without its restart); saving again")
                    .arg(Q(r.Found->Mac)));
        } else if (r.Save.Nothing()) {
            r.Outcome = QStringLiteral("unchanged");
            r.Detail = QStringLiteral("every field already holds the value given; nothing sent");
            continue;
        }
        toSave.push_back(&r);
    }
    SaveAll(session, toSave, o, out);
    for (TJobRun* p : toSave) {
        TJobRun& r = *p;
        out.Line(QStringLiteral("%1 acknowledgements:").arg(Q(r.Found->Mac)));
        const TExit acked = CheckAcks(r, out);
        r.Status = Worse(r.Status, acked);
        if (acked == TExit::Password || acked == TExit::ModuleError) {
            r.Outcome = OutcomeForExit(acked);
            r.Detail = acked == TExit::Password ? QStringLiteral("the module refused the log-in")
                                                : QStringLiteral("the module reported an error");
            continue;
        }
        if (acked == TExit::NoAnswer)
            r.Detail = QStringLiteral("not every datagram was acknowledged");
        if (!o.NoVerify) {
            toVerify.push_back(&r);
        } else if (acked == TExit::Ok) {
            // Acknowledgements are the module's word only; a read-back is what proves a save.
            r.Outcome = QStringLiteral("acknowledged");
            r.Detail = QStringLiteral("not verified (--no-verify)");
        } else {
            r.Outcome = QStringLiteral("no-answer");
        }
    }
    // 6. Verify.
    if (!toVerify.empty()) {
        out.Line(QStringLiteral("verifying %1 module(s)").arg(toVerify.size()));
        VerifyAll(session, toVerify, o);
        for (TJobRun* r : toVerify)
            if (r->Outcome == QLatin1String("verified") && r->Status == TExit::NoAnswer)
                r->Detail += QStringLiteral(" (not every datagram was acknowledged)");
    }
    return finish();
}

} // namespace varnix::cli
