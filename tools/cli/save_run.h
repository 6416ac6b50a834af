#pragma once
// Saving new values into modules for set, profile apply and provision: one search for all of
// them, a read and a prepared save each, the writes (one after the other or side by side), the
// acknowledgements checked step by step, then a read-back until each module holds what was sent.
// Text lines go to the output as the run goes; the --json "modules" list is filled at the end.

#include "cli/cli_options.h"
#include "cli/cli_out.h"
#include "cli/exit_codes.h"
#include "engine/save_prepare.h"
#include "model/fields.h"
#include "model/module_settings.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <string>
#include <vector>

namespace varnix::cli {

// One module to save.
struct TJob {
    QString Label; // "row at line 3", "" for set
    std::string Mac;
    // The assignments for this module, chosen once its settings are known; notes go to the output.
    std::function<QList<TAssignment>(const TModuleSettings&, QStringList& notes)> Select;
    TPrepareMode Mode = TPrepareMode::Strict;
};

// Runs every job; returns the worst exit status over them.
TExit RunJobs(TLanSession& session, std::vector<TJob> jobs, const TOptions& o, TOut& out);

} // namespace varnix::cli
