#pragma once

#include "TalverinCore/WireCoding.h"

#include <cstdint>
#include <optional>
#include <string>

namespace talverin::Wire {

// One finished dictation as the onboarding page's try-it step shows it. The dictation session
// builds one for every dictation.
struct TryDictationResult {
    // Shorter clips give rates that mean nothing.
    static constexpr std::int64_t minClipMsForRate = 1000;

    std::string text;                           // the dictated text
    std::string raw;                            // the raw transcript
    std::int64_t ms = 0;                        // a duration measured by the session
    bool offline = false;                       // the session's offline flag
    std::optional<std::int64_t> wordsPerMinute; // the speaking rate, when there is one

    // words × 60000 ÷ clipMs, rounded half away from zero; absent below one word, below
    // minClipMsForRate, and for a rate too large to be a number of words per minute at all.
    static std::optional<std::int64_t> wordsPerMinuteFor(std::int64_t words, std::int64_t clipMs);

    bool operator==(const TryDictationResult&) const = default;
};

// "wordsPerMinute" is written only when present and may be missing or null when read.
template <> struct Coding<TryDictationResult> {
    static nlohmann::json encode(const TryDictationResult& value);
    static TryDictationResult decode(const nlohmann::json& json);
};

} // namespace talverin::Wire
