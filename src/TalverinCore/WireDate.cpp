#include "TalverinCore/WireDate.h"

#include <algorithm>
#include <cstdio>

#include <date/date.h>

namespace talverin::Wire {

namespace {

using std::chrono::milliseconds;

constexpr date::sys_days firstDay = date::year{0} / date::January / 1;
constexpr date::sys_days lastDay = date::year{9999} / date::December / 31;

// Reads exactly `count` decimal digits at `pos`, advancing past them.
std::optional<int> digits(std::string_view text, std::size_t& pos, int count) {
    if (pos + static_cast<std::size_t>(count) > text.size())
        return std::nullopt;
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const char c = text[pos + static_cast<std::size_t>(i)];
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    pos += static_cast<std::size_t>(count);
    return value;
}

bool literal(std::string_view text, std::size_t& pos, char expected) {
    if (pos >= text.size() || text[pos] != expected)
        return false;
    ++pos;
    return true;
}

// The fraction after the seconds' point, in whole milliseconds, floored; at least one digit.
std::optional<int> fractionMilliseconds(std::string_view text, std::size_t& pos) {
    const std::size_t start = pos;
    int value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        if (pos - start < 3)
            value = value * 10 + (text[pos] - '0');
        ++pos;
    }
    const std::size_t count = pos - start;
    if (count == 0)
        return std::nullopt;
    for (std::size_t i = count; i < 3; ++i)
        value *= 10;
    return value;
}

// The zone designator as minutes east of UTC: "Z", or "+hh:mm" / "-hh:mm".
std::optional<int> zoneOffsetMinutes(std::string_view text, std::size_t& pos) {
    if (literal(text, pos, 'Z'))
        return 0;
    if (pos >= text.size() || (text[pos] != '+' && text[pos] != '-'))
        return std::nullopt;
    const int sign = text[pos] == '-' ? -1 : 1;
    ++pos;
    auto hours = digits(text, pos, 2);
    if (!hours || !literal(text, pos, ':'))
        return std::nullopt;
    auto minutes = digits(text, pos, 2);
    if (!minutes || *hours > 23 || *minutes > 59)
        return std::nullopt;
    return sign * (*hours * 60 + *minutes);
}

} // namespace

Date::TimePoint Date::clamped(TimePoint time) {
    const TimePoint first = firstDay;
    const TimePoint last = TimePoint(lastDay) + date::days{1} - milliseconds{1};
    return std::clamp(time, first, last);
}

std::string Date::iso8601() const {
    const auto day = std::chrono::floor<date::days>(m_time);
    const date::year_month_day ymd{day};
    const date::hh_mm_ss<milliseconds> time{m_time - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(ymd.year()),
                  unsigned(ymd.month()), unsigned(ymd.day()), int(time.hours().count()),
                  int(time.minutes().count()), int(time.seconds().count()),
                  int(time.subseconds().count()));
    return text;
}

std::optional<Date> date(std::string_view text) {
    std::size_t pos = 0;
    auto year = digits(text, pos, 4);
    if (!year || !literal(text, pos, '-'))
        return std::nullopt;
    auto month = digits(text, pos, 2);
    if (!month || !literal(text, pos, '-'))
        return std::nullopt;
    auto day = digits(text, pos, 2);
    if (!day || !literal(text, pos, 'T'))
        return std::nullopt;
    auto hours = digits(text, pos, 2);
    if (!hours || !literal(text, pos, ':'))
        return std::nullopt;
    auto minutes = digits(text, pos, 2);
    if (!minutes || !literal(text, pos, ':'))
        return std::nullopt;
    auto seconds = digits(text, pos, 2);
    if (!seconds)
        return std::nullopt;
    int fraction = 0;
    if (literal(text, pos, '.')) {
        auto read = fractionMilliseconds(text, pos);
        if (!read)
            return std::nullopt;
        fraction = *read;
    }
    auto offset = zoneOffsetMinutes(text, pos);
    if (!offset || pos != text.size())
        return std::nullopt;

    const date::year_month_day ymd{date::year{*year}, date::month{unsigned(*month)},
                                   date::day{unsigned(*day)}};
    if (!ymd.ok() || *hours > 23 || *minutes > 59 || *seconds > 59)
        return std::nullopt;
    const Date::TimePoint local = date::sys_days(ymd) + std::chrono::hours(*hours) +
                                  std::chrono::minutes(*minutes) + std::chrono::seconds(*seconds) +
                                  milliseconds(fraction);
    return Date(local - std::chrono::minutes(*offset));
}

Date Coding<Date>::decode(const nlohmann::json& json) {
    const std::string text = Coding<std::string>::decode(json);
    if (auto value = date(text))
        return *value;
    failCoding(CodingError::dataCorrupted, "not an ISO 8601 date");
}

} // namespace talverin::Wire
