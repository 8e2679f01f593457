#include "TalverinCore/WireTryDictationResult.h"

#include <cmath>

namespace talverin::Wire {

std::optional<std::int64_t> TryDictationResult::wordsPerMinuteFor(std::int64_t words,
                                                                  std::int64_t clipMs) {
    if (words < 1 || clipMs < minClipMsForRate)
        return std::nullopt;
    const double rate =
        std::round(static_cast<double>(words) * 60000.0 / static_cast<double>(clipMs));
    // 2^63 is the first double past the largest 64-bit integer; converting it is undefined.
    if (!(rate < 0x1p63))
        return std::nullopt;
    return static_cast<std::int64_t>(rate);
}

nlohmann::json Coding<TryDictationResult>::encode(const TryDictationResult& value) {
    nlohmann::json object = {
        {"text", value.text},
        {"raw", value.raw},
        {"ms", value.ms},
        {"offline", value.offline},
    };
    encodeIfPresent(object, "wordsPerMinute", value.wordsPerMinute);
    return object;
}

TryDictationResult Coding<TryDictationResult>::decode(const nlohmann::json& json) {
    const ObjectReader object(json);
    return TryDictationResult{
        .text = object.required<std::string>("text"),
        .raw = object.required<std::string>("raw"),
        .ms = object.required<std::int64_t>("ms"),
        .offline = object.required<bool>("offline"),
        .wordsPerMinute = object.optional<std::int64_t>("wordsPerMinute"),
    };
}

} // namespace talverin::Wire
