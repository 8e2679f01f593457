#pragma once

#include "TalverinCore/Replacement.h"

#include <cstddef>
#include <optional>
#include <string_view>

namespace talverin {

// Reduces what the user did to an inserted text to one corrected word, when that is all the
// user did.
class WordCorrections {
public:
    WordCorrections() = delete;

    // A word is a run of letters, combining marks, numbers and underscores; a hyphen or an
    // apostrophe (straight or typographic) between two runs joins them into one word.
    static constexpr std::u16string_view word =
        u"[\\p{L}\\p{M}\\p{N}_]+(?:[-'\u2019][\\p{L}\\p{M}\\p{N}_]+)*";

    // Any thread. The rule from the word as it was to the word as the user left it, when the
    // user changed exactly that one word and nothing else; nothing otherwise. Texts are
    // compared in their composed form, and the rule's words are given in that form.
    static std::optional<Replacement> replacement(std::string_view original,
                                                  std::string_view edited);

private:
    // Words of more characters than this are not learned.
    static constexpr std::size_t maxWordLength = 64;
};

} // namespace talverin
