#pragma once

#include <functional>
#include <string_view>

namespace talverin {

// Measures one line of text in the pill's font: the text, the font size in points, the numeric
// weight (400 regular, 700 bold) and whether digits are set at equal widths. Answers the
// typographic width in points, rounded up to a whole point; an empty text measures 0. The
// pill's layout never measures any other way, so the fonts decide every width through this.
using PillMeasure =
    std::function<double(std::string_view text, double size, double weight, bool tabular)>;

} // namespace talverin
