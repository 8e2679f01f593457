#include "TalverinCore/Calendar.h"

#include <chrono>
#include <cstdint>
#include <ctime>

namespace talverin {
namespace {

// The local day that holds a second, as a number that grows with the date.
std::int64_t localDay(std::time_t seconds) {
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr)
        return 0;
    return static_cast<std::int64_t>(local.tm_year) * 400 + local.tm_yday;
}

} // namespace

Calendar Calendar::current() {
    // localtime_r reads $TZ only once unless told to look again.
    tzset();
    return Calendar();
}

Wire::Date Calendar::startOfDay(Wire::Date date) const {
    using namespace std::chrono;
    const std::time_t now =
        static_cast<std::time_t>(floor<seconds>(date.time()).time_since_epoch().count());
    const std::int64_t today = localDay(now);
    // Midnight is not always a time the clock shows, and mktime's guess for a missing midnight
    // may land on the evening before; so search for the first second of today instead. No day
    // is longer than two days, so 48 hours back lies in an earlier day.
    std::time_t before = now - 48 * 3600; // in an earlier day
    std::time_t within = now;             // in today
    while (within - before > 1) {
        const std::time_t middle = before + (within - before) / 2;
        if (localDay(middle) < today)
            before = middle;
        else
            within = middle;
    }
    return Wire::Date(sys_seconds(seconds(within)));
}

} // namespace talverin
