#include "TalverinSpeech/DraftAudio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace talverin {
namespace {

const DraftAudioFormat int16Format{16000, 1, DraftSampleFormat::int16, false};

TEST(DraftAudio, ConvertsToInt16WithSymmetricFullScale) {
    struct Case {
        float sample;
        std::int16_t expected;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float infinity = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {-1.5f, -32767}, {-1.0f, -32767}, {-infinity, -32767}, {0.5f, 16384},
        {-0.5f, -16384}, {1.0f, 32767},   {2.0f, 32767},       {infinity, 32767},
        {nan, 0},        {0.0f, 0},       {-0.0f, 0},          {1.0f / 65534, 1},
    };
    for (const Case& c : cases) {
        auto converted = DraftAudio::buffer({c.sample}, int16Format);
        ASSERT_TRUE(converted) << c.sample;
        EXPECT_EQ(std::get<std::vector<std::int16_t>>(converted->samples),
                  std::vector<std::int16_t>{c.expected})
            << c.sample;
    }
}

TEST(DraftAudio, CopiesFloatsAndRefusesWhatItCannotWrite) {
    const std::vector<float> samples = {0.25f, -0.75f, 0.0f};
    auto copied = DraftAudio::buffer(samples, DraftAudio::float32Format());
    ASSERT_TRUE(copied);
    EXPECT_EQ(std::get<std::vector<float>>(copied->samples), samples);
    EXPECT_EQ(copied->frameLength(), 3u);
    EXPECT_EQ(copied->format, DraftAudio::float32Format());

    EXPECT_FALSE(DraftAudio::buffer({}, DraftAudio::float32Format()));
    EXPECT_FALSE(DraftAudio::buffer(samples, {16000, 2, DraftSampleFormat::float32, true}));
    EXPECT_FALSE(DraftAudio::buffer(samples, {16000, 1, DraftSampleFormat::other, false}));
}

TEST(DraftAudio, RootMeanSquare) {
    EXPECT_EQ(DraftAudio::rms({}), 0.0f);
    EXPECT_FLOAT_EQ(DraftAudio::rms({3.0f, -4.0f}), std::sqrt(12.5f));
    EXPECT_FLOAT_EQ(DraftAudio::rms(std::vector<float>(16000, 0.009f)), 0.009f);
}

} // namespace
} // namespace talverin
