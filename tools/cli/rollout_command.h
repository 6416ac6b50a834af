#pragma once
// varnix-cli rollout FILE (MAC... | --all) [options]: new firmware into many modules, each
// keeping its configuration (the engine's TRolloutJob), with a progress line per module.

#include <QStringList>

namespace varnix::cli {

// Arguments after "rollout"; returns the exit status. Needs a QCoreApplication.
int RunRollout(const QStringList& args);

} // namespace varnix::cli
