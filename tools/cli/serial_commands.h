#pragma once
// varnix-cli serial read|set: a module on a serial cable (CFG pin grounded), with the frames and
// the field names of the window and of the LAN commands.

#include "core/capture_sink.h"

#include <QStringList>

namespace varnix::cli {

// The arguments after "serial". Needs a QCoreApplication.
int RunSerialCli(const QStringList& args, capture::ICaptureSink* capture = nullptr);

} // namespace varnix::cli
