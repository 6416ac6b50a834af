#pragma once
// varnix-cli upgrade MAC FILE --target IP [--local ADDR] [--json]: loads a firmware image into
// one module over the LAN with the same run as the upgrade window.

#include "core/capture_sink.h"

#include <QStringList>

namespace varnix::cli {

// Arguments after "upgrade"; returns the exit status. Needs a QCoreApplication.
int RunUpgrade(const QStringList& args, capture::ICaptureSink* capture = nullptr);

} // namespace varnix::cli
