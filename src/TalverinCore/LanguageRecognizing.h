#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace talverin {

// Names the dominant language of a short text, for the language guard.
class LanguageRecognizing {
public:
    virtual ~LanguageRecognizing() = default;

    // Any thread. The dominant language of the whole text as a lower-case ISO 639-1 code
    // ("ru", "en" ...); none when the recogniser cannot tell.
    virtual std::optional<std::string> dominantLanguage(std::string_view text) const = 0;
};

} // namespace talverin
