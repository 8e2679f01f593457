#include "TalverinCore/ThemeTokens.h"

#include <gtest/gtest.h>

#include <cmath>

namespace talverin {
namespace {

using ThemeTokens::RGBA;
using ThemeTokens::Shadow;

TEST(ThemeTokens, ChannelsAreTheGivenIntegersOver255Exactly) {
    EXPECT_EQ(ThemeTokens::dark.bg, (RGBA{14 / 255.0, 14 / 255.0, 20 / 255.0, 1}));
    EXPECT_EQ(ThemeTokens::dark.accent, (RGBA{106 / 255.0, 87 / 255.0, 240 / 255.0, 1}));
    EXPECT_EQ(ThemeTokens::light.bg, (RGBA{246 / 255.0, 246 / 255.0, 250 / 255.0, 1}));
    EXPECT_EQ(ThemeTokens::dark.accentEdge, (RGBA{0, 0, 0, 0}));
    EXPECT_EQ(ThemeTokens::light.accentEdge, (RGBA{0, 0, 0, 0}));
}

// The entries of the dark palette the pill draws with, as quoted elsewhere rounded to four
// digits: a cross-check of the palette's transcription.
TEST(ThemeTokens, TheDarkEntriesThePillUsesMatchTheirRoundedQuotes) {
    struct Row {
        const char* name;
        RGBA color;
        RGBA quoted;
    };
    const auto& d = ThemeTokens::dark;
    const Row rows[] = {
        {"bg", d.bg, {0.0549, 0.0549, 0.0784, 1}},
        {"surface3", d.surface3, {0.1686, 0.1647, 0.2235, 1}},
        {"fg2", d.fg2, {0.8706, 0.8627, 0.9255, 1}},
        {"muted", d.muted, {0.6510, 0.6392, 0.7490, 1}},
        {"accent", d.accent, {0.4157, 0.3412, 0.9412, 1}},
        {"strongBg", d.strongBg, {0.1255, 0.1216, 0.1686, 1}},
        {"strongFg", d.strongFg, {0.9529, 0.9490, 0.9804, 1}},
        {"strongAccent", d.strongAccent, {0.6706, 0.6275, 1.0, 1}},
        {"danger", d.danger, {1.0, 0.4196, 0.3686, 1}},
        {"warn", d.warn, {1.0, 0.7608, 0.2941, 1}},
        {"warnTint", d.warnTint, {1.0, 0.7608, 0.2941, 0.16}},
        {"dangerTint", d.dangerTint, {1.0, 0.4196, 0.3686, 0.16}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_NEAR(row.color.r, row.quoted.r, 5e-5);
        EXPECT_NEAR(row.color.g, row.quoted.g, 5e-5);
        EXPECT_NEAR(row.color.b, row.quoted.b, 5e-5);
        EXPECT_EQ(row.color.a, row.quoted.a);
    }
}

TEST(ThemeTokens, LuminanceAndContrast) {
    const RGBA white{1, 1, 1, 1};
    const RGBA black{0, 0, 0, 1};
    EXPECT_DOUBLE_EQ(white.luminance(), 1);
    EXPECT_EQ(black.luminance(), 0);
    EXPECT_DOUBLE_EQ(white.contrast(black), 21);
    EXPECT_DOUBLE_EQ(black.contrast(white), 21);
    EXPECT_EQ(RGBA({0, 0, 0, 0.2}).luminance(), 0) << "alpha is ignored";

    const RGBA samples[] = {ThemeTokens::dark.accent, ThemeTokens::light.fg, ThemeTokens::dark.warn,
                            ThemeTokens::light.bg};
    for (const auto& a : samples) {
        EXPECT_DOUBLE_EQ(a.contrast(a), 1);
        for (const auto& b : samples) {
            EXPECT_DOUBLE_EQ(a.contrast(b), b.contrast(a));
            EXPECT_GE(a.contrast(b), 1);
        }
    }
}

// The two segments nearly meet at the edge (0.0030402 by division, 0.0030395 on the curve),
// so only an exact comparison tells which one the edge value took.
TEST(ThemeTokens, AChannelOfExactly0_03928IsLinearisedByDivision) {
    const double edge = 0.03928;
    EXPECT_DOUBLE_EQ(RGBA({edge, 0, 0, 1}).luminance(), 0.2126 * (edge / 12.92));
    EXPECT_DOUBLE_EQ(RGBA({0, edge, 0, 1}).luminance(), 0.7152 * (edge / 12.92));
    const double above = 0.0393;
    EXPECT_DOUBLE_EQ(RGBA({0, above, 0, 1}).luminance(),
                     0.7152 * std::pow((above + 0.055) / 1.055, 2.4));
}

TEST(ThemeTokens, ShadowSetsKeepAtLeastOneLayer) {
    const auto& light = ThemeTokens::lightShadows();
    const auto& dark = ThemeTokens::darkShadows();
    ASSERT_EQ(light.lift.size(), 2u);
    EXPECT_EQ(light.lift[0], (Shadow{0, 1, 2, 0, {0, 0, 0, 0.06}, false}));
    EXPECT_EQ(light.lift[1],
              (Shadow{0, 0, 0, 1, {27 / 255.0, 24 / 255.0, 74 / 255.0, 0.07}, true}));
    ASSERT_EQ(dark.lift.size(), 1u);
    EXPECT_EQ(dark.lift[0], Shadow{}) << "a single all-zero layer stands for no shadow";

    ASSERT_EQ(dark.strongEdge.size(), 1u);
    EXPECT_EQ(dark.strongEdge[0], (Shadow{0, 0, 0, 1, {1, 1, 1, 0.06}, true}));
    EXPECT_NE(dark, light);
    EXPECT_EQ(&ThemeTokens::darkShadows(), &dark) << "built once";
}

TEST(ThemeTokens, ThePillRadiusIsAPlainConstant) {
    EXPECT_EQ(ThemeTokens::Radius::pill, 999);
    EXPECT_EQ(ThemeTokens::Fonts::files.front(), "urbanist-latin-wght.woff2");
    EXPECT_EQ(ThemeTokens::Fonts::files.back(), "manrope-cyrillic-ext-wght.woff2");
}

} // namespace
} // namespace talverin
