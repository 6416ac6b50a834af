#pragma once
// Exit status of varnix-cli: the number of the worst outcome of the run (a usage error is found
// before anything is sent).

#include "engine/outcome.h"

namespace varnix::cli {

using TExit = TOutcome;

} // namespace varnix::cli
