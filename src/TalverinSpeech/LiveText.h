#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace talverin {

// Text rules of the live draft: joining recognised texts, telling a restarted utterance from a
// revision, and the tail of the draft that the pill shows while the user speaks. Words are the
// runs of characters between white space (line breaks included); lengths are user-perceived
// characters.
namespace LiveText {

// "…", put in front of a tail that was cut.
inline constexpr std::string_view ellipsis = "\u2026";

// The words of a text, in order.
std::vector<std::string> words(std::string_view text);
// The words joined by single spaces.
std::string cleaned(std::string_view text);
// Both trimmed; one space between them, none when both sides of the seam are written without
// spaces (two Chinese texts); an empty side gives the other.
std::string join(std::string_view a, std::string_view b);
// Thai, Lao, Myanmar, Khmer, kana, CJK ideographs and their punctuation and full-width forms.
bool isSpacelessScript(char32_t scalar);
// The words lower-cased, without punctuation or symbols; words that become empty are dropped.
std::vector<std::string> comparableWords(std::string_view text);
// Whether `next` begins a new utterance rather than revising `previous` (the recogniser moved
// past what it had said, so the earlier text must be kept).
bool isUtteranceRestart(std::string_view previous, std::string_view next);
// The last words of the text within both limits, with "…" in front when anything was cut.
std::string tail(std::string_view text, int maxWords, int maxCharacters);

} // namespace LiveText

} // namespace talverin
