#include "TalverinInput/HoldKeySpec.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace talverin {
namespace {

using IK = HoldMachine::Input::Kind;

struct ClassifyCase {
    std::string name;
    HoldKey holdKey;
    KeyEventKind event;
    std::int64_t keyCode;
    std::uint64_t flags;
    bool isRepeat;
    std::optional<IK> expected;
};

class Classify : public ::testing::TestWithParam<ClassifyCase> {};

TEST_P(Classify, GivesTheInput) {
    const auto& c = GetParam();
    auto input = HoldKeySpec::of(c.holdKey).classify(c.event, c.keyCode, c.flags, c.isRepeat, 7.5);
    ASSERT_EQ(input.has_value(), c.expected.has_value());
    if (input) {
        EXPECT_EQ(input->kind, *c.expected);
        EXPECT_EQ(input->t, 7.5);
    }
}

using enum KeyEventKind;
using enum HoldKey;

INSTANTIATE_TEST_SUITE_P(
    Table, Classify,
    ::testing::Values(
        ClassifyCase{"RightOptionAlone", rightOption, flagsChanged, 61, 0x80040, false,
                     IK::keyDown},
        ClassifyCase{"RightOptionWithShift", rightOption, flagsChanged, 61, 0xa0042, false,
                     IK::chordDown},
        ClassifyCase{"RightOptionWithLeftOption", rightOption, flagsChanged, 61, 0x80060, false,
                     IK::chordDown},
        ClassifyCase{"LeftOptionWhileRightIsTheHoldKey", rightOption, flagsChanged, 58, 0x80020,
                     false, IK::otherModifier},
        ClassifyCase{"HoldKeyUpWhileOtherSideStaysDown", rightOption, flagsChanged, 61, 0x80020,
                     false, IK::keyUp},
        ClassifyCase{"SyntheticFlagsWithoutDeviceBits", rightOption, flagsChanged, 61, 0x80000,
                     false, IK::keyDown},
        ClassifyCase{"RightOptionUp", rightOption, flagsChanged, 61, 0x0, false, IK::keyUp},
        ClassifyCase{"CapsLockIsAnotherModifier", rightOption, flagsChanged, 57, 0x10000, false,
                     IK::otherModifier},
        ClassifyCase{"FnAlone", fn, flagsChanged, 63, 0x800000, false, IK::keyDown},
        ClassifyCase{"FnWithCommand", fn, flagsChanged, 63, 0x900000, false, IK::chordDown},
        ClassifyCase{"F13WithShift", f13, keyDown, 105, 0x20000, false, IK::chordDown},
        ClassifyCase{"F13WithFn", f13, keyDown, 105, 0x800000, false, IK::keyDown},
        ClassifyCase{"F13Repeat", f13, keyDown, 105, 0x0, true, std::nullopt},
        ClassifyCase{"F13Up", f13, keyUp, 105, 0x0, false, IK::keyUp},
        ClassifyCase{"OtherKeyUpIsIgnored", f13, keyUp, 0, 0x0, false, std::nullopt},
        ClassifyCase{"EscapeDown", f13, keyDown, 53, 0x0, false, IK::escape},
        ClassifyCase{"ModifierSeesFlagsOfAnF13Press", f13, flagsChanged, 61, 0x80040, false,
                     IK::otherModifier},
        ClassifyCase{"OtherKeyDownDuringModifierHold", rightOption, keyDown, 0, 0x80040, false,
                     IK::otherKey},
        ClassifyCase{"KeyUpIgnoredForModifierHoldKey", rightOption, keyUp, 61, 0x0, false,
                     std::nullopt},
        ClassifyCase{"MouseDownIsAClick", rightOption, mouseDown, 0, 0x0, false, IK::click},
        ClassifyCase{"OtherEventIsNothing", rightOption, other, 0, 0x0, false, std::nullopt}),
    [](const auto& info) { return info.param.name; });

TEST(HoldKeySpec, KeyCodesAndLookUps) {
    for (std::size_t i = 0; i < 8; ++i)
        EXPECT_EQ(KeyCode::of(static_cast<HoldKey>(static_cast<int>(HoldKey::f13) + i)),
                  KeyCode::f13to20[i]);
    EXPECT_EQ(KeyCode::holdKey(57), std::nullopt);
    EXPECT_EQ(KeyCode::holdKey(53), std::nullopt);
    EXPECT_EQ(KeyCode::holdKey(63), HoldKey::fn);
    EXPECT_EQ(KeyCode::holdKey(64), HoldKey::f17);
    for (HoldKey key : allCases<HoldKey>())
        EXPECT_EQ(KeyCode::holdKey(KeyCode::of(key)), key) << toString(key);
}

TEST(EventClock, ReadsTimestampsAsNanosecondsOrTicksAndClampsThem) {
    const double now = 5000;
    const EventClock::Timebase ticks{125, 3};
    // 4999.5 s expressed in ticks of 125/3 ns.
    const auto asTicks = static_cast<std::uint64_t>(4999.5e9 * 3 / 125);
    EXPECT_NEAR(EventClock::uptime(asTicks, now, ticks), 4999.5, 1e-6);
    EXPECT_DOUBLE_EQ(EventClock::uptime(4999'500'000'000ull, now, {1, 1}), 4999.5);
    EXPECT_DOUBLE_EQ(EventClock::uptime(0, now, {1, 1}), now);
    EXPECT_DOUBLE_EQ(EventClock::uptime(4969'000'000'000ull, now, {1, 1}), now) << "31 s old";
    EXPECT_DOUBLE_EQ(EventClock::uptime(5000'500'000'000ull, now, {1, 1}), now) << "future";
    EXPECT_DOUBLE_EQ(EventClock::uptime(4999'500'000'000ull, now, {7, 0}), 4999.5);
    EXPECT_EQ(EventClock::normalised({7, 0}).numerator, 1u);
}

TEST(EventClock, ServerTimeIsTheSignedDifferenceFromNow) {
    // The server's millisecond clock wrapped between the event and now.
    const double now = 4294967.396; // 2^32 ms + 100 ms
    EXPECT_NEAR(EventClock::uptimeOfServerTime(0xfffffffcu, now), now - 0.104, 1e-6);
    EXPECT_NEAR(EventClock::uptimeOfServerTime(96, now), now - 0.004, 1e-6);
    EXPECT_DOUBLE_EQ(EventClock::uptimeOfServerTime(200, now), now) << "never in the future";
    EXPECT_DOUBLE_EQ(EventClock::uptimeOfServerTime(100u - 40'000u, now), now) << "stale";
}

TEST(EventClock, ServerTimesKeepTheirOrderWhenTheyAreRead) {
    // A release and the next press in the same millisecond, the press read 0.8 ms later: both
    // are that millisecond, never the press before the release.
    const std::uint32_t millis = 5'000'821;
    EXPECT_DOUBLE_EQ(EventClock::uptimeOfServerTime(millis, 5000.8211), 5000.821);
    EXPECT_DOUBLE_EQ(EventClock::uptimeOfServerTime(millis, 5000.8219), 5000.821);
    EXPECT_DOUBLE_EQ(EventClock::uptimeOfServerTime(millis - 1, 5000.8219), 5000.820);
}

} // namespace
} // namespace talverin
