#include "TalverinAudio/LevelMeter.h"

#include "TalverinAudio/MicLevel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace talverin {
namespace {

AudioBlock block(int channels, std::vector<float> samples, double rate = 16000) {
    return AudioBlock({rate, channels}, std::move(samples));
}

TEST(LevelMeter, MeasuresTheRMSOfTheFramesChannelAverages) {
    struct Case {
        std::string name;
        AudioBlock block;
        float rms;
        bool nonZero;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Case cases[] = {
        {"no samples", block(1, {}), 0, false},
        {"no channels", block(0, {0.5f, 0.5f}), 0, false},
        {"only zeros", block(2, {0, 0, 0, 0}), 0, false},
        {"mono", block(1, {0.5f, -0.5f, 0.5f, -0.5f}), 0.5f, true},
        {"stereo averaged per frame", block(2, {0.2f, 0.6f, -0.2f, -0.6f}), 0.4f, true},
        // Opposite channels cancel in the average, but something was heard.
        {"opposite channels", block(2, {0.5f, -0.5f, 0.25f, -0.25f}), 0, true},
        {"one sample in many", block(1, {0, 0, 0, 1}), 0.5f, true},
        // A block that is not whole frames cannot be read as audio: heard, at level 0.
        {"partial frame", block(2, {0.5f, 0.5f, 0.5f}), 0, true},
        {"no rate", block(1, {0.5f}, 0), 0, true},
    };
    for (const auto& c : cases) {
        auto measured = LevelMeter::measure(c.block);
        EXPECT_NEAR(measured.rms, c.rms, 1e-6) << c.name;
        EXPECT_EQ(measured.nonZero, c.nonZero) << c.name;
    }
    auto broken = LevelMeter::measure(block(1, {nan, 0.5f}));
    EXPECT_TRUE(broken.nonZero);
    EXPECT_EQ(MicLevel::level(broken.rms), 0) << "a sample that is not a number is no level";
}

TEST(LevelMeter, TheSpeechLevelIsTheLevelOfAnRMSOf0004) {
    EXPECT_EQ(LevelMeter::speechLevel, MicLevel::level(0.004f));
}

TEST(LevelMeter, AddsOnlyWhileActiveAndDrainsWhatTheBlocksLeft) {
    LevelMeter meter;
    meter.tap(block(1, std::vector<float>(160, 0.5f)));
    meter.add(0.9f, true);
    EXPECT_EQ(meter.drain(), LevelMeter::Drained{}) << "an inactive meter ignores every block";

    meter.activate();
    meter.add(LevelMeter::speechLevel, true);
    EXPECT_EQ(meter.drain(), (LevelMeter::Drained{LevelMeter::speechLevel, false, true, 1}))
        << "the speech level itself is not loud";
    meter.add(0.3f, false);
    meter.add(0.1f, false);
    EXPECT_EQ(meter.drain(), (LevelMeter::Drained{0.3f, true, false, 2}));
    EXPECT_EQ(meter.drain(), LevelMeter::Drained{});

    // Activating an active meter keeps what is pending; deactivating forgets it.
    meter.tap(block(1, std::vector<float>(160, 0.5f)));
    meter.activate();
    auto drained = meter.drain();
    EXPECT_EQ(drained.blocks, 1);
    EXPECT_TRUE(drained.loud);
    EXPECT_EQ(drained.peak, MicLevel::level(0.5f));
    meter.add(0.9f, true);
    meter.deactivate();
    meter.activate();
    EXPECT_EQ(meter.drain(), LevelMeter::Drained{});
}

} // namespace
} // namespace talverin
