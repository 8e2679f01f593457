#pragma once

#include <functional>

namespace talverin {

// Whether the desktop has accessibility switched on, as far as the system last said. The
// answer is kept current in the background, so reading it never waits for the system.
class AccessibilityStatusReading {
public:
    enum class BusStatus {
        unknown, // the system has not answered yet, or cannot
        enabled,
        notEnabled,
    };

    virtual ~AccessibilityStatusReading() = default;

    // Any thread; never waits. unknown until the system first answers.
    virtual BusStatus status() const = 0;
    // Main thread; never waits. Asks the system again; the answer comes in the background.
    virtual void refresh() = 0;
    // Main thread. Runs `then` once the first question has ended, answered or not: at once
    // when it has, or when there is no system to ask.
    virtual void whenFirstRead(std::function<void()> then) = 0;
    // Any thread but the main one; may wait for the system. Switches accessibility on; false
    // when the system did not take it or is not there.
    virtual bool requestEnable() = 0;
};

} // namespace talverin
