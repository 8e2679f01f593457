#pragma once

#include <string_view>

namespace talverin {

// Counts the words of a dictated text, for the session's log and the words dictated today.
class WordCount {
public:
    WordCount() = delete;

    // A word is a run of letters and numbers; an apostrophe (straight or typographic) or a
    // hyphen between two runs joins them into one word.
    static constexpr std::u16string_view regex = u"[\\p{L}\\p{N}]+(?:['\u2019-][\\p{L}\\p{N}]+)*";

    // Any thread. The number of words in the text.
    static int of(std::string_view text);
};

} // namespace talverin
