#pragma once
// A rollout's record in the change journal: one entry per stage a module reaches, so its history
// (`varnix-cli journal MAC`) shows exactly where it stopped, and a rerun finds the configuration it
// kept before its upgrade. Every write goes through JournalRollout and every read through
// ReadRolloutHistory, so the journal's storage can change under these two alone.
//
// An entry has the link "rollout" and the event as its outcome; what the event carries travels as
// entries of its "changes" list:
//   kept       every field the module showed: {"field": "BaudRate", "old": 9600, "new": 9600}
//   restored,  each kept field that could not be written back: {"field", "old": kept value, "new": null}
//   done
//   any event  {"field": "firmware", "old": before, "new": after}, {"field": "image", "new": "<sha-256>"},
//              {"field": "stage", "new": "upgrade"}, {"field": "reason", "new": "..."}, {"field": "target",
//              ...}
// The lower-case names are not fields of the catalogue (those are capitalised).

#include "model/module_settings.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace varnix {

// The stages of one module's rollout, in order.
enum class TRolloutStage { Find, Keep, Upgrade, Return, Reset, Refind, Restore, Verify, Done };
QString StageName(TRolloutStage s); // "find", "keep", ...
std::optional<TRolloutStage> StageOfName(const QString& name);

struct TRolloutRecord {
    QString Event; // kept, upgraded, returned, reset, restored, done, failed, skipped
    std::string Mac, Ip, Name;
    std::int32_t Family = FamilyUnknown;
    std::optional<TRolloutStage> Stage; // the stage reached (failed, skipped)
    int FirmwareBefore = 0, FirmwareAfter = 0;
    QString Image;      // SHA-256 of the image, hex
    QString Reason;     // failed, skipped: why
    QString Target;     // upgraded: the address the transfer used
    QJsonObject Fields; // kept: field name -> value; restored: the fields not written back
    int Entry = 0;      // read back: the journal's entry number
};

// Appends the record; "" or why it could not be written. A kept configuration is flushed to the
// disk before this returns.
QString JournalRollout(const QString& programDir, const TRolloutRecord& record);

// What the journal says of one module.
struct TRolloutHistory {
    // The configuration kept before an upgrade whose rollout has not ended with "done" since.
    std::optional<TRolloutRecord> Kept;
    std::optional<TRolloutRecord> Done; // the last rollout that ended with "done"
};

// By MAC (MacKey form). Damaged lines are skipped with a warning in `warnings`.
std::map<std::string, TRolloutHistory> ReadRolloutHistory(const QString& programDir, QStringList* warnings);

// Every field `s` shows, with its value (the kept configuration); those a save does not write
// are kept too, so that a value the rollout could not bring back is reported.
QJsonObject KeptFields(const TModuleSettings& s);

} // namespace varnix
