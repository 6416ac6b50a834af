#pragma once
// The question asked before a command that changes modules (a factory reset, a rollout, a
// restore), naming each module so that the technician sees what is about to change. No widgets.

#include <QString>
#include <vector>

namespace varnix {

// One module as the question names it.
struct TModuleLine {
    QString IP, Name, Mac;
};

// `question` with its "%1" replaced by one line per module ("IP  Name  MAC"). At most MaxListed
// modules are named; `more` (with "%1" = how many are left out) closes a longer list.
inline constexpr int MaxListed = 20;
QString ConfirmText(const QString& question, const QString& more, const std::vector<TModuleLine>& modules);

} // namespace varnix
