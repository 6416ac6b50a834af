#pragma once
// The sub-commands of varnix-cli and their options, in one place: the dispatcher (commands.cpp)
// routes by this table, each command's parser takes its options from here, and --help is made
// from both, so a command or an option cannot exist without being listed.

#include <QCommandLineOption>
#include <QList>
#include <QString>

#include <span>

namespace varnix::cli {

// Which code runs a command (and which options it takes).
enum class TCommandRoute {
    Fields,    // no module work
    Lan,       // search, read, set, restart, reset, profile, provision
    Fleet,     // journal, undo, audit (fleet_commands.cpp)
    Inventory, // inventory, backup, snapshots, diff, restore (inventory_commands.cpp)
    Serial,    // its own parser (serial_commands.cpp)
    Upgrade,   // its own parser (upgrade_command.cpp)
    Rollout,   // its own parser (rollout_command.cpp)
};

// One line of the command list; a command with two forms (profile save / apply) has two rows.
struct TCliCommand {
    const char* Name;
    TCommandRoute Route;
    const char* Synopsis; // after "varnix-cli "
    const char* Summary;
};

std::span<const TCliCommand> CliCommands();
// The first row of that name, or null: not a command.
const TCliCommand* FindCliCommand(const QString& name);

// The options each parser takes. The LAN list serves Fields, Lan and Fleet.
QList<QCommandLineOption> LanOptions();
QList<QCommandLineOption> SerialOptions();
QList<QCommandLineOption> UpgradeOptions();
QList<QCommandLineOption> RolloutOptions();
// --capture and its companions: every command takes them (capture_option.h takes them out first).
QList<QCommandLineOption> CaptureOptions();
// The option of `list` that answers to `name` (any of its names); the list must hold it.
const QCommandLineOption& NamedOption(const QList<QCommandLineOption>& list, const char* name);

// Where the command's name stands in a command line: the first argument that is neither an
// option (of LanOptions) nor the value of one; -1 when there is none.
int CommandIndex(const QStringList& args);

// varnix-cli --help: one usage line, every command, every option of every parser, the
// environment and the exit statuses.
QString HelpText();
// The one usage line, with a pointer to --help (for a usage error).
const char* ShortUsage();

} // namespace varnix::cli
