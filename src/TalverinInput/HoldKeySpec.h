#pragma once

#include "TalverinCore/HoldKey.h"
#include "TalverinInput/HoldMachine.h"
#include "TalverinInput/KeyEvents.h"

#include <cstdint>
#include <optional>

namespace talverin {

// How each hold key is recognised in a key event.
struct HoldKeySpec {
    HoldKeyKind kind;
    std::int64_t keyCode;
    std::uint64_t deviceBit;    // the key's own left/right bit, 0 when it has none
    std::uint64_t otherSideBit; // the same modifier's bit on the other side, 0 when none
    std::uint64_t modifierMask; // the key's device-independent bit, 0 for function keys
    std::uint64_t chordMasks;   // modifier bits that make a press a chord

    static HoldKeySpec of(HoldKey key);

    // Whether a modifier hold key is down according to a flags word.
    bool isDown(std::uint64_t flags) const;
    // Another modifier held with the key, or both sides of the same modifier.
    bool isChord(std::uint64_t flags) const;
    std::optional<HoldMachine::Input> classify(KeyEventKind kind, std::int64_t keyCode,
                                               std::uint64_t flags, bool isRepeat,
                                               double time) const;

    bool operator==(const HoldKeySpec&) const = default;
};

namespace KeyCode {
std::int64_t of(HoldKey key);
// The first hold key in declaration order with this code.
std::optional<HoldKey> holdKey(std::int64_t code);
} // namespace KeyCode

} // namespace talverin
