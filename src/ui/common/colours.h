#pragma once
// The colours of the panes and labels, shared by every window.

#include <QColor>

class QLabel;
class QWidget;

namespace varnix {

inline const QColor kColourRed{0xFF, 0x00, 0x00};    // errors
inline const QColor kColourGreen{0x00, 0x80, 0x00};  // success, received traffic
inline const QColor kColourBlue{0x00, 0x00, 0xFF};   // sent traffic
inline const QColor kColourMaroon{0x80, 0x00, 0x00}; // tab hints
inline const QColor kColourSilver{0xC0, 0xC0, 0xC0}; // label of a field a rule disabled

// Colours that read on the current palette (see core/contrast.h). On a light background the
// program's own colours above stay as they are; on a dark one a colour is lightened, keeping its
// hue, until it reaches 4.5:1 against the background.
bool IsLight(const QColor& background);
QColor PaneColour(const QColor& colour, const QColor& background);
// `text` itself, or moved towards black or white until it reads on `background` (4.5:1).
QColor ReadableText(const QColor& text, const QColor& background);
// `from` moved by `share` (0..1) towards `to`.
QColor Blend(const QColor& from, const QColor& to, double share);

// The system window-text colour (plain lines, labels of enabled fields).
QColor WindowTextColour();

// A label of a field a dependency rule enables or disables: window text or silver.
void SetLabelEnabledColour(QLabel* label, bool enabled);

} // namespace varnix
