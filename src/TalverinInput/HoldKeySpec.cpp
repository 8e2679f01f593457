#include "TalverinInput/HoldKeySpec.h"

#include <array>

namespace talverin {

namespace {

using enum HoldKeyKind;

// One row per hold key, in the declaration order of HoldKey.
constexpr std::array<HoldKeySpec, 17> table = {{
    {modifier, 61, 0x40, 0x20, 0x80000, 0x960000},      // rightOption
    {modifier, 54, 0x10, 0x8, 0x100000, 0x8e0000},      // rightCommand
    {modifier, 63, 0x0, 0x0, 0x800000, 0x1e0000},       // fn
    {modifier, 58, 0x20, 0x40, 0x80000, 0x960000},      // leftOption
    {modifier, 55, 0x8, 0x10, 0x100000, 0x8e0000},      // leftCommand
    {modifier, 59, 0x1, 0x2000, 0x40000, 0x9a0000},     // leftControl
    {modifier, 62, 0x2000, 0x1, 0x40000, 0x9a0000},     // rightControl
    {modifier, 56, 0x2, 0x4, 0x20000, 0x9c0000},        // leftShift
    {modifier, 60, 0x4, 0x2, 0x20000, 0x9c0000},        // rightShift
    {key, 105, 0x0, 0x0, 0x0, 0x1e0000},                // f13
    {key, 107, 0x0, 0x0, 0x0, 0x1e0000},                // f14
    {key, 113, 0x0, 0x0, 0x0, 0x1e0000},                // f15
    {key, 106, 0x0, 0x0, 0x0, 0x1e0000},                // f16
    {key, 64, 0x0, 0x0, 0x0, 0x1e0000},                 // f17
    {key, 79, 0x0, 0x0, 0x0, 0x1e0000},                 // f18
    {key, 80, 0x0, 0x0, 0x0, 0x1e0000},                 // f19
    {key, 90, 0x0, 0x0, 0x0, 0x1e0000},                 // f20
}};

} // namespace

HoldKeySpec HoldKeySpec::of(HoldKey key) { return table[static_cast<std::size_t>(key)]; }

bool HoldKeySpec::isDown(std::uint64_t flags) const {
    if (kind == HoldKeyKind::key)
        return false;
    if (deviceBit != 0 && (flags & deviceBit) != 0)
        return true;
    // The modifier bit then belongs to the other side's key.
    if (deviceBit != 0 && (flags & otherSideBit) != 0)
        return false;
    // Keyboards and synthetic events that set no device bits, and fn, which has none.
    return (flags & modifierMask) != 0;
}

bool HoldKeySpec::isChord(std::uint64_t flags) const {
    return (flags & chordMasks) != 0 || (otherSideBit != 0 && (flags & otherSideBit) != 0);
}

std::optional<HoldMachine::Input> HoldKeySpec::classify(KeyEventKind event, std::int64_t code,
                                                        std::uint64_t flags, bool isRepeat,
                                                        double time) const {
    using Kind = HoldMachine::Input::Kind;
    switch (event) {
    case KeyEventKind::flagsChanged:
        if (kind == HoldKeyKind::key || code != keyCode)
            return HoldMachine::Input{Kind::otherModifier, time};
        if (!isDown(flags))
            return HoldMachine::Input{Kind::keyUp, time};
        return HoldMachine::Input{isChord(flags) ? Kind::chordDown : Kind::keyDown, time};
    case KeyEventKind::keyDown:
        if (kind == HoldKeyKind::modifier || code != keyCode)
            return HoldMachine::Input{code == KeyCode::escape ? Kind::escape : Kind::otherKey,
                                      time};
        // A function hold key's autorepeat is dropped.
        if (isRepeat)
            return std::nullopt;
        return HoldMachine::Input{isChord(flags) ? Kind::chordDown : Kind::keyDown, time};
    case KeyEventKind::keyUp:
        if (kind == HoldKeyKind::modifier || code != keyCode)
            return std::nullopt;
        return HoldMachine::Input{Kind::keyUp, time};
    case KeyEventKind::mouseDown:
        return HoldMachine::Input{Kind::click, time};
    case KeyEventKind::other:
        return std::nullopt;
    }
    return std::nullopt;
}

std::int64_t KeyCode::of(HoldKey key) { return HoldKeySpec::of(key).keyCode; }

std::optional<HoldKey> KeyCode::holdKey(std::int64_t code) {
    for (HoldKey key : allCases<HoldKey>())
        if (of(key) == code)
            return key;
    return std::nullopt;
}

} // namespace talverin
