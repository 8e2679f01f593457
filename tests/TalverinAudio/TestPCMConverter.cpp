#include "TalverinAudio/PCMConverter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace talverin {
namespace {

// A block of `frames` frames; channel c of frame f is f(frame index, c).
template <typename F>
AudioBlock block(double rate, int channels, std::size_t frames, F value, std::size_t offset = 0) {
    std::vector<float> samples;
    for (std::size_t f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c)
            samples.push_back(value(offset + f, c));
    return AudioBlock({rate, channels}, std::move(samples));
}

float sine(double rate, double hz, std::size_t i) {
    return 0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * hz * i / rate));
}

float rms(const std::vector<float>& s, std::size_t from, std::size_t to) {
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += s[i] * s[i];
    return static_cast<float>(std::sqrt(sum / static_cast<double>(to - from)));
}

// Converts `blocks` blocks of 1024 frames and drains the converter.
template <typename F> std::vector<float> convertStream(double rate, int channels, F value) {
    PCMConverter converter;
    std::vector<float> out;
    for (std::size_t b = 0; b < 30; ++b) {
        auto part = converter.convert(block(rate, channels, 1024, value, b * 1024));
        EXPECT_LE(part.size(), PCMConverter::outputCapacity(rate, 1024));
        out.insert(out.end(), part.begin(), part.end());
    }
    auto tail = converter.finish();
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

TEST(PCMConverter, OutputCapacityIsTheScaledBlockPlus64) {
    EXPECT_EQ(PCMConverter::outputCapacity(48000, 480), 224u);
    EXPECT_EQ(PCMConverter::outputCapacity(44100, 512), 249u);
    EXPECT_EQ(PCMConverter::outputCapacity(16000, 1024), 1088u);
    EXPECT_EQ(PCMConverter::outputCapacity(8000, 100), 264u);
}

TEST(PCMConverter, AnEmptyBlockTouchesNothing) {
    PCMConverter converter;
    EXPECT_TRUE(converter.convert(AudioBlock({48000, 2}, {})).empty());
    EXPECT_FALSE(converter.inputFormat());
    EXPECT_TRUE(converter.finish().empty());
}

TEST(PCMConverter, SixteenKilohertzPassesThroughWithChannelsAveraged) {
    PCMConverter converter;
    auto mono = converter.convert(block(16000, 1, 5, [](auto f, int) { return 0.1f * f; }));
    EXPECT_EQ(mono, (std::vector<float>{0.0f, 0.1f, 0.2f, 0.3f, 0.4f}));
    auto stereo =
        converter.convert(block(16000, 2, 3, [](auto, int c) { return c == 0 ? 0.2f : 0.4f; }));
    ASSERT_EQ(stereo.size(), 3u);
    for (float s : stereo)
        EXPECT_FLOAT_EQ(s, 0.3f);
    EXPECT_TRUE(converter.finish().empty());
}

TEST(PCMConverter, ResamplesFortyEightKilohertzStereoToSixteenKilohertzMono) {
    // A 440 Hz tone in both channels keeps its loudness and one third of the frames.
    auto tone = convertStream(48000, 2, [](auto f, int) { return sine(48000, 440, f); });
    EXPECT_NEAR(static_cast<double>(tone.size()), 30 * 1024 / 3.0, 2);
    EXPECT_NEAR(rms(tone, 2000, 8000), 0.5f / std::sqrt(2.0f), 0.01);

    // Opposite channels cancel: the channels are averaged, not one of them taken.
    auto cancelled = convertStream(
        48000, 2, [](auto f, int c) { return (c == 0 ? 1 : -1) * sine(48000, 440, f); });
    EXPECT_LT(rms(cancelled, 2000, 8000), 1e-4);
}

TEST(PCMConverter, AFormatChangeBuildsANewConverter) {
    PCMConverter converter;
    converter.convert(block(48000, 2, 1024, [](auto f, int) { return sine(48000, 440, f); }));
    ASSERT_EQ(converter.inputFormat(), (AudioFormat{48000, 2}));
    // The first block after the change is the new converter's: at 16 kHz it passes
    // unchanged, with nothing of the old resampler's held samples in front of it.
    auto after = converter.convert(block(16000, 1, 4, [](auto, int) { return 0.25f; }));
    EXPECT_EQ(after, std::vector<float>(4, 0.25f));
    EXPECT_EQ(converter.inputFormat(), (AudioFormat{16000, 1}));
}

TEST(PCMConverter, FinishDrainsAndResetsForTheNextStream) {
    PCMConverter converter;
    auto value = [](auto f, int) { return sine(44100, 300, f); };
    auto first = converter.convert(block(44100, 1, 4410, value));
    auto tail = converter.finish();
    EXPECT_FALSE(tail.empty());
    EXPECT_NEAR(static_cast<double>(first.size() + tail.size()), 1600, 2);
    // After the reset, the same stream again gives the same samples.
    auto again = converter.convert(block(44100, 1, 4410, value));
    EXPECT_EQ(again, first);
    EXPECT_TRUE(converter.finish().size() == tail.size());
}

TEST(PCMConverter, AnUnusableFormatConvertsToNothing) {
    PCMConverter converter;
    EXPECT_TRUE(converter.convert(block(0, 1, 100, [](auto, int) { return 0.5f; })).empty());
    EXPECT_FALSE(converter.hasConverter());
    // A block that is not whole frames is not audio.
    EXPECT_TRUE(converter.convert(AudioBlock({16000, 2}, {0.1f, 0.2f, 0.3f})).empty());
}

} // namespace
} // namespace talverin
