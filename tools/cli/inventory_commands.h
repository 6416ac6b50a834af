#pragma once
// The fleet inventory from the shell: what every search and read recorded in varnix.db
// (inventory, snapshots, diff), new snapshots on demand (backup), and a stored configuration
// written back into a module or its replacement (restore), through the same save, verify and
// journal path as `set`.

#include "cli/cli_options.h"
#include "cli/cli_out.h"
#include "cli/exit_codes.h"
#include "engine/lan_session.h"
#include "inventory/inventory_db.h"

#include <QStringList>

#include <map>
#include <optional>
#include <string>

namespace varnix::cli {

// Records what a session sees: every search's replies in the modules table (one transaction per
// search), every successful read as a snapshot unless it equals the module's last one. A store
// that fails is reported once and the run goes on: the inventory is a record, not a step of the
// module work.
class TInventoryRecorder {
public:
    TInventoryRecorder(TInventory& inventory, TOut& out) : inv_(inventory), out_(out) {}
    void Watch(TLanSession& session);
    // The last read of the module (MacKey): the new snapshot's id, 0 when it equalled the last.
    std::optional<qint64> Stored(const std::string& mac) const;

private:
    void Failed(const TError& e);
    TInventory& inv_;
    TOut& out_;
    std::map<std::string, qint64> stored_;
    bool told_ = false;
};

bool IsInventoryCommand(const QString& cmd);
bool InventoryCommandNeedsLan(const QString& cmd); // backup, restore
// Checks the arguments of the command before anything binds a port; a usage line on failure.
QString InventoryUsageProblem(const QString& cmd, const QStringList& args, const TOptions& o);
// `session` is set for the commands that need the LAN, `recorder` watches it.
TExit RunInventoryCommand(const QString& cmd, const QStringList& args, TInventory& inventory,
                          TLanSession* session, TInventoryRecorder* recorder, const TOptions& o, TOut& out);

// "2026-12-09" or "2026-12-09T14:30[:05[.123]]" in local time, or with "Z" or an offset; a date
// alone is its first moment, or with `endOfDay` its last. The stored (UTC) form, or empty.
QString InventoryTimeArg(const QString& text, bool endOfDay);

} // namespace varnix::cli
