#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace talverin {

// A logged duration: seconds as whole milliseconds, halves away from zero. A value beyond what
// 64 bits can count (or NaN) is clamped, so a broken clock never turns into undefined
// behaviour in a log line.
inline std::int64_t wholeMs(double seconds) {
    const double ms = seconds * 1000;
    if (std::isnan(ms)) return 0;
    constexpr double largest = 9.2e18; // just below 2^63
    if (ms >= largest) return std::numeric_limits<std::int64_t>::max();
    if (ms <= -largest) return std::numeric_limits<std::int64_t>::min();
    return std::llround(ms);
}

} // namespace talverin
