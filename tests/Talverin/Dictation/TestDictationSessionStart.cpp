#include "Talverin/Dictation/DictationController.h"

#include "DictationRig.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace talverin::test {
namespace {

using Kind = DictationPhase::Kind;
using Lines = std::vector<std::string>;
constexpr double T0 = DictationRig::T0;

std::optional<double> firstShown(const DictationRig& rig, PillState::Kind kind) {
    for (const auto& shown : rig.pill->shown())
        if (shown.state.kind() == kind)
            return shown.time - T0;
    return std::nullopt;
}

std::optional<double> firstRead(const DictationRig& rig) {
    auto times = rig.reader->log.times("read");
    if (times.empty())
        return std::nullopt;
    return times.front() - T0;
}

// --- The first pill and the context read ---

struct PillCase {
    const char* name;
    bool popover;
    bool secureInput;
    double handledLate; // the press reaches the controller this long after its event
    std::optional<double> releaseAt;
    std::optional<double> pillAt;
    std::optional<double> readAt;
};

void PrintTo(const PillCase& c, std::ostream* out) {
    *out << c.name;
}

class FirstPill : public ::testing::TestWithParam<PillCase> {};

TEST_P(FirstPill, ComesAfterItsDelayFromTheKeyEventUnlessACautiousTapIsWaiting) {
    const PillCase& c = GetParam();
    DictationRig rig([&c](Services& services) {
        services.secureInput = [secure = c.secureInput] { return secure; };
    });
    rig.popoverOpen = c.popover;
    rig.at(T0 + c.handledLate, [&rig] { rig.keyTap->sendPress(T0); });
    if (c.releaseAt)
        rig.releaseAt(T0 + *c.releaseAt);
    rig.runTo(T0 + 3);

    std::optional<double> pillAt = firstShown(rig, PillState::Kind::listening);
    ASSERT_EQ(pillAt.has_value(), c.pillAt.has_value());
    if (c.pillAt)
        EXPECT_NEAR(*pillAt, *c.pillAt, 1e-9);
    std::optional<double> readAt = firstRead(rig);
    ASSERT_EQ(readAt.has_value(), c.readAt.has_value());
    if (c.readAt)
        EXPECT_NEAR(*readAt, *c.readAt, 1e-9);
    EXPECT_EQ(rig.inserter->log.count("prepare"), c.pillAt ? 1u : 0u)
        << "the inserter takes its snapshot at the first pill";
}

const PillCase kPills[] = {
    {"plain", false, false, 0, std::nullopt, 0.13, 0.0},
    {"plainTapStillShowsListening", false, false, 0, 0.1, 0.13, 0.0},
    {"popoverOpen", true, false, 0, std::nullopt, 0.45, 0.45},
    {"popoverOpenTap", true, false, 0, 0.1, std::nullopt, std::nullopt},
    {"secureInput", false, true, 0, std::nullopt, 0.45, 0.0},
    {"secureInputTap", false, true, 0, 0.1, std::nullopt, 0.0},
    {"pressHandledLate", false, false, 0.2, std::nullopt, 0.2, 0.2},
    {"pressHandledLateWithPopover", true, false, 0.3, std::nullopt, 0.45, 0.45},
};

INSTANTIATE_TEST_SUITE_P(Delays, FirstPill, ::testing::ValuesIn(kPills),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FirstPill, ADelayAlreadyOverIsPostedNotRunInsideThePress) {
    DictationRig rig;
    rig.at(T0 + 0.3, [&rig] { rig.keyTap->sendPress(T0); });
    rig.runTo(T0 + 0.29);
    ASSERT_TRUE(rig.world.stepNext()); // the key tap relays the press
    ASSERT_TRUE(rig.world.step());     // the controller takes it
    EXPECT_EQ(rig.phase(), Kind::holding);
    EXPECT_TRUE(rig.pill->shown().empty());
    rig.world.runReady();
    ASSERT_FALSE(rig.pill->shown().empty());
    EXPECT_EQ(rig.pill->shown()[0].state.kind(), PillState::Kind::listening);
    EXPECT_NEAR(rig.pill->shown()[0].time - T0, 0.3, 1e-9);
}

struct TargetCase {
    const char* name;
    std::optional<double> readyAt; // when the target application is frontmost again
    double readFrom, readTo;       // when the context read starts
};

void PrintTo(const TargetCase& c, std::ostream* out) {
    *out << c.name;
}

class PopoverTarget : public ::testing::TestWithParam<TargetCase> {};

// With the popover open the first pill closes it and reads the context only once the target
// application is back, or after half a second in any case.
TEST_P(PopoverTarget, TheContextIsReadOnlyOnceTheTargetIsBack) {
    const TargetCase& c = GetParam();
    DictationRig rig;
    rig.popoverOpen = true;
    rig.targetIsReady = false;
    if (c.readyAt)
        rig.at(T0 + *c.readyAt, [&rig] { rig.targetIsReady = true; });
    rig.pressAt(T0);
    rig.runTo(T0 + 2);

    EXPECT_FALSE(rig.popoverOpen);
    ASSERT_EQ(rig.shell.count("closePopover"), 1u);
    EXPECT_NEAR(rig.shell.last("closePopover")->time - T0, 0.45, 1e-9);
    ASSERT_TRUE(firstRead(rig).has_value());
    EXPECT_GE(*firstRead(rig), c.readFrom - 1e-9);
    EXPECT_LE(*firstRead(rig), c.readTo + 1e-9);
    EXPECT_EQ(rig.reader->log.count("read"), 1u);
    std::vector<double> polls = rig.shell.times("targetReady");
    ASSERT_FALSE(polls.empty());
    EXPECT_NEAR(polls.front() - T0, 0.45, 1e-9) << "the first check is made at once";
}

const TargetCase kTargets[] = {
    {"backAtOnce", 0.0, 0.45, 0.45},
    {"backAfterAWhile", 0.6, 0.6, 0.62},
    {"neverBack", std::nullopt, 0.95, 0.97},
};

INSTANTIATE_TEST_SUITE_P(Targets, PopoverTarget, ::testing::ValuesIn(kTargets),
                         [](const auto& info) { return std::string(info.param.name); });

// --- The microphone does not start ---

struct MicFailureCase {
    const char* name;
    bool byClick;
};

void PrintTo(const MicFailureCase& c, std::ostream* out) {
    *out << c.name;
}

class MicFailure : public ::testing::TestWithParam<MicFailureCase> {};

TEST_P(MicFailure, EndsTheSessionWithTheSilencePillAndNoStop) {
    const MicFailureCase& c = GetParam();
    DictationRig rig;
    rig.mic->setDeviceName("USB Mic");
    rig.mic->beginAnswers.push_back(fail(MicError::notAuthorized()));
    if (c.byClick)
        rig.at(T0, [&rig] { rig.dictation().clickedPill(); });
    else
        rig.pressAt(T0);
    rig.runTo(T0 + 1);

    EXPECT_EQ(rig.phase(), Kind::idle);
    EXPECT_EQ(rig.logLines(),
              Lines{"Dictation: the mic did not start (microphone not authorized)"});
    EXPECT_EQ(rig.mic->log.names(), (Lines{"setOnBuffer", "begin"})) << "no stop is requested";
    EXPECT_FALSE(rig.dictation().isStoppingMic());
    Lines pill = DictationRig::callsIn(rig.pill->log, 0, T0 + 1);
    if (c.byClick)
        EXPECT_EQ(pill, (Lines{"setMicrophoneName USB Mic", "show silence"}));
    else
        EXPECT_EQ(pill, (Lines{"setHolding true", "setMicrophoneName USB Mic", "show silence"}));
    EXPECT_EQ(DictationRig::callsIn(rig.shell, 0, T0 + 1),
              (Lines{"onBusy true", "onBusy false", "onActive false",
                     "onMicFailed microphone not authorized"}));
    EXPECT_EQ(rig.reader->log.count("read"), 0u) << "no context is read for a dead session";
    EXPECT_EQ(rig.keyTap->log.count("setHandsFree"), 0u);
    EXPECT_EQ(rig.liveDraft->log.count("cancel"), 1u);

    rig.runTo(T0 + 2.1);
    EXPECT_EQ(rig.pill->current(), PillState::hidden()) << "the silence pill stays 2 s";
}

const MicFailureCase kMicFailures[] = {{"press", false}, {"pillClick", true}};

INSTANTIATE_TEST_SUITE_P(Starts, MicFailure, ::testing::ValuesIn(kMicFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// The capture of a session that went hands-free while it waited for an earlier stop fails:
// the key tap must leave hands-free again.
TEST(MicFailure, AfterWaitingForAStopAHandsFreeSessionLeavesHandsFree) {
    DictationRig rig;
    Promise<CapturedClip> stop = rig.mic->endAnswers.pushByHand();
    rig.pressAt(T0);
    rig.cancelAt(T0 + 0.1, KeyCancelReason::otherKey);
    rig.pressAt(T0 + 0.2);
    rig.releaseAt(T0 + 0.3);
    rig.doubleTapAt(T0 + 0.4);
    rig.runTo(T0 + 0.5);
    ASSERT_EQ(rig.phase(), Kind::handsFree);
    rig.mic->beginAnswers.push_back(fail(MicError::noInput()));
    rig.at(T0 + 0.6, [&stop] { stop.resolve(CapturedClip::empty()); });
    rig.runTo(T0 + 0.7);
    EXPECT_EQ(rig.phase(), Kind::idle);
    EXPECT_FALSE(rig.keyTap->handsFree());
    EXPECT_EQ(rig.logLines().back(), "Dictation: the mic did not start (no input device)");
    EXPECT_EQ(rig.pill->current(), PillState::silence());
}

// --- Keeping the pill current ---

struct LevelCase {
    const char* name;
    bool handsFree;
    std::string selection; // a voice edit when not empty
    PillState::Kind pill;
    bool levelsShown;
};

void PrintTo(const LevelCase& c, std::ostream* out) {
    *out << c.name;
}

class Levels : public ::testing::TestWithParam<LevelCase> {};

// Blocks every 1/32 s: the listening pill follows the level at most every 1/30 s of block time
// (so every other block; a throttle of 0.03 s would take them all), while the hands-free and
// voice-edit pills show no level.
TEST_P(Levels, RefreshOnlyTheListeningPillAtMostEveryThirtiethOfASecond) {
    const LevelCase& c = GetParam();
    DictationRig rig;
    DictationContext context;
    context.selection = c.selection;
    rig.reader->answers.push(context);
    rig.pressAt(T0);
    if (c.handsFree) {
        rig.releaseAt(T0 + 0.1);
        rig.doubleTapAt(T0 + 0.2);
    }
    rig.runTo(T0 + 0.25);
    std::size_t before = rig.pill->shown().size();
    for (int k = 0; k < 6; ++k) {
        double time = T0 + 0.5 + k / 32.0;
        rig.at(time, [&rig, time, k] {
            rig.mic->deliver(DictationRig::block(time, static_cast<float>(k + 1) / 100));
        });
    }
    rig.runTo(T0 + 0.69); // before the hands-free tick at T0 + 0.7

    std::vector<float> levels;
    std::vector<double> times;
    for (std::size_t i = before; i < rig.pill->shown().size(); ++i) {
        const auto& shown = rig.pill->shown()[i];
        EXPECT_EQ(shown.state.kind(), c.pill);
        levels.push_back(shown.state.level());
        times.push_back(shown.time - T0);
    }
    if (!c.levelsShown) {
        EXPECT_TRUE(levels.empty());
        return;
    }
    EXPECT_EQ(levels, (std::vector<float>{0.01f, 0.03f, 0.05f}));
    EXPECT_EQ(times, (std::vector<double>{0.5, 0.5625, 0.625}));
}

const LevelCase kLevels[] = {
    {"listening", false, "", PillState::Kind::listening, true},
    {"handsFree", true, "", PillState::Kind::handsFree, false},
    {"voiceEdit", false, "fix this", PillState::Kind::voiceEdit, false},
};

INSTANTIATE_TEST_SUITE_P(Pills, Levels, ::testing::ValuesIn(kLevels),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LiveWords, ReachThePillThroughTheTailWhileListeningAndAreDroppedAfterwards) {
    DictationRig rig([](Services& services) {
        services.liveTail = [](const std::string& text) {
            return text.size() > 5 ? "…" + text.substr(text.size() - 5) : text;
        };
    });
    rig.pressAt(T0);
    rig.at(T0 + 0.2, [&rig] { rig.liveDraft->sendPartial("hello world"); });
    rig.releaseAt(T0 + 0.5);
    rig.runTo(T0 + 1);
    // The clip held no speech, so the completion ends with the silence pill.
    EXPECT_EQ(rig.shownKinds(), (Lines{"listening", "listening", "silence"}));
    EXPECT_EQ(rig.pill->shown()[1].state, PillState::listening("…world", 0));
    EXPECT_NEAR(rig.pill->shown()[1].time - T0, 0.2, 1e-9);
    // After the release the session is finishing: later words change nothing.
    EXPECT_FALSE(rig.liveDraft->sendPartial("hello world again"));
}

struct VoiceEditCase {
    const char* name;
    std::string selection;
    int words;
};

void PrintTo(const VoiceEditCase& c, std::ostream* out) {
    *out << c.name;
}

class VoiceEditPill : public ::testing::TestWithParam<VoiceEditCase> {};

TEST_P(VoiceEditPill, CountsTheSelectedWordsAndNeverFewerThanOne) {
    const VoiceEditCase& c = GetParam();
    DictationRig rig;
    DictationContext context;
    context.selection = c.selection;
    rig.reader->answers.push(context);
    rig.pressAt(T0);
    rig.runTo(T0 + 0.2);
    EXPECT_EQ(rig.pill->current(), PillState::voiceEdit(c.words));
}

const VoiceEditCase kVoiceEdits[] = {
    {"twoWords", "two words", 2},
    {"apostropheJoins", "don't stop", 2},
    {"onlyPunctuation", " — ", 1},
};

INSTANTIATE_TEST_SUITE_P(Selections, VoiceEditPill, ::testing::ValuesIn(kVoiceEdits),
                         [](const auto& info) { return std::string(info.param.name); });

// --- The context's arrival ---

TEST(ContextArrival, MovesAShownPillToTheFocusedWindowsScreen) {
    const Rect window{{2000, 100}, {800, 600}};
    const Rect screen{{1920, 0}, {1920, 1080}};
    DictationRig rig([&](Services& services) {
        services.screenFrame = [&](const Rect& frame) {
            return frame == window ? std::optional<Rect>(screen) : std::nullopt;
        };
    });
    DictationContext context;
    context.windowFrame = window;
    rig.reader->answers.push(context, 0.3);
    rig.pressAt(T0);
    rig.runTo(T0 + 0.35);
    ASSERT_GE(rig.pill->shown().size(), 2u);
    EXPECT_EQ(rig.pill->shown()[0].screenFrame, std::nullopt) << "not known at the first pill";
    EXPECT_NEAR(rig.pill->shown()[1].time - T0, 0.3, 1e-9);
    EXPECT_EQ(rig.pill->shown()[1].screenFrame, screen);
}

// A read that comes in while the session is finishing is still timed, but moves nothing.
TEST(ContextArrival, ALateReadIsTimedEvenWhenTheSessionIsFinishing) {
    DictationRig rig;
    DictationContext context;
    context.isSecure = true;
    rig.reader->answers.push(context, 0.6);
    Promise<CapturedClip> stop = rig.mic->endAnswers.pushByHand();
    rig.pressAt(T0);
    rig.releaseAt(T0 + 0.4);
    rig.at(T0 + 0.8, [&stop] { stop.resolve(CapturedClip::empty()); });
    rig.runTo(T0 + 1);
    EXPECT_EQ(rig.shownKinds(), (Lines{"listening", "silence"}))
        << "no move, no refusal while finishing";
    EXPECT_EQ(rig.logLines(), Lines{"Dictation: silence, hold 400 ms, pill 130 ms, "
                                    "context 600 ms, clip 0 ms, end 400 ms"});
}

// --- Ducking, the start tick and the cloud at key-down ---

struct SnapshotCase {
    const char* name;
    bool duckMusic;
    bool sounds;
};

void PrintTo(const SnapshotCase& c, std::ostream* out) {
    *out << c.name;
}

class KeyDownSnapshot : public ::testing::TestWithParam<SnapshotCase> {};

// The settings taken at key-down decide; a change during the dictation waits for the next.
TEST_P(KeyDownSnapshot, DecidesDuckingAndTheStartTickAtTheFirstPill) {
    const SnapshotCase& c = GetParam();
    DictationRig rig;
    rig.settings.duckMusic = c.duckMusic;
    rig.settings.sounds = c.sounds;
    rig.settings.languages = {"en"};
    rig.settings.words = {"Talverin", "XTest"};
    rig.pressAt(T0);
    rig.at(T0 + 0.05, [&rig, &c] {
        rig.settings.duckMusic = !c.duckMusic;
        rig.settings.sounds = !c.sounds;
    });
    rig.cancelAt(T0 + 0.5, KeyCancelReason::click);
    rig.runTo(T0 + 1);
    EXPECT_EQ(rig.liveDraft->log.last("start")->args, "en;Talverin,XTest");
    EXPECT_EQ(DictationRig::callsIn(rig.ducker->log, 0, T0 + 1),
              (c.duckMusic ? Lines{"duck", "restore"} : Lines{}));
    EXPECT_EQ(DictationRig::callsIn(rig.sounds->log, 0, T0 + 1),
              (c.sounds ? Lines{"play start"} : Lines{}));
    if (c.duckMusic)
        EXPECT_NEAR(rig.ducker->log.times("duck")[0] - T0, 0.13, 1e-9);
    EXPECT_FALSE(rig.ducker->isDucked());
}

const SnapshotCase kSnapshots[] = {
    {"duckAndTick", true, true},
    {"neither", false, false},
};

INSTANTIATE_TEST_SUITE_P(Settings, KeyDownSnapshot, ::testing::ValuesIn(kSnapshots),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Cloud, AConfiguredBackendIsWarmedAndGetsAnEncoderThatTeardownCuts) {
    DictationRig rig;
    rig.cloud->configured = true;
    rig.pressAt(T0);
    for (int k = 0; k < 5; ++k)
        rig.mic->deliverAfter(0.1 + 0.01 * k, DictationRig::block(T0 + 0.1 + 0.01 * k));
    rig.cancelAt(T0 + 0.2, KeyCancelReason::otherKey);
    rig.runTo(T0 + 0.21);
    ASSERT_EQ(rig.encoders.size(), 1u);
    EXPECT_EQ(rig.cloud->log.count("warmUp"), 1u);
    EXPECT_EQ(rig.encoders[0]->appendedBlocks(), 5u);
    EXPECT_TRUE(rig.encoders[0]->isCancelled());

    // A second dictation without a backend gets no encoder and warms nothing.
    rig.cloud->configured = false;
    rig.pressAt(T0 + 1);
    rig.mic->deliverAfter(0.9, DictationRig::block(T0 + 1.1));
    rig.runTo(T0 + 1.2);
    EXPECT_EQ(rig.encoders.size(), 1u);
    EXPECT_EQ(rig.cloud->log.count("warmUp"), 1u);
    EXPECT_EQ(rig.encoders[0]->lateBlocks(), 0u);
    EXPECT_EQ(rig.liveDraft->acceptedBlocks(), 6u) << "the live draft hears every block";
}

// --- Result pills ---

TEST(ResultPill, StaysItsHoldTimeUnlessAnythingIsPushedMeanwhile) {
    DictationRig rig;
    rig.at(T0, [&rig] {
        rig.dictation().showResult(PillState::refused(RefuseReason::empty), std::nullopt);
    });
    rig.runTo(T0 + 2.59);
    EXPECT_EQ(rig.pill->current(), PillState::refused(RefuseReason::empty));
    rig.runTo(T0 + 2.61);
    EXPECT_EQ(rig.pill->current(), PillState::hidden());

    // A kind without a hold time of its own stays 2 s.
    rig.at(T0 + 3, [&rig] { rig.dictation().showResult(PillState::polishing(), std::nullopt); });
    rig.runTo(T0 + 4.99);
    EXPECT_EQ(rig.pill->current(), PillState::polishing());
    rig.runTo(T0 + 5.01);
    EXPECT_EQ(rig.pill->current(), PillState::hidden());

    // A new dictation's pill supersedes a result: the result's hide does nothing.
    rig.at(T0 + 6, [&rig] { rig.dictation().showResult(PillState::silence(), std::nullopt); });
    rig.pressAt(T0 + 6.5);
    rig.runTo(T0 + 9);
    EXPECT_EQ(rig.pill->current().kind(), PillState::Kind::listening);
    EXPECT_EQ(rig.pill->log.count("hide"), 2u);
}

} // namespace
} // namespace talverin::test
