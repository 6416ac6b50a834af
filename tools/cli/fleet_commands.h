#pragma once
// The fleet side of varnix-cli: health checks after a search, the change journal (writing it after
// every save, listing it, undoing an entry) and the audit of modules against a golden profile.
// The command runner (commands.cpp) hands these its output and its save path through a context,
// so they share its options, its --json document and set's read, save and verify.

#include "cli/exit_codes.h"
#include "engine/lan_session.h"
#include "engine/save_prepare.h"
#include "model/fields.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <string>
#include <vector>

namespace varnix::cli {

struct TFleetContext {
    TLanSession* Session = nullptr; // null for commands that send nothing (journal)
    QString ProgramDir;             // where journal.jsonl lives
    TLogin Login;
    int TimeoutMs = 2000;
    bool All = false;                          // audit --all
    int Parallel = 1;                          // audit: modules read side by side
    std::function<void(const QString&)> Line;  // a line for people (nothing with --json)
    std::function<void(const QString&)> Error; // a problem: stderr and the --json errors list
    QJsonObject* Root = nullptr;               // the --json document
    // Reads, changes, saves and verifies one module exactly as `set MAC NAME=VALUE…` does.
    std::function<TExit(const std::string& mac, const QList<TAssignment>& list)> RunSet;
};

// journal, undo, audit (the Fleet rows of cli_help.h's table).
// Whether the command needs the LAN endpoint (undo, audit).
bool FleetCommandNeedsLan(const QString& cmd);
TExit RunFleetCommand(const QString& cmd, const QStringList& args, TFleetContext& ctx);

// search --check: the health checks over what answered, as lines and as the "checks" list.
// Returns the number of findings.
int ReportSearchChecks(TLanSession& session, const std::vector<TFoundModule>& found, TFleetContext& ctx);
// A search nobody answered: which local addresses were tried, and the likely causes.
void ReportEmptySearch(TLanSession& session, const std::string& destination, TFleetContext& ctx);

// Whether a module holds settings it does not run with: its stored static address or name differ
// from what it answers the search with. That is a save cut short before its closing restart
// (the blocks are written, the restart never came); such a module is saved again even when its
// stored values already are the ones asked for.
bool RestartPending(const TFoundModule& m, const TModuleSettings& s);

// Appends the journal line of one save; returns "" or why it could not be written.
QString JournalSave(const QString& programDir, const TFoundModule& m, const TPreparedSave& save,
                    const TSaveReport& report, const QString& outcome);

} // namespace varnix::cli
