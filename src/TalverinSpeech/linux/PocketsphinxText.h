#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace talverin {

// The decoder's words as the rest of the program reads them, and the model folders' names as
// locale ids.
namespace PocketsphinxText {

// Whether the word is one of the model's non-speech units (sentence marks, silence, noise).
bool isFiller(std::string_view word);
// The word without an alternative-pronunciation suffix: "read(2)" is "read".
std::string baseWord(std::string_view word);
// A hypothesis as text: base words joined by single spaces, fillers left out. Null is "".
std::string text(const char* hypothesis);
// The locale id of a model folder: "en-us" is "en-US". None for a name that is no locale.
std::optional<std::string> localeId(std::string_view folder);

} // namespace PocketsphinxText

} // namespace talverin
