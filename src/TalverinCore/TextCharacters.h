#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include <unicode/regex.h>

namespace talverin {

// The character-level questions that the text rules ask of UTF-16 text. A character here is a
// user-perceived character (an extended grapheme cluster), as everywhere in the text rules; the
// views handed back point into the text they were cut from.
class TextCharacters {
public:
    TextCharacters() = delete;

    // The first and the last character of the text; empty for an empty text.
    static std::u16string_view first(std::u16string_view text);
    static std::u16string_view last(std::u16string_view text);

    // The first Unicode scalar of a character; U+FFFD for an unpaired surrogate, 0 when empty.
    static char32_t firstScalar(std::u16string_view character);

    // A character is upper (lower) case when it is a single upper (lower) case scalar, or when it
    // has case at all and upper-casing (lower-casing) leaves it as it is.
    static bool isUppercase(std::u16string_view character);
    static bool isLowercase(std::u16string_view character);

    // General category L or N: what the rules' word boundaries treat as part of a word.
    static bool isLetterOrNumber(char32_t scalar);

    // Full case mapping in the root locale; the length may change.
    static std::u16string upper(std::u16string_view text);
    static std::u16string lower(std::u16string_view text);

    // The compiled expression, or null when it does not compile. A pattern may be shared by
    // threads; each use makes its own matcher.
    static std::unique_ptr<icu::RegexPattern> compile(std::u16string_view expression,
                                                      std::uint32_t flags = 0);
};

} // namespace talverin
