// Text contrast: the known ratios, and that the log and row colours made readable on the
// palettes the program meets reach 4.5:1 while keeping their hue.

#include "core/contrast.h"

#include <gtest/gtest.h>

namespace varnix {
namespace {

TEST(Contrast, KnownRatiosAndTheAdjustedColoursReachTheMinimumKeepingTheirHue) {
    EXPECT_NEAR(ContrastRatio({0, 0, 0}, {255, 255, 255}), 21.0, 1e-9);
    EXPECT_NEAR(ContrastRatio({255, 255, 255}, {255, 255, 255}), 1.0, 1e-9);
    EXPECT_NEAR(ContrastRatio({0, 0x80, 0}, {255, 255, 255}), 5.14, 0.01);
    EXPECT_NEAR(ContrastRatio({255, 0, 0}, {255, 255, 255}), 4.0, 0.01);
    EXPECT_TRUE(IsLightBackground({255, 255, 255}));
    EXPECT_FALSE(IsLightBackground({0x2A, 0x2A, 0x2A}));

    // A colour that already reads is kept exactly.
    EXPECT_EQ(ReadableOn({0, 0, 0xFF}, {255, 255, 255}), (TRgb{0, 0, 0xFF}));
    // The log's colours and the row text on the backgrounds of a light and two dark palettes.
    const TRgb colours[] = {{0xFF, 0, 0}, {0, 0x80, 0}, {0, 0, 0xFF}, {0x80, 0, 0}, {0xFF, 0xFF, 0xFF}};
    const TRgb backgrounds[] = {
        {255, 255, 255}, {0x2A, 0x2A, 0x2A}, {0x19, 0x19, 0x19}, {0xFF, 0xE0, 0xA0}, {0x35, 0x35, 0x35}};
    for (const TRgb bg : backgrounds) {
        for (const TRgb fg : colours) {
            const TRgb out = ReadableOn(fg, bg);
            EXPECT_GE(ContrastRatio(out, bg), MinTextContrast)
                << int(fg.R) << "," << int(fg.G) << "," << int(fg.B) << " on " << int(bg.R);
            // Hue kept: the strongest channel of the colour stays the strongest (or ties).
            if (fg.R > fg.G && fg.R > fg.B) {
                EXPECT_GE(out.R, out.G);
                EXPECT_GE(out.R, out.B);
            }
            if (fg.G > fg.R && fg.G > fg.B) {
                EXPECT_GE(out.G, out.R);
            }
            if (fg.B > fg.R && fg.B > fg.G) {
                EXPECT_GE(out.B, out.R);
            }
        }
    }
    // The dark blue of sent traffic on a dark pane is lightened, not left near-invisible.
    const TRgb blue = ReadableOn({0, 0, 0xFF}, {0x2A, 0x2A, 0x2A});
    EXPECT_GT(blue.R, 0);
    EXPECT_LT(ContrastRatio({0, 0, 0xFF}, {0x2A, 0x2A, 0x2A}), MinTextContrast);
}

} // namespace
} // namespace varnix
