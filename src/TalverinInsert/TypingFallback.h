#pragma once

#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace talverin {

// Cuts text into the pieces that typed key events carry: at most `maxUnits` UTF-16 units per
// event, never splitting a character, and every line break its own piece.
namespace TypingFallback {

inline constexpr std::size_t maxUnits = 20;

struct LineBreak {
    bool operator==(const LineBreak&) const = default;
};
using Piece = std::variant<std::u16string, LineBreak>;

std::vector<Piece> pieces(std::string_view text);

// Applications that are always typed into instead of pasted into. None so far.
std::set<std::string> defaultBundleIDs();

} // namespace TypingFallback

} // namespace talverin
