#pragma once

#include <string>
#include <vector>

namespace talverin {

// The user's own words, prepared as contextual strings for the recogniser.
namespace DraftHints {

// Each word trimmed, in order; empty words and repeats (ignoring case) left out; at most
// `limit` of them.
std::vector<std::string> contextualStrings(const std::vector<std::string>& words, int limit);

} // namespace DraftHints

} // namespace talverin
