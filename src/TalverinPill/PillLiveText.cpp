#include "TalverinPill/PillLiveText.h"

#include "Runtime/Unicode.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <vector>

namespace talverin::PillLiveText {
namespace {

// The words of a well-formed UTF-8 text, split at every run of white space.
std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> found;
    std::string word;
    const auto length = static_cast<std::int32_t>(text.size());
    for (std::int32_t i = 0; i < length;) {
        const std::int32_t start = i;
        UChar32 c = 0;
        U8_NEXT_OR_FFFD(text.data(), i, length, c);
        if (Unicode::isWhitespaceOrNewline(static_cast<char32_t>(c))) {
            if (!word.empty())
                found.push_back(std::move(word));
            word.clear();
        } else {
            word.append(text, static_cast<std::size_t>(start), static_cast<std::size_t>(i - start));
        }
    }
    if (!word.empty())
        found.push_back(std::move(word));
    return found;
}

std::string eachFollowedByASpace(std::vector<std::string>::const_iterator begin,
                                 std::vector<std::string>::const_iterator end) {
    std::string joined;
    for (auto word = begin; word != end; ++word)
        joined += *word + " ";
    return joined;
}

} // namespace

std::pair<std::string, std::string> split(std::string_view text, int maxCharacters) {
    const std::vector<std::string> all = words(Unicode::validUtf8(text));
    if (all.empty())
        return {"", ""};
    const std::string& last = all.back();
    auto budget = std::max<std::int64_t>(
        0, maxCharacters - static_cast<std::int64_t>(Unicode::graphemeCount(last)));
    // Walk back from the newest earlier word while each still fits with its space.
    auto first = all.end() - 1;
    while (first != all.begin()) {
        const auto cost = static_cast<std::int64_t>(Unicode::graphemeCount(*(first - 1))) + 1;
        if (cost > budget)
            break;
        budget -= cost;
        --first;
    }
    return {eachFollowedByASpace(first, all.end() - 1), last};
}

std::pair<std::string, std::string> fit(std::string_view text, double width,
                                        const std::function<double(std::string_view)>& measure) {
    auto [head, last] = split(text, maxCharacters);
    if (last.empty() || !(width > 0))
        return {head, last};
    // The head is words each followed by one space, so splitting it again gives them back.
    std::vector<std::string> kept = words(head);
    auto first = kept.cbegin();
    bool dropped = false;
    auto headFrom = [&](std::vector<std::string>::const_iterator from) {
        return (dropped ? std::string(ellipsis) : std::string()) +
               eachFollowedByASpace(from, kept.cend());
    };
    while (first != kept.cend()) {
        if (measure(headFrom(first) + last) <= width)
            break;
        ++first;
        dropped = true;
    }
    return {headFrom(first), last};
}

} // namespace talverin::PillLiveText
