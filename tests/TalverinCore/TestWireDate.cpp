#include "TalverinCore/WireDate.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace talverin {
namespace {

using namespace std::chrono_literals;
using Wire::Date;

// 2026-03-05T14:07:09.250Z
constexpr std::int64_t example = 1772719629250;

TEST(WireDate, IsWrittenInUtcWithExactlyThreeFractionalDigits) {
    const std::vector<std::pair<std::int64_t, const char*>> cases = {
        {example, "2026-03-05T14:07:09.250Z"},
        {0, "1970-01-01T00:00:00.000Z"},
        {-1, "1969-12-31T23:59:59.999Z"},
        {951782400000, "2000-02-29T00:00:00.000Z"},
        {253402300799999, "9999-12-31T23:59:59.999Z"},
    };
    for (const auto& [ms, text] : cases) {
        EXPECT_EQ(Date::fromMillisecondsSince1970(ms).iso8601(), text);
        EXPECT_EQ(*Wire::encoder().encode(Date::fromMillisecondsSince1970(ms)),
                  "\"" + std::string(text) + "\"");
    }
}

TEST(WireDate, IsFlooredToTheMillisecondWhenMade) {
    const auto instant =
        std::chrono::sys_time<std::chrono::milliseconds>(std::chrono::milliseconds(example)) +
        999999ns;
    EXPECT_EQ(Date(instant).millisecondsSince1970(), example);
    const auto beforeEpoch = std::chrono::sys_time<std::chrono::nanoseconds>(-1ns);
    EXPECT_EQ(Date(beforeEpoch).millisecondsSince1970(), -1) << "floored, not truncated";

    // A date made from the clock survives a save and a load unchanged, so paging by "strictly
    // older than the last item" never brings that item back.
    const Date now(std::chrono::system_clock::now());
    auto back = Wire::decoder().decode<Date>(*Wire::encoder().encode(now));
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(*back, now);
    EXPECT_FALSE(*back < now);
}

TEST(WireDate, ReadsWithOrWithoutFractionsAndWithAnyZone) {
    const std::vector<std::pair<const char*, std::int64_t>> cases = {
        {"2026-03-05T14:07:09.250Z", example},        {"2026-03-05T14:07:09Z", example - 250},
        {"2026-03-05T14:07:09.2Z", example - 50},     {"2026-03-05T14:07:09.2509999Z", example},
        {"2026-03-05T17:07:09.250+03:00", example},   {"2026-03-05T09:37:09.250-04:30", example},
        {"2026-03-06T00:07:09+10:00", example - 250}, {"1969-12-31T23:59:59.999Z", -1},
    };
    for (const auto& [text, ms] : cases) {
        SCOPED_TRACE(text);
        auto read = Wire::date(text);
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ(read->millisecondsSince1970(), ms);
        auto decoded = Wire::decoder().decode<Date>("\"" + std::string(text) + "\"");
        ASSERT_TRUE(decoded.ok());
        EXPECT_EQ(*decoded, *read);
    }
}

TEST(WireDate, RefusesAnythingElseWithTheExactText) {
    for (const char* text : {
             "2026-03-05",                // a bare date
             "2026-03-05T14:07:09",       // no zone
             "2026-03-05 14:07:09Z",      // no "T"
             "2026-03-05t14:07:09z",      // lower case
             "2026-3-5T14:07:09Z",        // short fields
             "20260305T140709Z",          // the basic form
             "2026-03-05T14:07Z",         // no seconds
             "2026-03-05T14:07:09.Z",     // a point without digits
             "2026-03-05T14:07:09+0300",  // an offset without a colon
             "2026-03-05T14:07:09+24:00", // no such offset
             "2026-02-29T14:07:09Z",      // 2026 is no leap year
             "2026-13-01T00:00:00Z",      // no such month
             "2026-03-05T24:00:00Z",      // no such hour
             "2026-03-05T14:60:00Z",      // no such minute
             "2026-03-05T14:07:60Z",      // no leap seconds
             " 2026-03-05T14:07:09Z",     // surrounding blanks
             "2026-03-05T14:07:09Z ",     //
             "yesterday",                 //
             "",                          //
         }) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(Wire::date(text).has_value());
        auto decoded = Wire::decoder().decode<Date>("\"" + std::string(text) + "\"");
        ASSERT_FALSE(decoded.ok());
        EXPECT_EQ(decoded.error(), Wire::CodingError::dataCorrupted);
        EXPECT_EQ(decoded.message(), "not an ISO 8601 date");
    }
    auto number = Wire::decoder().decode<Date>("1772719629250");
    ASSERT_FALSE(number.ok()) << "a date is never a bare number";
    EXPECT_EQ(number.error(), Wire::CodingError::typeMismatch);
}

TEST(WireDate, KeepsToTheYearsTheFormCanWrite) {
    using std::chrono::sys_days;
    const auto far = sys_days(std::chrono::year(12000) / 1 / 1);
    EXPECT_EQ(Date(far).iso8601(), "9999-12-31T23:59:59.999Z");
    EXPECT_EQ(Date::fromMillisecondsSince1970(std::numeric_limits<std::int64_t>::min()).iso8601(),
              "0000-01-01T00:00:00.000Z");
    auto earliest = Wire::date("0000-01-01T00:30:00+01:00");
    ASSERT_TRUE(earliest.has_value());
    EXPECT_EQ(earliest->iso8601(), "0000-01-01T00:00:00.000Z");
}

} // namespace
} // namespace talverin
