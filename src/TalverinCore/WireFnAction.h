#pragma once

#include "TalverinCore/EnumTable.h"

#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

namespace talverin::Wire {

// What the system does when the fn key is pressed alone, as the pages show it.
enum class FnAction {
    none,
    inputSource,
    emoji,
    dictation,
    unknown,
};

// Where the other desktop keeps the fn key's action. Linux has no such preference; the names stay
// so that the mapping below reads against the value it was made for.
inline constexpr std::string_view fnActionDomain = "com.apple.HIToolbox";
inline constexpr std::string_view fnActionKey = "AppleFnUsageType";

// Maps one raw preference value (or its absence): a number whose integer part is 0 to 3 gives
// none, inputSource, emoji or dictation; anything else, a boolean included, gives unknown.
FnAction fnActionFromUsageType(const std::optional<nlohmann::json>& usageType);

// The fn key's action now. X11 sees no fn key and keeps no preference for it, so this is always
// unknown here; the pages then show no fn hint.
FnAction currentFnAction();

} // namespace talverin::Wire

namespace talverin {

template <> struct EnumTable<Wire::FnAction> {
    static constexpr auto entries = std::to_array<EnumEntry<Wire::FnAction>>({
        {Wire::FnAction::none, "none"},
        {Wire::FnAction::inputSource, "inputSource"},
        {Wire::FnAction::emoji, "emoji"},
        {Wire::FnAction::dictation, "dictation"},
        {Wire::FnAction::unknown, "unknown"},
    });
};

} // namespace talverin
