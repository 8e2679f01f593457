#pragma once

#include "TalverinInsert/AccessibilityBackend.h"

#include <cstdint>
#include <string>
#include <utility>

namespace talverin {

// Cuts the text around the caret to a window that the cloud request can carry. Lengths and
// positions are UTF-16 units, as the accessibility layer counts them; a window edge never
// splits a character, and a word cut by the edge is dropped unless it is longer than 40 units
// (an address or a token is worth keeping whole).
namespace CaretWindow {

struct Around {
    std::u16string before;
    std::u16string selection;
    std::u16string after;

    bool operator==(const Around&) const = default;
};

// The selection and up to `before` and `after` units either side of it, from the whole text.
Around slice(const std::u16string& text, AXRange selection, std::int64_t before,
             std::int64_t after);

// Text read piece by piece around the caret: a cut side loses the halves of characters that
// the range split (read back as U+FFFD) and its partial word.
std::pair<std::u16string, std::u16string> trimmed(std::u16string before, bool cutStart,
                                                  std::u16string after, bool cutEnd);

std::u16string trimLeadingPartialWord(const std::u16string& text);
std::u16string trimTrailingPartialWord(const std::u16string& text);

} // namespace CaretWindow

} // namespace talverin
