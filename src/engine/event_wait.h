#pragma once
// The one blocking wait of the program, for varnix-cli only: runs the Qt event loop (datagrams,
// serial chunks and timers keep being handled) until `done` holds or the time is up. The window
// never waits: it starts a job and carries on when the job reports back.

#include <functional>

namespace varnix {

// Returns done() as it stands at the end. `done` is checked before the loop starts and after
// every event the loop handled; timeoutMs < 0 waits without a time limit.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);

} // namespace varnix
