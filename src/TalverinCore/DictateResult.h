#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace talverin {

// The cloud's answer to one dictation.
struct DictateResult {
    std::string text;                    // the polished text
    std::string raw;                     // the raw transcript
    std::int64_t ms = 0;                 // the server's own processing time, milliseconds
    std::optional<std::string> language; // the detected language, when the server says

    bool operator==(const DictateResult&) const = default;
};

} // namespace talverin
