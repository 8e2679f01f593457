#include "Talverin/Dictation/DictationController.h"

#include "DictationRig.h"

#include <gtest/gtest.h>


#include <ostream>
#include <string>
#include <vector>

namespace talverin::test {
namespace {

using Kind = DictationPhase::Kind;
using Lines = std::vector<std::string>;
constexpr double T0 = DictationRig::T0;

// --- The transition table: every input in every phase ---

// How the controller is brought into the phase under test, each from a press at T0.
enum class Setup {
    idle,
    holding,           // held since T0, listening pill shown at T0 + 0.13
    holdingBeforePill, // held since T0, the input comes before the first pill
    muted,             // held since T0 into a secure field: muted at once
    tapWait,           // released at T0 + 0.1; the double-tap wait runs to T0 + 0.48
    handsFree,         // tap, then the double tap at T0 + 0.2
    finishing,         // released at T0 + 0.4 after a hold; the microphone's stop is pending
    finishingTap,      // a tap whose wait ran out at T0 + 0.48; its clip is pending
    // Where a tap's wait runs out after its session has moved on.
    tapThenIdle,      // the tap was cancelled at T0 + 0.2
    tapThenHolding,   // a new press at T0 + 0.2 replaced the tap
    tapThenFinishing, // hands-free, stopped by the key at T0 + 0.3
    endedSession,     // held and cancelled at T0 + 0.3; its context comes at T0 + 0.5
};

enum class Input {
    press,
    release,
    waitExpires, // nothing is done: the window holds the end of the double-tap wait
    doubleTap,
    stopKey,
    stopButton,
    escape,
    cancel,          // otherKey
    cancelTrustLost, // trustLost
    pillClick,
    suspend,
    secureField, // the context read answers a secure field at the input's time
};

struct Cell {
    const char* name;
    Setup setup;
    Input input;
    Kind after;
    Lines lines;
    Lines pill;
    Lines mic;
    Lines keyTap;
    Lines shell;
};

void PrintTo(const Cell& cell, std::ostream* out) {
    *out << cell.name;
}

double inputTime(Setup setup, Input input) {
    if (input == Input::waitExpires)
        return T0 + 0.45;
    switch (setup) {
    case Setup::holdingBeforePill:
        return T0 + 0.05;
    case Setup::tapWait:
        return T0 + 0.3;
    case Setup::finishingTap:
        return T0 + 0.6;
    default:
        return T0 + 0.5;
    }
}

void arrange(DictationRig& rig, Setup setup, Input input, double time) {
    if (input == Input::secureField)
        rig.reader->answers.push(DictationRig::secureContext(), time - T0);
    switch (setup) {
    case Setup::idle:
        return;
    case Setup::holding:
    case Setup::holdingBeforePill:
        rig.pressAt(T0);
        return;
    case Setup::muted:
        rig.reader->answers.push(DictationRig::secureContext());
        rig.pressAt(T0);
        return;
    case Setup::tapWait:
        rig.pressAt(T0);
        rig.releaseAt(T0 + 0.1);
        return;
    case Setup::handsFree:
        rig.pressAt(T0);
        rig.releaseAt(T0 + 0.1);
        rig.doubleTapAt(T0 + 0.2);
        return;
    case Setup::finishing:
        (void)rig.mic->endAnswers.pushByHand();
        rig.pressAt(T0);
        rig.releaseAt(T0 + 0.4);
        return;
    case Setup::finishingTap:
        (void)rig.mic->endAnswers.pushByHand();
        rig.pressAt(T0);
        rig.releaseAt(T0 + 0.1);
        return;
    case Setup::tapThenIdle:
        rig.pressAt(T0);
        rig.releaseAt(T0 + 0.1);
        rig.cancelAt(T0 + 0.2, KeyCancelReason::otherKey);
        return;
    case Setup::tapThenHolding:
        rig.pressAt(T0);
        rig.releaseAt(T0 + 0.1);
        rig.pressAt(T0 + 0.2);
        return;
    case Setup::tapThenFinishing:
        (void)rig.mic->endAnswers.pushByHand();
        rig.pressAt(T0);
        rig.releaseAt(T0 + 0.1);
        rig.doubleTapAt(T0 + 0.2);
        rig.at(T0 + 0.3, [&rig] { rig.keyTap->onStop(Clock::uptime()); });
        return;
    case Setup::endedSession:
        rig.pressAt(T0);
        rig.cancelAt(T0 + 0.3, KeyCancelReason::otherKey);
        return;
    }
}

void apply(DictationRig& rig, Input input) {
    switch (input) {
    case Input::press:
        rig.keyTap->sendPress();
        return;
    case Input::release:
        rig.keyTap->sendRelease();
        return;
    case Input::doubleTap:
        rig.keyTap->sendDoubleTap();
        return;
    // The hold machine reports stop and Escape only in hands-free; the controller must still
    // ignore them anywhere else.
    case Input::stopKey:
        rig.keyTap->onStop(Clock::uptime());
        return;
    case Input::escape:
        rig.keyTap->onEscape(Clock::uptime());
        return;
    case Input::stopButton:
        rig.pill->pressStop();
        return;
    case Input::cancel:
        rig.keyTap->sendCancel(KeyCancelReason::otherKey);
        return;
    case Input::cancelTrustLost:
        rig.keyTap->sendCancel(KeyCancelReason::trustLost);
        return;
    case Input::pillClick:
        rig.dictation().clickedPill();
        return;
    case Input::suspend:
        rig.dictation().systemWillSuspend(SuspendReason::sleep);
        return;
    case Input::waitExpires:
    case Input::secureField:
        return;
    }
}

// A finished hold or hands-free dictation whose clip held no speech: the silence pill.
const std::string kHold500 =
    "Dictation: silence, hold 500 ms, pill 130 ms, context 0 ms, clip 0 ms, end 0 ms";
const std::string kHandsFree500 = "Dictation: silence, hands-free, hold 500 ms, pill 130 ms, "
                                  "context 0 ms, clip 0 ms, end 0 ms";
const Lines kSilencePill = {"setMicrophoneName Fake Microphone", "show silence"};
const Lines kEnded = {"onBusy false", "onActive false"};

const Cell kCells[] = {
    // press
    {"pressIdle",
     Setup::idle,
     Input::press,
     Kind::holding,
     {},
     {"setHolding true"},
     {"begin"},
     {},
     {"onBusy true"}},
    {"pressHolding", Setup::holding, Input::press, Kind::holding, {}, {}, {}, {}, {}},
    {"pressMuted", Setup::muted, Input::press, Kind::holding, {}, {}, {}, {}, {}},
    {"pressTapWait",
     Setup::tapWait,
     Input::press,
     Kind::holding,
     {"Dictation: cancelled (tap) after 300 ms"},
     {"setHolding false", "hide", "setHolding true"},
     {"end 0", "begin"},
     {},
     {"onBusy false", "onActive false", "onBusy true"}},
    {"pressHandsFree", Setup::handsFree, Input::press, Kind::handsFree, {}, {}, {}, {}, {}},
    {"pressFinishing",
     Setup::finishing,
     Input::press,
     Kind::finishing,
     {"Dictation: press ignored (the previous one is still finishing)"},
     {},
     {},
     {},
     {}},
    {"pressFinishingTap",
     Setup::finishingTap,
     Input::press,
     Kind::holding,
     {"Dictation: cancelled (tap superseded by a new press) after 600 ms"},
     {"hide", "setHolding true"},
     {},
     {},
     {"onActive false"}},
    // release
    {"releaseIdle", Setup::idle, Input::release, Kind::idle, {}, {"setHolding false"}, {}, {}, {}},
    {"releaseHolding",
     Setup::holding,
     Input::release,
     Kind::idle,
     {kHold500},
     {"setHolding false", "setMicrophoneName Fake Microphone", "show silence"},
     {"end 150"},
     {},
     kEnded},
    {"releaseMuted",
     Setup::muted,
     Input::release,
     Kind::idle,
     {"Dictation: refused (secureField) after 500 ms, quietly (no speech)"},
     {"setHolding false"},
     {"end 0"},
     {},
     {"onBusy false"}},
    {"releaseTapWait",
     Setup::tapWait,
     Input::release,
     Kind::tapWait,
     {},
     {"setHolding false"},
     {},
     {},
     {}},
    {"releaseHandsFree",
     Setup::handsFree,
     Input::release,
     Kind::handsFree,
     {},
     {"setHolding false"},
     {},
     {},
     {}},
    {"releaseFinishing",
     Setup::finishing,
     Input::release,
     Kind::finishing,
     {},
     {"setHolding false"},
     {},
     {},
     {}},
    {"releaseFinishingTap",
     Setup::finishingTap,
     Input::release,
     Kind::finishing,
     {},
     {"setHolding false"},
     {},
     {},
     {}},
    // the double-tap wait runs out
    {"waitExpiresIdle", Setup::tapThenIdle, Input::waitExpires, Kind::idle, {}, {}, {}, {}, {}},
    {"waitExpiresHolding",
     Setup::tapThenHolding,
     Input::waitExpires,
     Kind::holding,
     {},
     {},
     {},
     {},
     {}},
    {"waitExpiresTapWait",
     Setup::tapWait,
     Input::waitExpires,
     Kind::idle,
     {"Dictation: tap, hold 480 ms, pill 130 ms, context 0 ms, clip 0 ms, end 0 ms"},
     {"hide"},
     {"end 0"},
     {},
     kEnded},
    {"waitExpiresHandsFree",
     Setup::handsFree,
     Input::waitExpires,
     Kind::handsFree,
     {},
     {},
     {},
     {},
     {}},
    {"waitExpiresFinishing",
     Setup::tapThenFinishing,
     Input::waitExpires,
     Kind::finishing,
     {},
     {},
     {},
     {},
     {}},
    // double tap
    {"doubleTapIdle",
     Setup::idle,
     Input::doubleTap,
     Kind::idle,
     {"Dictation: double tap ignored (its tap was not taken)"},
     {},
     {},
     {},
     {}},
    {"doubleTapHolding", Setup::holding, Input::doubleTap, Kind::holding, {}, {}, {}, {}, {}},
    {"doubleTapMuted", Setup::muted, Input::doubleTap, Kind::holding, {}, {}, {}, {}, {}},
    {"doubleTapTapWait",
     Setup::tapWait,
     Input::doubleTap,
     Kind::handsFree,
     {"Dictation: hands-free"},
     {"show handsFree"},
     {},
     {"setHandsFree true"},
     {}},
    {"doubleTapHandsFree", Setup::handsFree, Input::doubleTap, Kind::handsFree, {}, {}, {}, {}, {}},
    {"doubleTapFinishing", Setup::finishing, Input::doubleTap, Kind::finishing, {}, {}, {}, {}, {}},
    // stop by the hold key
    {"stopKeyIdle", Setup::idle, Input::stopKey, Kind::idle, {}, {}, {}, {}, {}},
    {"stopKeyHolding", Setup::holding, Input::stopKey, Kind::holding, {}, {}, {}, {}, {}},
    {"stopKeyTapWait", Setup::tapWait, Input::stopKey, Kind::tapWait, {}, {}, {}, {}, {}},
    {"stopKeyHandsFree",
     Setup::handsFree,
     Input::stopKey,
     Kind::idle,
     {"Dictation: hands-free stopped (key) after 300 ms", kHandsFree500},
     kSilencePill,
     {"end 150"},
     {"setHandsFree false"},
     kEnded},
    {"stopKeyFinishing", Setup::finishing, Input::stopKey, Kind::finishing, {}, {}, {}, {}, {}},
    // the pill's stop button
    {"stopButtonIdle", Setup::idle, Input::stopButton, Kind::idle, {}, {}, {}, {}, {}},
    {"stopButtonHolding", Setup::holding, Input::stopButton, Kind::holding, {}, {}, {}, {}, {}},
    {"stopButtonTapWait", Setup::tapWait, Input::stopButton, Kind::tapWait, {}, {}, {}, {}, {}},
    {"stopButtonHandsFree",
     Setup::handsFree,
     Input::stopButton,
     Kind::idle,
     {"Dictation: hands-free stopped (button) after 300 ms", kHandsFree500},
     kSilencePill,
     {"end 150"},
     {"setHandsFree false"},
     kEnded},
    {"stopButtonFinishing",
     Setup::finishing,
     Input::stopButton,
     Kind::finishing,
     {},
     {},
     {},
     {},
     {}},
    // Escape
    {"escapeIdle", Setup::idle, Input::escape, Kind::idle, {}, {}, {}, {}, {}},
    {"escapeHolding", Setup::holding, Input::escape, Kind::holding, {}, {}, {}, {}, {}},
    {"escapeTapWait", Setup::tapWait, Input::escape, Kind::tapWait, {}, {}, {}, {}, {}},
    {"escapeHandsFree",
     Setup::handsFree,
     Input::escape,
     Kind::idle,
     {"Dictation: cancelled (escape) after 500 ms"},
     {"setHolding false", "hide"},
     {"end 0"},
     {"setHandsFree false"},
     kEnded},
    {"escapeFinishing", Setup::finishing, Input::escape, Kind::finishing, {}, {}, {}, {}, {}},
    // cancel
    {"cancelIdle", Setup::idle, Input::cancel, Kind::idle, {}, {"setHolding false"}, {}, {}, {}},
    {"cancelHolding",
     Setup::holding,
     Input::cancel,
     Kind::idle,
     {"Dictation: cancelled (otherKey) after 500 ms"},
     {"setHolding false", "setHolding false", "hide"},
     {"end 0"},
     {},
     kEnded},
    {"cancelMuted",
     Setup::muted,
     Input::cancel,
     Kind::idle,
     {},
     {"setHolding false"},
     {"end 0"},
     {},
     {"onBusy false"}},
    {"cancelTapWait",
     Setup::tapWait,
     Input::cancel,
     Kind::idle,
     {"Dictation: cancelled (otherKey) after 300 ms"},
     {"setHolding false", "setHolding false", "hide"},
     {"end 0"},
     {},
     kEnded},
    {"cancelHandsFree",
     Setup::handsFree,
     Input::cancel,
     Kind::handsFree,
     {},
     {"setHolding false"},
     {},
     {},
     {}},
    {"cancelTrustLostHandsFree",
     Setup::handsFree,
     Input::cancelTrustLost,
     Kind::idle,
     {"Dictation: cancelled (trustLost) after 500 ms"},
     {"setHolding false", "setHolding false", "hide"},
     {"end 0"},
     {"setHandsFree false"},
     kEnded},
    {"cancelFinishing",
     Setup::finishing,
     Input::cancel,
     Kind::finishing,
     {},
     {"setHolding false"},
     {},
     {},
     {}},
    {"cancelFinishingTap",
     Setup::finishingTap,
     Input::cancel,
     Kind::finishing,
     {},
     {"setHolding false"},
     {},
     {},
     {}},
    // pill click
    {"pillClickIdle",
     Setup::idle,
     Input::pillClick,
     Kind::handsFree,
     {"Dictation: pill clicked", "Dictation: hands-free"},
     // the first pill at once, then again when the context arrives
     {"show handsFree", "show handsFree"},
     {"begin"},
     {"setHandsFree true"},
     {"onBusy true", "onActive true"}},
    {"pillClickHolding",
     Setup::holding,
     Input::pillClick,
     Kind::holding,
     {"Dictation: pill click ignored (holding)"},
     {},
     {},
     {},
     {}},
    {"pillClickMuted",
     Setup::muted,
     Input::pillClick,
     Kind::holding,
     {"Dictation: pill click ignored (holding)"},
     {},
     {},
     {},
     {}},
    {"pillClickTapWait",
     Setup::tapWait,
     Input::pillClick,
     Kind::tapWait,
     {"Dictation: pill click ignored (tapWait)"},
     {},
     {},
     {},
     {}},
    {"pillClickHandsFree",
     Setup::handsFree,
     Input::pillClick,
     Kind::handsFree,
     {"Dictation: pill click ignored (handsFree)"},
     {},
     {},
     {},
     {}},
    {"pillClickFinishing",
     Setup::finishing,
     Input::pillClick,
     Kind::finishing,
     {"Dictation: pill click ignored (finishing)"},
     {},
     {},
     {},
     {}},
    // system suspend
    {"suspendIdle", Setup::idle, Input::suspend, Kind::idle, {}, {}, {}, {}, {}},
    {"suspendHolding",
     Setup::holding,
     Input::suspend,
     Kind::idle,
     {"Dictation: cancelled (sleep) after 500 ms"},
     {"setHolding false", "hide"},
     {"end 0"},
     {},
     kEnded},
    {"suspendMuted",
     Setup::muted,
     Input::suspend,
     Kind::idle,
     {},
     {},
     {"end 0"},
     {},
     {"onBusy false"}},
    {"suspendTapWait",
     Setup::tapWait,
     Input::suspend,
     Kind::idle,
     {"Dictation: cancelled (sleep) after 300 ms"},
     {"setHolding false", "hide"},
     {"end 0"},
     {},
     kEnded},
    {"suspendHandsFree",
     Setup::handsFree,
     Input::suspend,
     Kind::idle,
     {"Dictation: cancelled (sleep) after 500 ms"},
     {"setHolding false", "hide"},
     {"end 0"},
     {"setHandsFree false"},
     kEnded},
    {"suspendFinishing", Setup::finishing, Input::suspend, Kind::finishing, {}, {}, {}, {}, {}},
    {"suspendFinishingTap",
     Setup::finishingTap,
     Input::suspend,
     Kind::finishing,
     {},
     {},
     {},
     {},
     {}},
    // a secure field found by the context read
    {"secureFieldEndedSession",
     Setup::endedSession,
     Input::secureField,
     Kind::idle,
     {},
     {},
     {},
     {},
     {}},
    {"secureFieldHoldingBeforePill",
     Setup::holdingBeforePill,
     Input::secureField,
     Kind::holding,
     {"Dictation: secure field at key-down: muted"},
     {},
     {},
     {},
     {}},
    {"secureFieldHoldingWithPill",
     Setup::holding,
     Input::secureField,
     Kind::idle,
     {"Dictation: cancelled (secureField) after 500 ms"},
     {"setHolding false", "show refused"},
     {"end 0"},
     {},
     kEnded},
    {"secureFieldTapWait",
     Setup::tapWait,
     Input::secureField,
     Kind::idle,
     {"Dictation: cancelled (secureField (a tap)) after 300 ms"},
     {"setHolding false", "hide"},
     {"end 0"},
     {},
     kEnded},
    {"secureFieldHandsFree",
     Setup::handsFree,
     Input::secureField,
     Kind::idle,
     {"Dictation: cancelled (secureField) after 500 ms"},
     {"setHolding false", "show refused"},
     {"end 0"},
     {"setHandsFree false"},
     kEnded},
    {"secureFieldFinishing",
     Setup::finishing,
     Input::secureField,
     Kind::finishing,
     {},
     {},
     {},
     {},
     {}},
};

class TransitionTable : public ::testing::TestWithParam<Cell> {};

TEST_P(TransitionTable, EachInputInEachPhaseDoesWhatTheTableSays) {
    const Cell& cell = GetParam();
    DictationRig rig;
    double time = inputTime(cell.setup, cell.input);
    double windowEnd = cell.input == Input::waitExpires ? T0 + 0.5 : time + 0.05;
    arrange(rig, cell.setup, cell.input, time);
    rig.at(time, [&rig, &cell] { apply(rig, cell.input); });
    rig.runTo(windowEnd);

    EXPECT_EQ(rig.phase(), cell.after) << toString(rig.phase());
    EXPECT_EQ(rig.logLines(time, windowEnd), cell.lines);
    EXPECT_EQ(DictationRig::callsIn(rig.pill->log, time, windowEnd), cell.pill);
    Lines mic;
    for (const auto& call : DictationRig::callsIn(rig.mic->log, time, windowEnd))
        if (call != "setOnBuffer")
            mic.push_back(call);
    EXPECT_EQ(mic, cell.mic);
    EXPECT_EQ(DictationRig::callsIn(rig.keyTap->log, time, windowEnd), cell.keyTap);
    Lines shell;
    for (const auto& call : DictationRig::callsIn(rig.shell, time, windowEnd))
        if (call.rfind("on", 0) == 0)
            shell.push_back(call);
    EXPECT_EQ(shell, cell.shell);
}

INSTANTIATE_TEST_SUITE_P(Cells, TransitionTable, ::testing::ValuesIn(kCells),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace talverin::test
