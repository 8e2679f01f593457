#include "TalverinInput/linux/KeyTranslatorX11.h"

#include "TalverinInput/HoldKeySpec.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <vector>

namespace talverin {
namespace {

using X = KeyTranslatorX11;
using IK = HoldMachine::Input::Kind;

// Every X keycode the keyboard can send maps into the hold-key code space; only the keys
// below take a code there, and no other keycode may match a hold key, Escape or Caps Lock.
TEST(KeyTranslatorX11, MapsEveryKeycodeAndPassesNoneThrough) {
    const std::map<int, std::int64_t> mapped = {
        {108, KeyCode::rightOption}, {134, KeyCode::rightCommand}, {64, KeyCode::option},
        {133, KeyCode::command},     {37, KeyCode::control},       {105, KeyCode::rightControl},
        {50, KeyCode::shift},        {62, KeyCode::rightShift},    {9, KeyCode::escape},
        {66, KeyCode::capsLock},     {191, 105}, {192, 107}, {193, 113}, {194, 106},
        {195, 64}, {196, 79}, {197, 80}, {198, 90}};
    for (int keycode = 8; keycode <= 255; ++keycode) {
        const std::int64_t code = X::keyCodeOf(keycode);
        if (auto it = mapped.find(keycode); it != mapped.end()) {
            EXPECT_EQ(code, it->second) << "X keycode " << keycode;
            continue;
        }
        EXPECT_EQ(code, X::unmappedBase + keycode);
        EXPECT_EQ(KeyCode::holdKey(code), std::nullopt) << "X keycode " << keycode;
        EXPECT_NE(code, KeyCode::escape);
        EXPECT_NE(code, KeyCode::capsLock);
    }
}

std::optional<IK> hold(const HoldKeySpec& spec, std::optional<X::Event> event) {
    if (!event)
        return std::nullopt;
    auto input = spec.classify(event->kind, event->keyCode, event->flags, event->isRepeat, 1.0);
    return input ? std::optional<IK>(input->kind) : std::nullopt;
}

TEST(KeyTranslatorX11, KeycodeSequencesClassifyLikeTheirKeyEvents) {
    const auto rightAlt = HoldKeySpec::of(HoldKey::rightOption);
    X x;
    EXPECT_EQ(hold(rightAlt, x.keyPress(108)), IK::keyDown);
    EXPECT_EQ(x.flags(), 0x80040u);
    EXPECT_EQ(hold(rightAlt, x.keyPress(108)), std::nullopt) << "a held modifier repeats nothing";
    EXPECT_EQ(hold(rightAlt, x.keyPress(50)), IK::otherModifier);
    EXPECT_EQ(hold(rightAlt, x.keyPress(38)), IK::otherKey) << "a";
    EXPECT_EQ(hold(rightAlt, x.keyRelease(38)), std::nullopt);
    EXPECT_EQ(hold(rightAlt, x.keyRelease(108)), IK::keyUp);
    EXPECT_EQ(hold(rightAlt, x.keyRelease(108)), std::nullopt) << "not down any more";
    EXPECT_EQ(hold(rightAlt, x.keyPress(9)), IK::escape);

    // Left Alt held while right Alt goes down and up: a chord, then the hold key's own up.
    X both;
    both.keyPress(64);
    EXPECT_EQ(hold(rightAlt, both.keyPress(108)), IK::chordDown);
    EXPECT_EQ(hold(rightAlt, both.keyRelease(108)), IK::keyUp);
}

TEST(KeyTranslatorX11, ModifiersHeldFromBeforeTheSessionCount) {
    X x;
    const int held[] = {50};
    x.seed(held, /*capsLockOn=*/true);
    EXPECT_EQ(x.flags(), 0x20002u | 0x10000u);
    EXPECT_EQ(hold(HoldKeySpec::of(HoldKey::rightOption), x.keyPress(108)), IK::chordDown);
    // Its release is a real release even though its press happened before the session.
    EXPECT_EQ(x.keyRelease(50)->kind, KeyEventKind::flagsChanged);
}

TEST(KeyTranslatorX11, FunctionKeyRepeatsAndCapsLock) {
    const auto f13 = HoldKeySpec::of(HoldKey::f13);
    X x;
    EXPECT_EQ(hold(f13, x.keyPress(191)), IK::keyDown);
    EXPECT_EQ(hold(f13, x.keyPress(191)), std::nullopt) << "autorepeat";
    EXPECT_EQ(hold(f13, x.keyRelease(191)), IK::keyUp);

    auto press = x.keyPress(66);
    ASSERT_TRUE(press);
    EXPECT_EQ(press->kind, KeyEventKind::flagsChanged);
    EXPECT_EQ(press->flags & Flag::capsLock, Flag::capsLock);
    EXPECT_EQ(x.keyRelease(66), std::nullopt);
    EXPECT_EQ(x.keyPress(66)->flags & Flag::capsLock, 0u);
}

TEST(KeyTranslatorX11, MediaKeysAndButtons) {
    const auto rightAlt = HoldKeySpec::of(HoldKey::rightOption);
    for (int media : {121, 122, 123, 171, 172, 173, 174, 232, 233}) {
        X x;
        auto press = x.keyPress(media);
        EXPECT_EQ(hold(rightAlt, press), std::nullopt) << media;
        EXPECT_EQ(X::captureEvent(*press), KeyCapture::Event::mediaKey()) << media;
        EXPECT_EQ(X::captureEvent(*x.keyRelease(media)), std::nullopt) << media;
    }
    for (int button = 1; button <= 9; ++button) {
        bool wheel = button >= 4 && button <= 7;
        EXPECT_EQ(X::buttonPress(button).has_value(), !wheel) << button;
        if (!wheel)
            EXPECT_EQ(hold(rightAlt, X::buttonPress(button)), IK::click);
    }
}

TEST(KeyTranslatorX11, CaptureSeesTheSameKeysInItsOwnTerms) {
    X x;
    KeyCapture capture;
    EXPECT_EQ(capture.handle(*X::captureEvent(*x.keyPress(134))), std::nullopt);
    EXPECT_EQ(capture.handle(*X::captureEvent(*x.keyRelease(134))),
              KeyCaptureResult::accepted(HoldKey::rightCommand));
    EXPECT_EQ(capture.handle(*X::captureEvent(*x.keyPress(197))), std::nullopt);
    EXPECT_EQ(capture.handle(*X::captureEvent(*x.keyRelease(197))),
              KeyCaptureResult::accepted(HoldKey::f19));
    EXPECT_EQ(capture.handle(*X::captureEvent(*x.keyPress(53))),
              KeyCaptureResult::rejected(KeyRejectReason::typing))
        << "X 53 is x, not Escape";
    EXPECT_EQ(capture.handle(*X::captureEvent(*x.keyPress(9))), KeyCaptureResult::cancelled());
}

} // namespace
} // namespace talverin
