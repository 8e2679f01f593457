#pragma once

#include "TalverinCore/EnumTable.h"

#include <algorithm>
#include <array>
#include <optional>

namespace talverin {

// The key that the user holds to dictate.
enum class HoldKey {
    rightOption,
    rightCommand,
    fn,
    leftOption,
    leftCommand,
    leftControl,
    rightControl,
    leftShift,
    rightShift,
    f13,
    f14,
    f15,
    f16,
    f17,
    f18,
    f19,
    f20,
};

// Whether a hold key is a modifier or an ordinary key.
enum class HoldKeyKind {
    modifier,
    key,
};

// The caveat a hold key carries; the pages show it next to a captured key.
enum class KeyWarning {
    shortcuts,   // the key is part of many shortcuts
    brightness,  // the key changes the screen brightness on some keyboards
    secureInput, // the key is swallowed while secure input is on
};

template <> struct EnumTable<HoldKey> {
    static constexpr auto entries = std::to_array<EnumEntry<HoldKey>>({
        {HoldKey::rightOption, "rightOption"},
        {HoldKey::rightCommand, "rightCommand"},
        {HoldKey::fn, "fn"},
        {HoldKey::leftOption, "leftOption"},
        {HoldKey::leftCommand, "leftCommand"},
        {HoldKey::leftControl, "leftControl"},
        {HoldKey::rightControl, "rightControl"},
        {HoldKey::leftShift, "leftShift"},
        {HoldKey::rightShift, "rightShift"},
        {HoldKey::f13, "f13"},
        {HoldKey::f14, "f14"},
        {HoldKey::f15, "f15"},
        {HoldKey::f16, "f16"},
        {HoldKey::f17, "f17"},
        {HoldKey::f18, "f18"},
        {HoldKey::f19, "f19"},
        {HoldKey::f20, "f20"},
    });
};

template <> struct EnumTable<HoldKeyKind> {
    static constexpr auto entries = std::to_array<EnumEntry<HoldKeyKind>>({
        {HoldKeyKind::modifier, "modifier"},
        {HoldKeyKind::key, "key"},
    });
};

template <> struct EnumTable<KeyWarning> {
    static constexpr auto entries = std::to_array<EnumEntry<KeyWarning>>({
        {KeyWarning::shortcuts, "shortcuts"},
        {KeyWarning::brightness, "brightness"},
        {KeyWarning::secureInput, "secureInput"},
    });
};

// The three keys the pages offer first, in the order they show them.
inline constexpr std::array<HoldKey, 3> holdKeyPresets{HoldKey::fn, HoldKey::rightOption,
                                                       HoldKey::rightCommand};

// F13 to F20 are ordinary keys; every other hold key is a modifier.
constexpr HoldKeyKind kind(HoldKey key) {
    switch (key) {
    case HoldKey::f13:
    case HoldKey::f14:
    case HoldKey::f15:
    case HoldKey::f16:
    case HoldKey::f17:
    case HoldKey::f18:
    case HoldKey::f19:
    case HoldKey::f20:
        return HoldKeyKind::key;
    default:
        return HoldKeyKind::modifier;
    }
}

constexpr bool isPreset(HoldKey key) {
    return std::find(holdKeyPresets.begin(), holdKeyPresets.end(), key) != holdKeyPresets.end();
}

constexpr std::optional<KeyWarning> warning(HoldKey key) {
    switch (key) {
    case HoldKey::rightOption:
    case HoldKey::rightCommand:
    case HoldKey::fn:
    case HoldKey::rightControl:
        return std::nullopt;
    case HoldKey::leftOption:
    case HoldKey::leftCommand:
    case HoldKey::leftControl:
    case HoldKey::leftShift:
    case HoldKey::rightShift:
        return KeyWarning::shortcuts;
    case HoldKey::f14:
    case HoldKey::f15:
        return KeyWarning::brightness;
    case HoldKey::f13:
    case HoldKey::f16:
    case HoldKey::f17:
    case HoldKey::f18:
    case HoldKey::f19:
    case HoldKey::f20:
        return KeyWarning::secureInput;
    }
    return std::nullopt;
}

} // namespace talverin
