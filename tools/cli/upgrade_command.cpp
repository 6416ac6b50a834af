#include "cli/upgrade_command.h"

#include "cli/cli_help.h"
#include "cli/exit_codes.h"
#include "lan/health_checks.h"
#include "lan/local_addresses.h"
#include "upgrade/upgrade_readiness.h"
#include "upgrade/upgrade_runner.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace varnix::cli {

namespace {

constexpr char UpgradeUsage[] = "upgrade MAC FILE --target IP [--interface ADDR] [--json]";

void Err(const QString& text) {
    std::fputs((QStringLiteral("varnix-cli: ") + text + u'\n').toUtf8().constData(), stderr);
}

// The local address on the target's /24, from every interface (loopback too).
std::optional<QString> LocalFor(const QString& target) {
    const auto t = ParseIPv4(target.toStdString());
    std::vector<std::string> list;
    GetLocalIPList(list, true);
    for (const std::string& a : list) {
        const auto l = ParseIPv4(a);
        if (t && l && *l != *t && (*l & 0xFFFFFF00U) == (*t & 0xFFFFFF00U))
            return QString::fromStdString(a);
    }
    return std::nullopt;
}

class TProgressLine {
public:
    explicit TProgressLine(bool enabled) : enabled_(enabled) {}
    void Show(int percent) {
        if (!enabled_ || percent == shown_)
            return;
        shown_ = percent;
        const int filled = percent * 40 / 100;
        std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(static_cast<std::size_t>(filled), '#').c_str(),
                     std::string(static_cast<std::size_t>(40 - filled), ' ').c_str(), percent);
        std::fflush(stderr);
        open_ = true;
    }
    void End() {
        if (open_)
            std::fputc('\n', stderr);
        open_ = false;
    }

private:
    bool enabled_;
    bool open_ = false;
    int shown_ = -1;
};

} // namespace

int RunUpgrade(const QStringList& args, capture::ICaptureSink* capture) {
    QCommandLineParser parser;
    const QList<QCommandLineOption> options = UpgradeOptions();
    const QCommandLineOption &target = NamedOption(options, "target"),
                             &local = NamedOption(options, "interface");
    parser.addOptions(options);
    const bool asJson = args.contains(QStringLiteral("--json"));
    QJsonObject root;
    const auto finish = [&](TExit e) {
        if (asJson) {
            root.insert(QStringLiteral("exit"), ToInt(e));
            std::fputs(QJsonDocument(root).toJson(QJsonDocument::Indented).constData(), stdout);
        }
        std::fflush(stdout);
        return ToInt(e);
    };
    const auto usage = [&](const QString& why) {
        Err(why);
        Err(QStringLiteral("usage: varnix-cli ") + QLatin1String(UpgradeUsage));
        root.insert(QStringLiteral("result"), QStringLiteral("usage"));
        root.insert(QStringLiteral("message"), why);
        return finish(TExit::Usage);
    };
    if (!parser.parse(QStringList{QStringLiteral("upgrade")} + args))
        return usage(parser.errorText());
    const QStringList pos = parser.positionalArguments();
    if (pos.size() != 2 || !parser.isSet(target))
        return usage(QStringLiteral("needs MAC, FILE and --target"));
    const QString targetIP = parser.value(target);
    if (!ParseIPv4(targetIP.toStdString()))
        return usage(QStringLiteral("--target: '%1' is not an IPv4 address").arg(targetIP));
    QString localIP;
    if (parser.isSet(local)) {
        localIP = parser.value(local);
    } else if (auto l = LocalFor(targetIP)) {
        localIP = *l;
    } else {
        return usage(QStringLiteral("no local address on %1's network; give --interface").arg(targetIP));
    }

    root.insert(QStringLiteral("mac"), pos[0]);
    root.insert(QStringLiteral("target"), targetIP);
    root.insert(QStringLiteral("local"), localIP);
    root.insert(QStringLiteral("file"), pos[1]);
    // Whether this PC can serve the run at all, each problem once with what to do about it.
    const TUpgradeHost host = SystemUpgradeHost(true);
    const TUpgradeReadiness ready =
        CheckUpgradeReadiness(host, targetIP.toStdString(), localIP.toStdString());
    if (!ready.Ready()) {
        const QStringList problems = ReadinessTexts(ready, host.ProgramPath, EnglishTableText);
        for (const QString& p : problems)
            Err(p);
        // A port this PC cannot use is a local failure; an address that cannot serve the module is
        // refused as the run itself would refuse it.
        const bool portProblem = std::any_of(ready.Findings.begin(), ready.Findings.end(),
                                             [](const TReadyFinding& f) { return !f.Ports.empty(); });
        root.insert(QStringLiteral("result"),
                    portProblem ? QStringLiteral("failed") : QStringLiteral("refused"));
        root.insert(QStringLiteral("message"), problems.join(u' '));
        root.insert(QStringLiteral("problems"), QJsonArray::fromStringList(problems));
        return finish(portProblem ? TExit::Local : TExit::Usage);
    }

    TUpgradeStart start;
    start.TargetIP = targetIP.toStdString();
    start.TargetMAC = pos[0].toStdString();
    start.LocalIP = localIP.toStdString();
    start.FileName = pos[1].toStdString();
    ReadFirmwareFile(pos[1], start, EnglishTableText);
    if (start.Image)
        root.insert(QStringLiteral("bytes"), static_cast<qint64>(start.Image->size()));

    TUpgradeRunner runner(EnglishTableText);
    runner.SetCapture(capture);
    QEventLoop loop;
    TProgressLine bar(!asJson && ::isatty(STDERR_FILENO) == 1);
    QString status, result = QStringLiteral("failed");
    TExit exit = TExit::NoAnswer;
    bool ended = false;
    QObject::connect(&runner, &TUpgradeRunner::Output, &loop, [&](const TUpgradeOutput& out) {
        if (out.Progress && !out.Ended)
            bar.Show(*out.Progress);
        const bool refused = !ended && runner.Session().phase() == TUpgradeSession::Phase::Idle;
        if (out.LabelKey) {
            const QString text = (EnglishTableText(QString::fromStdString(*out.LabelKey)) +
                                  QString::fromStdString(out.LabelSuffix));
            // A run that ends without success is told once, on stderr, when the command ends.
            const bool failing = (out.Ended && !out.Succeeded) || refused;
            if (text != status && !failing && !out.LabelKey->ends_with("UpProgress")) {
                bar.End();
                if (!asJson && !failing)
                    std::printf("%s\n", text.toUtf8().constData());
            }
            status = text;
        }
        if (out.MessageKey)
            status = EnglishTableText(QString::fromStdString(*out.MessageKey));
        if (!out.Ended && !refused)
            return;
        ended = true;
        const std::string key = out.LabelKey.value_or(std::string());
        if (out.Succeeded) {
            result = QStringLiteral("success"), exit = TExit::Ok;
        } else if (key == "lang_Hint_UpTimeOut") {
            result = QStringLiteral("timeout"), exit = TExit::NoAnswer;
        } else if (key == "lang_Hint_BinNotMatch") {
            result = QStringLiteral("mismatch"), exit = TExit::ModuleError;
        } else if (refused) {
            result = QStringLiteral("refused"), exit = TExit::Usage;
        } else {
            result = QStringLiteral("failed"), exit = TExit::Local;
        }
        loop.quit();
    });
    QElapsedTimer clock;
    clock.start();
    runner.Start(std::move(start));
    if (!ended)
        loop.exec();
    bar.End();
    root.insert(QStringLiteral("result"), result);
    root.insert(QStringLiteral("message"), status);
    root.insert(QStringLiteral("blocks"), static_cast<qint64>(runner.Session().currentBlock()));
    root.insert(QStringLiteral("resends"), std::max(0, runner.Session().retryCount()));
    // Datagrams that looked like the run's but came from elsewhere (another MAC, port or phase).
    root.insert(QStringLiteral("ignored"), runner.Session().ignored());
    root.insert(QStringLiteral("seconds"), static_cast<double>(clock.elapsed()) / 1000.0);
    if (exit != TExit::Ok)
        Err(status);
    // Not one block went out: the module's boot or read request never arrived. A host firewall
    // with a default-drop input policy drops both (they are new datagrams to ports 67 and 69).
    if (result == QLatin1String("timeout") && runner.Session().currentBlock() == 0) {
        const QString hint =
            QStringLiteral("no request of the module arrived; if this PC runs a firewall, "
                           "allow the upgrade's ports (firewalld: %1; ufw: %2)")
                .arg(QLatin1String(FirewalldUpgradeCommand), QLatin1String(UfwUpgradeCommand));
        Err(hint);
        root.insert(QStringLiteral("hint"), hint);
    }
    if (exit == TExit::Usage && !asJson && status.isEmpty())
        Err(QStringLiteral("refused"));
    return finish(exit);
}

} // namespace varnix::cli
