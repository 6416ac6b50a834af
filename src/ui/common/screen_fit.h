#pragma once
// Keeping a window on its screen: after its size changed (a page mode, a longer language) or
// when it is shown, the window is moved so that its whole frame lies in the screen's available
// area, as far as it fits.

class QWidget;

namespace varnix {

void KeepOnScreen(QWidget* window);

// Shows a dialog application-modal in the middle of the primary screen, raised and active (the
// upgrade and rollout windows open this way, without a nested event loop).
void ShowCentredModal(QWidget* window);

} // namespace varnix
