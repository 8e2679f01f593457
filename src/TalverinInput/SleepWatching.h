#pragma once

#include <optional>
#include <string>

namespace talverin {

// Hears the machine go to sleep and wake up, and posts SystemNotification::willSleep and
// didWake to the workspace centre it was given.
class SleepWatching {
public:
    virtual ~SleepWatching() = default;

    // Main thread. Why nothing is heard; none while the watch runs.
    virtual std::optional<std::string> unavailableReason() const = 0;
};

} // namespace talverin
