#pragma once

#include "Runtime/Result.h"
#include "TalverinCore/EnumTable.h"

#include <functional>

namespace talverin {

// Why accessibility could not be switched on.
enum class AccessibilityEnableError {
    unavailable, // there is no accessibility bus to ask; the message says why
    refused,     // the bus answered with an error; the message is its own text
};

template <> struct EnumTable<AccessibilityEnableError> {
    static constexpr auto entries = std::to_array<EnumEntry<AccessibilityEnableError>>({
        {AccessibilityEnableError::unavailable, "unavailable"},
        {AccessibilityEnableError::refused, "refused"},
    });
};

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
    using Enabling = Result<void, AccessibilityEnableError>;

    // Any thread but the main one; may wait for the system. Switches accessibility on; the
    // failure says whether the system is not there or did not take it.
    virtual Enabling requestEnable() = 0;
};

} // namespace talverin
