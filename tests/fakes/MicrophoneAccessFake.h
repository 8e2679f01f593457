#pragma once

#include "TalverinInput/MicrophoneAccess.h"

#include <mutex>
#include <optional>

namespace talverin::test {

// The microphone permission as the test sets it. A check counts itself and, when the test has
// said what the sound system will answer, adopts that answer.
class MicrophoneAccessFake final : public MicrophoneAccess {
public:
    explicit MicrophoneAccessFake(Wire::PermissionState state) : m_state(state) {}

    // What the next check finds; none: the state stays as it is.
    void answerChecksWith(std::optional<Wire::PermissionState> found) {
        std::lock_guard lock(m_mutex);
        m_found = found;
    }
    int checks() const {
        std::lock_guard lock(m_mutex);
        return m_checks;
    }

    Wire::PermissionState state() override {
        std::lock_guard lock(m_mutex);
        return m_state;
    }
    Wire::PermissionState check() override {
        std::lock_guard lock(m_mutex);
        ++m_checks;
        if (m_found)
            m_state = *m_found;
        return m_state;
    }

private:
    mutable std::mutex m_mutex;
    Wire::PermissionState m_state;
    std::optional<Wire::PermissionState> m_found;
    int m_checks = 0;
};

} // namespace talverin::test
