#pragma once
// Contrast of two colours as the accessibility guidelines for text measure it: the relative
// luminance of each (sRGB, linearised), and (L1 + 0.05) / (L2 + 0.05) of the lighter over the
// darker, from 1 (same colour) to 21 (black on white). Body text wants at least 4.5.
// No Qt: the windows hand in the channels of their palette's colours.

#include <cstdint>

namespace varnix {

struct TRgb {
    std::uint8_t R = 0, G = 0, B = 0;
    bool operator==(const TRgb&) const = default;
};

inline constexpr double MinTextContrast = 4.5;

double RelativeLuminance(TRgb c);
double ContrastRatio(TRgb a, TRgb b);
// Whether text would read as dark-on-light against `background` (its luminance above the middle
// grey's in contrast terms).
bool IsLightBackground(TRgb background);

// `text` moved towards white (on a dark background) or black (on a light one), keeping its hue,
// just far enough to reach `minRatio` against `background`; `text` itself when it already does.
TRgb ReadableOn(TRgb text, TRgb background, double minRatio = MinTextContrast);

} // namespace varnix
