#pragma once

#include "TalverinCore/KeyCancelReason.h"

#include <cstdint>
#include <optional>

namespace talverin {

// Turns the timed facts about the hold key into the few events that drive a dictation.
// A plain value with no clock of its own: every input carries its uptime, so a recorded
// sequence of inputs replays exactly. One machine lives on each tap session's thread.
class HoldMachine {
public:
    static constexpr double showDelay = 0.13;
    static constexpr double tapMax = 0.25;
    static constexpr double doubleTapWindow = 0.35;
    static constexpr double watchdog = 600;
    static constexpr double probeInterval = 0.1;
    static constexpr std::int64_t probesToRelease = 2;

    struct Key {
        enum class State { up, pressed, muted };
        State state = State::up;
        double since = 0; // the press time while pressed

        static Key up() { return {}; }
        static Key pressed(double since) { return {State::pressed, since}; }
        static Key muted() { return {State::muted, 0}; }
        bool operator==(const Key&) const = default;
    };

    struct Input {
        enum class Kind {
            keyDown,
            chordDown,
            keyUp,
            escape,
            otherKey,
            click,
            otherModifier,
            trustLost,
            tick,
            keyState,
            sleep,
        };
        Kind kind;
        double t;
        bool down = false; // keyState only

        static Input keyState(bool down, double t) { return {Kind::keyState, t, down}; }
        bool operator==(const Input&) const = default;
    };

    struct Output {
        enum class Kind { press, release, cancel, doubleTap, stop, escape };
        Kind kind;
        double t;
        KeyCancelReason reason = KeyCancelReason::otherKey; // cancel only

        static Output cancel(KeyCancelReason reason, double t) { return {Kind::cancel, t, reason}; }
        bool operator==(const Output&) const = default;
    };

    HoldMachine() = default;
    void reset() { *this = HoldMachine(); }

    // Applies one input. There is never more than one output, so none is allocated.
    std::optional<Output> handle(const Input& input);
    // Forgets the last tap; entering hands-free mutes a key that is still held.
    void setHandsFree(bool on);

    bool isHandsFree() const { return m_isHandsFree; }
    const Key& key() const { return m_key; }
    bool isKeyDown() const { return m_key.state != Key::State::up; }
    bool isPressed() const { return m_key.state == Key::State::pressed; }
    // Whether a probe reading has seen the key down since it was last up.
    bool probeSawDown() const { return m_probeSawDown; }

    bool operator==(const HoldMachine&) const = default;

private:
    std::optional<Output> handsFree(const Input& input);
    std::optional<Output> normal(const Input& input);
    std::optional<Output> watchdogCheck(double t);
    std::optional<Output> probe(bool down, double t);
    std::optional<Output> muteWith(KeyCancelReason reason, double t);

    bool m_isHandsFree = false;
    Key m_key;
    std::optional<double> m_lastTapRelease;
    bool m_probeSawDown = false;
    std::optional<double> m_firstUpProbe;
    std::int64_t m_upProbes = 0;
};

} // namespace talverin
