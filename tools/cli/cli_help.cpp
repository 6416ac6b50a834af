#include "cli/cli_help.h"

#include <QStringList>

#include <algorithm>
#include <array>

namespace varnix::cli {

namespace {

using R = TCommandRoute;

constexpr std::array<TCliCommand, 21> Commands{{
    {"fields", R::Fields, "fields", "list the field names, their values and ranges"},
    {"search", R::Lan, "search [--check]",
     "list every module that answers (--check: duplicates and other problems)"},
    {"read", R::Lan, "read MAC", "print a module's parameters"},
    {"set", R::Lan, "set MAC NAME=VALUE...", "change fields and save (then verify)"},
    {"restart", R::Lan, "restart MAC", "restart a module"},
    {"reset", R::Lan, "reset MAC", "restore factory settings (asks; --yes)"},
    {"profile", R::Lan, "profile save MAC FILE", "write a module's settings as a JSON profile"},
    {"profile", R::Lan, "profile apply FILE MAC...", "apply a profile to modules (identity kept)"},
    {"provision", R::Lan, "provision FILE.csv", "give each module of a sheet its own values"},
    {"journal", R::Fleet, "journal [MAC]", "list the saves recorded in the journal (varnix.db)"},
    {"undo", R::Fleet, "undo ENTRY", "put back the old values of one journal entry"},
    {"audit", R::Fleet, "audit PROFILE (MAC...|--all)", "list the fields that differ from a profile"},
    {"inventory", R::Inventory, "inventory [--since DATE]",
     "every module ever seen (--firmware-below N, --family z1|z2|z3)"},
    {"backup", R::Inventory, "backup (MAC...|--all)", "read modules and store their configuration"},
    {"snapshots", R::Inventory, "snapshots MAC", "list a module's stored configurations"},
    {"diff", R::Inventory, "diff MAC [SNAP [SNAP]]", "fields that differ between two snapshots"},
    {"restore", R::Inventory, "restore MAC [--to NEW_MAC]",
     "write a stored configuration back (--snapshot ID, --at DATE, --with-mac, --dry-run)"},
    {"serial", R::Serial, "serial read PORT", "read a module on its configuration port"},
    {"serial", R::Serial, "serial set PORT NAME=VALUE...",
     "change fields over the serial line, then read back"},
    {"upgrade", R::Upgrade, "upgrade MAC FILE --target IP", "load a firmware image into one module"},
    {"rollout", R::Rollout, "rollout FILE (MAC...|--all)",
     "new firmware into many modules, each keeping its configuration"},
}};

QCommandLineOption Opt(const QStringList& names, const char* help, const char* value = nullptr) {
    return value ? QCommandLineOption(names, QString::fromLatin1(help), QString::fromLatin1(value))
                 : QCommandLineOption(names, QString::fromLatin1(help));
}
QCommandLineOption Opt(const char* name, const char* help, const char* value = nullptr) {
    return Opt(QStringList{QString::fromLatin1(name)}, help, value);
}

// The local address: the LAN commands and the window search and send from it, upgrade and
// rollout serve the image from it. --local is its older name.
QCommandLineOption InterfaceOption(const char* help) {
    return Opt(QStringList{QStringLiteral("interface"), QStringLiteral("local")}, help, "ADDR");
}

QString OptionLine(const QCommandLineOption& o) {
    QStringList names;
    for (const QString& n : o.names())
        names << (n.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + n;
    QString left = names.join(QStringLiteral(", "));
    if (!o.valueName().isEmpty())
        left.append(u' ').append(o.valueName());
    return left.size() < 30 ? QStringLiteral("  %1%2\n").arg(left, -30).arg(o.description())
                            : QStringLiteral("  %1\n  %2%3\n").arg(left, QString(30, u' '), o.description());
}

QString OptionBlock(const char* title, const QList<QCommandLineOption>& list) {
    QString text = QStringLiteral("\n%1\n").arg(QLatin1String(title));
    for (const QCommandLineOption& o : list)
        text += OptionLine(o);
    return text;
}

} // namespace

std::span<const TCliCommand> CliCommands() {
    return Commands;
}

const TCliCommand* FindCliCommand(const QString& name) {
    for (const TCliCommand& c : CliCommands())
        if (name == QLatin1String(c.Name))
            return &c;
    return nullptr;
}

QList<QCommandLineOption> LanOptions() {
    return {
        Opt(QStringList{QStringLiteral("h"), QStringLiteral("help")}, "Show this help."),
        Opt("version", "Show the version."),
        Opt("timeout", "Seconds to wait for answers (default 2).", "SECONDS"),
        Opt("verify-timeout", "Seconds a saved module has to come back (default 15).", "SECONDS"),
        Opt("no-verify", "Do not search and read back after a save."),
        Opt("dry-run", "Show the changes and datagrams; write nothing."),
        Opt("yes", "Do not ask before a factory reset."),
        Opt("with-identity", "profile apply: also set StaticIP, ModName and UserMAC."),
        Opt("user", "Log-in user name (VARNIX_USER; default vesta).", "NAME"),
        Opt("password", "Log-in password (VARNIX_PASSWORD; default vesta).", "TEXT"),
        Opt("broadcast", "Destination address of every datagram (default 255.255.255.255).", "ADDR"),
        InterfaceOption("Search and send from this local address only."),
        Opt("loopback", "Include loopback interfaces."),
        Opt("json", "Machine-readable output."),
        Opt("check", "search: report duplicate addresses, names and other problems."),
        Opt("all", "audit, backup: every module that answers."),
        Opt("since", "inventory: modules last seen on or after DATE (local time).", "DATE"),
        Opt("firmware-below", "inventory: modules with a firmware number below N.", "N"),
        Opt("family", "inventory: modules of one family (z1, z2, z3).", "FAMILY"),
        Opt("snapshot", "restore: the snapshot to write (default the newest).", "ID"),
        Opt("at", "restore: the newest snapshot at or before DATE (a date alone: its end, local time).",
            "DATE"),
        Opt("to", "restore: write into this module instead (a replacement).", "MAC"),
        Opt("with-mac", "restore: also write the stored UserMAC."),
        Opt("parallel",
            "Read, save and verify up to N modules side by side (default 100; 1 = one after the other).",
            "N"),
        Opt("home", "Program directory (holds varnix.db).", "DIR"),
    };
}

QList<QCommandLineOption> SerialOptions() {
    return {
        Opt("baud", "Line rate (default 9600).", "N"),
        Opt("family", "z1, z2 (default) or z3.", "F"),
        Opt("timeout", "Seconds to wait per reply (default 2).", "SECONDS"),
        Opt("dry-run", "Show the changes and frames; write nothing."),
        Opt("json", "Machine-readable output."),
        Opt("home", "Program directory (holds varnix.db).", "DIR"),
    };
}

QList<QCommandLineOption> UpgradeOptions() {
    return {
        Opt("target", "Address the module gets.", "IP"),
        InterfaceOption("Local address to serve from (default: this PC's address on IP's /24)."),
        Opt("json", "Machine-readable output."),
    };
}

QList<QCommandLineOption> RolloutOptions() {
    return {
        Opt("all", "Every module that answers."),
        InterfaceOption("Local address to serve from (default: the one the modules answer on)."),
        Opt("parallel", "Modules in flight (default 20).", "N"),
        Opt("canary", "Modules that go first; the rest only when all of them are verified.", "K"),
        Opt("expect-firmware", "Firmware number after the upgrade; modules at it are skipped.", "N"),
        Opt("pool", "Transfer addresses for modules outside the local /24.", "FIRST-LAST"),
        Opt("factory-login", "Log-in after a factory reset (VARNIX_FACTORY_LOGIN; default vesta:vesta).",
            "USER:PASS"),
        Opt("keep-config", "Keep each module's configuration (default)."),
        Opt("no-keep-config", "Do not keep it."),
        Opt("json", "JSON output."),
        Opt("user", "Log-in user name.", "NAME"),
        Opt("password", "Log-in password.", "TEXT"),
        Opt("timeout", "Seconds to wait for answers.", "SECONDS"),
        Opt("verify-timeout", "Seconds a module has to come back.", "SECONDS"),
        Opt("home", "Program directory (journal).", "DIR"),
    };
}

QList<QCommandLineOption> CaptureOptions() {
    return {
        Opt("capture", "Write every datagram and serial chunk of the run to FILE (pcapng).", "FILE"),
        Opt("capture-keep-login", "Leave log-in passwords in the capture (masked with * otherwise)."),
        Opt("capture-limit", "Stop the capture growing at this size (default 67108864).", "BYTES"),
    };
}

const QCommandLineOption& NamedOption(const QList<QCommandLineOption>& list, const char* name) {
    const QString wanted = QString::fromLatin1(name);
    const auto it = std::find_if(list.begin(), list.end(), [&wanted](const QCommandLineOption& o) {
        return o.names().contains(wanted);
    });
    Q_ASSERT(it != list.end());
    return *it;
}

int CommandIndex(const QStringList& args) {
    const QList<QCommandLineOption> options = LanOptions();
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--"))
            return i + 1 < args.size() ? i + 1 : -1;
        if (!a.startsWith(u'-') || a.size() == 1)
            return i;
        if (a.contains(u'='))
            continue;
        const QString name = a.mid(a.startsWith(QLatin1String("--")) ? 2 : 1);
        const bool takesValue =
            std::any_of(options.begin(), options.end(), [&name](const QCommandLineOption& o) {
                return o.names().contains(name) && !o.valueName().isEmpty();
            });
        if (takesValue)
            ++i;
    }
    return -1;
}

QString HelpText() {
    QString text = QStringLiteral("usage: varnix-cli COMMAND [arguments] [options]\n\n"
                                  "Finds, reads, changes, restarts, resets, provisions and upgrades VOR-Z "
                                  "modules.\n\nCommands:\n");
    for (const TCliCommand& c : Commands)
        text += QStringLiteral("  %1 %2\n").arg(QLatin1String(c.Synopsis), -32).arg(QLatin1String(c.Summary));
    text += OptionBlock("Options (fields, search, read, set, restart, reset, profile, provision, journal, "
                        "undo, audit):",
                        LanOptions());
    text += OptionBlock("Options of serial:", SerialOptions());
    text += OptionBlock("Options of upgrade:", UpgradeOptions());
    text += OptionBlock("Options of rollout:", RolloutOptions());
    text += OptionBlock("Options of every command:", CaptureOptions());
    text += QStringLiteral(
        "\nEnvironment: VARNIX_USER, VARNIX_PASSWORD (the log-in), VARNIX_FACTORY_LOGIN (rollout).\n"
        "Exit status (the worst of all modules): 0 done, 1 no answer or not verified, 2 usage error "
        "(nothing sent),\n3 wrong user name or password, 4 a module reported an error, 5 this PC could "
        "not use a port or\nwrite the journal.\n");
    return text;
}

const char* ShortUsage() {
    return "usage: varnix-cli COMMAND [arguments] [options]   (varnix-cli --help lists them)\n";
}

} // namespace varnix::cli
