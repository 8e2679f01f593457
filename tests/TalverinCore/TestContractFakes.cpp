// labels: tsan
#include "Runtime/MainQueue.h"
#include "Runtime/Task.h"
#include "Runtime/VirtualWorld.h"
#include "fakes/ContextReadingFake.h"
#include "fakes/DictatingFake.h"
#include "fakes/FakeElement.h"
#include "fakes/KeyTappingFake.h"
#include "fakes/LiveDraftingFake.h"
#include "fakes/MicCapturingFake.h"
#include "fakes/PillPresentingFake.h"
#include "fakes/TextInsertingFake.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <thread>
#include <vector>

// The fakes stand in for the seven contracts in every test of the dictation session, so each
// keeps the obligations the real services keep. These tests show those obligations.

namespace talverin {
namespace {

using test::ContextReadingFake;
using test::DictatingFake;
using test::FakeElement;
using test::KeyTappingFake;
using test::LiveDraftingFake;
using test::MicCapturingFake;
using test::PillPresentingFake;
using test::TextInsertingFake;

MicBuffer block(double time, std::size_t samples = 160, float level = 0.3f) {
    return MicBuffer(std::vector<float>(samples, 0.1f), level, time);
}

// Records when a future answered and with what.
template <typename T> struct Answered {
    std::optional<T> value;
    double at = -1;

    void watch(const Future<T>& future) {
        future.then([this](const T& v) {
            value = v;
            at = Clock::uptime();
        });
    }
};

// --- MicCapturing ---

TEST(MicCapturingFake, DeliversBlocksOnItsAudioQueueOnlyWhileACaptureIsOpen) {
    VirtualWorld world;
    MicCapturingFake mic;
    std::vector<bool> onMain;
    std::vector<bool> onAudio;
    mic.setOnBuffer([&](const MicBuffer&) {
        onMain.push_back(MainQueue::isCurrent());
        onAudio.push_back(mic.audioQueue().isCurrent());
    });

    mic.deliver(block(1000.0));
    world.runUntilIdle();
    EXPECT_EQ(mic.droppedBlocks(), 1u) << "no capture is open before begin()";

    ASSERT_TRUE(mic.begin().ok());
    mic.deliver(block(1000.0));
    mic.deliverAfter(0.01, block(1000.01));
    world.runUntilIdle();
    EXPECT_EQ(onMain, (std::vector<bool>{false, false}));
    EXPECT_EQ(onAudio, (std::vector<bool>{true, true}));

    mic.endAnswers.push(CapturedClip({0.1f}, true, 1), 0.15);
    auto clip = mic.end(150);
    mic.deliverAfter(0.1, block(1000.1)); // post-roll: the capture is still open
    mic.deliverAfter(0.2, block(1000.2)); // after the clip came back
    world.runUntilIdle();
    EXPECT_EQ(mic.deliveredBlocks(), 3u);
    EXPECT_EQ(mic.droppedBlocks(), 2u);
    EXPECT_EQ(clip.peek(), CapturedClip({0.1f}, true, 1));
    EXPECT_EQ(mic.log.last("end")->args, "150");
}

TEST(MicCapturingFake, FailsTheTestWhenEndOrBeginComesBeforeAnEarlierEndAnswered) {
    VirtualWorld world;
    MicCapturingFake mic;
    ASSERT_TRUE(mic.begin().ok());
    Promise<CapturedClip> first = mic.endAnswers.pushByHand();
    mic.end(150);
    EXPECT_NONFATAL_FAILURE(mic.end(0), "earlier end() had not answered");
    EXPECT_NONFATAL_FAILURE((void)mic.begin(), "end() had not answered");

    first.resolve(CapturedClip::empty());
    world.runUntilIdle();
    ASSERT_TRUE(mic.begin().ok()) << "once the stop answered, a new capture may begin";
    auto clip = mic.end(0);
    EXPECT_EQ(clip.peek(), CapturedClip::empty()) << "nothing scripted: the empty clip";
}

TEST(MicCapturingFake, AnswersBeginFromItsScriptAndReadingsArriveOnTheControlQueue) {
    VirtualWorld world;
    MicCapturingFake mic;
    mic.beginAnswers.push_back(fail(MicError::noInput()));
    auto failed = mic.begin();
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().description(), "no input device");
    EXPECT_FALSE(mic.isCapturing());
    EXPECT_TRUE(mic.begin().ok());

    std::vector<MicCheckReading> readings;
    bool onControl = true;
    mic.beginLevelCheck([&](const MicCheckReading& reading) {
        onControl = onControl && mic.controlQueue().isCurrent() && !MainQueue::isCurrent();
        readings.push_back(reading);
    });
    mic.sendReading({0.2f, std::nullopt});
    world.runUntilIdle();
    mic.endLevelCheck();
    mic.sendReading({0.0f, MicSilenceReason::muted});
    world.runUntilIdle();
    EXPECT_EQ(readings, (std::vector<MicCheckReading>{{0.2f, std::nullopt}}));
    EXPECT_TRUE(onControl);
}

// --- LiveDrafting ---

TEST(LiveDraftingFake, DeliversLiveWordsOnlyWhileTheirSessionIsTheOneDelivering) {
    VirtualWorld world;
    LiveDraftingFake draft;
    std::vector<std::string> heard;
    draft.onPartial = [&](const std::string& text) {
        EXPECT_TRUE(MainQueue::isCurrent());
        heard.push_back(text);
    };

    draft.start({"en"}, {});
    EXPECT_TRUE(draft.sendPartial("first session"));
    EXPECT_TRUE(draft.sendPartialAfter(0.5, "late words of the first session"));
    draft.start({"en"}, {}); // before the world delivered anything
    EXPECT_TRUE(draft.sendPartial("second session"));
    draft.sendPartial("second session"); // the same text is not sent twice
    world.runUntilIdle();
    EXPECT_EQ(heard, std::vector<std::string>{"second session"});

    draft.sendPartial("said before finish");
    auto text = draft.finish();
    world.runUntilIdle();
    EXPECT_EQ(heard, std::vector<std::string>{"second session"})
        << "a delivery still queued at finish() is dropped";
    EXPECT_EQ(text.peek(), "said before finish") << "nothing scripted: the session's words";
}

TEST(LiveDraftingFake, ANewStartOrACancelLetsAWaitingFinishReturn) {
    VirtualWorld world;
    LiveDraftingFake draft;
    draft.finishCap = std::numeric_limits<double>::infinity();

    draft.start({"en"}, {});
    draft.sendPartial("replaced words");
    draft.finishAnswers.pushByHand(); // the test never answers this one
    auto replaced = draft.finish();
    draft.start({"ru", "en"}, {"Talverin"});
    world.runUntilIdle();
    EXPECT_EQ(replaced.peek(), "replaced words");

    draft.sendPartial("cancelled words");
    draft.finishAnswers.pushByHand();
    auto cancelled = draft.finish();
    draft.cancel();
    world.runUntilIdle();
    EXPECT_EQ(cancelled.peek(), "cancelled words");
    EXPECT_EQ(draft.finish().peek(), "") << "after cancel() there is no session and no result";
    EXPECT_EQ(draft.log.last("start")->args, "ru,en;Talverin");
}

TEST(LiveDraftingFake, AFinishIsCappedAndAnswersWithTheBestPartial) {
    VirtualWorld world;
    LiveDraftingFake draft;
    draft.start({"en"}, {});
    draft.sendPartial("best partial");
    draft.finishAnswers.push("final text that comes too late", 2.0);
    Answered<std::string> answer;
    double asked = Clock::uptime();
    answer.watch(draft.finish());
    world.runUntilIdle();
    EXPECT_EQ(answer.value, "best partial");
    EXPECT_NEAR(answer.at - asked, 0.6, 1e-9);
    EXPECT_EQ(draft.finish().peek(), "best partial") << "a finish without session: last result";

    draft.start({"en"}, {});
    draft.finishAnswers.push("final text", 0.3);
    Answered<std::string> inTime;
    inTime.watch(draft.finish());
    world.runUntilIdle();
    EXPECT_EQ(inTime.value, "final text");
}

TEST(LiveDraftingFake, IgnoresEmptyBlocksAndBlocksAfterFinish) {
    VirtualWorld world;
    LiveDraftingFake draft;
    draft.append(block(1000.0));
    draft.start({"en"}, {});
    draft.append(block(1000.0, 0));
    draft.append(block(1000.0, 160));
    draft.append(block(1000.01, 320));
    (void)draft.finish();
    draft.append(block(1000.02, 160));
    EXPECT_EQ(draft.acceptedBlocks(), 2u);
    EXPECT_EQ(draft.acceptedSamples(), 480u);
}

// The controller's buffer router calls append() on the audio thread while the main thread
// starts and finishes sessions.
TEST(LiveDraftingFake, AppendIsSafeFromAnotherThread) {
    VirtualWorld world;
    LiveDraftingFake draft;
    draft.start({"en"}, {});
    std::thread audio([&] {
        for (int i = 0; i < 2000; ++i)
            draft.append(block(1000.0 + i * 0.01));
    });
    for (int i = 0; i < 50; ++i) {
        (void)draft.finish();
        draft.start({"en"}, {});
    }
    audio.join();
    world.runUntilIdle();
    EXPECT_LE(draft.acceptedBlocks(), 2000u);
}

// --- ContextReading ---

Task<DictationContext> readOnWorker(ContextReading* reader, int timeoutMs) {
    Promise<DictationContext> promise;
    WorkerPool::async([reader, timeoutMs, promise] { promise.resolve(reader->read(timeoutMs)); });
    co_return co_await promise.future();
}

TEST(ContextReadingFake, ASlowReadBlocksItsWorkerWhileTheWorldGoesOn) {
    VirtualWorld world;
    ContextReadingFake reader;
    DictationContext field{
        .appName = "Editor", .isEditable = true, .elementToken = FakeElement::token("entry")};
    reader.answers.push(field, 0.8);
    std::vector<double> ticks;
    for (int i = 1; i <= 3; ++i)
        MainQueue::after(0.25 * i, [&] { ticks.push_back(Clock::uptime()); });

    double began = Clock::uptime();
    auto task = readOnWorker(&reader, 100);
    task.start();
    world.runUntilIdle();
    ASSERT_TRUE(task.done());
    EXPECT_EQ(task.result(), field);
    EXPECT_EQ(ticks.size(), 3u) << "the main queue ran while the read was blocked";
    EXPECT_EQ(reader.log.last("read")->args, "100");
    EXPECT_NEAR(Clock::uptime() - began, 0.8, 1e-9);

    auto fallback = readOnWorker(&reader, 100);
    fallback.start();
    world.runUntilIdle();
    EXPECT_EQ(fallback.result(), DictationContext::unknown());
}

TEST(ContextReadingFake, FailsTheTestWhenReadOnTheMainQueue) {
    VirtualWorld world;
    ContextReadingFake reader;
    EXPECT_NONFATAL_FAILURE((void)reader.read(100), "main queue");
}

// --- TextInserting ---

TEST(TextInsertingFake, AlwaysAnswersAndRecordsWhatItWasGiven) {
    VirtualWorld world;
    TextInsertingFake inserter;
    inserter.prepare();
    auto plain = inserter.insert("Hello", DictationContext::unknown());
    EXPECT_EQ(plain.peek(), InsertOutcome::inserted()) << "nothing scripted: inserted at once";

    inserter.answers.push(InsertOutcome::refused(RefuseReason::elementChanged), 0.2);
    Answered<InsertOutcome> refused;
    refused.watch(inserter.insert("World", DictationContext::unknown()));
    world.runUntilIdle();
    EXPECT_EQ(refused.value, InsertOutcome::refused(RefuseReason::elementChanged));
    EXPECT_DOUBLE_EQ(refused.at, 1000.2);
    EXPECT_EQ(inserter.log.names(), (std::vector<std::string>{"prepare", "insert", "insert"}));
    ASSERT_EQ(inserter.insertions().size(), 2u);
    EXPECT_EQ(inserter.insertions()[1].text, "World");
}

// --- Dictating ---

TEST(DictatingFake, AnswersFromItsScriptAndFailsTheTestWhenNothingIsScripted) {
    VirtualWorld world;
    DictatingFake cloud;
    cloud.answers.push(DictateResult{"Hello.", "hello", 420, "en"}, 1.0);
    cloud.answers.push(DictateError::limit());
    Answered<DictateReply> first;
    first.watch(cloud.dictate(DictateRequest{.languages = {"en"}, .mode = DictationMode::edit}));
    auto second = cloud.dictate({});
    world.runUntilIdle();
    EXPECT_EQ(first.value, DictateReply(DictateResult{"Hello.", "hello", 420, "en"}));
    EXPECT_DOUBLE_EQ(first.at, 1001.0);
    EXPECT_EQ(second.peek(), DictateReply(DictateError::limit()));
    EXPECT_EQ(cloud.requests().front().mode, DictationMode::edit);

    EXPECT_NONFATAL_FAILURE((void)cloud.dictate({}), "no answer scripted");
    cloud.configured = false;
    EXPECT_EQ(cloud.dictate({}).peek(), DictateReply(DictateError::notConfigured()));
}

// --- KeyTapping ---

TEST(KeyTappingFake, RelaysEventsThroughTheMainQueueAndKeepsTheHoldMachineRules) {
    VirtualWorld world;
    KeyTappingFake tap;
    std::vector<std::string> events;
    tap.onPress = [&](double t) { events.push_back("press " + std::to_string(t)); };
    tap.onStop = [&](double) { events.push_back("stop"); };
    tap.onCapture = [&](const KeyCaptureResult& r) {
        events.push_back(r == KeyCaptureResult::accepted(HoldKey::f13) ? "f13" : "other");
    };

    tap.sendPress(999.5);
    EXPECT_TRUE(events.empty()) << "the event waits for the main queue";
    world.runUntilIdle();
    EXPECT_EQ(events, std::vector<std::string>{"press 999.500000"});

    EXPECT_FALSE(tap.sendStop()) << "stop is reported only during hands-free";
    tap.setHandsFree(true);
    EXPECT_TRUE(tap.sendStop());

    EXPECT_FALSE(tap.beginCapture()) << "no tap is running";
    ASSERT_TRUE(tap.start());
    ASSERT_TRUE(tap.beginCapture());
    EXPECT_TRUE(tap.sendCapture(KeyCaptureResult::accepted(HoldKey::f13)));
    EXPECT_FALSE(tap.isCapturing()) << "a capture has one outcome";
    EXPECT_FALSE(tap.sendCapture(KeyCaptureResult::cancelled()));
    world.runUntilIdle();
    EXPECT_EQ(events, (std::vector<std::string>{"press 999.500000", "stop", "f13"}));
    EXPECT_EQ(tap.log.last("setHandsFree")->args, "true");
}

// --- PillPresenting ---

TEST(PillPresentingFake, ShowWithoutAFrameIsShowWithNoFrame) {
    VirtualWorld world;
    PillPresentingFake fake;
    PillPresenting& pill = fake;
    pill.show(PillState::polishing());
    pill.show(PillState::copied(), Rect{{0, 0}, {1512, 982}});
    pill.hide();
    ASSERT_EQ(fake.shown().size(), 2u);
    EXPECT_EQ(fake.shown()[0].state, PillState::polishing());
    EXPECT_FALSE(fake.shown()[0].screenFrame.has_value());
    EXPECT_EQ(fake.shown()[1].screenFrame, (Rect{{0, 0}, {1512, 982}}));
    EXPECT_EQ(fake.current(), PillState::hidden());
    EXPECT_EQ(fake.log.names(), (std::vector<std::string>{"show", "show", "hide"}));
}

TEST(PillPresentingFake, SwitchingDraggingOffCancelsARunningDrag) {
    VirtualWorld world;
    PillPresentingFake pill;
    std::vector<bool> dragChanges;
    std::vector<PillSpot> drops;
    pill.onDragChanged = [&](bool dragging) { dragChanges.push_back(dragging); };
    pill.onSpotChanged = [&](PillSpot spot) { drops.push_back(spot); };

    ASSERT_TRUE(pill.beginDrag());
    EXPECT_TRUE(pill.isDragging());
    pill.setDragEnabled(false);
    EXPECT_FALSE(pill.isDragging());
    EXPECT_FALSE(pill.beginDrag());
    pill.setDragEnabled(true);
    ASSERT_TRUE(pill.beginDrag());
    ASSERT_TRUE(pill.dropOn(PillSpot::topRight));
    EXPECT_EQ(dragChanges, (std::vector<bool>{true, false, true, false}));
    EXPECT_EQ(drops, std::vector<PillSpot>{PillSpot::topRight});
    EXPECT_EQ(pill.spot(), PillSpot::topRight);
}

} // namespace
} // namespace talverin
