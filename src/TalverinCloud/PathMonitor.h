#pragma once

#include <functional>

namespace talverin {

// Watches whether the machine has a network path.
class PathMonitor {
public:
    virtual ~PathMonitor() = default;

    // Once, from the owner's thread. Starts watching on the monitor's own thread and reports
    // the current state there soon after, then every change.
    virtual void start(std::function<void(bool satisfied)> onUpdate) = 0;
    // Any thread. Stops watching; when it returns, `onUpdate` is not called any more.
    virtual void cancel() = 0;
};

} // namespace talverin
