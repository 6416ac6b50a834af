// varnix-cli's command list against what the dispatcher runs, its --help and its man page. The
// commands come from the dispatcher's own table (cli_help.h), so a command added there and left
// out of the help or the man page fails here, and so does a row the dispatcher does not run.
// Runs inside tests/netns-run (only lo): a command that got as far as its search sends nothing
// anywhere.
#include "cli/cli_help.h"
#include "cli/commands.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>

namespace varnix::cli {
namespace {

struct TRun {
    int Status = -1;
    QString Out, Err;
};

// Runs one command line in this process with stdout and stderr caught in files.
TRun RunCaught(const QStringList& args) {
    QTemporaryFile out, err;
    EXPECT_TRUE(out.open() && err.open());
    std::fflush(stdout);
    std::fflush(stderr);
    const int savedOut = ::dup(STDOUT_FILENO), savedErr = ::dup(STDERR_FILENO);
    ::dup2(out.handle(), STDOUT_FILENO);
    ::dup2(err.handle(), STDERR_FILENO);
    TRun r;
    r.Status = RunCli(args);
    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(savedOut, STDOUT_FILENO);
    ::dup2(savedErr, STDERR_FILENO);
    ::close(savedOut);
    ::close(savedErr);
    out.seek(0);
    err.seek(0);
    r.Out = QString::fromUtf8(out.readAll());
    r.Err = QString::fromUtf8(err.readAll());
    return r;
}

QList<QCommandLineOption> EveryOption() {
    return LanOptions() + SerialOptions() + UpgradeOptions() + RolloutOptions() + CaptureOptions();
}

// The man page's text with groff's escapes for '-' and fonts taken out.
QString ManPage() {
    QFile f(QStringLiteral(VARNIX_SOURCE_DIR "/data/man/varnix-cli.1.in"));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << "no man page";
    QString text = QString::fromUtf8(f.readAll());
    text.replace(QStringLiteral("\\-"), QStringLiteral("-"));
    text.remove(QRegularExpression(QStringLiteral("\\\\f[BIRP]")));
    return text;
}

TEST(CliHelp, EveryDispatchedCommandIsRunAndListed) {
    const TRun help = RunCaught({QStringLiteral("--help")});
    ASSERT_EQ(help.Status, 0) << help.Err.toStdString();
    const QStringList lines = help.Out.split(u'\n');
    EXPECT_EQ(
        lines.filter(QRegularExpression(QStringLiteral("^usage:"), QRegularExpression::CaseInsensitiveOption))
            .size(),
        1)
        << help.Out.toStdString();
    EXPECT_FALSE(help.Out.contains(QStringLiteral("See --help"), Qt::CaseInsensitive));
    // Help wins wherever it stands, also after a command with a parser of its own.
    EXPECT_EQ(RunCaught({QStringLiteral("rollout"), QStringLiteral("--help")}).Out, help.Out);

    for (const TCliCommand& c : CliCommands()) {
        const QString name = QLatin1String(c.Name);
        EXPECT_TRUE(lines.contains(
            QStringLiteral("  %1 %2").arg(QLatin1String(c.Synopsis), -32).arg(QLatin1String(c.Summary))))
            << "--help lacks " << c.Synopsis;
        // Surplus arguments: every command refuses them (or the MAC or file they make) before
        // it sends anything; what matters is that the dispatcher knew the name and ran it.
        const TRun r = RunCaught(
            {name, QStringLiteral("x:"), QStringLiteral("y:"), QStringLiteral("z:"), QStringLiteral("w:")});
        EXPECT_EQ(r.Status, 2) << c.Name << ": " << r.Err.toStdString();
        EXPECT_FALSE(r.Err.contains(QStringLiteral("unknown command"))) << c.Name;
        EXPECT_FALSE(r.Err.contains(QStringLiteral("not dispatched"))) << c.Name;
    }
    const TRun unknown = RunCaught({QStringLiteral("frobnicate")});
    EXPECT_EQ(unknown.Status, 2);
    EXPECT_TRUE(unknown.Err.contains(QStringLiteral("unknown command 'frobnicate'")))
        << unknown.Err.toStdString();
    EXPECT_TRUE(unknown.Err.contains(QStringLiteral("--help"))) << "a usage error points to --help";

    for (const QCommandLineOption& o : EveryOption())
        for (const QString& n : o.names())
            EXPECT_TRUE(help.Out.contains((n.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + n))
                << "--help lacks " << n.toStdString();
}

TEST(CliHelp, ManPageDocumentsEveryCommandOptionAndStatus) {
    const QString man = ManPage();
    for (const TCliCommand& c : CliCommands()) {
        const QRegularExpression entry(
            QStringLiteral("^\\.(B|BI|BR) \"?%1\\b").arg(QRegularExpression::escape(QLatin1String(c.Name))),
            QRegularExpression::MultilineOption);
        EXPECT_TRUE(entry.match(man).hasMatch()) << "man page lacks the command " << c.Name;
    }
    for (const QCommandLineOption& o : EveryOption()) {
        for (const QString& n : o.names()) {
            if (n.size() > 1) {
                EXPECT_TRUE(man.contains(QStringLiteral("--") + n)) << "man page lacks --" << n.toStdString();
            }
        }
    }
    for (int status = 0; status <= 5; ++status)
        EXPECT_TRUE(man.contains(QStringLiteral("\n.B %1\n").arg(status))) << "exit status " << status;
    EXPECT_TRUE(man.contains(QStringLiteral("VARNIX_FACTORY_LOGIN")));
}

} // namespace
} // namespace varnix::cli

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
