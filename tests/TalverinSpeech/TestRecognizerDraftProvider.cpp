#include "TalverinSpeech/RecognizerDraftProvider.h"

#include "Runtime/VirtualWorld.h"
#include "fakes/SpeechRecognizersFake.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talverin {
namespace {

using test::SpeechRecognizersFake;
using Strings = std::vector<std::string>;

class RecognizerDraftProviderTest : public ::testing::Test {
protected:
    RecognizerDraftProvider& provider(Strings preferred = {},
                                      std::optional<std::string> region = std::nullopt) {
        m_provider = std::make_unique<RecognizerDraftProvider>(
            recognizers, DraftTuning::standard(), "test.livedraft",
            DraftLocaleSource{[preferred] { return preferred; }, [region] { return region; }});
        return *m_provider;
    }

    VirtualWorld world;
    std::shared_ptr<SpeechRecognizersFake> recognizers = std::make_shared<SpeechRecognizersFake>();

private:
    std::unique_ptr<RecognizerDraftProvider> m_provider;
};

TEST_F(RecognizerDraftProviderTest, WithoutAuthorizationNothingIsChosenOrCached) {
    recognizers->add("en-US");
    recognizers->status = 2;
    auto& p = provider();
    auto denied = p.resolve({"en"});
    EXPECT_EQ(denied.kind, DraftResolution::Kind::notAuthorized);
    EXPECT_EQ(denied.status, 2);
    EXPECT_EQ(recognizers->supportedReads, 0);
    EXPECT_TRUE(recognizers->recognizerCalls.empty());

    // Once allowed, the choice is made afresh: nothing was cached while it was denied.
    recognizers->status = SpeechRecognizers::authorized;
    auto allowed = p.resolve({"en"});
    ASSERT_EQ(allowed.kind, DraftResolution::Kind::engine);
    EXPECT_EQ(allowed.engine->localeId(), "en-US");
}

TEST_F(RecognizerDraftProviderTest, TheChoiceIsKeptFor120SecondsWhileItsRecognizerWorks) {
    auto& gb = recognizers->add("en-GB");
    recognizers->add("en-US");
    gb.available = false;
    auto& p = provider({"en-GB"});
    EXPECT_EQ(p.chooseLocale({"en"}), "en-US");

    gb.available = true;
    world.advance(119);
    EXPECT_EQ(p.chooseLocale({"en"}), "en-US") << "cached";
    EXPECT_EQ(p.chooseLocale({"en", "ru"}), "en-GB") << "another language list ranks afresh";
    EXPECT_EQ(p.chooseLocale({"en"}), "en-GB") << "the cache holds the last list only";

    // The cached recogniser is gone: a new choice at once.
    gb.available = false;
    EXPECT_EQ(p.chooseLocale({"en"}), "en-US");
    gb.available = true;
    world.advance(120);
    EXPECT_EQ(p.chooseLocale({"en"}), "en-GB") << "expired";
}

TEST_F(RecognizerDraftProviderTest, AnAbsentChoiceIsCachedToo) {
    auto& us = recognizers->add("en-US");
    us.available = false;
    auto& p = provider();
    EXPECT_EQ(p.resolve({"en"}).kind, DraftResolution::Kind::noRecognizer);
    us.available = true;
    world.advance(60);
    EXPECT_EQ(p.resolve({"en"}).kind, DraftResolution::Kind::noRecognizer);
    world.advance(60);
    EXPECT_EQ(p.resolve({"en"}).kind, DraftResolution::Kind::engine);
}

TEST_F(RecognizerDraftProviderTest, LanguagesAreTriedInOrderAndEachCandidateOnce) {
    for (const char* id : {"en-GB", "en-US", "ru-RU", "ru-UA"})
        recognizers->add(id).available = false;
    recognizers->made["ru-UA"]->available = true;
    recognizers->made["en-US"]->onDevice = false;
    auto& p = provider({"en-GB"});
    EXPECT_EQ(p.chooseLocale({"en", "en-GB", "ru"}), "ru-UA");
    // en-GB comes up for both English entries; it is asked once.
    EXPECT_EQ(recognizers->made["en-GB"]->availabilityChecks, 1);
    EXPECT_EQ(recognizers->made["ru-RU"]->availabilityChecks, 1);
    EXPECT_EQ(recognizers->supportedReads, 1);
}

TEST_F(RecognizerDraftProviderTest, RecognizersAndEnginesAreMadeOnceButFailuresAreNotKept) {
    recognizers->supported = {"de-DE", "en-US"};
    recognizers->made["en-US"] = std::make_shared<test::SpeechRecognizerFake>();
    auto& p = provider();
    EXPECT_EQ(p.resolve({"de"}).kind, DraftResolution::Kind::noRecognizer);
    world.advance(121);
    EXPECT_EQ(p.resolve({"de"}).kind, DraftResolution::Kind::noRecognizer);
    EXPECT_EQ(recognizers->recognizerCalls["de-DE"], 2) << "a failure to make one is retried";

    auto first = p.resolve({"en"});
    world.advance(121);
    auto second = p.resolve({"en"});
    ASSERT_EQ(first.kind, DraftResolution::Kind::engine);
    EXPECT_EQ(first.engine, second.engine);
    EXPECT_EQ(recognizers->recognizerCalls["en-US"], 1);
    EXPECT_EQ(p.supportedLocales(), (Strings{"de-DE", "en-US"}));
}

TEST_F(RecognizerDraftProviderTest, TheEngineTakesTheNativeFormatOnlyAt16kHzMono) {
    struct Case {
        DraftAudioFormat native;
        DraftAudioFormat expected;
    };
    const DraftAudioFormat int16{16000, 1, DraftSampleFormat::int16, false};
    const DraftAudioFormat float32 = DraftAudio::float32Format();
    const Case cases[] = {
        {{44100, 1, DraftSampleFormat::float32, false}, float32},
        {{16000, 2, DraftSampleFormat::int16, true}, float32},
        {{16000, 1, DraftSampleFormat::other, false}, float32},
        {int16, int16},
        {float32, float32},
    };
    for (const Case& c : cases) {
        recognizers = std::make_shared<SpeechRecognizersFake>();
        recognizers->add("en-US").native = c.native;
        auto resolved = provider().resolve({"en"});
        ASSERT_EQ(resolved.kind, DraftResolution::Kind::engine);
        EXPECT_EQ(resolved.engine->format(), c.expected) << c.native.sampleRate;
    }
}

TEST_F(RecognizerDraftProviderTest, ReportsBecomeEventsOnTheResultQueue) {
    auto& recognizer = recognizers->add("en-US");
    auto engine = provider().resolve({"en"}).engine;
    ASSERT_TRUE(engine);
    std::vector<DraftEvent> events;
    auto channel = engine->begin({"Talverin"}, [&](DraftEvent e) { events.push_back(e); });
    auto task = recognizer.task(0);
    ASSERT_TRUE(task);
    EXPECT_EQ(task->request.contextualStrings, Strings{"Talverin"});
    EXPECT_TRUE(task->request.requiresOnDeviceRecognition);
    EXPECT_TRUE(task->request.reportsPartialResults);
    EXPECT_TRUE(task->request.addsPunctuation);

    task->partial("hello");
    EXPECT_TRUE(events.empty()) << "events go through the result queue";
    world.runUntilIdle();
    EXPECT_EQ(events, std::vector<DraftEvent>{DraftEvent::partial("hello")});

    // A recogniser that gives up mid-utterance reports its last interim text with the error:
    // the session hears both, the failure last.
    task->report(
        {RecognitionResult{"hello there", false, {}}, RecognitionError{"pocketsphinx", 3}});
    world.runUntilIdle();
    EXPECT_EQ(events, (std::vector<DraftEvent>{DraftEvent::partial("hello"),
                                               DraftEvent::partial("hello there"),
                                               DraftEvent::failed("pocketsphinx 3")}));
}

TEST(RecognizerDraftEngine, ReportsBecomeEventsAndConfidenceNeedsEverySegmentAtThreeQuarters) {
    using Events = std::vector<DraftEvent>;
    struct Case {
        RecognitionReport report;
        Events expected;
    };
    auto finalWith = [](std::vector<float> confidences) {
        return RecognitionReport{RecognitionResult{"Hi.", true, std::move(confidences)}, {}};
    };
    const Case cases[] = {
        {finalWith({}), {DraftEvent::final("Hi.", false)}},
        {finalWith({0.9f, 0.8f, 0.74f}), {DraftEvent::final("Hi.", false)}},
        {finalWith({0.74f, 0.9f}), {DraftEvent::final("Hi.", false)}},
        {finalWith({0.75f, 0.75f}), {DraftEvent::final("Hi.", true)}},
        {finalWith({1.0f}), {DraftEvent::final("Hi.", true)}},
        {{RecognitionResult{"Hi", false, {}}, {}}, {DraftEvent::partial("Hi")}},
        {{{}, RecognitionError{"kAFAssistantErrorDomain", 1110}},
         {DraftEvent::failed("kAFAssistantErrorDomain 1110")}},
        {{RecognitionResult{"Hi.", true, {0.8f}}, RecognitionError{"x", 1}},
         {DraftEvent::final("Hi.", true)}},
        // An interim text that comes with an error: the text, then the failure.
        {{RecognitionResult{"Hi", false, {}}, RecognitionError{"x", 1}},
         {DraftEvent::partial("Hi"), DraftEvent::failed("x 1")}},
        {{}, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RecognizerDraftEngine::eventsOf(c.report), c.expected);
}

TEST(DraftLocaleSource, TheRegionComesFromTheLocaleNotTheLanguageList) {
    struct Case {
        std::map<std::string, std::string> environment;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {{{"LANG", "en_US.UTF-8"}}, "US"},
        {{{"LANGUAGE", "de:fr"}, {"LANG", "en_GB.UTF-8"}}, "GB"},
        {{{"LC_ALL", "de_AT.UTF-8"}, {"LANG", "en_GB.UTF-8"}}, "AT"},
        {{{"LANG", "sr_RS@latin"}}, "RS"},
        {{{"LANG", "C"}}, std::nullopt},
        {{{"LANG", "ru"}}, std::nullopt},
        {{}, std::nullopt},
    };
    for (const Case& c : cases) {
        auto lookup = [&](const char* name) -> const char* {
            auto it = c.environment.find(name);
            return it == c.environment.end() ? nullptr : it->second.c_str();
        };
        EXPECT_EQ(DraftLocaleSource::regionFrom(lookup), c.expected);
    }
}

} // namespace
} // namespace talverin
