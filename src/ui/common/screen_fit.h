#pragma once
// Keeping a window on its screen: after its size changed (a page mode, a longer language) or
// when it is shown, the window is moved so that its whole frame lies in the screen's available
// area, as far as it fits.

#include "core/result.h"

#include <QStringView>

class QWidget;

namespace varnix {

class TSettings;

void KeepOnScreen(QWidget* window);

// Shows a dialog application-modal, raised and active (the upgrade and rollout windows open this
// way, without a nested event loop): where the user last left it, or else in the middle of the
// primary screen.
void ShowCentredModal(QWidget* window);

// Every window remembers its size and place under its own *Geometry key. Restoring puts the window
// back (kept on this screen) and marks it as placed, so ShowCentredModal leaves it there; false
// when nothing usable was saved.
bool RestorePlace(QWidget* window, const TSettings& ini, QStringView key);
TStatus SavePlace(const QWidget* window, TSettings& ini, QStringView key);

} // namespace varnix
