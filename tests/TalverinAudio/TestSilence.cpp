#include "TalverinAudio/MicLevel.h"
#include "TalverinAudio/Silence.h"
#include "TalverinAudio/SilenceGate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace talverin {
namespace {

// Frames of constant amplitude: a frame of value v has RMS |v|.
std::vector<float> framesAt(const std::vector<float>& rms, std::size_t tailSamples = 0,
                            float tail = 0) {
    std::vector<float> samples;
    for (float r : rms)
        samples.insert(samples.end(), Silence::frameSamples, r);
    samples.insert(samples.end(), tailSamples, tail);
    return samples;
}

TEST(SilenceGate, CountsTheUnfinishedFrameOnlyFromHalfAFrame) {
    struct Case {
        std::size_t samples;
        std::size_t frames;
    };
    for (Case c :
         {Case{799, 0}, Case{800, 1}, Case{1600, 1}, Case{2399, 1}, Case{2400, 2}, Case{3200, 2}}) {
        SilenceGate gate;
        gate.append(std::vector<float>(c.samples, 0.1f));
        EXPECT_EQ(gate.frames().size(), c.frames) << c.samples << " samples";
        EXPECT_EQ(gate.frameRMS.size(), c.samples / Silence::frameSamples);
    }
}

TEST(SilenceGate, AppendingInPiecesGivesTheSameFramesAsAtOnce) {
    std::vector<float> samples;
    for (int i = 0; i < 5000; ++i)
        samples.push_back(0.01f * static_cast<float>(i % 17) - 0.05f);
    SilenceGate whole;
    whole.append(samples);
    SilenceGate pieces;
    std::span<const float> all(samples);
    pieces.append(all.subspan(0, 1000));
    pieces.append(all.subspan(1000, 1));
    pieces.append(all.subspan(1001));
    EXPECT_EQ(pieces.frames(), whole.frames());
}

struct SpeechCase {
    std::string name;
    std::vector<float> samples;
    std::size_t speechFrames;
};

void PrintTo(const SpeechCase& c, std::ostream* os) {
    *os << c.name;
}

class SpeechDecision : public ::testing::TestWithParam<SpeechCase> {};

TEST_P(SpeechDecision, CountsSpeechFramesAgainstTheLocalFloor) {
    const auto& c = GetParam();
    SilenceGate gate;
    gate.append(c.samples);
    EXPECT_EQ(gate.speechFrameCount(), c.speechFrames);
    bool speech = c.speechFrames >= Silence::minSpeechFrames;
    EXPECT_EQ(gate.hasSpeech(), speech);
    EXPECT_EQ(Silence::isSpeech(c.samples), speech);
}

std::vector<float> quietWithLoud(std::size_t frames, std::vector<std::size_t> loud, float quiet,
                                 float loudness) {
    std::vector<float> rms(frames, quiet);
    for (auto i : loud)
        rms[i] = loudness;
    return framesAt(rms);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SpeechDecision,
    ::testing::Values(
        SpeechCase{"constantLoudness", framesAt(std::vector<float>(20, 0.2f)), 0},
        SpeechCase{"twoLoudFrames", quietWithLoud(10, {3, 4}, 0.001f, 0.01f), 2},
        SpeechCase{"oneLoudFrame", quietWithLoud(10, {3}, 0.001f, 0.01f), 1},
        SpeechCase{"belowMinRMSInSilence", quietWithLoud(10, {3, 4}, 0.0f, 0.003f), 0},
        SpeechCase{"justAboveMinRMSInSilence", quietWithLoud(10, {3, 4}, 0.0f, 0.0041f), 2},
        // Two loud frames and a quiet tail of exactly half a frame.
        SpeechCase{"shortestClipWithSpeech", framesAt({0.01f, 0.01f}, 800, 0.001f), 2},
        // One sample less and the quiet tail does not count: each loud frame is its own floor.
        SpeechCase{"tooShortForSpeech", framesAt({0.01f, 0.01f}, 799, 0.001f), 0},
        // The floor looks 30 frames each way: frames 1 to 30 see the quiet frame 0, frame 31
        // and later only their loud neighbours.
        SpeechCase{"floorWindowIsThirtyFrames", quietWithLoud(70, {0}, 0.01f, 0.001f), 30},
        // Both ways from the middle: frames 0 to 35 see the quiet frame 5, frame 36 does not.
        SpeechCase{"floorWindowLooksThirtyFramesBack", quietWithLoud(70, {5}, 0.01f, 0.001f), 35},
        // And ahead: frames 39 to 68 see the quiet last frame 69, frame 38 does not.
        SpeechCase{"floorWindowLooksThirtyFramesAhead", quietWithLoud(70, {69}, 0.01f, 0.001f), 30},
        SpeechCase{"empty", {}, 0}),
    [](const auto& info) { return info.param.name; });

// The boundaries are strict; they are checked on frame values, since the RMS of a frame of
// constant samples is not exact in 32-bit arithmetic.
TEST(Silence, SpeechFramesFlagsEachFrameAgainstItsWindow) {
    EXPECT_TRUE(Silence::speechFrames({}).empty());
    std::vector<float> rms{0.001f, 0.01f, 0.001f, 0.0035f};
    EXPECT_EQ(Silence::speechFrames(rms), (std::vector<bool>{false, true, false, false}));
    EXPECT_TRUE(Silence::isSpeechFrame(0.0041f, 0));
    EXPECT_FALSE(Silence::isSpeechFrame(0.004f, 0));
    EXPECT_FALSE(Silence::isSpeechFrame(0.03f, 0.01f));
    EXPECT_TRUE(Silence::isSpeechFrame(0.0301f, 0.01f));
}

TEST(MicLevel, MapsDecibelsOntoTheMeter) {
    struct Case {
        float rms;
        float level;
    };
    const float inf = std::numeric_limits<float>::infinity();
    for (Case c : {Case{0, 0}, Case{-0.5f, 0}, Case{std::nanf(""), 0}, Case{inf, 0}, Case{1, 1},
                   Case{0.5f, 1}, Case{0.01f, 1.0f / 3}, Case{0.001f, 0}, Case{0.0017f, 0}}) {
        EXPECT_NEAR(MicLevel::level(c.rms), c.level, 1e-6) << "rms " << c.rms;
    }
    EXPECT_EQ(MicLevel::level(std::span<const float>{}), 0);
    std::vector<float> samples{0.01f, -0.01f, 0.01f, -0.01f};
    EXPECT_NEAR(MicLevel::level(samples), 1.0f / 3, 1e-5);
}

} // namespace
} // namespace talverin
