// labels: tsan
// links: TalverinAudio
// timeout: 300
#include "TalverinSpeech/LiveDraft.h"

#include "Runtime/SerialQueue.h"
#include "Runtime/Unicode.h"
#include "SpeechTestSupport.h"
#include "TalverinSpeech/RecognizerDraftProvider.h"
#include "TalverinSpeech/linux/SpeechRecognizersPocketsphinx.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace talverin {
namespace {

using test::waitFor;

// The live draft over the real recogniser, fed espeak-ng's speech straight from memory, faster
// than real time but never further ahead of the decoder than its backlog allows.
class LiveDraftPocketsphinx : public ::testing::Test {
protected:
    void SetUp() override {
        if (auto missing = test::speechMissing(); !missing.empty())
            GTEST_SKIP() << missing;
    }

    void make(SpeechRecognizersPocketsphinx::Options options = {},
              std::optional<DraftTuning> tuning = std::nullopt) {
        recognizers = std::make_shared<SpeechRecognizersPocketsphinx>(test::installedModelRoot(),
                                                                      std::move(options));
        decoder = std::dynamic_pointer_cast<SpeechRecognizerPocketsphinx>(
            recognizers->recognizer("en-US"));
        if (tuning)
            draft = std::make_unique<LiveDraft>(
                std::make_unique<RecognizerDraftProvider>(recognizers, *tuning, "test.draft"),
                *tuning, std::make_unique<SerialQueue>("test.draft"));
        else
            draft = std::make_unique<LiveDraft>(recognizers);
        draft->onPartial = [this](const std::string&) { ++partials; };
    }

    // Blocks of 100 ms, each appended once the decoder is less than 5 s of audio behind; then
    // waits until the decoder has taken all of it.
    void feed(const std::vector<float>& samples) {
        const std::uint64_t start = decoder->decodedSamples();
        std::uint64_t fed = 0;
        for (std::size_t at = 0; at < samples.size(); at += 1600) {
            ASSERT_TRUE(
                waitFor([&] { return fed - (decoder->decodedSamples() - start) < 80000; }, 60))
                << "the decoder stopped taking audio";
            const auto end = std::min(at + 1600, samples.size());
            std::vector<float> block(samples.begin() + static_cast<std::ptrdiff_t>(at),
                                     samples.begin() + static_cast<std::ptrdiff_t>(end));
            draft->append(MicBuffer(std::move(block), 0.5f, Clock::uptime()));
            fed += end - at;
        }
        // The decoder may run slower than real time under the sanitizers on a busy machine;
        // the bound only ends a decoder that stopped, well inside the test's own timeout.
        ASSERT_TRUE(waitFor([&] { return decoder->decodedSamples() - start >= fed; }, 200))
            << "the decoder stopped before it had taken all the audio";
    }

    std::string finish() {
        auto future = draft->finish();
        EXPECT_TRUE(waitFor([&] { return future.isReady(); }, 10));
        return future.peek().value_or("<none>");
    }

    std::string lineLike(const std::string& pattern) {
        std::regex re(pattern);
        for (const auto& line : log.lines())
            if (std::regex_match(line, re))
                return line;
        std::string lines;
        for (const auto& line : log.lines())
            lines += "\n  " + line;
        ADD_FAILURE() << "no line like: " << pattern << "\nlines:" << lines;
        return "";
    }

    test::ThreadEventLoop loop;
    test::LogLines log;
    test::TempDir dir;
    std::shared_ptr<SpeechRecognizersPocketsphinx> recognizers;
    std::shared_ptr<SpeechRecognizerPocketsphinx> decoder;
    std::unique_ptr<LiveDraft> draft;
    std::atomic<int> partials = 0;
};

TEST_F(LiveDraftPocketsphinx, SpeechGivesLiveWordsAndAFinalDraft) {
    make();
    auto speech = test::speechSamples(dir.path(), "Good morning. Please send the report to the "
                                                  "team before the meeting on Friday.");
    draft->prewarm({"en"});
    draft->start({"en"}, {"Talverin"});
    feed(speech);
    ASSERT_TRUE(waitFor([&] { return partials > 0; }, 30)) << "no live words on the main queue";

    const std::string text = finish();
    EXPECT_FALSE(text.empty());
    lineLike("LiveDraft: start en-US, 1 words, resolved in \\d+ ms");
    lineLike("LiveDraft: first words after \\d+ ms");
    lineLike("LiveDraft: finish final in \\d+ ms, 1 segment\\(s\\), " +
             std::to_string(Unicode::graphemeCount(text)) + " chars");
}

// A test-only grammar makes the decoder exact, so the words themselves can be checked.
TEST_F(LiveDraftPocketsphinx, ASentenceOfASmallGrammarIsDraftedWordForWord) {
    make({"#JSGF V1.0;\ngrammar sentences;\n"
          "public <sentence> = (hello world | good morning) this is a (test | trial) of the "
          "(dictation | recording) system;\n"});
    auto speech =
        test::speechSamples(dir.path(), "Hello world, this is a test of the dictation system.");
    draft->start({"en"}, {});
    feed(speech);
    EXPECT_EQ(finish(), "hello world this is a test of the dictation system");
    lineLike("LiveDraft: finish final in \\d+ ms, 1 segment\\(s\\), \\d+ chars");
}

// A segment gives way to the next one with the real recogniser: the old channel finishes while
// the new one takes the audio, and the draft joins both. The rotation points are shortened to
// 5 and 5.5 s (the standard 50 and 55 s are checked on the fake engine), so the decoder has a
// few seconds of audio to work through rather than a minute. A decoder slowed down by the
// sanitizers on a busy machine can take longer than the 3 s a rotated segment normally gets for
// its final words, and dropping that segment would also drop its queued audio, which feed()
// waits to see decoded: here the old segment may take as long as it needs.
TEST_F(LiveDraftPocketsphinx, ALongDictationRotatesItsSegment) {
    DraftTuning tuning = DraftTuning::standard();
    tuning.softRotate = 5;
    tuning.hardRotate = 5.5;
    tuning.staleSegmentCap = 600;
    make({}, tuning);
    auto speech = test::longSpeech(dir.path(), 7);
    ASSERT_EQ(speech.size(), 7u * 16000);
    draft->start({"en"}, {});
    feed(speech);
    const std::string line = lineLike("LiveDraft: segment 2 after \\d+\\.\\d s");
    if (!line.empty()) {
        const double seconds = std::stod(line.substr(line.rfind("after ") + 6));
        EXPECT_GE(seconds, 5.0);
        EXPECT_LE(seconds, 5.5);
    }
    EXPECT_TRUE(log.starting("LiveDraft: segment 3").empty());
    EXPECT_FALSE(finish().empty());
    lineLike("LiveDraft: finish .* 2 segment\\(s\\), \\d+ chars");
}

// There is no Russian model: the dictation goes on with the level meter only.
TEST_F(LiveDraftPocketsphinx, RussianAloneHasNoRecognizer) {
    make();
    draft->start({"ru"}, {});
    EXPECT_EQ(finish(), "");
    lineLike("LiveDraft: no on-device recognizer for 1 language\\(s\\), level only \\(\\d+ ms\\)");
    EXPECT_EQ(decoder->decodedSamples(), 0u);
}

} // namespace
} // namespace talverin
