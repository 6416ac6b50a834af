#include "core/contrast.h"

#include <cmath>

namespace varnix {

namespace {

double Linear(std::uint8_t channel) {
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

std::uint8_t Mix(std::uint8_t from, std::uint8_t to, double t) {
    return static_cast<std::uint8_t>(std::lround(from + (to - from) * t));
}

TRgb Mix(TRgb from, TRgb to, double t) {
    return {Mix(from.R, to.R, t), Mix(from.G, to.G, t), Mix(from.B, to.B, t)};
}

} // namespace

double RelativeLuminance(TRgb c) {
    return 0.2126 * Linear(c.R) + 0.7152 * Linear(c.G) + 0.0722 * Linear(c.B);
}

double ContrastRatio(TRgb a, TRgb b) {
    const double la = RelativeLuminance(a);
    const double lb = RelativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

bool IsLightBackground(TRgb background) {
    // Black and white reach the same contrast against a luminance of about 0.18.
    return RelativeLuminance(background) > 0.179;
}

TRgb ReadableOn(TRgb text, TRgb background, double minRatio) {
    if (ContrastRatio(text, background) >= minRatio)
        return text;
    const TRgb end = IsLightBackground(background) ? TRgb{0, 0, 0} : TRgb{255, 255, 255};
    // Contrast grows steadily along the way to the far end: the first step that reaches the
    // ratio is the closest colour that does. Black or white itself reaches 4.5 against every
    // background, since one of them has at least 4.58:1 against any colour.
    for (int step = 1; step <= 64; ++step) {
        const TRgb mixed = Mix(text, end, step / 64.0);
        if (ContrastRatio(mixed, background) >= minRatio)
            return mixed;
    }
    return end;
}

} // namespace varnix
