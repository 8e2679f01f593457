#pragma once

#include <functional>

namespace talverin {

// The clock that a blocking series of accessibility calls reads, and how it waits between
// polls. Those series run on a worker or on the inserter's queue and block it on purpose, so
// they cannot be written as queue timers; tests hand in a clock that a sleep moves forward.
struct Ticking {
    std::function<double()> uptime;
    std::function<void(double seconds)> sleep;

    // The runtime's uptime clock and a real sleep of the calling thread.
    static Ticking system();
};

} // namespace talverin
