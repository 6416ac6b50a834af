#pragma once
// The sub-commands of varnix-cli and their output (text for people, --json for programs).

#include "core/capture_sink.h"

#include <QStringList>

namespace varnix::cli {

// Runs one command line (arguments without the program name); returns the exit status.
// Needs a QCoreApplication.
int RunCli(const QStringList& args, capture::ICaptureSink* capture = nullptr);

} // namespace varnix::cli
