#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>

// Fitting the live transcript into the pill: the newest words stay, the oldest go.
namespace talverin::PillLiveText {

inline constexpr std::string_view ellipsis = "… ";
inline constexpr int maxCharacters = 160;

// The transcript's tail as (head, last word): the last word whole, then as many earlier words
// as fit in `maxCharacters` characters (grapheme clusters), each followed by one space. Words
// are separated by any run of white space.
std::pair<std::string, std::string> split(std::string_view text, int maxCharacters);

// The tail that fits a width as (head, last word): the oldest words are dropped until the
// line fits, and a head that lost words starts with the ellipsis. The last word is never
// dropped or cut, even when it alone is too wide.
std::pair<std::string, std::string> fit(std::string_view text, double width,
                                        const std::function<double(std::string_view)>& measure);

} // namespace talverin::PillLiveText
