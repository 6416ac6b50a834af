#pragma once
// Writing a stored configuration back, for the cli's restore and the window's "Restore
// configuration" and "Replace module": the snapshot's fields become a profile, and the catalogue
// picks, for the module that receives it, what that module's family shows and its save writes.
// The module's own MAC (UserMAC) is left as the module has it unless asked for: a configuration
// put into a replacement must not give it the failed module's MAC.

#include "core/result.h"
#include "inventory/inventory_db.h"
#include "model/profile.h"

#include <QList>
#include <QStringList>

#include <cstdint>

namespace varnix {

// The snapshot's fields as a profile; refused (with every problem) when a stored value no longer
// reads as its field (a damaged row).
TResult<TProfile> RestoreProfile(const TSnapshot& snapshot);

struct TRestoreSelection {
    QList<TAssignment> Applied; // what goes to the module, in field-table order
    QStringList Skipped;        // fields the module does not take, with the reason
    bool OtherFamily = false;   // the snapshot is of another family: only the shared fields go
};

// The assignments for the module that receives the configuration (`target`: its settings as read
// now). Identity fields (name, device number) are part of a configuration and go along.
TRestoreSelection SelectRestore(const TProfile& profile, const TModuleSettings& target, bool withMac);

} // namespace varnix
