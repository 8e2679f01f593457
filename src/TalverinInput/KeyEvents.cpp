#include "TalverinInput/KeyEvents.h"

#include <algorithm>
#include <cmath>

namespace talverin::EventClock {

Timebase normalised(Timebase raw) {
    if (raw.denominator == 0)
        return Timebase{1, 1};
    return raw;
}

double clamp(double reading, double now) {
    if (!(std::fabs(reading - now) <= maxAge))
        return now;
    return std::min(reading, now);
}

double uptime(std::uint64_t timestamp, double now, Timebase timebase) {
    if (timestamp == 0)
        return now;
    const double nanos = static_cast<double>(timestamp) / 1e9;
    const double denominator = std::max<double>(timebase.denominator, 1);
    const double ticks =
        static_cast<double>(timestamp) * timebase.numerator / denominator / 1e9;
    const double reading = std::fabs(ticks - now) < std::fabs(nanos - now) ? ticks : nanos;
    return clamp(reading, now);
}

double uptimeOfServerTime(std::uint32_t serverMillis, double now) {
    // Both clocks are CLOCK_MONOTONIC; the server's wraps every 49.7 days, so only the
    // signed 32-bit difference from now is meaningful.
    const auto nowMillis = static_cast<std::uint32_t>(
        static_cast<std::uint64_t>(std::llround(now * 1000)) & 0xffffffffu);
    const auto difference = static_cast<std::int32_t>(serverMillis - nowMillis);
    return clamp(now + difference / 1000.0, now);
}

} // namespace talverin::EventClock
