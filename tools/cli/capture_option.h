#pragma once
// The capture options every sub-command takes, wherever they stand on the command line:
//   --capture FILE          write every datagram and serial chunk of the run to FILE (pcapng)
//   --capture-keep-login    leave log-in passwords in the capture as they travelled
//   --capture-limit BYTES   stop the capture growing at this size (default 64 MiB)
// They are taken out of the arguments before the sub-command parses the rest.

#include "capture/capture.h"
#include "core/result.h"

#include <QStringList>

#include <memory>
#include <optional>

namespace varnix::cli {

struct TCaptureRequest {
    QString Path;
    capture::TCaptureOptions Options;
};

// Removes the capture options from args. No --capture: an empty optional (and the other two are
// refused, since they would do nothing). A missing or malformed value is an error.
TResult<std::optional<TCaptureRequest>> TakeCaptureOptions(QStringList& args);

// Runs `run` with the requested capture (or none), finishes the file and says on stderr where it
// is and whether it stopped at its limit. A file that cannot be created: a message and exit 5
// before anything is sent.
int RunWithCapture(QStringList args, int (*run)(const QStringList&, capture::ICaptureSink*));

} // namespace varnix::cli
