#pragma once
// Keeping a window on its screen: after its size changed (a page mode, a longer language) or
// when it is shown, the window is moved so that its whole frame lies in the screen's available
// area, as far as it fits.

class QWidget;

namespace varnix {

void KeepOnScreen(QWidget* window);

} // namespace varnix
