#pragma once

#include "TalverinCore/WireCoding.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talverin::Wire {

// An instant on the wall clock in whole milliseconds, the precision of the wire date form. A
// time is floored to the millisecond when a Date is made from it, so a record holding a Date
// equals itself after it is written and read back, and "older than this date" means the same
// before and after a save. Dates lie between the years 0000 and 9999, the years the wire form can
// write; a time outside is clamped to the nearest end.
class Date {
public:
    using TimePoint = std::chrono::sys_time<std::chrono::milliseconds>;

    // 1970-01-01T00:00:00.000Z.
    constexpr Date() = default;
    template <typename Duration>
    explicit Date(std::chrono::sys_time<Duration> time)
        : m_time(clamped(std::chrono::floor<std::chrono::milliseconds>(time))) {}

    static Date fromMillisecondsSince1970(std::int64_t milliseconds) {
        return Date(TimePoint(std::chrono::milliseconds(milliseconds)));
    }

    TimePoint time() const { return m_time; }
    std::int64_t millisecondsSince1970() const { return m_time.time_since_epoch().count(); }

    // The wire form: UTC with exactly three fractional digits and "Z",
    // such as 2026-03-05T14:07:09.250Z.
    std::string iso8601() const;

    friend auto operator<=>(const Date&, const Date&) = default;

private:
    static TimePoint clamped(TimePoint time);

    TimePoint m_time{};
};

// Reads a date in the wire form: an internet date-time with or without fractional seconds, with
// "Z" or a signed offset such as +03:00. Fractions finer than a millisecond are floored. Anything
// else, a bare date included, gives no date.
std::optional<Date> date(std::string_view text);

// A date in JSON is its wire form as a string; a string that is no date fails with
// dataCorrupted and the message "not an ISO 8601 date".
template <> struct Coding<Date> {
    static nlohmann::json encode(const Date& value) { return value.iso8601(); }
    static Date decode(const nlohmann::json& json);
};

} // namespace talverin::Wire
