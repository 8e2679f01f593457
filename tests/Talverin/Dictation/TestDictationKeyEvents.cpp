#include "Talverin/Dictation/DictationController.h"

#include "DictationRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

namespace talverin::test {
namespace {

using Kind = DictationPhase::Kind;
using Lines = std::vector<std::string>;
constexpr double T0 = DictationRig::T0;

// --- Timing of taps, holds and hands-free ---

struct ReleaseCase {
    const char* name;
    double heldFor;  // from key-down to the release event
    double handled;  // how long after its event the release is handled
    Kind right;      // the phase right after the release is handled
    double finishAt; // when the session starts finishing, from key-down
};

void PrintTo(const ReleaseCase& c, std::ostream* out) {
    *out << c.name;
}

class ReleaseTiming : public ::testing::TestWithParam<ReleaseCase> {};

// The double-tap wait counts from the release event, and a wait that has already run out is
// still posted rather than run inside the release handler.
TEST_P(ReleaseTiming, ATapWaitsForItsSecondPressFromTheReleaseEvent) {
    const ReleaseCase& c = GetParam();
    DictationRig rig;
    rig.pressAt(T0);
    double handledAt = T0 + c.heldFor + c.handled;
    rig.at(handledAt, [&rig, &c] { rig.keyTap->sendRelease(T0 + c.heldFor); });
    rig.runTo(handledAt - 0.001);
    ASSERT_TRUE(rig.world.stepNext()); // the key tap relays the release
    ASSERT_TRUE(rig.world.step());     // and the controller handles it, alone
    EXPECT_EQ(rig.phase(), c.right);

    double finishedAt = Clock::uptime();
    while (rig.phase() != Kind::finishing) {
        ASSERT_TRUE(rig.world.stepNext());
        finishedAt = Clock::uptime();
    }
    EXPECT_NEAR(finishedAt - T0, c.finishAt, 1e-9);
    rig.runTo(T0 + 5);
    Lines lines = rig.logLines();
    ASSERT_EQ(lines.size(), 1u);
    // The clip held no speech: a tap ends quietly, a hold with the silence pill.
    const char* outcome =
        c.right == Kind::tapWait ? "Dictation: tap, hold " : "Dictation: silence, hold ";
    EXPECT_EQ(lines[0].rfind(outcome, 0), 0u) << lines[0];
    EXPECT_EQ(rig.mic->log.last("end")->args, c.right == Kind::tapWait ? "0" : "150")
        << "a tap stops at once, a hold keeps its post-roll";
}

const ReleaseCase kReleases[] = {
    {"justATap", 0.249, 0, Kind::tapWait, 0.249 + 0.38},
    {"justAHold", 0.25, 0, Kind::finishing, 0.25},
    {"tapHandledLate", 0.1, 0.1, Kind::tapWait, 0.48},
    {"tapHandledAfterItsWait", 0.1, 0.5, Kind::tapWait, 0.6},
};

INSTANTIATE_TEST_SUITE_P(Releases, ReleaseTiming, ::testing::ValuesIn(kReleases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HandsFree, StopsByItselfAtTheFirstTickAfter118SecondsFromThePress) {
    DictationRig rig;
    rig.pressAt(T0);
    rig.releaseAt(T0 + 0.1);
    rig.doubleTapAt(T0 + 0.2);
    rig.runTo(T0 + 118.1);
    EXPECT_EQ(rig.phase(), Kind::handsFree);
    // Ticks run every 0.5 s from the start of hands-free: T0 + 118.2 is the first at or after
    // the limit.
    rig.runTo(T0 + 118.25);
    EXPECT_EQ(rig.phase(), Kind::idle);
    Lines lines = rig.logLines(T0 + 118.1, T0 + 118.25);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Dictation: hands-free stopped (limit) after 118000 ms");
    EXPECT_EQ(lines[1].rfind("Dictation: silence, hands-free, hold 118200 ms", 0), 0u) << lines[1];

    // Every tick before moved the pill's clock on.
    std::vector<double> elapsed;
    for (const auto& shown : rig.pill->shown())
        if (shown.state.kind() == PillState::Kind::handsFree)
            elapsed.push_back(shown.state.elapsed());
    ASSERT_GE(elapsed.size(), 236u);
    EXPECT_NEAR(elapsed.back(), 117.5, 1e-6);
    EXPECT_TRUE(std::is_sorted(elapsed.begin(), elapsed.end()));
}

TEST(HandsFree, AClickedDictationCountsItsLimitFromTheClick) {
    DictationRig rig;
    rig.at(T0 + 3, [&rig] { rig.dictation().clickedPill(); });
    rig.runTo(T0 + 3 + 117.9);
    EXPECT_EQ(rig.phase(), Kind::handsFree);
    rig.runTo(T0 + 3 + 118.05);
    EXPECT_EQ(rig.phase(), Kind::idle);
    EXPECT_EQ(rig.logLines(T0 + 120)[0], "Dictation: hands-free stopped (limit) after 118000 ms");
}

// --- Presses that cannot start a dictation ---

struct GateCase {
    const char* name;
    bool dragging;
    bool keyTest;
    const char* line;
};

void PrintTo(const GateCase& c, std::ostream* out) {
    *out << c.name;
}

class PressGate : public ::testing::TestWithParam<GateCase> {};

TEST_P(PressGate, APressThatCannotStartIsLoggedAndDropped) {
    const GateCase& c = GetParam();
    DictationRig rig;
    if (c.dragging)
        ASSERT_TRUE(rig.pill->beginDrag());
    rig.controller->keyTestShowing = [&c] { return c.keyTest; };
    rig.pressAt(T0);
    rig.releaseAt(T0 + 1);
    rig.runTo(T0 + 2);
    EXPECT_EQ(rig.logLines(), Lines{c.line});
    EXPECT_EQ(rig.mic->log.count("begin"), 0u);
    EXPECT_EQ(rig.shell.count("onBusy"), 0u);
    EXPECT_TRUE(rig.pill->shown().empty());
}

const GateCase kGates[] = {
    {"pillDragged", true, false, "Dictation: press ignored (the pill is being dragged)"},
    {"keyTest", false, true, "Dictation: press ignored (the onboarding's key test)"},
    {"both", true, true, "Dictation: press ignored (the pill is being dragged)"},
};

INSTANTIATE_TEST_SUITE_P(Gates, PressGate, ::testing::ValuesIn(kGates),
                         [](const auto& info) { return std::string(info.param.name); });

// --- The muted secure hold ---

struct MutedCase {
    const char* name;
    double heldFor;
    bool speech;
    bool pressAgain; // a new dictation begins before the muted clip is in
    bool refusedPill;
    const char* line;
};

void PrintTo(const MutedCase& c, std::ostream* out) {
    *out << c.name;
}

class MutedHold : public ::testing::TestWithParam<MutedCase> {};

TEST_P(MutedHold, ItsReleaseEndsItQuietlyUnlessTheUserSpokeIntoTheField) {
    const MutedCase& c = GetParam();
    DictationRig rig;
    rig.reader->answers.push(DictationRig::secureContext());
    rig.mic->endAnswers.push(CapturedClip(std::vector<float>(16000, 0.2f), c.speech, 1000), 0.2);
    rig.pressAt(T0);
    rig.releaseAt(T0 + c.heldFor);
    if (c.pressAgain)
        rig.pressAt(T0 + c.heldFor + 0.1);
    rig.runTo(T0 + c.heldFor + 0.21);

    Lines lines = rig.logLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Dictation: secure field at key-down: muted");
    EXPECT_EQ(lines[1], c.line);
    std::vector<std::string> refused;
    for (const auto& shown : rig.pill->shown())
        if (shown.state == PillState::refused(RefuseReason::secureField))
            refused.push_back(std::to_string(shown.time - T0));
    EXPECT_EQ(refused.size(), c.refusedPill ? 1u : 0u);
    // A muted hold never shows its listening pill, never ducks and never plays a tick.
    EXPECT_EQ(rig.ducker->log.count("duck"), 0u);
    EXPECT_EQ(rig.sounds->log.count("play"), 0u);
    EXPECT_EQ(rig.shell.count("onActive"), 0u);
}

const MutedCase kMuted[] = {
    {"spokeForASecond", 1.0, true, false, true, "Dictation: refused (secureField) after 1000 ms"},
    {"aTapWithSpeech", 0.1, true, false, false,
     "Dictation: refused (secureField) after 100 ms, quietly (a tap)"},
    {"silentHold", 1.0, false, false, false,
     "Dictation: refused (secureField) after 1000 ms, quietly (no speech)"},
    {"newDictationMeanwhile", 1.0, true, true, false,
     "Dictation: refused (secureField) after 1000 ms"},
};

INSTANTIATE_TEST_SUITE_P(Muted, MutedHold, ::testing::ValuesIn(kMuted),
                         [](const auto& info) { return std::string(info.param.name); });

// A dictation that began and already ended while the muted clip was still coming owns the
// pill: the stale refusal must not pop up after the user has dismissed that dictation.
TEST(MutedHold, ARefusalDoesNotFollowADictationThatCameAndWentMeanwhile) {
    DictationRig rig;
    rig.reader->answers.push(DictationRig::secureContext());
    rig.mic->endAnswers.push(CapturedClip(std::vector<float>(16000, 0.2f), true, 1000), 0.5);
    rig.pressAt(T0);
    rig.releaseAt(T0 + 1.0);
    rig.at(T0 + 1.1, [&rig] { rig.dictation().clickedPill(); });
    rig.at(T0 + 1.2, [&rig] { rig.keyTap->sendEscape(); });
    rig.runTo(T0 + 2);
    EXPECT_EQ(rig.phase(), Kind::idle);
    EXPECT_EQ(rig.shownKinds(), (Lines{"handsFree", "handsFree"})) << "no refusal after them";
    EXPECT_EQ(rig.pill->current(), PillState::hidden());
    EXPECT_EQ(rig.logLines().back(), "Dictation: refused (secureField) after 1000 ms");
}

// --- The serialised microphone stop ---

TEST(MicStop, TwoDropsThenAPressStartTheMicrophoneOnlyAfterBothStops) {
    DictationRig rig;
    Promise<CapturedClip> firstStop = rig.mic->endAnswers.pushByHand();
    rig.mic->endAnswers.push(CapturedClip::empty(), 0.5);
    rig.pressAt(T0);
    rig.cancelAt(T0 + 0.1, KeyCancelReason::otherKey);
    rig.pressAt(T0 + 0.2);
    rig.cancelAt(T0 + 0.3, KeyCancelReason::otherKey);
    rig.pressAt(T0 + 0.4);
    rig.runTo(T0 + 0.9);
    EXPECT_TRUE(rig.dictation().isStoppingMic());
    EXPECT_EQ(rig.mic->log.names(), (Lines{"setOnBuffer", "begin", "end"}));

    rig.at(T0 + 1.0, [&firstStop] { firstStop.resolve(CapturedClip::empty()); });
    rig.runTo(T0 + 2.0);
    EXPECT_EQ(rig.mic->log.names(), (Lines{"setOnBuffer", "begin", "end", "end", "begin"}));
    std::vector<double> times = rig.mic->log.times("end");
    EXPECT_NEAR(times[1] - T0, 1.0, 1e-9) << "the second stop waits for the first";
    EXPECT_NEAR(rig.mic->log.times("begin")[1] - T0, 1.5, 1e-9)
        << "the third dictation's capture opens once the second stop is done";
    EXPECT_FALSE(rig.dictation().isStoppingMic());
    EXPECT_EQ(rig.phase(), Kind::holding);
    EXPECT_TRUE(rig.mic->isCapturing());
}

// A hold released while an earlier stop still runs: its own stop, with the post-roll, waits
// for that one instead of overlapping it.
TEST(MicStop, AHoldsStopWaitsForAnEarlierStopStillRunning) {
    DictationRig rig;
    rig.mic->endAnswers.push(CapturedClip::empty(), 1.0);
    rig.pressAt(T0);
    rig.cancelAt(T0 + 0.1, KeyCancelReason::otherKey);
    rig.pressAt(T0 + 0.2);
    rig.releaseAt(T0 + 0.6);
    rig.runTo(T0 + 2);
    std::vector<double> ends = rig.mic->log.times("end");
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_NEAR(ends[1] - T0, 1.1, 1e-9);
    EXPECT_EQ(rig.mic->log.last("end")->args, "150");
    EXPECT_EQ(rig.mic->log.count("begin"), 1u) << "the second session never got to listen";
    EXPECT_EQ(rig.phase(), Kind::idle);
}

// A tap replaced by a new press: its completion finds it torn down and ends without a word,
// and the new capture waits for the tap's stop.
TEST(MicStop, ASupersededTapEndsSilentlyAndItsStopRunsFirst) {
    DictationRig rig;
    Promise<CapturedClip> tapStop = rig.mic->endAnswers.pushByHand();
    rig.pressAt(T0);
    rig.releaseAt(T0 + 0.1);
    rig.pressAt(T0 + 0.6);
    rig.runTo(T0 + 0.7);
    EXPECT_EQ(rig.phase(), Kind::holding);
    EXPECT_EQ(rig.mic->log.count("begin"), 1u);
    rig.at(T0 + 0.8,
           [&tapStop] { tapStop.resolve(CapturedClip(std::vector<float>(100, 0.3f), true, 500)); });
    rig.runTo(T0 + 1.0);
    EXPECT_EQ(rig.mic->log.count("begin"), 2u);
    EXPECT_NEAR(rig.mic->log.times("begin")[1] - T0, 0.8, 1e-9);
    EXPECT_EQ(rig.logLines(),
              Lines{"Dictation: cancelled (tap superseded by a new press) after 600 ms"});
    EXPECT_EQ(rig.phase(), Kind::holding);
    EXPECT_EQ(rig.shell.count("onBusy"), 1u) << "the controller never went idle";
}

// --- Busy ---

TEST(Busy, ASessionIsBusyOnceFromItsPressUntilItEnds) {
    DictationRig rig;
    rig.pressAt(T0);
    rig.releaseAt(T0 + 0.1);                           // tap wait
    rig.doubleTapAt(T0 + 0.2);                         // hands-free
    rig.at(T0 + 3, [&rig] { rig.pill->pressStop(); }); // finishing, then idle
    rig.runTo(T0 + 4);
    EXPECT_EQ(DictationRig::callsIn(rig.shell, 0, T0 + 10),
              (Lines{"onBusy true", "onActive true", "onBusy false", "onActive false"}));
    EXPECT_FALSE(rig.dictation().hasSession());
}

} // namespace
} // namespace talverin::test
