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

// The palette of the content: made from the dark palette's strong entries, which keep their
// contrast on the pill's dark body.
inline RGBA background() {
    return ThemeTokens::dark.strongBg;
}
inline RGBA foreground() {
    return ThemeTokens::dark.strongFg;
}
inline RGBA accent() {
    return ThemeTokens::dark.strongAccent;
}
inline RGBA muted() {
    return ThemeTokens::dark.muted;
}
inline RGBA edge() {
    const auto& edges = ThemeTokens::darkShadows().strongEdge;
    return edges.empty() ? RGBA{1, 1, 1, 0.06} : edges.front().color;
}
inline RGBA danger() {
    return ThemeTokens::dark.danger;
}
inline RGBA dangerTint() {
    return ThemeTokens::dark.dangerTint;
}
inline RGBA warn() {
    return ThemeTokens::dark.warn;
}
inline RGBA warnTint() {
    return ThemeTokens::dark.warnTint;
}
inline RGBA accentTint() {
    return withOpacity(ThemeTokens::dark.strongAccent, 0.16);
}
inline RGBA neutralDisc() {
    return ThemeTokens::dark.surface3;
}
inline RGBA onAccent() {
    return ThemeTokens::dark.strongBg;
}

} // namespace talverin::PillColor
