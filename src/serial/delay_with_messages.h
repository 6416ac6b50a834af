#pragma once
// A wait that keeps the caller's event loop running: received chunks, timers and clicks are
// handled while it lasts. A wait of 0 or less returns at once.

namespace varnix {

void DelayWithMessages(int ms);

} // namespace varnix
