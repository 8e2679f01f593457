#pragma once

#include "TalverinCore/WireCoding.h"

#include <cstdint>
#include <optional>
#include <string>

namespace talverin::Wire {

// The arguments of a page's history listing; every field may be absent.
struct HistoryListArgs {
    std::optional<std::string> query;  // the search text
    std::optional<std::int64_t> limit; // the largest number of items wanted
    std::optional<std::string> before; // a date in the wire form; see Wire::date
    bool operator==(const HistoryListArgs&) const = default;
};

// Each field is written only when present and may be missing or null when read; a present
// field of the wrong type (a "limit" with a fraction, say) fails.
template <> struct Coding<HistoryListArgs> {
    static nlohmann::json encode(const HistoryListArgs& value);
    static HistoryListArgs decode(const nlohmann::json& json);
};

} // namespace talverin::Wire
