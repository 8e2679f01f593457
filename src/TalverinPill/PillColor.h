#pragma once

#include "TalverinCore/ThemeTokens.h"

// The overlay's colours, all from the dark palette, which the pill always uses.
namespace talverin::PillColor {

using ThemeTokens::RGBA;

inline RGBA withOpacity(RGBA colour, double factor) {
    colour.a *= factor;
    return colour;
}

inline RGBA hint() {
    return ThemeTokens::dark.fg2;
}
inline RGBA island() {
    return {0, 0, 0, 1};
}
inline RGBA ghostLine() {
    return withOpacity(ThemeTokens::dark.bg, 0.42);
}
inline RGBA ghostFill() {
    return withOpacity(ThemeTokens::dark.strongFg, 0.18);
}
inline RGBA ghostHotLine() {
    return ThemeTokens::dark.accent;
}
inline RGBA ghostHotFill() {
    return withOpacity(ThemeTokens::dark.accent, 0.26);
}
inline RGBA white() {
    return {1, 1, 1, 1};
}
inline RGBA micDisc() {
    return {1, 1, 1, 0.08};
}
inline RGBA micHot() {
    return ThemeTokens::dark.accent;
}

} // namespace talverin::PillColor
