#include "Talverin/App/KeyCaptureCoordinator.h"

#include "Runtime/MainQueue.h"
#include "Talverin/App/Log.h"

#include <cmath>
#include <string>

namespace talverin {

namespace {

std::string nameOf(Bridge::ViewRole role) { return std::string(toString(role)); }

} // namespace

KeyCaptureCoordinator::KeyCaptureCoordinator(KeyTapping& keyTap, double timeout)
    : m_keyTap(keyTap), m_timeout(timeout) {}

KeyCaptureCoordinator::~KeyCaptureCoordinator() { m_alive.end(); }

void KeyCaptureCoordinator::start() {
    m_keyTap.onCapture = [this, alive = m_alive.token()](const KeyCaptureResult& result) {
        if (alive)
            received(result);
    };
}

KeyCaptureAnswer KeyCaptureCoordinator::set(bool on, Role role) {
    if (!on) {
        if (!m_role || *m_role != role)
            return KeyCaptureAnswer::off;
        ++m_token;
        m_role.reset();
        m_keyTap.endCapture();
        tlLog("Key capture: off (" + nameOf(role) + ")");
        return KeyCaptureAnswer::off;
    }
    if (isDictating()) {
        tlLog("Key capture: refused, a dictation is on");
        return KeyCaptureAnswer::busy;
    }
    if (m_role && *m_role != role)
        send(Wire::Event::keyCapture(KeyCaptureResult::cancelled()), *m_role);
    if (!m_keyTap.beginCapture()) {
        m_role.reset();
        ++m_token;
        return KeyCaptureAnswer::noKeyTap;
    }
    m_role = role;
    tlLog("Key capture: on (" + nameOf(role) + ")");
    arm();
    return KeyCaptureAnswer::on;
}

void KeyCaptureCoordinator::arm() {
    const std::uint64_t token = ++m_token;
    MainQueue::after(m_timeout, [this, alive = m_alive.token(), token] {
        if (!alive || token != m_token || !m_role)
            return;
        const long seconds = std::lround(m_timeout);
        cancel(("Key capture: no key in " + std::to_string(seconds) + " s, cancelled").c_str());
    });
}

void KeyCaptureCoordinator::received(const KeyCaptureResult& result) {
    if (!m_role)
        return;
    const Role owner = *m_role;
    if (result.kind() == KeyCaptureResult::Kind::rejected) {
        arm();
    } else {
        // The key tap has left capture on an accepted key and on Escape alike; keeping the
        // capture here would later cancel it a second time and log a timeout for it.
        m_role.reset();
        ++m_token;
    }
    send(Wire::Event::keyCapture(result), owner);
}

void KeyCaptureCoordinator::dictationBegan() {
    if (m_role)
        cancel("Key capture: cancelled, a dictation began");
}

void KeyCaptureCoordinator::cancel(const char* why) {
    const Role owner = *m_role;
    ++m_token;
    m_role.reset();
    m_keyTap.endCapture();
    tlLog(why);
    send(Wire::Event::keyCapture(KeyCaptureResult::cancelled()), owner);
}

} // namespace talverin
