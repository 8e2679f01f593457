#include "TalverinInput/KeyCapture.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace talverin {
namespace {

using Event = KeyCapture::Event;
using R = KeyCaptureResult;

struct Step {
    Event event;
    std::optional<R> expected;
};

struct Script {
    std::string name;
    std::vector<Step> steps;
};

class KeyCaptureScripts : public ::testing::TestWithParam<Script> {};

TEST_P(KeyCaptureScripts, ReportsTheExpectedResults) {
    KeyCapture capture;
    int index = 0;
    for (const auto& step : GetParam().steps)
        EXPECT_EQ(capture.handle(step.event), step.expected) << "step " << index++;
}

const auto typing = R::rejected(KeyRejectReason::typing);
const auto combo = R::rejected(KeyRejectReason::combo);

INSTANTIATE_TEST_SUITE_P(
    Table, KeyCaptureScripts,
    ::testing::Values(
        Script{"RightOptionAlone",
               {{Event::flagsChanged(61, 0x80040), {}},
                {Event::flagsChanged(61, 0x0), R::accepted(HoldKey::rightOption)}}},
        Script{"RightOptionThenShift",
               {{Event::flagsChanged(61, 0x80040), {}},
                {Event::flagsChanged(56, 0xa0042), combo},
                {Event::flagsChanged(61, 0x20002), {}},
                {Event::flagsChanged(56, 0x0), {}}}},
        Script{"ShiftThenRightOption",
               {{Event::flagsChanged(56, 0x20002), {}},
                {Event::flagsChanged(61, 0xa0042), combo}}},
        Script{"RightOptionWithLeftOptionHeldFromBefore",
               {{Event::flagsChanged(61, 0x80060), combo}}},
        Script{"CommandThenA",
               {{Event::flagsChanged(55, 0x100008), {}}, {Event::keyDown(0, 0x100008, false), combo},
                {Event::keyDown(0, 0x0, false), typing},
                {Event::keyDown(0, 0x20002, false), combo}}},
        Script{"F13Alone",
               {{Event::keyDown(105, 0x0, false), {}}, {Event::keyDown(105, 0x0, true), {}},
                {Event::keyUp(105), R::accepted(HoldKey::f13)}}},
        Script{"F13WithControl", {{Event::keyDown(105, 0x40001, false), combo}}},
        Script{"F13WithFn",
               {{Event::keyDown(105, 0x800000, false), {}},
                {Event::keyUp(105), R::accepted(HoldKey::f13)}}},
        Script{"EscapeWhilePendingAndRepeated",
               {{Event::keyDown(105, 0x0, false), {}}, {Event::keyDown(53, 0x0, true), R::cancelled()},
                {Event::keyUp(105), {}}, {Event::keyDown(53, 0x0, false), R::cancelled()}}},
        Script{"CapsLockAndMediaKeys",
               {{Event::flagsChanged(57, 0x10000), typing}, {Event::mediaKey(), typing}}},
        Script{"ClickClearsThePendingKey",
               {{Event::flagsChanged(61, 0x80040), {}}, {Event::mouseDown(), {}},
                {Event::flagsChanged(61, 0x0), {}}}},
        Script{"FnAlone",
               {{Event::flagsChanged(63, 0x800000), {}},
                {Event::flagsChanged(63, 0x0), R::accepted(HoldKey::fn)}}},
        Script{"OtherModifierReleaseDoesNotAccept",
               {{Event::flagsChanged(61, 0x80040), {}}, {Event::flagsChanged(58, 0x80040), {}},
                {Event::flagsChanged(61, 0x0), R::accepted(HoldKey::rightOption)}}},
        Script{"UnknownFlagsChangedIsIgnored",
               {{Event::flagsChanged(1063, 0x0), {}}, {Event::keyUp(0), {}}}}),
    [](const auto& info) { return info.param.name; });

TEST(KeyCapture, ARejectionClearsThePendingKeyButTheCaptureGoesOn) {
    KeyCapture capture;
    capture.handle(Event::flagsChanged(61, 0x80040));
    EXPECT_EQ(capture.pending(), HoldKey::rightOption);
    EXPECT_EQ(capture.handle(Event::keyDown(0, 0x80040, false)), combo);
    EXPECT_EQ(capture.pending(), std::nullopt);
    capture.handle(Event::keyDown(107, 0, false));
    EXPECT_EQ(capture.handle(Event::keyUp(107)), R::accepted(HoldKey::f14));
}

} // namespace
} // namespace talverin
