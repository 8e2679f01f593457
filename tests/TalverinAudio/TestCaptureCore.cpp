#include "TalverinAudio/CaptureCore.h"

#include "AudioTestSupport.h"
#include "Runtime/VirtualWorld.h"
#include "TalverinAudio/MicLevel.h"
#include "TalverinAudio/PCMConverter.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace talverin {
namespace {

using test::LogLines;
using test::toneBlock;

constexpr double t0 = 1000.0; // the virtual world's first uptime

class CaptureCoreTest : public ::testing::Test {
protected:
    CaptureCoreTest() {
        core->setOnBuffer([this](const MicBuffer& buffer) { buffers.push_back(buffer); });
        core->setOnComplete([this] { events.push_back("onComplete"); });
    }

    // Hands a block to the core as the tap would, with the world's clock at the block's end.
    void feedAt(const AudioBlock& block, double time) {
        if (time + block.duration() > world.uptime())
            world.runUntil(time + block.duration());
        core->feed(block, time);
        world.runReady();
        reference.push_back(block);
    }

    // 16 kHz mono blocks of 0.1 s from `from`, back to back.
    void feed16k(double from, int count, float amplitude = 0.1f) {
        for (int i = 0; i < count; ++i)
            feedAt(toneBlock(16000, 1, 1600, amplitude), from + 0.1 * i);
    }

    void finish(double release, double postRoll) {
        core->finish(release, postRoll, [this](const CapturedClip& c) {
            events.push_back("completion");
            clips.push_back(c);
        });
        world.runReady();
    }

    // What a fresh converter makes of the blocks fed so far, with or without its drained tail.
    std::size_t referenceSamples(bool withTail) {
        PCMConverter converter;
        std::size_t n = 0;
        for (const auto& block : reference)
            n += converter.convert(block).size();
        return n + (withTail ? converter.finish().size() : 0);
    }

    std::vector<std::string> clipLines() const { return log.starting("mic: clip "); }

    VirtualWorld world;
    LogLines log;
    SerialQueue audio{"audio"};
    std::shared_ptr<CaptureCore> core = std::make_shared<CaptureCore>(audio);
    std::vector<MicBuffer> buffers;
    std::vector<CapturedClip> clips;
    std::vector<std::string> events;
    std::vector<AudioBlock> reference;
};

TEST_F(CaptureCoreTest, AZeroPostRollEndsAtOnceWithWhatWasConsumed) {
    core->start(t0);
    for (int i = 0; i < 5; ++i)
        feedAt(toneBlock(48000, 2, 1024, 0.1f, 440, 1024 * i), t0 + i * 1024 / 48000.0);
    finish(world.uptime(), 0);
    ASSERT_EQ(clips.size(), 1u);
    // The converter's held samples are dropped, not drained.
    EXPECT_EQ(clips[0].pcm16kMono().size(), referenceSamples(false));
    EXPECT_LT(referenceSamples(false), referenceSamples(true));
    EXPECT_EQ(clipLines().back().substr(clipLines().back().find("blocks")),
              "blocks, ended by cancelled 0 ms after release");
    EXPECT_EQ(events, (std::vector<std::string>{"onComplete", "completion"}));
    EXPECT_FALSE(core->isCapturing());
}

TEST_F(CaptureCoreTest, FinishWithNothingToFinishAnswersAnEmptyClipAtOnce) {
    finish(t0, 0.3);
    ASSERT_EQ(clips.size(), 1u);
    EXPECT_EQ(clips[0], CapturedClip::empty());

    core->start(t0);
    feed16k(t0, 2);
    finish(t0 + 0.2, 0.3);
    EXPECT_EQ(clips.size(), 1u); // the first finish waits for its post-roll
    finish(t0 + 0.2, 0.3);
    ASSERT_EQ(clips.size(), 2u);
    EXPECT_EQ(clips[1], CapturedClip::empty());
    EXPECT_TRUE(clipLines().empty());
}

TEST_F(CaptureCoreTest, ABlockFromTheCutoffOnIsNotUsedAndTheTailIsDrained) {
    // A hole: the next block begins after the cutoff, or exactly at it (and arrives before
    // the deadline).
    for (double late : {0.01, 0.0}) {
        SCOPED_TRACE(late);
        world.runUntil(world.uptime() + 1);
        const double from = world.uptime();
        const double release = from + 0.2;
        const double cutoff = release + 0.15; // as the core computes it
        reference.clear();
        clips.clear();
        core->start(from);
        feedAt(toneBlock(48000, 2, 4800, 0.1f), from);
        feedAt(toneBlock(48000, 2, 4800, 0.1f, 440, 4800), from + 0.1);
        finish(release, 0.15); // no audio reaches the cutoff yet
        ASSERT_TRUE(clips.empty());
        std::size_t delivered = buffers.size();
        std::size_t expected = referenceSamples(true);

        feedAt(toneBlock(48000, 2, 480, 0.1f), cutoff + late);
        ASSERT_EQ(clips.size(), 1u);
        EXPECT_EQ(clips[0].pcm16kMono().size(), expected);
        EXPECT_NE(clipLines().back().find(", 2 blocks, ended by post-roll"), std::string::npos);
        // Only the drained tail was handed on, at the end of the last block used.
        ASSERT_EQ(buffers.size(), delivered + 1);
        EXPECT_DOUBLE_EQ(buffers.back().time(), from + 0.2);
    }
}

TEST_F(CaptureCoreTest, TheBlockThatCrossesTheCutoffIsTrimmedToIt) {
    // 1024 frames at 48 kHz last 21.33 ms; the last block starts 10 ms before the cutoff and
    // ends 11.33 ms after it: round(0.011333 × 16000) = 181 samples are cut.
    const double release = t0 + 0.5;
    const double cutoff = release + 0.3;
    const double frames = 1024 / 48000.0;
    const int count = 20;
    auto startOf = [&](int i) { return cutoff - 0.010 - (count - 1 - i) * frames; };
    core->start(startOf(0));
    int i = 0;
    for (; startOf(i) + frames <= release; ++i)
        feedAt(toneBlock(48000, 2, 1024, 0.1f, 440, 1024 * i), startOf(i));
    finish(release, 0.3);
    for (; i < count; ++i)
        feedAt(toneBlock(48000, 2, 1024, 0.1f, 440, 1024 * i), startOf(i));

    ASSERT_EQ(clips.size(), 1u);
    EXPECT_EQ(clips[0].pcm16kMono().size(), referenceSamples(true) - 181);
    EXPECT_NE(clipLines().back().find(", 20 blocks, ended by post-roll"), std::string::npos);
}

TEST_F(CaptureCoreTest, WithoutABlockAfterTheCutoffTheDeadlineEndsTheClip) {
    core->start(t0);
    for (int i = 0; i < 10; ++i)
        feedAt(toneBlock(48000, 2, 1024, 0.1f, 440, 1024 * i), t0 + i * 1024 / 48000.0);
    const double release = world.uptime();
    finish(release, 0.3);
    std::size_t delivered = buffers.size();

    world.runUntil(release + 0.3 + 0.0999);
    EXPECT_TRUE(clips.empty());
    world.runUntil(release + 0.3 + 0.1);
    ASSERT_EQ(clips.size(), 1u);
    EXPECT_EQ(clips[0].pcm16kMono().size(), referenceSamples(true));
    EXPECT_NE(clipLines().back().find("ended by deadline 400 ms after release"), std::string::npos);
    ASSERT_EQ(buffers.size(), delivered + 1); // the drained tail
    EXPECT_DOUBLE_EQ(buffers.back().time(), release);
}

TEST_F(CaptureCoreTest, AudioThatAlreadyReachesPastTheCutoffEndsTheClipAtFinish) {
    core->start(t0);
    feed16k(t0, 5); // up to 1000.5
    finish(t0 + 0.3, 0.1);
    ASSERT_EQ(clips.size(), 1u);
    // Cut back to the cutoff, 0.4 s after the beginning.
    EXPECT_EQ(clips[0].pcm16kMono().size(), 6400u);
    EXPECT_EQ(clips[0].durationMs(), 400);
    EXPECT_NE(clipLines().back().find("ended by post-roll"), std::string::npos);
}

TEST_F(CaptureCoreTest, OnlyAudioBeforeTheReleaseCountsAsSpeech) {
    // Silence, then 0.5 s of loud audio, then silence again; the key is released at
    // `release` after the beginning and the post-roll of 0.6 s takes in all the loud audio.
    struct Case {
        double release;
        bool speech;
    };
    for (Case c : {Case{1.0, true}, Case{0.8, true}, Case{0.55, false}, Case{0.5, false}}) {
        const double from = world.uptime();
        core->start(from);
        bool finished = false;
        for (int i = 0; i < 17 && clips.empty(); ++i) {
            double at = 0.1 * i;
            if (!finished && at >= c.release - 1e-9) {
                finish(from + c.release, 0.6);
                finished = true;
            }
            float amplitude = at >= 0.5 - 1e-9 && at < 1.0 - 1e-9 ? 0.1f : 0;
            feedAt(toneBlock(16000, 1, 1600, amplitude), from + at);
        }
        ASSERT_EQ(clips.size(), 1u) << "release at +" << c.release;
        EXPECT_EQ(clips[0].speechDetected(), c.speech) << "release at +" << c.release;
        EXPECT_EQ(clips[0].pcm16kMono().size(),
                  static_cast<std::size_t>(std::llround((c.release + 0.6) * 16000)));
        clips.clear();
    }
}

TEST_F(CaptureCoreTest, AudioEndingBeforeTheFloorBelongsToNoCapture) {
    core->markPaused(t0 + 0.5);
    core->markPaused(t0 + 0.2); // the floor never goes down
    core->start(t0 + 0.6);
    feedAt(toneBlock(16000, 1, 1600, 0.1f), t0 + 0.4);  // ends at the floor: dropped
    feedAt(toneBlock(16000, 1, 1600, 0.1f), t0 + 0.45); // ends after it: pre-roll
    finish(world.uptime(), 0);
    ASSERT_EQ(clips.size(), 1u);
    EXPECT_EQ(clips[0].pcm16kMono().size(), 1600u);
    EXPECT_NE(clipLines().back().find(", 1 blocks, "), std::string::npos);
    auto first = log.starting("mic: first block ");
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0], "mic: first block -50 ms after begin (captured at +-150 ms, 1600 frames "
                        "at 16000 Hz)");
}

TEST_F(CaptureCoreTest, AStartWhileWaitingRestartsAndAStartWhileRecordingDrops) {
    core->start(t0);
    feed16k(t0, 3);
    finish(t0 + 0.3, 0.3);
    core->start(t0 + 0.35);
    ASSERT_EQ(clips.size(), 1u);
    EXPECT_EQ(clips[0].pcm16kMono().size(), 4800u);
    EXPECT_NE(clipLines().back().find("ended by restarted"), std::string::npos);

    feed16k(t0 + 0.4, 2);
    core->start(t0 + 0.6);
    EXPECT_TRUE(log.contains("mic: begin while capturing: the unfinished capture is dropped"));
    EXPECT_EQ(clips.size(), 1u);
    feed16k(t0 + 0.6, 1);
    finish(world.uptime(), 0);
    ASSERT_EQ(clips.size(), 2u);
    EXPECT_EQ(clips[1].pcm16kMono().size(), 1600u); // nothing of the dropped capture
    // The completed capture raised the floor to its completion time.
    EXPECT_EQ(clipLines().size(), 2u);
}

TEST_F(CaptureCoreTest, DurationIsRoundedHalfAwayFromZero) {
    struct Case {
        std::size_t samples;
        std::int64_t ms;
    };
    for (Case c : {Case{24000, 1500}, Case{8, 1}, Case{7, 0}, Case{24, 2}}) {
        core->start(world.uptime());
        feedAt(toneBlock(16000, 1, c.samples, 0.1f), world.uptime());
        finish(world.uptime(), 0);
        ASSERT_FALSE(clips.empty());
        EXPECT_EQ(clips.back().durationMs(), c.ms) << c.samples << " samples";
    }
}

TEST_F(CaptureCoreTest, CancelAnswersTheWaitingCompletionWithAnEmptyClipAndNoLine) {
    core->start(t0);
    feed16k(t0, 3);
    finish(t0 + 0.3, 0.3);
    core->cancel();
    ASSERT_EQ(clips.size(), 1u);
    EXPECT_EQ(clips[0], CapturedClip::empty());
    EXPECT_TRUE(clipLines().empty());
    EXPECT_EQ(events, (std::vector<std::string>{"completion"}));
    EXPECT_FALSE(core->isCapturing());
    // Its deadline finds nothing to do.
    world.runUntil(t0 + 2);
    EXPECT_EQ(clips.size(), 1u);
}

TEST_F(CaptureCoreTest, TheTapDatesABlockWithoutATimeAsEndingNow) {
    core->start(t0);
    world.runUntil(t0 + 0.5);
    core->tap(toneBlock(16000, 1, 1600, 0.1f), std::nullopt);
    core->tap(toneBlock(16000, 1, 1600, 0.1f), t0 + 0.42);
    core->tap(AudioBlock({16000, 1}, {}), std::nullopt);              // empty: ignored
    core->tap(AudioBlock({16000, 2}, {0.1f, 0.2f, 0.3f}), t0 + 0.45); // not whole frames
    world.runReady();
    ASSERT_EQ(buffers.size(), 2u);
    EXPECT_DOUBLE_EQ(buffers[0].time(), t0 + 0.4);
    EXPECT_DOUBLE_EQ(buffers[1].time(), t0 + 0.42);
    EXPECT_NEAR(buffers[0].level(), MicLevel::level(0.1f / std::sqrt(2.0f)), 1e-3);
}

} // namespace
} // namespace talverin
