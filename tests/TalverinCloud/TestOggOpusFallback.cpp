#include "TalverinCloud/OggOpus.h"

#include "OpusTestSupport.h"
#include "support/LogLines.h"
#include "Runtime/VirtualWorld.h"
#include "TalverinCloud/StreamingOpus.h"

#include <gtest/gtest.h>

namespace talverin {
namespace {

using Fate = test::EncoderPlan::Fate;
using test::ScriptedOpusEncoders;

// The WAV fallback is one flag for the life of the process, set once and never cleared, so
// this file tells its whole story in one process and one test.
TEST(OggOpusFallback, TheFirstOpusFailureSendsEveryLaterClipAsWavAndLogsOnce) {
    VirtualWorld world;
    test::LogLines log;
    const std::string fallbackLine = "Opus could not be encoded (";
    ASSERT_FALSE(OggOpus::usesWav());

    // A dictation is streaming when another clip's encoding fails.
    const auto samples = test::speechLike(6400, 21);
    const auto firstHalf = std::span(samples).first(3200);
    const auto secondHalf = std::span(samples).subspan(3200);
    ScriptedOpusEncoders streaming;
    StreamingOpus running(17, true, streaming.maker());
    running.append(firstHalf);
    world.runUntilIdle();
    EXPECT_EQ(streaming.rates(), std::vector<int>{16000});

    ScriptedOpusEncoders broken({{Fate::cannotMake}, {Fate::cannotMake}});
    const auto failed = OggOpus::clip(test::speechLike(1600), broken.maker());
    EXPECT_EQ(failed, (EncodedClip{OggOpus::wav(test::speechLike(1600)), "audio/wav", 0.1}));
    EXPECT_TRUE(OggOpus::usesWav());
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0], "Cloud: Opus could not be encoded (no Opus encoder at 48000 Hz); "
                              "clips go as WAV from now on");

    // Every later one-pass clip is WAV, whatever the encoder could do, and tries no encoder.
    ScriptedOpusEncoders working;
    for (int i = 0; i < 5; ++i) {
        const auto clip = OggOpus::clip(test::speechLike(800 + i), working.maker());
        EXPECT_EQ(clip.mime, "audio/wav");
        EXPECT_EQ(clip.data, OggOpus::wav(test::speechLike(800 + i)));
    }
    EXPECT_TRUE(working.rates().empty());
    OggOpus::markOpusFailed(OggOpus::EncodeError::badPackets());

    // The running stream stops encoding at its next block; its clip is the WAV of every
    // sample, not an Opus stream of the first half.
    running.append(secondHalf);
    const EncodedClip runningClip = running.finishClip();
    EXPECT_EQ(runningClip, (EncodedClip{OggOpus::wav(samples), "audio/wav", 0.4}));
    EXPECT_EQ(streaming.rates(), std::vector<int>{16000}) << "a one pass was tried";
    EXPECT_EQ(log.lines().back(), "Cloud: opus: 0.40 s -> 12844 bytes (wav) in 0.0 ms");

    // A stream begun now never makes an encoder.
    ScriptedOpusEncoders later;
    StreamingOpus fresh(18, true, later.maker());
    fresh.append(samples);
    const EncodedClip freshClip = fresh.finishClip();
    EXPECT_EQ(freshClip.mime, "audio/wav");
    EXPECT_EQ(freshClip.data, OggOpus::wav(samples));
    EXPECT_TRUE(later.rates().empty());
    EXPECT_EQ(log.lines().back(), "Cloud: opus: 0.40 s -> 12844 bytes (wav) in 0.0 ms");

    EXPECT_EQ(log.containing(fallbackLine).size(), 1u);
    EXPECT_EQ(log.containing("streaming stopped").size(), 0u);
    EXPECT_EQ(log.lines().size(), 3u);
}

} // namespace
} // namespace talverin
