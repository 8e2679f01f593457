#include "fakes/KeyTappingFake.h"

#include "Runtime/MainQueue.h"

#include <string>

namespace talverin::test {

namespace {

double stamp(std::optional<double> time) {
    return time ? *time : Clock::uptime();
}

std::string flag(bool value) {
    return value ? "true" : "false";
}

} // namespace

// The job holds the fake weakly, so a fake destroyed before the world runs is left alone.
template <typename F> void KeyTappingFake::post(F deliver) {
    MainQueue::post([alive = std::weak_ptr<int>(m_alive), deliver = std::move(deliver)] {
        if (alive.lock())
            deliver();
    });
}

void KeyTappingFake::setHoldKey(HoldKey key) {
    log.record("setHoldKey", std::string(toString(key)));
    m_holdKey = key;
}

bool KeyTappingFake::beginCapture() {
    log.record("beginCapture");
    if (!m_running)
        return false;
    m_capturing = true;
    return true;
}

void KeyTappingFake::endCapture() {
    log.record("endCapture");
    m_capturing = false;
}

void KeyTappingFake::setWatchesEscape(bool watches) {
    log.record("setWatchesEscape", flag(watches));
    m_watchesEscape = watches;
}

void KeyTappingFake::setHandsFree(bool handsFree) {
    log.record("setHandsFree", flag(handsFree));
    m_handsFree = handsFree;
}

bool KeyTappingFake::start() {
    log.record("start");
    m_running = startAnswer;
    return startAnswer;
}

void KeyTappingFake::stop() {
    log.record("stop");
    m_running = false;
    m_capturing = false;
}

void KeyTappingFake::sendPress(std::optional<double> time) {
    post([this, t = stamp(time)] {
        if (onPress)
            onPress(t);
    });
}

void KeyTappingFake::sendRelease(std::optional<double> time) {
    post([this, t = stamp(time)] {
        if (onRelease)
            onRelease(t);
    });
}

void KeyTappingFake::sendCancel(KeyCancelReason reason, std::optional<double> time) {
    post([this, reason, t = stamp(time)] {
        if (onCancel)
            onCancel(reason, t);
    });
}

void KeyTappingFake::sendDoubleTap(std::optional<double> time) {
    post([this, t = stamp(time)] {
        if (onDoubleTap)
            onDoubleTap(t);
    });
}

bool KeyTappingFake::sendStop(std::optional<double> time) {
    if (!m_handsFree)
        return false;
    post([this, t = stamp(time)] {
        if (onStop)
            onStop(t);
    });
    return true;
}

bool KeyTappingFake::sendEscape(std::optional<double> time) {
    if (!m_handsFree)
        return false;
    post([this, t = stamp(time)] {
        if (onEscape)
            onEscape(t);
    });
    return true;
}

void KeyTappingFake::sendHoldKeyChange(bool down, std::optional<double> time) {
    post([this, down, t = stamp(time)] {
        if (onHoldKeyChange)
            onHoldKeyChange(down, t);
    });
}

bool KeyTappingFake::sendEscapeWatched(std::optional<double> time) {
    if (!m_watchesEscape)
        return false;
    post([this, t = stamp(time)] {
        if (onEscapeWatched)
            onEscapeWatched(t);
    });
    return true;
}

bool KeyTappingFake::sendCapture(KeyCaptureResult result) {
    if (!m_capturing)
        return false;
    // As the real tap: a refused key leaves the capture running for the next key.
    if (result.kind() != KeyCaptureResult::Kind::rejected)
        m_capturing = false;
    post([this, result] {
        if (onCapture)
            onCapture(result);
    });
    return true;
}

} // namespace talverin::test
