#pragma once

#include <vector>

// The level bars of the listening pill: the newest level drives the middle bar and older
// levels spread outwards.
namespace talverin::PillBars {

inline constexpr int count = 7;
inline constexpr double barWidth = 3;
inline constexpr double barGap = 3;
inline constexpr double minHeight = 4;
inline constexpr double maxHeight = 20;
inline constexpr int history = 4;   // levels kept
inline constexpr double width = 39; // seven bars and six gaps

// Bar heights for levels listed oldest first. Bars beyond the history repeat the oldest level;
// a level that is not a positive finite number draws as silence; the outer bars are shorter.
std::vector<double> heights(const std::vector<float>& levels, int count = PillBars::count,
                            double minHeight = PillBars::minHeight,
                            double maxHeight = PillBars::maxHeight);

// The levels with a new one appended, keeping only the newest `history`.
std::vector<float> push(float level, std::vector<float> into);

} // namespace talverin::PillBars
