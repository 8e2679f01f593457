#include "TalverinSpeech/LiveDraft.h"

#include "Runtime/MainQueue.h"
#include "Runtime/VirtualWorld.h"
#include "TalverinSpeech/DraftEngineNull.h"
#include "TalverinSpeech/DraftEngineProvidingNull.h"
#include "TalverinSpeech/RecognizerDraftProvider.h"
#include "TalverinSpeech/SpeechRecognizersNull.h"
#include "fakes/SpeechRecognizersFake.h"
#include "support/LogLines.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talverin {
namespace {

using test::RecognitionTaskFake;
using test::SpeechRecognizerFake;
using test::SpeechRecognizersFake;
using Strings = std::vector<std::string>;

constexpr float loud = 0.1f;
constexpr float quiet = 0.001f;

class LiveDraftTest : public ::testing::Test {
public:
    LiveDraftTest() {
        english = &recognizers->add("en-US");
        draft = std::make_unique<LiveDraft>(
            std::make_unique<RecognizerDraftProvider>(
                recognizers, DraftTuning::standard(), "test.livedraft",
                DraftLocaleSource{[] { return Strings{}; }, [] { return std::nullopt; }}),
            DraftTuning::standard(), std::make_unique<SerialQueue>("test.livedraft"));
        draft->onPartial = [this](const std::string& text) { partials.push_back(text); };
    }
    ~LiveDraftTest() override { draft.reset(); }

    void start(Strings words = {}) {
        draft->start({"en"}, words);
        world.runReady();
    }
    // The task of the segment being fed.
    RecognitionTaskFake& task() { return *english->tasks().back(); }
    RecognitionTaskFake& task(std::size_t index) { return *english->task(index); }

    static MicBuffer block(float amplitude, std::size_t samples = 16000) {
        return MicBuffer(std::vector<float>(samples, amplitude), amplitude, Clock::uptime());
    }
    // Whole seconds of audio, one block per second.
    void feed(int seconds, float amplitude) {
        for (int i = 0; i < seconds; ++i)
            draft->append(block(amplitude));
        world.runReady();
    }
    std::shared_ptr<std::optional<std::string>> finish() {
        auto out = std::make_shared<std::optional<std::string>>();
        draft->finish().then([out](const std::string& text) { *out = text; });
        world.runReady();
        return out;
    }
    // Lets the recogniser's report travel through the result queue to the session and on.
    void settle() { world.runReady(); }

    VirtualWorld world;
    test::LogLines log;
    std::shared_ptr<SpeechRecognizersFake> recognizers = std::make_shared<SpeechRecognizersFake>();
    SpeechRecognizerFake* english = nullptr;
    std::unique_ptr<LiveDraft> draft;
    Strings partials;
};

TEST_F(LiveDraftTest, WithoutAFinalTheBestPartialIsTheDraftAtTheCap) {
    start({" Foo", "foo", "", "Bar"});
    EXPECT_EQ(task().request.contextualStrings, (Strings{"Foo", "Bar"}));
    EXPECT_TRUE(log.contains("LiveDraft: start en-US, 2 words, resolved in 0 ms"));
    world.advance(1.25);
    feed(1, loud);
    task().partial("hello wor");
    settle();
    EXPECT_EQ(partials, Strings{"hello wor"});
    EXPECT_TRUE(log.contains("LiveDraft: first words after 1250 ms"));

    auto draftText = finish();
    EXPECT_TRUE(task().audioEnded());
    world.advance(0.599);
    EXPECT_FALSE(*draftText);
    world.advance(0.001);
    EXPECT_EQ(*draftText, "hello wor");
    EXPECT_TRUE(task().cancelled());
    EXPECT_TRUE(log.contains("LiveDraft: finish timed out, best partial in 600 ms, 1 segment(s), "
                             "9 chars"));
    EXPECT_EQ(draft->confidentFinal(), std::nullopt);
    EXPECT_EQ(partials, Strings{"hello wor"}) << "nothing is delivered while finishing";
}

TEST_F(LiveDraftTest, StartThenFinishWithoutAudio) {
    start();
    auto draftText = finish();
    world.advance(0.6);
    EXPECT_EQ(*draftText, "");
    EXPECT_TRUE(log.contains("LiveDraft: finish timed out, best partial in 600 ms, 1 segment(s), "
                             "0 chars"));
}

TEST_F(LiveDraftTest, AFinalWhileFinishingEndsAtOnceAndErrorsOfEndedAudioAreQuiet) {
    start();
    feed(2, loud);
    task().partial("Hello, wörld");
    settle();
    auto draftText = finish();
    world.advance(0.2);
    task().final("Hello, wörld!", {0.9f, 0.95f});
    settle();
    EXPECT_EQ(*draftText, "Hello, wörld!");
    EXPECT_TRUE(log.contains("LiveDraft: finish final in 200 ms, 1 segment(s), 13 chars"));
    EXPECT_EQ(draft->confidentFinal(), "Hello, wörld!");
    EXPECT_FALSE(task().cancelled()) << "a segment that is done is left alone";

    // A task whose audio was ended may answer with an error instead: not worth a line.
    start();
    finish();
    task().fail("kAFAssistantErrorDomain", 1110);
    settle();
    EXPECT_TRUE(log.starting("LiveDraft: segment 1 ended").empty());
    EXPECT_TRUE(log.contains("LiveDraft: finish final in 0 ms, 1 segment(s), 0 chars"));
    EXPECT_EQ(draft->confidentFinal(), std::nullopt) << "start cleared it";
}

TEST_F(LiveDraftTest, AConfidentFinalCountsOnlyForOneSegmentThatIsTheWholeTranscript) {
    struct Case {
        std::string name;
        std::function<void(LiveDraftTest&)> script;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"confident, one segment, same text",
         [](LiveDraftTest& t) {
             t.finish();
             t.task().final("Call me later.", {0.8f});
         },
         "Call me later."},
        // The transcript holds words joined by single spaces; the final as reported does not.
        {"same words, other spacing",
         [](LiveDraftTest& t) {
             t.finish();
             t.task().final(" Call me\n later. ", {0.8f});
         },
         "Call me later."},
        {"not confident",
         [](LiveDraftTest& t) {
             t.finish();
             t.task().final("Call me later.", {0.9f, 0.5f});
         },
         std::nullopt},
        {"the transcript kept an earlier utterance",
         [](LiveDraftTest& t) {
             t.task().partial("so I went to the store and");
             t.settle();
             t.finish();
             t.task().final("then", {0.9f});
         },
         std::nullopt},
        {"two segments",
         [](LiveDraftTest& t) {
             t.feed(55, loud);
             t.feed(1, loud);
             t.task(t.english->taskCount() - 2).final("Call me", {0.9f});
             t.settle();
             t.finish();
             t.task().final("later.", {0.9f});
         },
         std::nullopt},
        {"the final came before finish",
         [](LiveDraftTest& t) {
             t.task().final("Call me later.", {0.9f});
             t.settle();
             t.finish();
         },
         std::nullopt},
    };
    for (const Case& c : cases) {
        start();
        c.script(*this);
        settle();
        EXPECT_EQ(draft->confidentFinal(), c.expected) << c.name;
        draft->cancel();
        EXPECT_EQ(draft->confidentFinal(), std::nullopt) << c.name;
        settle();
    }
}

TEST_F(LiveDraftTest, CancelWhileFinishingAnswersWithTheTranscript) {
    start();
    task().partial("hello there");
    settle();
    auto draftText = finish();
    world.advance(0.1);
    draft->cancel();
    settle();
    EXPECT_EQ(*draftText, "hello there");
    EXPECT_TRUE(log.contains("LiveDraft: cancelled after 100 ms"));
    EXPECT_TRUE(task().cancelled());
    EXPECT_EQ(*finish(), "") << "cancel empties the last result";
}

TEST_F(LiveDraftTest, ASecondStartReplacesTheFirstSession) {
    start();
    auto& first = task();
    first.partial("first");
    settle();
    auto draftText = finish();
    start();
    EXPECT_EQ(*draftText, "first");
    EXPECT_TRUE(log.contains("LiveDraft: replaced by a new dictation"));
    EXPECT_TRUE(first.cancelled());
    EXPECT_EQ(english->taskCount(), 2u);

    task().partial("second");
    settle();
    EXPECT_EQ(partials, (Strings{"first", "second"}));
    world.advance(5);
    EXPECT_TRUE(log.starting("LiveDraft: finish").empty()) << "the replaced cap did nothing";
}

TEST_F(LiveDraftTest, LongSegmentsRotateWhenQuietAfter50sAndAlwaysAt55s) {
    struct Case {
        int loudSeconds;
        float lastBlock;
        std::optional<std::string> line;
    };
    const Case cases[] = {
        {52, quiet, "LiveDraft: segment 2 after 52.0 s"},
        {52, loud, std::nullopt},
        {55, loud, "LiveDraft: segment 2 after 55.0 s"},
        {50, quiet, "LiveDraft: segment 2 after 50.0 s"},
        {49, quiet, std::nullopt},
    };
    for (const Case& c : cases) {
        start();
        log.clear();
        const std::size_t before = english->taskCount();
        auto& first = task();
        feed(c.loudSeconds, loud);
        draft->append(block(c.lastBlock));
        settle();
        if (c.line) {
            EXPECT_EQ(log.starting("LiveDraft: segment"), Strings{*c.line});
            ASSERT_EQ(english->taskCount(), before + 1);
            EXPECT_TRUE(first.audioEnded());
            EXPECT_EQ(first.frames(), static_cast<std::size_t>(c.loudSeconds) * 16000);
            EXPECT_EQ(task().frames(), 16000u) << "the block goes to the new segment";
        } else {
            EXPECT_TRUE(log.starting("LiveDraft: segment").empty()) << c.loudSeconds;
            EXPECT_EQ(english->taskCount(), before);
            EXPECT_EQ(first.frames(), static_cast<std::size_t>(c.loudSeconds + 1) * 16000);
        }
        draft->cancel();
        settle();
    }
}

TEST_F(LiveDraftTest, ARotatedSegmentWithoutAFinalIsDroppedAfter3sKeepingItsPartial) {
    start();
    feed(30, loud);
    task().partial("first part");
    settle();
    feed(25, loud);
    feed(1, loud);
    auto& old = task(0);
    ASSERT_EQ(english->taskCount(), 2u);
    task().partial("second");
    settle();
    EXPECT_EQ(partials.back(), "first part second");

    world.advance(2.999);
    EXPECT_FALSE(old.cancelled());
    world.advance(0.001);
    EXPECT_TRUE(old.cancelled());
    EXPECT_TRUE(log.contains("LiveDraft: segment 1 gave no final result in 3000 ms, kept its "
                             "partial"));
    EXPECT_FALSE(old.partial("late")) << "no report after the cancel";

    auto draftText = finish();
    task().final("second.");
    settle();
    EXPECT_EQ(*draftText, "first part second.");
    EXPECT_TRUE(log.contains("LiveDraft: finish final in 0 ms, 2 segment(s), 18 chars"));
}

TEST_F(LiveDraftTest, ARotatedSegmentThatFinishesInTimeIsKept) {
    start();
    feed(56, loud);
    ASSERT_EQ(english->taskCount(), 2u);
    task(0).final("All of it.");
    settle();
    world.advance(10);
    EXPECT_FALSE(task(0).cancelled());
    EXPECT_TRUE(log.starting("LiveDraft: segment 1 gave").empty());
    EXPECT_EQ(english->taskCount(), 2u) << "a rotated segment's end starts nothing";
}

TEST_F(LiveDraftTest, ThreeQuickFailuresInARowSwitchLiveWordsOff) {
    start();
    task().fail("kAFAssistantErrorDomain", 1110);
    settle();
    EXPECT_TRUE(log.contains("LiveDraft: segment 1 ended: kAFAssistantErrorDomain 1110"));
    ASSERT_EQ(english->taskCount(), 2u);
    // Words, or a second of audio, reset the count.
    task().partial("hi");
    settle();
    task().fail("d", 1);
    settle();
    task().fail("d", 2);
    settle();
    feed(1, loud);
    task().fail("d", 3);
    settle();
    ASSERT_EQ(english->taskCount(), 5u);
    EXPECT_TRUE(log.starting("LiveDraft: the recognizer failed").empty());

    for (int i = 0; i < 3; ++i) {
        task().fail("d", 4);
        settle();
    }
    EXPECT_TRUE(log.contains(
        "LiveDraft: the recognizer failed 3 times in a row, live words off for this dictation"));
    EXPECT_EQ(english->taskCount(), 7u);
    const auto pending = world.pending();
    draft->append(block(loud));
    EXPECT_EQ(world.pending(), pending) << "no more audio is queued";
    EXPECT_EQ(partials, Strings{"hi"});
    EXPECT_EQ(*finish(), "hi") << "the transcript stays";
}

TEST_F(LiveDraftTest, DuplicatePartialsAreDeliveredOnce) {
    start();
    for (const char* text : {"hello", "hello", " hello\n", "hello world", "hello world"}) {
        task().partial(text);
        settle();
    }
    EXPECT_EQ(partials, (Strings{"hello", "hello world"}));
}

TEST_F(LiveDraftTest, BlocksAfterFinishOrCancelAreNotQueued) {
    start();
    draft->append(block(loud, 0));
    EXPECT_EQ(world.pending(), 0u) << "a block without samples";
    feed(1, loud);
    EXPECT_EQ(task().frames(), 16000u);

    finish();
    draft->append(block(loud));
    EXPECT_EQ(world.pending(), 1u) << "only the finish cap";
    world.advance(1);

    start();
    draft->cancel();
    draft->append(block(loud));
    settle();
    EXPECT_EQ(task().frames(), 0u);
    EXPECT_EQ(world.pending(), 0u);
}

TEST_F(LiveDraftTest, ALateDeliveryIsDropped) {
    start();
    task().partial("hello");
    // The event reaches the session, which posts the words to the main queue ...
    world.step();
    world.step();
    // ... and the key comes up before they arrive.
    auto draftText = finish();
    EXPECT_TRUE(partials.empty());

    // The same after a new start: the old session's words never reach the new one.
    start();
    task().partial("old");
    world.step();
    world.step();
    start();
    EXPECT_TRUE(partials.empty());
}

TEST_F(LiveDraftTest, FinishWithoutASessionAnswersTheLastResult) {
    start();
    task().final("Hello.");
    settle();
    // The recogniser ended the segment by itself, so a new one listens until the cap.
    auto first = finish();
    world.advance(0.6);
    EXPECT_EQ(*first, "Hello.");
    EXPECT_EQ(*finish(), "Hello.");
    EXPECT_EQ(*finish(), "Hello.");

    recognizers->status = 1;
    world.advance(200);
    start();
    EXPECT_TRUE(
        log.contains("LiveDraft: speech recognition not authorized (status 1), level only"));
    const auto pending = world.pending();
    draft->append(block(loud));
    EXPECT_EQ(world.pending(), pending);
    EXPECT_EQ(*finish(), "") << "start emptied it";

    recognizers->status = SpeechRecognizers::authorized;
    draft->start({"de", "fr"}, {});
    settle();
    EXPECT_TRUE(
        log.contains("LiveDraft: no on-device recognizer for 2 language(s), level only (0 ms)"));
    EXPECT_EQ(*finish(), "");
}

TEST_F(LiveDraftTest, AWholeSegmentRecognizerNeverFreezesItsEarlyGuesses) {
    english->restarts = UtteranceRestarts::never;
    english->native = {16000, 1, DraftSampleFormat::int16, false};
    start();
    feed(1, 0.5f);
    auto buffers = task().buffers();
    ASSERT_EQ(buffers.size(), 1u);
    EXPECT_EQ(std::get<std::vector<std::int16_t>>(buffers[0].samples).front(), 16384);
    for (const char* text : {"the cat sat on the", "a", "the cat sat on a mat"}) {
        task().partial(text);
        settle();
    }
    EXPECT_EQ(partials, (Strings{"the cat sat on the", "a", "the cat sat on a mat"}));
}

TEST_F(LiveDraftTest, PrewarmChoosesTheLocaleWithoutASession) {
    draft->prewarm({"en"});
    settle();
    EXPECT_EQ(recognizers->recognizerCalls["en-US"], 1);
    EXPECT_EQ(english->availabilityChecks, 1);
    EXPECT_EQ(english->taskCount(), 0u);
    start();
    EXPECT_EQ(english->availabilityChecks, 2) << "the cached choice is checked again";
}

TEST_F(LiveDraftTest, ReleasingTheDraftAnswersWaitersAndStopsEverything) {
    start();
    feed(56, loud);
    task().partial("hello");
    settle();
    auto draftText = finish();
    task().partial("hello again");
    // The event reaches the result queue, nothing further.
    world.step();
    draft.reset();
    world.runUntilIdle();
    EXPECT_EQ(*draftText, "hello");
    EXPECT_TRUE(task(0).cancelled() || task(0).destroyed());
    EXPECT_TRUE(task(1).destroyed());
    EXPECT_FALSE(task(1).partial("later"));
    EXPECT_EQ(partials, Strings{"hello"});
}

// A machine without a recogniser: every dictation goes on with the level meter only.
TEST(LiveDraftWithoutRecognizer, EveryDictationIsLevelOnly) {
    VirtualWorld world;
    test::LogLines log;
    auto recognizers = std::make_shared<SpeechRecognizersNull>("no speech model installed");
    EXPECT_EQ(recognizers->reason(), "no speech model installed");
    LiveDraft draft(recognizers);
    draft.prewarm({"en"});
    draft.start({"en"}, {"Talverin"});
    world.runReady();
    EXPECT_EQ(log.lines(), std::vector<std::string>{
                               "LiveDraft: no on-device recognizer for 1 language(s), level only "
                               "(0 ms)"});
    const auto pending = world.pending();
    draft.append(LiveDraftTest::block(loud));
    EXPECT_EQ(world.pending(), pending);
    std::optional<std::string> text;
    draft.finish().then([&](const std::string& t) { text = t; });
    world.runUntilIdle();
    EXPECT_EQ(text, "");
}

// A recogniser that cannot run answers the end of its audio at once with nothing, exactly once,
// and a cancelled request answers nothing at all.
TEST(DraftEngineNullTest, EndOfAudioIsAnsweredOnceWithNothingAndCancelSilences) {
    DraftEngineNull engine("en-US", "the model did not load");
    EXPECT_EQ(engine.localeId(), "en-US");
    EXPECT_EQ(engine.reason(), "the model did not load");

    std::vector<DraftEvent> events;
    auto channel = engine.begin({"Talverin"}, [&](DraftEvent e) { events.push_back(e); });
    channel->append(DraftPcmBuffer{});
    channel->endAudio();
    channel->endAudio();
    EXPECT_EQ(events, std::vector<DraftEvent>{DraftEvent::final("", false)});

    events.clear();
    auto cancelled = engine.begin({}, [&](DraftEvent e) { events.push_back(e); });
    cancelled->cancel();
    cancelled->endAudio();
    EXPECT_TRUE(events.empty());
}

// Engines whose recogniser cannot run: a dictation's draft is empty and comes at once, not
// after the finish cap.
class ProvidingNullEngines final : public DraftEngineProviding {
public:
    DraftResolution resolve(const std::vector<std::string>&) override {
        return DraftResolution::of(std::make_shared<DraftEngineNull>("en-US", "no model"));
    }
    std::optional<std::string> chooseLocale(const std::vector<std::string>&) override {
        return "en-US";
    }
};

struct NullDraftCase {
    const char* name;
    std::function<std::unique_ptr<DraftEngineProviding>()> provider;
};

class LiveDraftOverNulls : public ::testing::TestWithParam<NullDraftCase> {};

TEST_P(LiveDraftOverNulls, TheDraftIsEmptyBeforeTheCap) {
    VirtualWorld world;
    test::LogLines log;
    LiveDraft draft(GetParam().provider(), DraftTuning::standard(),
                    std::make_unique<SerialQueue>("test.livedraft"));
    std::vector<std::string> partials;
    draft.onPartial = [&](const std::string& text) { partials.push_back(text); };
    draft.prewarm({"en"});
    draft.start({"en"}, {"Talverin"});
    world.runUntilIdle();
    draft.append(LiveDraftTest::block(loud));
    world.runUntilIdle();
    std::optional<std::string> text;
    draft.finish().then([&](const std::string& t) { text = t; });
    // Only what is due now runs: the cap's timer never fires.
    world.runReady();
    EXPECT_EQ(text, "");
    EXPECT_TRUE(partials.empty());
}

INSTANTIATE_TEST_SUITE_P(
    , LiveDraftOverNulls,
    ::testing::Values(
        NullDraftCase{"NoEngines",
                      [] { return std::make_unique<DraftEngineProvidingNull>("no model"); }},
        NullDraftCase{"EnginesThatRecogniseNothing",
                      [] { return std::make_unique<ProvidingNullEngines>(); }}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace talverin
