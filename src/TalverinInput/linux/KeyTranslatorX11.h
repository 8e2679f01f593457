#pragma once

#include "TalverinInput/KeyCapture.h"
#include "TalverinInput/KeyEvents.h"

#include <bitset>
#include <cstdint>
#include <optional>
#include <span>

namespace talverin {

// Turns XInput2 raw key and button events into the key events the hold-key logic
// classifies. Raw events carry no modifier state, so the translator keeps its own set of
// pressed keycodes, seeded from the keyboard's state when a tap session starts (modifiers
// held from before then count), and builds the flags word from it.
//
// Keycodes are matched, never keysyms: Xvfb's default keymap has no keysyms for F13–F20, and
// some layouts put ISO_Level3_Shift on right Alt. Every X keycode is mapped into the hold-key
// logic's code space; X keycodes collide with it (X 53 is "x", but 53 is Escape there).
class KeyTranslatorX11 {
public:
    // X keycodes (evdev code + 8).
    static constexpr int xEscape = 9;
    static constexpr int xCapsLock = 66;
    static constexpr int xLeftControl = 37;
    static constexpr int xRightControl = 105;
    static constexpr int xLeftShift = 50;
    static constexpr int xRightShift = 62;
    static constexpr int xLeftAlt = 64;
    static constexpr int xRightAlt = 108;
    static constexpr int xLeftSuper = 133;
    static constexpr int xRightSuper = 134;
    static constexpr int xF13 = 191; // F13 to F20 are 191 to 198
    // Every key without a hold-key code maps here plus its keycode, which matches no row.
    static constexpr std::int64_t unmappedBase = 1000;

    struct Event {
        KeyEventKind kind;
        std::int64_t keyCode;
        std::uint64_t flags;
        bool isRepeat = false;
        // A media or special key went down (volume, brightness, play ...).
        bool isMediaKeyDown = false;
        bool operator==(const Event&) const = default;
    };

    static std::int64_t keyCodeOf(int xKeycode);
    // The eight modifier hold keys; their presses and releases are flags-changed events.
    static bool isModifier(int xKeycode);
    static bool isMediaKey(int xKeycode);
    // The bits a held key contributes to the flags word (0 for most keys).
    static std::uint64_t flagsOf(int xKeycode);

    // Forgets every key and takes the keyboard's state at the start of a session.
    void seed(std::span<const int> keycodesDown, bool capsLockOn);
    std::optional<Event> keyPress(int xKeycode);
    // A release of a key that is not down is ignored.
    std::optional<Event> keyRelease(int xKeycode);
    // Every button but the wheel (4 to 7) is a click.
    static std::optional<Event> buttonPress(int button);

    // The event as hold-key capture reads it: media keys count on their press only.
    static std::optional<KeyCapture::Event> captureEvent(const Event& event);

    std::uint64_t flags() const;
    bool isDown(int xKeycode) const;

private:
    std::bitset<256> m_down;
    bool m_capsLock = false;
};

} // namespace talverin
