#include "TalverinInput/HoldMachine.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace talverin {
namespace {

using In = HoldMachine::Input;
using Out = HoldMachine::Output;
using IK = In::Kind;
using OK = Out::Kind;

In down(double t) { return {IK::keyDown, t}; }
In chord(double t) { return {IK::chordDown, t}; }
In up(double t) { return {IK::keyUp, t}; }
In esc(double t) { return {IK::escape, t}; }
In other(double t) { return {IK::otherKey, t}; }
In click(double t) { return {IK::click, t}; }
In modifier(double t) { return {IK::otherModifier, t}; }
In sleep(double t) { return {IK::sleep, t}; }
In trust(double t) { return {IK::trustLost, t}; }
In tick(double t) { return {IK::tick, t}; }
In probe(bool d, double t) { return In::keyState(d, t); }
// A marker step: setHandsFree(true) instead of handle.
In handsFreeOn() { return {IK::tick, -1}; }

Out press(double t) { return {OK::press, t}; }
Out release(double t) { return {OK::release, t}; }
Out doubleTap(double t) { return {OK::doubleTap, t}; }
Out stop(double t) { return {OK::stop, t}; }
Out escape(double t) { return {OK::escape, t}; }
Out cancel(KeyCancelReason r, double t) { return Out::cancel(r, t); }

struct Step {
    In input;
    std::optional<Out> expected;
};

struct Script {
    std::string name;
    std::vector<Step> steps;
};

class HoldMachineScripts : public ::testing::TestWithParam<Script> {};

TEST_P(HoldMachineScripts, ProducesTheExpectedOutputs) {
    HoldMachine machine;
    int index = 0;
    for (const auto& step : GetParam().steps) {
        if (step.input.t == -1) {
            machine.setHandsFree(true);
        } else {
            auto out = machine.handle(step.input);
            EXPECT_EQ(out, step.expected) << "step " << index;
        }
        ++index;
    }
}

// 0.85 - 0.5 is exactly 0.35 in double arithmetic; the window includes its edge.

INSTANTIATE_TEST_SUITE_P(
    Table, HoldMachineScripts,
    ::testing::Values(
        Script{"TapThenDoubleTap",
               {{down(1.0), press(1.0)}, {up(1.1), release(1.1)}, {down(1.3), doubleTap(1.3)},
                {up(1.4), {}}, {down(1.5), press(1.5)}}},
        Script{"TapThenLateSecondPress",
               {{down(1.0), press(1.0)}, {up(1.1), release(1.1)}, {down(1.5), press(1.5)}}},
        Script{"DoubleTapWindowIsInclusive",
               {{down(0.4), press(0.4)}, {up(0.5), release(0.5)}, {down(0.85), doubleTap(0.85)}}},
        Script{"JustPastTheWindowIsAPress",
               {{down(0.4), press(0.4)}, {up(0.5), release(0.5)},
                {down(0.8500000000000001), press(0.8500000000000001)}}},
        Script{"AQuarterSecondHoldIsNoTap",
               {{down(1.0), press(1.0)}, {up(1.25), release(1.25)}, {down(1.26), press(1.26)}}},
        Script{"TimeGoingBackwardsIsNoDoubleTap",
               {{down(1.0), press(1.0)}, {up(1.1), release(1.1)}, {down(1.05), press(1.05)}}},
        Script{"OtherKeyForgetsTheTap",
               {{down(1.0), press(1.0)}, {up(1.1), release(1.1)}, {other(1.15), {}},
                {down(1.2), press(1.2)}}},
        Script{"ClickForgetsTheTap",
               {{down(1.0), press(1.0)}, {up(1.1), release(1.1)}, {click(1.15), {}},
                {down(1.2), press(1.2)}}},
        Script{"SleepForgetsTheTap",
               {{down(1.0), press(1.0)}, {up(1.1), release(1.1)}, {sleep(1.15), {}},
                {down(1.2), press(1.2)}}},
        Script{"EscapeDuringHoldCancelsAsOtherKey",
               {{down(1.0), press(1.0)}, {esc(2.0), cancel(KeyCancelReason::otherKey, 2.0)},
                {up(3.0), {}}, {down(3.1), press(3.1)}}},
        Script{"CancelReasons",
               {{down(1.0), press(1.0)}, {click(1.5), cancel(KeyCancelReason::click, 1.5)},
                {up(1.6), {}}, {down(2.0), press(2.0)},
                {modifier(2.5), cancel(KeyCancelReason::otherModifier, 2.5)}, {up(2.6), {}},
                {down(3.0), press(3.0)}, {sleep(3.5), cancel(KeyCancelReason::watchdog, 3.5)},
                {sleep(3.6), {}}, {up(3.7), {}}}},
        Script{"ChordMutesUntilKeyUp",
               {{chord(1.0), {}}, {up(1.1), {}}, {down(1.2), press(1.2)},
                {chord(1.3), {}}, {down(1.4), {}}, {up(1.5), release(1.5)}}},
        Script{"HandsFreeStopAndItsMutedKeyUp",
               {{down(1.0), press(1.0)}, {up(1.1), release(1.1)}, {down(1.2), doubleTap(1.2)},
                {handsFreeOn(), {}}, {up(1.3), {}}, {other(2.0), {}}, {click(2.1), {}},
                {down(5.0), stop(5.0)}, {up(5.1), {}}, {down(6.0), press(6.0)}}},
        Script{"HandsFreeEscapeLeavesTheKeyAlone",
               {{handsFreeOn(), {}}, {esc(2.0), escape(2.0)}, {esc(2.1), {}},
                {down(3.0), press(3.0)}}},
        Script{"HandsFreeKeyDownWhileHeldFromBefore",
               {{down(1.0), press(1.0)}, {handsFreeOn(), {}}, {down(1.5), {}},
                {up(2.0), {}}, {down(3.0), stop(3.0)}}},
        Script{"HandsFreeChordWithKeyUpMutes",
               {{handsFreeOn(), {}}, {chord(1.0), {}}, {down(1.1), {}}, {up(1.2), {}},
                {down(1.3), stop(1.3)}}},
        Script{"TrustLostWhileMutedIsQuiet",
               {{chord(1.0), {}}, {trust(1.5), {}}, {down(2.0), press(2.0)},
                {trust(2.5), cancel(KeyCancelReason::trustLost, 2.5)}, {up(2.6), {}},
                {handsFreeOn(), {}}, {trust(3.0), cancel(KeyCancelReason::trustLost, 3.0)},
                {down(4.0), press(4.0)}}},
        Script{"ProbeNeedsADownReadingFirst",
               {{down(1.0), press(1.0)}, {probe(false, 1.1), {}}, {probe(false, 1.2), {}},
                {probe(false, 1.3), {}}, {probe(true, 1.4), {}}, {probe(false, 1.5), {}},
                {probe(false, 1.6), release(1.5)}, {up(1.7), {}}}},
        Script{"ProbeDownReadingRestartsTheCount",
               {{down(1.0), press(1.0)}, {probe(true, 1.1), {}}, {probe(false, 1.2), {}},
                {probe(true, 1.3), {}}, {probe(false, 1.4), {}},
                {probe(false, 1.5), release(1.4)}}},
        Script{"ProbeReleaseOfAShortPressIsATap",
               {{down(1.0), press(1.0)}, {probe(true, 1.05), {}}, {probe(false, 1.1), {}},
                {probe(false, 1.2), release(1.1)}, {down(1.3), doubleTap(1.3)}}},
        Script{"ProbeReleasesAMutedKeyQuietly",
               {{down(1.0), press(1.0)}, {other(1.1), cancel(KeyCancelReason::otherKey, 1.1)},
                {probe(true, 1.2), {}}, {probe(false, 1.3), {}}, {probe(false, 1.4), {}},
                {down(1.5), press(1.5)}}},
        Script{"KeyDownResetsProbeSawDownOnlyFromUp",
               {{down(1.0), press(1.0)}, {probe(true, 1.1), {}}, {down(1.2), {}},
                {probe(false, 1.3), {}}, {probe(false, 1.4), release(1.3)}}},
        Script{"WatchdogAtExactlySixHundredSeconds",
               {{down(1.0), press(1.0)}, {tick(600.9), {}},
                {probe(true, 601.0), cancel(KeyCancelReason::watchdog, 601.0)},
                {tick(700), {}}, {up(701), {}}}},
        Script{"ProbeInHandsFreeReleasesQuietly",
               {{handsFreeOn(), {}}, {chord(1.0), {}}, {probe(true, 1.1), {}},
                {probe(false, 1.2), {}}, {probe(false, 1.3), {}}, {down(1.4), stop(1.4)}}}),
    [](const auto& info) { return info.param.name; });

TEST(HoldMachine, HandsFreeOnWhileHeldMutesTheKeyAndForgetsTheTap) {
    HoldMachine machine;
    machine.handle(down(1.0));
    machine.setHandsFree(true);
    EXPECT_EQ(machine.key(), HoldMachine::Key::muted());
    EXPECT_TRUE(machine.isKeyDown());
    EXPECT_FALSE(machine.isPressed());
    EXPECT_EQ(machine.handle(up(1.1)), std::nullopt);
    machine.setHandsFree(false);
    EXPECT_EQ(machine.handle(down(1.2)), press(1.2));
    machine.reset();
    EXPECT_EQ(machine, HoldMachine());
}

} // namespace
} // namespace talverin
