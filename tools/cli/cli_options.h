#pragma once
// The options of the LAN commands of varnix-cli, as the command line set them.

#include "cli/session.h"

#include <QString>

namespace varnix::cli {

struct TOptions {
    TSessionOptions Session;
    TLogin Login;
    int TimeoutMs = 2000;
    int VerifyTimeoutMs = 15000;
    bool DryRun = false;
    bool NoVerify = false;
    bool Yes = false;
    bool WithIdentity = false;
    bool Check = false; // search: health checks
    bool All = false;   // audit: every module that answers
    int Parallel = 8;   // set/apply/provision: modules saved side by side
    QString ProgramDir; // where the journal is written
};

} // namespace varnix::cli
