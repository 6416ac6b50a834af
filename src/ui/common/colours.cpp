#include "ui/common/colours.h"

#include <QApplication>
#include <QLabel>
#include <QPalette>

namespace varnix {

QColor WindowTextColour() {
    return QApplication::palette().color(QPalette::WindowText);
}

void SetLabelEnabledColour(QLabel* label, bool enabled) {
    if (label == nullptr)
        return;
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, enabled ? WindowTextColour() : kColourSilver);
    label->setPalette(pal);
}

} // namespace varnix
