#pragma once

#include "TalverinInsert/TypingFallback.h"

#include <cstdint>
#include <string>
#include <vector>

namespace talverin {

// The exact key events of a paste and of typed text, for a poster to play out in order.
// Key codes and modifier bits are the portable ones below; a backend maps them onto its own.
namespace KeyEvents {

// "TLVR" read as one big-endian number: written into every event we post.
inline constexpr std::uint64_t marker = 0x544C5652;

inline constexpr std::uint16_t commandKey = 55;
inline constexpr std::uint16_t returnKey = 36;
// The key that carries typed text as its Unicode string.
inline constexpr std::uint16_t carrierKey = 0;
// The "v" key of the US layout: the paste key when no layout tells otherwise.
inline constexpr std::uint16_t vKey = 9;

inline constexpr std::uint64_t allModifiers = 0xFF20FF;
inline constexpr std::uint64_t command = 0x100008;
inline constexpr std::uint64_t shift = 0x20000;

// A pause typed text leaves between two pieces, so the target takes each event in turn.
inline constexpr double piecePause = 0.002;

struct KeyEvent {
    std::uint16_t keyCode = 0;
    bool down = true;
    std::uint64_t modifiers = 0;
    std::u16string text;
    std::uint64_t marker = KeyEvents::marker;
    // Seconds to wait after posting this event.
    double pauseAfter = 0;

    bool operator==(const KeyEvent&) const = default;
};

// The event's flags: what its source gave it, without any modifier, plus the step's own.
constexpr std::uint64_t flags(std::uint64_t current, std::uint64_t modifiers) {
    return (current & ~allModifiers) | modifiers;
}

// Command down, "v" down and up with Command, Command up with no modifier.
std::vector<KeyEvent> paste(std::uint16_t keyCode);
// Each text piece on the carrier key, down and up; each line break as Shift-Return, so chat
// and form fields insert a new line instead of sending.
std::vector<KeyEvent> typing(const std::vector<TypingFallback::Piece>& pieces);

} // namespace KeyEvents

} // namespace talverin
