#pragma once

#include <mutex>

namespace talverin {

// A Bool that one thread writes and another reads, always under its own lock.
class LockedFlag {
public:
    explicit LockedFlag(bool value = false) : m_stored(value) {}

    bool get() const {
        std::lock_guard lock(m_mutex);
        return m_stored;
    }
    void set(bool value) {
        std::lock_guard lock(m_mutex);
        m_stored = value;
    }

private:
    mutable std::mutex m_mutex;
    bool m_stored;
};

} // namespace talverin
