#include "TalverinInput/KeyCapture.h"

#include "TalverinInput/HoldKeySpec.h"

namespace talverin {

namespace {

bool isFunctionKey(std::optional<HoldKey> key) { return key && kind(*key) == HoldKeyKind::key; }

bool isModifierHoldKey(std::optional<HoldKey> key) {
    return key && kind(*key) == HoldKeyKind::modifier;
}

} // namespace

std::optional<KeyCaptureResult> KeyCapture::handle(const Event& event) {
    switch (event.kind) {
    case Event::Kind::keyDown:
        return keyDown(event);
    case Event::Kind::keyUp:
        if (isFunctionKey(m_pending) && event.keyCode == KeyCode::of(*m_pending)) {
            HoldKey accepted = *m_pending;
            m_pending.reset();
            return KeyCaptureResult::accepted(accepted);
        }
        return std::nullopt;
    case Event::Kind::flagsChanged:
        return flagsChanged(event);
    case Event::Kind::mediaKey:
        m_pending.reset();
        return KeyCaptureResult::rejected(KeyRejectReason::typing);
    case Event::Kind::mouseDown:
        m_pending.reset();
        return std::nullopt;
    }
    return std::nullopt;
}

// The first matching row wins: Escape cancels even when repeated or while a key is pending.
std::optional<KeyCaptureResult> KeyCapture::keyDown(const Event& event) {
    if (event.keyCode == KeyCode::escape) {
        m_pending.reset();
        return KeyCaptureResult::cancelled();
    }
    if (event.isRepeat)
        return std::nullopt;
    const bool plainModifierHeld = (event.flags & Flag::plainModifiers) != 0;
    const auto key = KeyCode::holdKey(event.keyCode);
    if (m_pending || plainModifierHeld || !isFunctionKey(key)) {
        const bool combo = m_pending || plainModifierHeld;
        m_pending.reset();
        return KeyCaptureResult::rejected(combo ? KeyRejectReason::combo
                                                : KeyRejectReason::typing);
    }
    m_pending = key;
    return std::nullopt;
}

std::optional<KeyCaptureResult> KeyCapture::flagsChanged(const Event& event) {
    if (event.keyCode == KeyCode::capsLock) {
        m_pending.reset();
        return KeyCaptureResult::rejected(KeyRejectReason::typing);
    }
    const auto key = KeyCode::holdKey(event.keyCode);
    if (!isModifierHoldKey(key))
        return std::nullopt;
    const HoldKeySpec spec = HoldKeySpec::of(*key);
    if (spec.isDown(event.flags)) {
        if (m_pending || spec.isChord(event.flags)) {
            m_pending.reset();
            return KeyCaptureResult::rejected(KeyRejectReason::combo);
        }
        m_pending = key;
        return std::nullopt;
    }
    if (m_pending == key) {
        m_pending.reset();
        return KeyCaptureResult::accepted(*key);
    }
    return std::nullopt;
}

} // namespace talverin
