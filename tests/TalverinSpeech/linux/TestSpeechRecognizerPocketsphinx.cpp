// labels: tsan
// links: TalverinAudio
#include "TalverinSpeech/linux/SpeechRecognizerPocketsphinx.h"

#include "SpeechTestSupport.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

namespace talverin {
namespace {

// What one channel reported; thread-safe, for reports that arrive on the decoder's thread.
class Reports {
public:
    std::function<void(RecognitionReport)> sink() {
        return [this](RecognitionReport report) {
            std::unique_lock lock(m_mutex);
            m_reports.push_back(std::move(report));
            m_changed.notify_all();
            // Holds the decoder thread here, with the lock released, while the test closes the
            // gate: nothing is decoded meanwhile, whatever the machine's speed.
            m_changed.wait(lock, [this] { return m_open; });
        };
    }
    void close() {
        std::lock_guard lock(m_mutex);
        m_open = false;
    }
    void open() {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    // Waits for the last report, a final result or an error.
    bool awaitLast(double seconds = 60) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::duration<double>(seconds), [this] {
            return !m_reports.empty() &&
                   (m_reports.back().error || m_reports.back().result->isFinal);
        });
    }
    std::vector<RecognitionReport> all() {
        std::lock_guard lock(m_mutex);
        return m_reports;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<RecognitionReport> m_reports;
    bool m_open = true;
};

class SpeechRecognizerPocketsphinxTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (auto missing = test::speechMissing(); !missing.empty())
            GTEST_SKIP() << missing;
        english = std::dynamic_pointer_cast<SpeechRecognizerPocketsphinx>(
            recognizers.recognizer("en-US"));
        ASSERT_TRUE(english && english->isAvailable());
    }

    // Holds the decoder on a report of a channel of its own until `blocker.open()`.
    std::unique_ptr<DraftChannel> holdDecoder() {
        blocker.close();
        auto channel = english->begin({}, blocker.sink());
        channel->endAudio();
        return channel;
    }

    static void feed(DraftChannel& channel, const std::vector<float>& samples) {
        for (std::size_t at = 0; at < samples.size(); at += 1600) {
            std::vector<float> block(
                samples.begin() + static_cast<std::ptrdiff_t>(at),
                samples.begin() + static_cast<std::ptrdiff_t>(std::min(at + 1600, samples.size())));
            channel.append(*DraftAudio::buffer(block, {16000, 1, DraftSampleFormat::int16, false}));
        }
    }

    test::TempDir dir;
    SpeechRecognizersPocketsphinx recognizers{test::installedModelRoot()};
    std::shared_ptr<SpeechRecognizerPocketsphinx> english;
    Reports blocker;
};

// A segment rotated out and then cancelled before the decoder reached it: its queued audio is
// never decoded and it reports nothing, while the next segment's utterance runs to its final.
TEST_F(SpeechRecognizerPocketsphinxTest, ACancelledChannelDropsItsQueuedAudioAndLeavesTheNextOne) {
    auto speech = test::speechSamples(dir.path(), "Hello world, this is a test.");
    auto held = holdDecoder();
    ASSERT_TRUE(blocker.awaitLast());
    const auto decodedBefore = english->decodedSamples();

    Reports old, current;
    auto rotated = english->begin({}, old.sink());
    feed(*rotated, speech);
    rotated->endAudio();
    auto next = english->begin({}, current.sink());
    feed(*next, speech);
    rotated->cancel();
    next->endAudio();
    blocker.open();

    ASSERT_TRUE(current.awaitLast());
    auto reports = current.all();
    ASSERT_TRUE(reports.back().result);
    EXPECT_FALSE(reports.back().result->text.empty());
    EXPECT_EQ(english->decodedSamples() - decodedBefore, speech.size());
    EXPECT_TRUE(old.all().empty());
}

// A decoder held back while more than ten seconds of audio pile up: the channel fails with the
// recogniser's error, takes no more audio, and the next channel decodes as before.
TEST_F(SpeechRecognizerPocketsphinxTest, ABacklogPastTenSecondsFailsTheChannel) {
    auto speech = test::speechSamples(dir.path(), "Hello world.");
    auto held = holdDecoder();
    ASSERT_TRUE(blocker.awaitLast());

    Reports flooded;
    auto channel = english->begin({}, flooded.sink());
    feed(*channel, std::vector<float>(11 * 16000, 0.0f));
    blocker.open();
    ASSERT_TRUE(flooded.awaitLast());
    auto reports = flooded.all();
    ASSERT_EQ(reports.size(), 1u);
    ASSERT_TRUE(reports[0].error);
    EXPECT_EQ(reports[0].error->domain + " " + std::to_string(reports[0].error->code),
              "pocketsphinx -100");

    Reports after;
    auto next = english->begin({}, after.sink());
    feed(*next, speech);
    next->endAudio();
    ASSERT_TRUE(after.awaitLast());
    EXPECT_TRUE(after.all().back().result);
    EXPECT_EQ(flooded.all().size(), 1u);
}

// The final result's confidences are the spoken words' posteriors, each a probability.
TEST_F(SpeechRecognizerPocketsphinxTest, AFinalCarriesOnePosteriorPerSpokenWord) {
    auto speech = test::speechSamples(dir.path(), "Good morning, how are you today?");
    Reports reports;
    auto channel = english->begin({}, reports.sink());
    feed(*channel, speech);
    channel->endAudio();
    ASSERT_TRUE(reports.awaitLast());
    auto last = reports.all().back();
    ASSERT_TRUE(last.result);
    const auto& result = *last.result;
    std::size_t words = 0;
    for (std::size_t at = 0; at != std::string::npos; at = result.text.find(' ', at + 1))
        ++words;
    ASSERT_FALSE(result.text.empty());
    EXPECT_EQ(result.segmentConfidences.size(), words) << result.text;
    for (float p : result.segmentConfidences) {
        EXPECT_GE(p, 0.0f);
        EXPECT_LE(p, 1.0f);
    }
}

} // namespace
} // namespace talverin
