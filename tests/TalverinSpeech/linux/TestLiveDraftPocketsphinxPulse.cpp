// labels: pulse
// resource-lock: pulse-server
// links: TalverinAudio TalverinAudioLinux
#include "TalverinSpeech/LiveDraft.h"

#include "SpeechTestSupport.h"
#include "TalverinAudio/DictationMic.h"
#include "TalverinAudio/linux/AudioSystemPulse.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

namespace talverin {
namespace {

using test::shell;
using test::waitFor;

// The whole audio path in real time: speech played into the session's virtual speaker comes
// back from its virtual microphone through the microphone service into the recogniser.
TEST(LiveDraftPocketsphinxPulse, SpeechThroughTheVirtualMicrophoneIsDrafted) {
    if (auto missing = test::speechMissing(); !missing.empty())
        GTEST_SKIP() << missing;
    if (!test::serverRuns())
        GTEST_SKIP() << "no sound server";
    test::ThreadEventLoop loop;
    test::LogLines log;
    test::TempDir dir;
    auto speech = test::makeSpeech(dir.path(), "Please call me back tomorrow morning.");

    auto recognizers = std::make_shared<SpeechRecognizersPocketsphinx>(test::installedModelRoot());
    auto decoder =
        std::dynamic_pointer_cast<SpeechRecognizerPocketsphinx>(recognizers->recognizer("en-US"));
    LiveDraft draft(recognizers);
    std::atomic<int> partials = 0;
    draft.onPartial = [&](const std::string&) { ++partials; };
    std::atomic<std::uint64_t> appended = 0;
    auto mic = std::make_unique<DictationMic>(
        std::make_shared<AudioSystemPulse>(PulseConnection::shared()), [] { return true; });
    mic->setOnBuffer([&](const MicBuffer& buffer) {
        appended += buffer.samples().size();
        draft.append(buffer);
    });

    ASSERT_TRUE(mic->prewarm());
    draft.prewarm({"en"});
    draft.start({"en"}, {});
    ASSERT_TRUE(mic->begin());
    ASSERT_EQ(shell("paplay -d vspk '" + speech.string() + "'"), 0);
    auto clip = mic->end(300);
    ASSERT_TRUE(waitFor([&] { return clip.isReady(); }, 10));
    ASSERT_GT(appended.load(), 0u);
    ASSERT_TRUE(waitFor([&] { return decoder->decodedSamples() >= appended.load(); }, 30));
    ASSERT_TRUE(waitFor([&] { return partials > 0; }, 10)) << "no live words on the main queue";

    auto future = draft.finish();
    ASSERT_TRUE(waitFor([&] { return future.isReady(); }, 10));
    EXPECT_FALSE(future.peek().value_or("").empty());
    EXPECT_EQ(log.starting("LiveDraft: finish final in ").size(), 1u);
    mic.reset();
}

} // namespace
} // namespace talverin
