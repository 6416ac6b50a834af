#include "cli/rollout_command.h"

#include "cli/cli_help.h"

#include "app/app_paths.h"
#include "app/quit_signals.h"
#include "cli/cli_out.h"
#include "core/convert.h"
#include "core/file_read.h"
#include "engine/event_wait.h"
#include "engine/lan_session.h"
#include "lang/text_codec.h"
#include "model/fields.h"
#include "upgrade/rollout_job.h"
#include "upgrade/upgrade_endpoint.h"
#include "upgrade/upgrade_readiness.h"

#include <QCommandLineParser>
#include <QFile>
#include <QJsonArray>
#include <QProcessEnvironment>
#include <QTimer>

#include <unistd.h>

#include <cstdio>

namespace varnix::cli {

namespace {

constexpr char RolloutUsage[] =
    "rollout FILE (MAC... | --all) [--interface ADDR] [--parallel N] [--canary K] [--expect-firmware N] "
    "[--pool FIRST-LAST] [--factory-login USER:PASS] [--keep-config | --no-keep-config] [--json]";
constexpr char DefaultLogin[] = "vesta";
constexpr int RedrawMs = 200;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QString RowLine(const TRolloutModule& r) {
    QString stage = StageName(r.Stage);
    if (r.Stage == TRolloutStage::Upgrade && r.Outcome == TRolloutOutcome::Running)
        stage += QStringLiteral(" %1%").arg(r.Percent, 3);
    return QStringLiteral("%1  %2 %3 %4%5")
        .arg(Q(r.Mac), -17)
        .arg(OutcomeName(r.Outcome), -11)
        .arg(stage, -12)
        .arg(r.Detail, r.Canary ? QStringLiteral(" [canary]") : QString());
}

QJsonObject RowJson(const TRolloutModule& r) {
    QJsonObject o;
    o.insert(QStringLiteral("mac"), Q(r.Mac));
    o.insert(QStringLiteral("outcome"), OutcomeName(r.Outcome));
    o.insert(QStringLiteral("stage"), StageName(r.Stage));
    o.insert(QStringLiteral("firmwareBefore"),
             r.FirmwareBefore ? QJsonValue(r.FirmwareBefore) : QJsonValue());
    o.insert(QStringLiteral("firmwareAfter"), r.FirmwareAfter ? QJsonValue(r.FirmwareAfter) : QJsonValue());
    o.insert(QStringLiteral("ip"), Q(r.Ip));
    if (!r.Target.empty())
        o.insert(QStringLiteral("transferAddress"), Q(r.Target));
    QJsonArray unrestored;
    for (const TUnrestoredField& u : r.Unrestored) {
        QJsonObject x;
        x.insert(QStringLiteral("field"), u.Field);
        x.insert(QStringLiteral("value"), u.Value);
        x.insert(QStringLiteral("reason"), u.Reason);
        unrestored.append(x);
    }
    o.insert(QStringLiteral("unrestored"), unrestored);
    o.insert(QStringLiteral("canary"), r.Canary);
    o.insert(QStringLiteral("resumed"), r.Resumed);
    o.insert(QStringLiteral("detail"), r.Detail);
    return o;
}

// One line per module. On a terminal the lines are redrawn in place as the modules move on;
// otherwise a module's line is written each time its stage or outcome changes.
class TProgress {
public:
    TProgress(const TRolloutJob& job, bool live, bool quiet) : job_(job), live_(live), quiet_(quiet) {
        // At most five redraws a second, and none while nothing changed.
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (dirty_)
                Redraw();
        });
        if (live_ && !quiet_)
            timer_.start(RedrawMs);
    }
    void Changed(int row) {
        if (quiet_)
            return;
        if (live_) {
            dirty_ = true;
            return;
        }
        const TRolloutModule& r = job_.Modules()[static_cast<std::size_t>(row)];
        const QString key = OutcomeName(r.Outcome) + StageName(r.Stage);
        if (shown_.size() <= static_cast<std::size_t>(row))
            shown_.resize(static_cast<std::size_t>(row) + 1);
        if (shown_[static_cast<std::size_t>(row)] == key)
            return;
        shown_[static_cast<std::size_t>(row)] = key;
        Print(RowLine(r));
    }
    void Redraw() {
        if (quiet_ || !live_)
            return;
        dirty_ = false;
        std::string text;
        if (drawn_ > 0)
            text += "\x1b[" + std::to_string(drawn_) + "F"; // back to the first line drawn
        for (const TRolloutModule& r : job_.Modules())
            text += "\x1b[2K" + EscapeForTerminal(RowLine(r), false).toStdString() + "\n";
        drawn_ = static_cast<int>(job_.Modules().size());
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
    }
    // A line above the table (a log line), the table drawn again below it.
    void Note(const QString& line) {
        if (quiet_)
            return;
        if (live_ && drawn_ > 0) {
            std::fprintf(stdout, "\x1b[%dF\x1b[J", drawn_);
            drawn_ = 0;
        }
        Print(line);
        Redraw();
    }

private:
    static void Print(const QString& line) {
        std::fputs((EscapeForTerminal(line, false) + u'\n').toUtf8().constData(), stdout);
        std::fflush(stdout);
    }
    const TRolloutJob& job_;
    bool live_, quiet_;
    int drawn_ = 0;
    bool dirty_ = false;
    QTimer timer_;
    std::vector<QString> shown_;
};

std::optional<int> ParseCount(const QString& text, int lo, int hi) {
    bool ok = false;
    const int v = text.toInt(&ok);
    return ok && v >= lo && v <= hi ? std::optional<int>(v) : std::nullopt;
}

std::optional<int> ParseMs(const QString& text) {
    bool ok = false;
    const double s = text.toDouble(&ok);
    return ok && s >= 0 && s <= 3600 ? std::optional<int>(static_cast<int>(s * 1000)) : std::nullopt;
}

} // namespace

int RunRollout(const QStringList& args, capture::ICaptureSink* capture) {
    QCommandLineParser parser;
    const QList<QCommandLineOption> options = RolloutOptions();
    const auto named = [&options](const char* name) -> const QCommandLineOption& {
        return NamedOption(options, name);
    };
    const QCommandLineOption &all = named("all"), &local = named("interface"), &parallel = named("parallel"),
                             &canary = named("canary"), &expect = named("expect-firmware"),
                             &pool = named("pool"), &factory = named("factory-login"),
                             &keep = named("keep-config"), &noKeep = named("no-keep-config"),
                             &user = named("user"), &password = named("password"),
                             &timeout = named("timeout"), &verifyTimeout = named("verify-timeout");
    parser.addOptions(options);
    TOut out(args.contains(QStringLiteral("--json")));
    const auto usage = [&](const QString& why) {
        out.Error(why);
        out.Error(QStringLiteral("usage: varnix-cli ") + QLatin1String(RolloutUsage));
        return out.Finish(TOutcome::Usage);
    };
    if (!parser.parse(QStringList{QStringLiteral("rollout")} + args))
        return usage(parser.errorText());
    const QStringList pos = parser.positionalArguments();
    if (pos.isEmpty() || (pos.size() == 1) != parser.isSet(all))
        return usage(QStringLiteral("needs FILE and the modules' MACs, or FILE and --all"));
    if (parser.isSet(keep) && parser.isSet(noKeep))
        return usage(QStringLiteral("--keep-config and --no-keep-config exclude each other"));

    TRolloutOptions o;
    o.All = parser.isSet(all);
    o.KeepConfig = !parser.isSet(noKeep);
    const TFieldDef& macDef = *FindField(QStringLiteral("UserMAC"));
    for (const QString& m : pos.mid(1)) {
        const TResult<QJsonValue> v = ParseFieldText(macDef, m);
        if (!v)
            return usage(QStringLiteral("bad MAC '%1': %2").arg(m, Q(ErrorReason(v.Error()))));
        o.Macs.push_back(v->toString().toStdString());
    }
    if (parser.isSet(local)) {
        const auto a = ParseIPv4Text(parser.value(local).toStdString());
        if (!a)
            return usage(QStringLiteral("--interface: '%1' is not an IPv4 address").arg(parser.value(local)));
        o.LocalIP = IntToIPText(*a);
    }
    o.Parallel = 20;
    if (parser.isSet(parallel) && !(o.Parallel = ParseCount(parser.value(parallel), 1, 256).value_or(0)))
        return usage(QStringLiteral("--parallel: a number from 1 to 256"));
    if (parser.isSet(canary)) {
        const auto k = ParseCount(parser.value(canary), 0, 100000);
        if (!k)
            return usage(QStringLiteral("--canary: a number of modules"));
        o.Canary = *k;
    }
    if (parser.isSet(expect)) {
        const auto n = ParseCount(parser.value(expect), 0, 65535);
        if (!n)
            return usage(QStringLiteral("--expect-firmware: a firmware number 0..65535"));
        o.ExpectFirmware = *n;
    }
    if (parser.isSet(pool)) {
        auto range = ParseAddressRange(parser.value(pool).toStdString());
        if (!range)
            return usage(QStringLiteral("--pool: %1").arg(Q(range.Error().Message)));
        o.Pool = *range;
    }
    const auto env = QProcessEnvironment::systemEnvironment();
    const QString defaultLogin = QString::fromLatin1(DefaultLogin);
    o.Login = TLogin{
        DisplayToBytes(parser.isSet(user) ? parser.value(user)
                                          : env.value(QStringLiteral("VARNIX_USER"), defaultLogin)),
        DisplayToBytes(parser.isSet(password) ? parser.value(password)
                                              : env.value(QStringLiteral("VARNIX_PASSWORD"), defaultLogin))};
    // From the environment, the factory log-in stays off the command line (and out of ps).
    o.FactoryLogin = TLogin{DefaultLogin, DefaultLogin};
    if (parser.isSet(factory) || env.contains(QStringLiteral("VARNIX_FACTORY_LOGIN"))) {
        const auto l =
            ParseLoginPair(parser.isSet(factory) ? parser.value(factory)
                                                 : env.value(QStringLiteral("VARNIX_FACTORY_LOGIN")));
        if (!l)
            return usage(QStringLiteral("%1: USER:PASS (%2)")
                             .arg(parser.isSet(factory) ? QStringLiteral("--factory-login")
                                                        : QStringLiteral("VARNIX_FACTORY_LOGIN"),
                                  Q(l.Error().Message)));
        o.FactoryLogin = *l;
    }
    for (const auto* t : {&timeout, &verifyTimeout}) {
        if (!parser.isSet(*t))
            continue;
        const auto ms = ParseMs(parser.value(*t));
        if (!ms)
            return usage(QStringLiteral("--%1: a number of seconds (0..3600)").arg(t->names().front()));
        (t == &timeout ? o.TimeoutMs : o.RestartTimeoutMs) = *ms;
    }
    o.ReturnTimeoutMs = std::max(o.ReturnTimeoutMs, o.RestartTimeoutMs);

    // The image: a regular file of at most 64 MiB, its 4-byte signature first.
    auto image = ReadFirmwareImage(QFile::encodeName(pos[0]).toStdString());
    if (!image)
        return usage(QStringLiteral("cannot read %1").arg(Q(image.Error().Message)));
    if (image->size() < FirmwareSignatureSize)
        return usage(
            QStringLiteral("%1 is not a firmware image (shorter than its 4-byte signature)").arg(pos[0]));
    o.Image = std::make_shared<const TIdBytes>(image->begin(), image->end());
    o.ProgramDir = ResolveProgramDir();

    // Ports this PC cannot use stop the rollout before any module is touched. Without --local
    // only the permission is checked here (on every address): which address serves is known once
    // the modules have answered, and the job reports a port in use there in the same words.
    const TUpgradeHost host = SystemUpgradeHost(true);
    TUpgradeReadiness ready = CheckUpgradeReadiness(host, {}, o.LocalIP);
    if (o.LocalIP.empty())
        std::erase_if(ready.Findings,
                      [](const TReadyFinding& f) { return f.Problem != TReadyProblem::PortsDenied; });
    if (!ready.Ready()) {
        for (const QString& problem : ReadinessTexts(ready, host.ProgramPath, EnglishTableText))
            out.Error(problem);
        return out.Finish(TExit::Local);
    }

    TSessionOptions so;
    so.Interface = o.LocalIP;
    so.Capture = capture;
    TLanSession session(so);
    TUpgradeEndpoint link;
    link.SetCapture(capture);
    TRolloutJob job(session.Pool(), session.Clock(), link, o);
    TProgress progress(job, !out.Json() && ::isatty(STDOUT_FILENO) == 1, out.Json());
    job.OnModule = [&](int row) { progress.Changed(row); };
    job.OnRows = [&] { progress.Redraw(); };
    job.OnLog = [&](const QString& line) { progress.Note(line); };
    // The first Ctrl+C starts no new module; the handlers then go, so a second one ends the
    // program at once (every module in flight has its kept configuration in the journal).
    auto quit = std::make_unique<TQuitSignals>();
    QObject::connect(quit.get(), &TQuitSignals::Received, [&] {
        progress.Note(
            QStringLiteral("stopping: no new module starts; the ones in flight finish "
                           "(Ctrl+C again leaves them at once; their kept configuration is in the journal)"));
        job.Stop();
        quit.release()->deleteLater();
    });
    job.Start();
    WaitUntil([&] { return !job.Running(); }, -1);
    progress.Redraw();

    QJsonArray rows;
    int done = 0, skipped = 0;
    for (const TRolloutModule& r : job.Modules()) {
        rows.append(RowJson(r));
        done += r.Outcome == TRolloutOutcome::Done ? 1 : 0;
        skipped += r.Outcome == TRolloutOutcome::Skipped ? 1 : 0;
        // The job's own error is printed once below, not again for every module it kept back.
        if (r.Outcome == TRolloutOutcome::NotStarted && !job.Error().isEmpty() && r.Detail == job.Error())
            out.Error(QStringLiteral("%1: %2").arg(Q(r.Mac), OutcomeName(r.Outcome)));
        else if (r.Outcome == TRolloutOutcome::Failed || r.Outcome == TRolloutOutcome::NotStarted)
            out.Error(QStringLiteral("%1: %2 at %3: %4")
                          .arg(Q(r.Mac), OutcomeName(r.Outcome), StageName(r.Stage), r.Detail));
        for (const TUnrestoredField& u : r.Unrestored)
            out.Line(QStringLiteral("%1: %2 (kept %3) not written back: %4")
                         .arg(Q(r.Mac), u.Field, u.Value.toVariant().toString(), u.Reason));
    }
    if (!job.Error().isEmpty())
        out.Error(job.Error());
    out.Line(QStringLiteral("%1 of %2 module(s) done, %3 skipped")
                 .arg(done)
                 .arg(job.Modules().size())
                 .arg(skipped));
    out.Root().insert(QStringLiteral("modules"), rows);
    out.Root().insert(QStringLiteral("stopped"), job.Stopping());
    return out.Finish(job.Outcome());
}

} // namespace varnix::cli
