#pragma once
// The program's icon (data/icons/org.varnix.Varnix.svg) drawn with QPainter at whatever size and
// pixel ratio a window, a task bar or a dialog asks for: sharp at 2x without an image file to find
// or an SVG module to load at start-up.

#include <QIcon>

class QPainter;
class QRectF;

namespace varnix {

// The icon's shapes, scaled into `target` (a square fits them exactly).
void PaintAppIcon(QPainter& painter, const QRectF& target);

// A QIcon that paints PaintAppIcon on demand.
QIcon AppIcon();

} // namespace varnix
