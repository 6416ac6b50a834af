#pragma once
// varnix-cli rollout FILE (MAC... | --all) [options]: new firmware into many modules, each
// keeping its configuration (the engine's TRolloutJob), with a progress line per module.

#include "core/capture_sink.h"

#include <QStringList>

namespace varnix::cli {

// Arguments after "rollout"; returns the exit status. Needs a QCoreApplication.
int RunRollout(const QStringList& args, capture::ICaptureSink* capture = nullptr);

} // namespace varnix::cli
