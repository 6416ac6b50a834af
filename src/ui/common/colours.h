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

// The system window-text colour (plain lines, labels of enabled fields).
QColor WindowTextColour();

// A label of a field a dependency rule enables or disables: window text or silver.
void SetLabelEnabledColour(QLabel* label, bool enabled);

} // namespace varnix
