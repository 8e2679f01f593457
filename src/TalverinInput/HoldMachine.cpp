#include "TalverinInput/HoldMachine.h"

#include <algorithm>

namespace talverin {

using Kind = HoldMachine::Input::Kind;
using State = HoldMachine::Key::State;
using Output = HoldMachine::Output;

std::optional<Output> HoldMachine::handle(const Input& input) {
    // Step 1: key inputs restart the probe's count of up readings.
    switch (input.kind) {
    case Kind::keyDown:
    case Kind::chordDown:
        m_upProbes = 0;
        m_firstUpProbe.reset();
        if (m_key.state == State::up)
            m_probeSawDown = false;
        break;
    case Kind::keyUp:
        m_upProbes = 0;
        m_firstUpProbe.reset();
        m_probeSawDown = false;
        break;
    default:
        break;
    }

    // Step 2.
    switch (input.kind) {
    case Kind::trustLost: {
        bool wasActive = m_key.state == State::pressed || m_isHandsFree;
        reset();
        if (wasActive)
            return Output::cancel(KeyCancelReason::trustLost, input.t);
        return std::nullopt;
    }
    case Kind::tick:
        return watchdogCheck(input.t);
    case Kind::keyState:
        return probe(input.down, input.t);
    default:
        return m_isHandsFree ? handsFree(input) : normal(input);
    }
}

void HoldMachine::setHandsFree(bool on) {
    m_lastTapRelease.reset();
    if (on && isKeyDown())
        m_key = Key::muted();
    m_isHandsFree = on;
}

std::optional<Output> HoldMachine::handsFree(const Input& input) {
    switch (input.kind) {
    case Kind::keyDown:
        if (m_key.state != State::up)
            return std::nullopt;
        m_isHandsFree = false;
        m_lastTapRelease.reset();
        m_key = Key::muted();
        return Output{Output::Kind::stop, input.t};
    case Kind::chordDown:
        if (m_key.state == State::up)
            m_key = Key::muted();
        return std::nullopt;
    case Kind::keyUp:
        m_key = Key::up();
        return std::nullopt;
    case Kind::escape:
        m_isHandsFree = false;
        m_lastTapRelease.reset();
        return Output{Output::Kind::escape, input.t};
    default:
        return std::nullopt;
    }
}

std::optional<Output> HoldMachine::muteWith(KeyCancelReason reason, double t) {
    m_key = Key::muted();
    m_lastTapRelease.reset();
    return Output::cancel(reason, t);
}

std::optional<Output> HoldMachine::normal(const Input& input) {
    const double t = input.t;
    switch (m_key.state) {
    case State::up:
        switch (input.kind) {
        case Kind::keyDown:
            // Inclusive window; a release later than the press (time went backwards) is no tap.
            if (m_lastTapRelease && *m_lastTapRelease <= t &&
                t - *m_lastTapRelease <= doubleTapWindow) {
                m_key = Key::muted();
                m_lastTapRelease.reset();
                return Output{Output::Kind::doubleTap, t};
            }
            m_key = Key::pressed(t);
            m_lastTapRelease.reset();
            return Output{Output::Kind::press, t};
        case Kind::chordDown:
            m_key = Key::muted();
            m_lastTapRelease.reset();
            return std::nullopt;
        case Kind::keyUp:
            return std::nullopt;
        default:
            m_lastTapRelease.reset();
            return std::nullopt;
        }
    case State::pressed:
        switch (input.kind) {
        case Kind::keyUp: {
            double since = m_key.since;
            m_key = Key::up();
            m_lastTapRelease = t - since < tapMax ? std::optional<double>(t) : std::nullopt;
            return Output{Output::Kind::release, t};
        }
        case Kind::escape:
        case Kind::otherKey:
            return muteWith(KeyCancelReason::otherKey, t);
        case Kind::click:
            return muteWith(KeyCancelReason::click, t);
        case Kind::otherModifier:
            return muteWith(KeyCancelReason::otherModifier, t);
        case Kind::sleep:
            return muteWith(KeyCancelReason::watchdog, t);
        default:
            return std::nullopt;
        }
    case State::muted:
        if (input.kind == Kind::keyUp)
            m_key = Key::up();
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<Output> HoldMachine::watchdogCheck(double t) {
    if (!m_isHandsFree && m_key.state == State::pressed && t - m_key.since >= watchdog) {
        m_key = Key::muted();
        m_lastTapRelease.reset();
        return Output::cancel(KeyCancelReason::watchdog, t);
    }
    return std::nullopt;
}

// Repairs a lost key-up: two up readings after the probe has once seen the key down end
// the hold, dated at the first of them.
std::optional<Output> HoldMachine::probe(bool down, double t) {
    if (auto cancelled = watchdogCheck(t))
        return cancelled;
    if (m_key.state == State::up) {
        m_upProbes = 0;
        m_firstUpProbe.reset();
        return std::nullopt;
    }
    if (down) {
        m_upProbes = 0;
        m_firstUpProbe.reset();
        m_probeSawDown = true;
        return std::nullopt;
    }
    // A key the probe cannot see is never released by it.
    if (!m_probeSawDown)
        return std::nullopt;
    m_upProbes += 1;
    if (!m_firstUpProbe)
        m_firstUpProbe = t;
    const double firstUp = *m_firstUpProbe;
    if (m_upProbes < probesToRelease)
        return std::nullopt;
    m_upProbes = 0;
    m_firstUpProbe.reset();
    m_probeSawDown = false;
    if (m_key.state == State::muted || m_isHandsFree) {
        m_key = Key::up();
        return std::nullopt;
    }
    const double since = m_key.since;
    const double released = std::max(firstUp, since);
    m_key = Key::up();
    m_lastTapRelease =
        released - since < tapMax ? std::optional<double>(released) : std::nullopt;
    return Output{Output::Kind::release, released};
}

} // namespace talverin
