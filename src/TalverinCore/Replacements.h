#pragma once

#include "TalverinCore/Replacement.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace talverin {

// The user's replacement rules applied to a dictated text: each rule's phrase is found as whole
// words, ignoring case and treating any run of whitespace as one space, and replaced by the
// rule's text; where phrases overlap, the longest wins.
class Replacements {
public:
    Replacements() = delete;

    // Any thread. The text with the rules applied; the text itself when no rule applies.
    static std::string apply(const std::vector<Replacement>& rules, std::string_view text);

private:
    // The expression that finds one phrase, in parts: the phrase's words, quoted and joined by
    // runs of whitespace, and whether each end needs a word boundary (it does where the
    // phrase begins or ends with a letter or a number).
    struct Pattern {
        std::u16string words;
        bool leadingBoundary = false;
        bool trailingBoundary = false;
    };
    static Pattern pattern(std::u16string_view phrase);

    // The rules prepared for one rule list: kept from call to call while the list is unchanged.
    struct Compiled;
    static std::shared_ptr<const Compiled> compile(const std::vector<Replacement>& rules);
    static std::shared_ptr<const Compiled> compiled(const std::vector<Replacement>& rules);
};

} // namespace talverin
