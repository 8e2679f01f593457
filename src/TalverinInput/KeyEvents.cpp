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
    const std::int64_t nowMillis = std::llround(now * 1000);
    const auto difference = static_cast<std::int32_t>(
        serverMillis - static_cast<std::uint32_t>(static_cast<std::uint64_t>(nowMillis) &
                                                  0xffffffffu));
    // The reading is the server's own millisecond, not `now` moved by whole milliseconds:
    // `now`'s fraction would differ from event to event and could put two events of the same
    // millisecond, or of neighbouring ones, out of order.
    return clamp(static_cast<double>(nowMillis + difference) / 1000.0, now);
}

} // namespace talverin::EventClock
