#pragma once
// The options of the LAN commands of varnix-cli, as the command line set them.

#include "engine/lan_session.h"

#include <QString>

#include <cstdint>
#include <string>

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
    // set/apply/provision/audit: modules read, saved and verified side by side. A module's save is
    // mostly waiting (three 500 ms pauses and its restart) and a few datagrams, so a hundred at
    // once is light work for the PC and the LAN, and a plant's worth is done in one wave.
    int Parallel = 100;
    QString ProgramDir; // where the journal is written
    // inventory, restore: filters and the stored configuration to use.
    QString Since, At;             // stored (UTC) time texts
    int FirmwareBelow = 0;         // inventory --firmware-below
    std::int32_t FamilyFilter = 0; // inventory --family
    qint64 SnapshotId = 0;         // restore --snapshot
    std::string To;                // restore --to: the replacement's MAC
    bool WithMac = false;          // restore: also write UserMAC
};

} // namespace varnix::cli
