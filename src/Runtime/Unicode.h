#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <unicode/brkiter.h>

namespace talverin {

// Text helpers over ICU. Every std::string in the program is UTF-8; every function here accepts
// ill-formed input without failing and treats each ill-formed sequence as U+FFFD, so the text
// that comes back is always well-formed.
class Unicode {
public:
    // The calling thread's character (extended grapheme cluster) break iterator of the root
    // locale, or null when ICU has none. Break iterators are not safe to share.
    static icu::BreakIterator* characterBreakIterator();

    // User-perceived characters: extended grapheme clusters of the root locale.
    static std::size_t graphemeCount(std::string_view text);

    // Space separators (general category Zs) and the character tabulation; no line breaks.
    static bool isBlank(char32_t c);
    // Blanks, U+000A to U+000D, U+0085 and the line and paragraph separators U+2028, U+2029.
    static bool isWhitespaceOrNewline(char32_t c);
    // The text without blanks at either end.
    static std::string trimBlanks(std::string_view text);
    // The text without whitespace or line breaks at either end.
    static std::string trimWhitespaceAndNewlines(std::string_view text);

    // Full case mapping in the root locale; the length may change ("ß" becomes "SS").
    static std::string lower(std::string_view text);
    static std::string upper(std::string_view text);

    // Normalization Form C.
    static std::string nfc(std::string_view text);
    // Equality under canonical equivalence: "é" precomposed equals "e" + U+0301.
    static bool canonicallyEqual(std::string_view a, std::string_view b);
    // A hash that agrees with canonicallyEqual.
    static std::size_t nfcHash(std::string_view text);

    static bool isValidUtf8(std::string_view text);
    // The text with each ill-formed sequence replaced by U+FFFD.
    static std::string validUtf8(std::string_view text);
    // Conversions; an unpaired surrogate becomes U+FFFD.
    static std::u16string toUtf16(std::string_view text);
    static std::string toUtf8(std::u16string_view text);
};

} // namespace talverin
