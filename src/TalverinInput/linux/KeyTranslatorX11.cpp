#include "TalverinInput/linux/KeyTranslatorX11.h"

#include <algorithm>

namespace talverin {

namespace {

bool inRange(int xKeycode) { return xKeycode >= 0 && xKeycode < 256; }

struct ModifierRow {
    int xKeycode;
    std::int64_t keyCode;
    std::uint64_t flags;
};

constexpr ModifierRow modifierRows[] = {
    {KeyTranslatorX11::xRightAlt, KeyCode::rightOption, DeviceBit::rightOption | Flag::option},
    {KeyTranslatorX11::xRightSuper, KeyCode::rightCommand,
     DeviceBit::rightCommand | Flag::command},
    {KeyTranslatorX11::xLeftAlt, KeyCode::option, DeviceBit::leftOption | Flag::option},
    {KeyTranslatorX11::xLeftSuper, KeyCode::command, DeviceBit::leftCommand | Flag::command},
    {KeyTranslatorX11::xLeftControl, KeyCode::control, DeviceBit::leftControl | Flag::control},
    {KeyTranslatorX11::xRightControl, KeyCode::rightControl,
     DeviceBit::rightControl | Flag::control},
    {KeyTranslatorX11::xLeftShift, KeyCode::shift, DeviceBit::leftShift | Flag::shift},
    {KeyTranslatorX11::xRightShift, KeyCode::rightShift, DeviceBit::rightShift | Flag::shift},
};

const ModifierRow* modifierRow(int xKeycode) {
    for (const auto& row : modifierRows)
        if (row.xKeycode == xKeycode)
            return &row;
    return nullptr;
}

} // namespace

std::int64_t KeyTranslatorX11::keyCodeOf(int xKeycode) {
    if (const auto* row = modifierRow(xKeycode))
        return row->keyCode;
    if (xKeycode >= xF13 && xKeycode < xF13 + 8)
        return KeyCode::f13to20[static_cast<std::size_t>(xKeycode - xF13)];
    if (xKeycode == xEscape)
        return KeyCode::escape;
    if (xKeycode == xCapsLock)
        return KeyCode::capsLock;
    return unmappedBase + xKeycode;
}

bool KeyTranslatorX11::isModifier(int xKeycode) { return modifierRow(xKeycode) != nullptr; }

bool KeyTranslatorX11::isMediaKey(int xKeycode) {
    // Mute, volume down/up (121–123), media next/play/previous/stop (171–174), play and
    // pause (208–209), brightness down/up (232–233) in the evdev keymap.
    switch (xKeycode) {
    case 121: case 122: case 123:
    case 171: case 172: case 173: case 174:
    case 208: case 209:
    case 232: case 233:
        return true;
    default:
        return false;
    }
}

std::uint64_t KeyTranslatorX11::flagsOf(int xKeycode) {
    const auto* row = modifierRow(xKeycode);
    return row ? row->flags : 0;
}

void KeyTranslatorX11::seed(std::span<const int> keycodesDown, bool capsLockOn) {
    m_down.reset();
    for (int keycode : keycodesDown)
        if (inRange(keycode))
            m_down.set(static_cast<std::size_t>(keycode));
    m_capsLock = capsLockOn;
}

std::uint64_t KeyTranslatorX11::flags() const {
    std::uint64_t flags = m_capsLock ? Flag::capsLock : 0;
    for (const auto& row : modifierRows)
        if (m_down.test(static_cast<std::size_t>(row.xKeycode)))
            flags |= row.flags;
    return flags;
}

bool KeyTranslatorX11::isDown(int xKeycode) const {
    return inRange(xKeycode) && m_down.test(static_cast<std::size_t>(xKeycode));
}

std::optional<KeyTranslatorX11::Event> KeyTranslatorX11::keyPress(int xKeycode) {
    if (!inRange(xKeycode))
        return std::nullopt;
    const bool isRepeat = isDown(xKeycode);
    m_down.set(static_cast<std::size_t>(xKeycode));
    const std::int64_t code = keyCodeOf(xKeycode);
    if (isModifier(xKeycode)) {
        // A held modifier does not change the flags again.
        if (isRepeat)
            return std::nullopt;
        return Event{KeyEventKind::flagsChanged, code, flags()};
    }
    if (xKeycode == xCapsLock) {
        if (isRepeat)
            return std::nullopt;
        // The lock toggles on the press; its release changes nothing.
        m_capsLock = !m_capsLock;
        return Event{KeyEventKind::flagsChanged, code, flags()};
    }
    if (isMediaKey(xKeycode))
        return Event{KeyEventKind::other, code, flags(), isRepeat, !isRepeat};
    return Event{KeyEventKind::keyDown, code, flags(), isRepeat};
}

std::optional<KeyTranslatorX11::Event> KeyTranslatorX11::keyRelease(int xKeycode) {
    if (!isDown(xKeycode))
        return std::nullopt;
    m_down.reset(static_cast<std::size_t>(xKeycode));
    const std::int64_t code = keyCodeOf(xKeycode);
    if (isModifier(xKeycode))
        return Event{KeyEventKind::flagsChanged, code, flags()};
    if (xKeycode == xCapsLock)
        return std::nullopt;
    if (isMediaKey(xKeycode))
        return Event{KeyEventKind::other, code, flags()};
    return Event{KeyEventKind::keyUp, code, flags()};
}

std::optional<KeyTranslatorX11::Event> KeyTranslatorX11::buttonPress(int button) {
    if (button >= 4 && button <= 7)
        return std::nullopt;
    return Event{KeyEventKind::mouseDown, 0, 0};
}

std::optional<KeyCapture::Event> KeyTranslatorX11::captureEvent(const Event& event) {
    switch (event.kind) {
    case KeyEventKind::flagsChanged:
        return KeyCapture::Event::flagsChanged(event.keyCode, event.flags);
    case KeyEventKind::keyDown:
        return KeyCapture::Event::keyDown(event.keyCode, event.flags, event.isRepeat);
    case KeyEventKind::keyUp:
        return KeyCapture::Event::keyUp(event.keyCode);
    case KeyEventKind::mouseDown:
        return KeyCapture::Event::mouseDown();
    case KeyEventKind::other:
        if (event.isMediaKeyDown)
            return KeyCapture::Event::mediaKey();
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace talverin
