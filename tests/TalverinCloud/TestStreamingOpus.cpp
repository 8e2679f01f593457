#include "TalverinCloud/StreamingOpus.h"

#include "OpusTestSupport.h"
#include "support/LogLines.h"
#include "Runtime/VirtualWorld.h"
#include "TalverinCloud/OggOpus.h"

#include <gtest/gtest.h>

#include <limits>

namespace talverin {
namespace {

using Fate = test::EncoderPlan::Fate;
using test::EncoderPlan;
using test::ScriptedOpusEncoders;

// Hands the samples over in blocks of uneven sizes, as a microphone does.
void appendInBlocks(StreamingOpus& stream, const std::vector<float>& samples) {
    static constexpr std::size_t sizes[] = {160, 333, 1, 320, 1024, 47};
    std::size_t at = 0;
    for (std::size_t i = 0; at < samples.size(); ++i) {
        const std::size_t size = std::min(sizes[i % std::size(sizes)], samples.size() - at);
        stream.append(std::span(samples).subspan(at, size));
        at += size;
    }
}

class StreamingOpusTest : public ::testing::Test {
protected:
    VirtualWorld world;
    test::LogLines log;
};

TEST_F(StreamingOpusTest, StreamedClipIsTheOnePassEncodingOfEverySample) {
    for (const std::size_t count : {1ul, 319ul, 16000ul, 40123ul}) {
        SCOPED_TRACE(count);
        const auto samples = test::speechLike(count, 7);
        StreamingOpus stream(1234, true);
        appendInBlocks(stream, samples);
        world.runUntilIdle();
        const EncodedClip clip = stream.finishClip();
        EXPECT_EQ(clip.mime, "audio/ogg");
        EXPECT_DOUBLE_EQ(clip.seconds, static_cast<double>(count) / 16000);
        EXPECT_EQ(clip.data, OggOpus::encode(samples, 1234).value());
        test::expectValidOggOpus(clip.data, count);
        char line[128];
        std::snprintf(line, sizeof line, "Cloud: opus: %.2f s -> %zu bytes (streamed) in 0.0 ms",
                      static_cast<double>(count) / 16000, clip.data.size());
        EXPECT_EQ(log.lines().back(), line);
    }
}

TEST_F(StreamingOpusTest, FinishWaitsForTheBlocksAppendedBeforeIt) {
    const auto samples = test::speechLike(9000);
    StreamingOpus stream(8, true);
    appendInBlocks(stream, samples);
    // Nothing has run on the queue yet: finishClip() itself drains it first.
    const EncodedClip clip = stream.finishClip();
    EXPECT_EQ(clip.data, OggOpus::encode(samples, 8).value());
    EXPECT_EQ(stream.sampleCount(), 9000);
}

// The dictation knows the encoder only through its contract: the microphone's blocks in,
// the clip's bytes out, the same bytes however often it asks.
TEST_F(StreamingOpusTest, ThroughTheClipEncodingContract) {
    const auto samples = test::speechLike(8000, 5);
    StreamingOpus stream(9, true);
    ClipEncoding& encoding = stream;
    for (std::size_t at = 0; at < samples.size(); at += 1024) {
        const auto end = std::min(samples.size(), at + 1024);
        encoding.append(MicBuffer({samples.begin() + static_cast<std::ptrdiff_t>(at),
                                   samples.begin() + static_cast<std::ptrdiff_t>(end)},
                                  0, 0));
    }
    const auto bytes = encoding.finish();
    EXPECT_EQ(bytes, OggOpus::encode(samples, 9).value());
    EXPECT_EQ(stream.finishClip().data, bytes);
    encoding.cancel();
    EXPECT_EQ(encoding.finish(), bytes);
}

TEST_F(StreamingOpusTest, EmptyCancelledAndWavOnlyStreams) {
    const auto samples = test::speechLike(4800);
    const auto emptyWav = EncodedClip{OggOpus::wav({}), "audio/wav", 0};
    struct Case {
        const char* name;
        bool opusAllowed;
        bool feed;
        bool cancel;
        EncodedClip clip;
        const char* line;
    };
    const Case cases[] = {
        {"no block", true, false, false, emptyWav,
         "Cloud: opus: 0.00 s -> 44 bytes (empty) in 0.0 ms"},
        {"cancelled", true, true, true, emptyWav,
         "Cloud: opus: 0.00 s -> 44 bytes (cancelled) in 0.0 ms"},
        {"cancelled without audio", true, false, true, emptyWav,
         "Cloud: opus: 0.00 s -> 44 bytes (cancelled) in 0.0 ms"},
        {"Opus not allowed", false, true, false,
         EncodedClip{OggOpus::wav(samples), "audio/wav", 0.3},
         "Cloud: opus: 0.30 s -> 9644 bytes (wav) in 0.0 ms"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedOpusEncoders encoders;
        StreamingOpus stream(1, c.opusAllowed, encoders.maker());
        if (c.feed)
            appendInBlocks(stream, samples);
        if (c.cancel)
            stream.cancel();
        const auto before = log.lines().size();
        EXPECT_EQ(stream.finishClip(), c.clip);
        ASSERT_EQ(log.lines().size(), before + 1);
        EXPECT_EQ(log.lines().back(), c.line);
        if (!c.opusAllowed)
            EXPECT_TRUE(encoders.rates().empty()) << "an encoder was made";
    }
}

TEST_F(StreamingOpusTest, AFinishedClipStaysAsItIs) {
    const auto samples = test::speechLike(6400);
    StreamingOpus stream(77, true);
    appendInBlocks(stream, samples);
    const EncodedClip clip = stream.finishClip();
    const auto lines = log.lines().size();

    // Later blocks, a second finish and a cancel change nothing and log nothing.
    appendInBlocks(stream, test::speechLike(3200, 3));
    world.runUntilIdle();
    EXPECT_EQ(stream.sampleCount(), 6400);
    EXPECT_EQ(stream.finishClip(), clip);
    stream.cancel();
    EXPECT_EQ(stream.finishClip(), clip);
    EXPECT_EQ(stream.sampleCount(), 0);
    EXPECT_EQ(log.lines().size(), lines);
}

TEST_F(StreamingOpusTest, EmptyBlocksScheduleNothing) {
    StreamingOpus stream(2, true);
    world.runUntilIdle();
    stream.append(std::span<const float>());
    stream.append(std::vector<float>());
    stream.append(MicBuffer({}, 0, 0));
    EXPECT_EQ(world.pending(), 0u);
    stream.append(std::vector<float>{0.1f, 0.2f});
    stream.append(MicBuffer({0.3f, 0.4f, 0.5f}, 0.5f, 1.0));
    EXPECT_EQ(world.pending(), 2u);
    EXPECT_EQ(stream.sampleCount(), 5);
}

TEST_F(StreamingOpusTest, StreamingFailuresFallBackToOnePassAtRelease) {
    const auto samples = test::speechLike(3200);
    struct Case {
        const char* name;
        std::vector<EncoderPlan> plans;
        std::vector<int> rates;
        const char* failureLine;
        const char* label;
    };
    const Case cases[] = {
        // The blocks are 320 samples: frame 1 is the second block.
        {"feeding fails at the second block",
         {{Fate::failsAtFrame, 1}},
         {16000, 16000},
         "Cloud: opus: streaming stopped (Opus encoding failed: libopus -3); the clip is "
         "encoded at release",
         "one pass"},
        {"no encoder at the first block",
         {{Fate::cannotMake}},
         {16000, 16000},
         "Cloud: opus: streaming stopped (no Opus encoder at 16000 Hz); the clip is encoded at "
         "release",
         "one pass"},
        // Ten blocks fill ten frames; the tail (lookahead and padding) is frame 10.
        {"the tail fails",
         {{Fate::failsAtFrame, 10, ""}},
         {16000, 16000},
         "Cloud: opus: the streamed tail failed (Opus encoding failed: convert); one pass "
         "instead",
         "one pass"},
        {"the tail has invalid packets",
         {{Fate::invalidPackets}},
         {16000, 16000},
         "Cloud: opus: the streamed tail failed (the encoder made no valid Opus packets); one "
         "pass instead",
         "one pass"},
        // The one pass then fails at 16 kHz too and retries at 48 kHz.
        {"one pass at 48 kHz",
         {{Fate::failsAtFrame, 1}, {Fate::cannotMake}},
         {16000, 16000, 48000},
         "Cloud: opus: streaming stopped (Opus encoding failed: libopus -3); the clip is "
         "encoded at release",
         "one pass"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto before = log.lines().size();
        ScriptedOpusEncoders encoders(c.plans);
        StreamingOpus stream(5, true, encoders.maker());
        for (std::size_t at = 0; at < samples.size(); at += 320)
            stream.append(std::span(samples).subspan(at, 320));
        const EncodedClip clip = stream.finishClip();
        EXPECT_EQ(encoders.rates(), c.rates);
        EXPECT_TRUE(clip.isOpus());
        EXPECT_DOUBLE_EQ(clip.seconds, 0.2);
        const bool at48 = c.rates.back() == 48000;
        test::expectValidOggOpus(clip.data, at48 ? 9600 : 3200, at48 ? 48000 : 16000);
        const auto lines = log.lines();
        ASSERT_EQ(lines.size(), before + 2);
        EXPECT_EQ(lines[before], c.failureLine);
        EXPECT_NE(lines[before + 1].find("bytes (" + std::string(c.label) + ") in"),
                  std::string::npos)
            << lines[before + 1];
    }
    EXPECT_FALSE(OggOpus::usesWav()) << "a streaming failure switched the process to WAV";
}

TEST_F(StreamingOpusTest, NonFiniteSamplesAreSilenceInEveryFormat) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> block = {0.25f, nan, -inf, inf, -0.25f};
    const std::vector<float> silenced = {0.25f, 0, 0, 0, -0.25f};

    StreamingOpus opus(6, true);
    opus.append(block);
    const EncodedClip clip = opus.finishClip();
    EXPECT_EQ(clip.data, OggOpus::encode(silenced, 6).value());
    test::expectValidOggOpus(clip.data, block.size());

    StreamingOpus wav(6, false);
    wav.append(block);
    EXPECT_EQ(wav.finishClip().data, OggOpus::wav(silenced));
}

} // namespace
} // namespace talverin
