#include "ui/common/colours.h"

#include "core/contrast.h"

#include <QApplication>
#include <QLabel>
#include <QPalette>

namespace varnix {

namespace {

TRgb Rgb(const QColor& c) {
    const QColor rgb = c.toRgb();
    return {static_cast<std::uint8_t>(rgb.red()), static_cast<std::uint8_t>(rgb.green()),
            static_cast<std::uint8_t>(rgb.blue())};
}

QColor Colour(TRgb c) {
    return QColor(c.R, c.G, c.B);
}

} // namespace

bool IsLight(const QColor& background) {
    return IsLightBackground(Rgb(background));
}

QColor PaneColour(const QColor& colour, const QColor& background) {
    if (!colour.isValid() || !background.isValid() || IsLight(background))
        return colour;
    return Colour(ReadableOn(Rgb(colour), Rgb(background)));
}

QColor ReadableText(const QColor& text, const QColor& background) {
    return Colour(ReadableOn(Rgb(text), Rgb(background)));
}

QColor Blend(const QColor& from, const QColor& to, double share) {
    const auto mix = [share](int a, int b) { return static_cast<int>(a + (b - a) * share + 0.5); };
    return QColor(mix(from.red(), to.red()), mix(from.green(), to.green()), mix(from.blue(), to.blue()));
}

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
