#include "TalverinPill/PillBars.h"

#include "TalverinPill/PillMotion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace talverin {
namespace {

TEST(PillBars, TheNewestLevelDrivesTheMiddleAndOlderLevelsSpreadOutwards) {
    constexpr float inf = std::numeric_limits<float>::infinity();
    struct Row {
        const char* name;
        std::vector<float> levels;
        std::vector<double> heights;
    };
    const Row rows[] = {
        {"no levels", {}, {4, 4, 4, 4, 4, 4, 4}},
        {"one full level", {1.0f}, {13, 17, 19, 20, 19, 17, 13}},
        {"a quarter, then full", {0.25f, 1.0f}, {8, 10, 12, 20, 12, 10, 8}},
        {"four levels", {0.0f, 0.25f, 0.5f, 1.0f}, {4, 10, 15, 20, 15, 10, 4}},
        {"above full is full", {7.0f}, {13, 17, 19, 20, 19, 17, 13}},
        {"broken levels are silence", {inf, std::nanf(""), -1.0f, 1.0f}, {4, 4, 4, 20, 4, 4, 4}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(PillBars::heights(row.levels), row.heights);
    }
    EXPECT_EQ(PillBars::heights({1.0f}, 0, 4, 20), std::vector<double>{});
    EXPECT_EQ(PillBars::heights({1.0f}, -3, 4, 20), std::vector<double>{});
    EXPECT_EQ(PillBars::heights({1.0f}, 1, 4, 20), std::vector<double>{20});
    // An even count has one more bar on the old side.
    EXPECT_EQ(PillBars::heights({0.25f, 1.0f}, 4, 0, 10), (std::vector<double>{3, 4, 10, 4}));
}

TEST(PillBars, PushKeepsTheNewestFourLevels) {
    std::vector<float> levels;
    for (float level : {0.1f, 0.2f, 0.3f, 0.4f}) {
        levels = PillBars::push(level, levels);
    }
    EXPECT_EQ(levels, (std::vector<float>{0.1f, 0.2f, 0.3f, 0.4f}));
    levels = PillBars::push(0.5f, levels);
    EXPECT_EQ(levels, (std::vector<float>{0.2f, 0.3f, 0.4f, 0.5f}));
    EXPECT_EQ(PillBars::push(0.9f, {1, 2, 3, 4, 5, 6}), (std::vector<float>{4, 5, 6, 0.9f}));
}

TEST(PillMotion, EachDotPulsesOnceASecondAFifthOfASecondAfterTheOneBefore) {
    EXPECT_DOUBLE_EQ(PillMotion::dotOpacity(0, 0), 1.0);
    EXPECT_NEAR(PillMotion::dotOpacity(0, 0.5), 0.3, 1e-12);
    EXPECT_NEAR(PillMotion::dotOpacity(0, 1.0), 1.0, 1e-12);
    EXPECT_NEAR(PillMotion::dotOpacity(1, 0.2), 1.0, 1e-12);
    EXPECT_NEAR(PillMotion::dotOpacity(2, 0.4), 1.0, 1e-12);
    EXPECT_NEAR(PillMotion::dotOpacity(2, 0.9), 0.3, 1e-12);
    for (double t = 0; t < 2; t += 0.037)
        for (int dot = 0; dot < 3; ++dot) {
            EXPECT_GE(PillMotion::dotOpacity(dot, t), 0.3 - 1e-12);
            EXPECT_LE(PillMotion::dotOpacity(dot, t), 1.0 + 1e-12);
        }
}

} // namespace
} // namespace talverin
