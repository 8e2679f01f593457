#include "TalverinCore/ThemeTokens.h"

#include <algorithm>
#include <cmath>

namespace talverin::ThemeTokens {

namespace {

// Channels are given as integers over 255 and stored exactly as that quotient.
constexpr RGBA rgba(int r, int g, int b, double a) {
    return {r / 255.0, g / 255.0, b / 255.0, a};
}

Shadow zeroShadow() {
    return {};
}

double linear(double channel) {
    return channel <= 0.03928 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

} // namespace

double RGBA::luminance() const {
    return 0.2126 * linear(r) + 0.7152 * linear(g) + 0.0722 * linear(b);
}

double RGBA::contrast(const RGBA& other) const {
    double first = luminance();
    double second = other.luminance();
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

const Colors dark{
    .bg = rgba(14, 14, 20, 1),
    .surface1 = rgba(23, 22, 31, 1),
    .surface2 = rgba(32, 31, 43, 1),
    .surface3 = rgba(43, 42, 57, 1),
    .line = rgba(196, 190, 255, 0.07),
    .fg = rgba(243, 242, 250, 1),
    .fg2 = rgba(222, 220, 236, 1),
    .muted = rgba(166, 163, 191, 1),
    .menuBg = rgba(23, 22, 31, 1),
    .accent = rgba(106, 87, 240, 1),
    .accentPress = rgba(91, 72, 226, 1),
    .onAccent = rgba(255, 255, 255, 1),
    .accentMark = rgba(106, 87, 240, 1),
    .accentLine = rgba(171, 160, 255, 1),
    .accentSoft = rgba(31, 28, 56, 1),
    .accentEdge = rgba(0, 0, 0, 0),
    .accentDot = rgba(106, 87, 240, 1),
    .tabActiveBg = rgba(106, 87, 240, 1),
    .tabActiveFg = rgba(255, 255, 255, 1),
    .rowActiveBg = rgba(31, 28, 56, 1),
    .iconDiscBg = rgba(31, 28, 56, 1),
    .emptyIcon = rgba(171, 160, 255, 1),
    .mark = rgba(106, 87, 240, 0.4),
    .focus = rgba(106, 87, 240, 1),
    .strongBg = rgba(32, 31, 43, 1),
    .strongFg = rgba(243, 242, 250, 1),
    .strongAccent = rgba(171, 160, 255, 1),
    .tipBg = rgba(32, 31, 43, 1),
    .tipFg = rgba(243, 242, 250, 1),
    .logoFg = rgba(255, 255, 255, 1),
    .danger = rgba(255, 107, 94, 1),
    .warn = rgba(255, 194, 75, 1),
    .warnText = rgba(255, 194, 75, 1),
    .dangerText = rgba(255, 107, 94, 1),
    .scrim = rgba(0, 0, 0, 0.42),
    .shimmer = rgba(255, 255, 255, 0.055),
    .markBubbleTop = rgba(47, 43, 74, 1),
    .markBubbleBottom = rgba(21, 20, 29, 1),
    .markLineTop = rgba(203, 196, 255, 1),
    .markLineBottom = rgba(166, 155, 255, 1),
    .markCaretTop = rgba(255, 255, 255, 1),
    .markCaretBottom = rgba(236, 232, 255, 1),
    .warnTint = rgba(255, 194, 75, 0.16),
    .dangerTint = rgba(255, 107, 94, 0.16),
    .rowHover = rgba(23, 22, 31, 0.6),
    .backdrop = rgba(0, 0, 0, 0.5),
    .scrollThumb = rgba(166, 163, 191, 0.45),
    .scrollThumbHover = rgba(106, 87, 240, 1),
    .mediaBg = rgba(0, 0, 0, 1),
    .mediaScrim = rgba(8, 8, 8, 0.72),
    .mediaScrimStrong = rgba(8, 8, 8, 0.8),
    .onMedia = rgba(255, 255, 255, 1),
    .onMediaMuted = rgba(244, 244, 242, 0.68),
    .captionBg = rgba(8, 8, 8, 0.8),
    .captionBgClassic = rgba(8, 8, 8, 0.74),
};

const Colors light{
    .bg = rgba(246, 246, 250, 1),
    .surface1 = rgba(255, 255, 255, 1),
    .surface2 = rgba(236, 235, 244, 1),
    .surface3 = rgba(224, 222, 236, 1),
    .line = rgba(27, 24, 74, 0.07),
    .fg = rgba(20, 19, 43, 1),
    .fg2 = rgba(38, 37, 65, 1),
    .muted = rgba(93, 91, 118, 1),
    .menuBg = rgba(255, 255, 255, 1),
    .accent = rgba(91, 79, 224, 1),
    .accentPress = rgba(75, 63, 204, 1),
    .onAccent = rgba(255, 255, 255, 1),
    .accentMark = rgba(91, 79, 224, 1),
    .accentLine = rgba(65, 54, 194, 1),
    .accentSoft = rgba(238, 235, 255, 1),
    .accentEdge = rgba(0, 0, 0, 0),
    .accentDot = rgba(91, 79, 224, 1),
    .tabActiveBg = rgba(91, 79, 224, 1),
    .tabActiveFg = rgba(255, 255, 255, 1),
    .rowActiveBg = rgba(238, 235, 255, 1),
    .iconDiscBg = rgba(238, 235, 255, 1),
    .emptyIcon = rgba(65, 54, 194, 1),
    .mark = rgba(91, 79, 224, 0.2),
    .focus = rgba(91, 79, 224, 1),
    .strongBg = rgba(20, 19, 43, 1),
    .strongFg = rgba(243, 242, 250, 1),
    .strongAccent = rgba(171, 160, 255, 1),
    .tipBg = rgba(20, 19, 43, 1),
    .tipFg = rgba(243, 242, 250, 1),
    .logoFg = rgba(255, 255, 255, 1),
    .danger = rgba(217, 58, 43, 1),
    .warn = rgba(184, 110, 0, 1),
    .warnText = rgba(134, 85, 0, 1),
    .dangerText = rgba(180, 42, 29, 1),
    .scrim = rgba(10, 10, 10, 0.14),
    .shimmer = rgba(255, 255, 255, 0.75),
    .markBubbleTop = rgba(47, 43, 74, 1),
    .markBubbleBottom = rgba(21, 20, 29, 1),
    .markLineTop = rgba(203, 196, 255, 1),
    .markLineBottom = rgba(166, 155, 255, 1),
    .markCaretTop = rgba(255, 255, 255, 1),
    .markCaretBottom = rgba(236, 232, 255, 1),
    .warnTint = rgba(184, 110, 0, 0.16),
    .dangerTint = rgba(217, 58, 43, 0.16),
    .rowHover = rgba(255, 255, 255, 0.6),
    .backdrop = rgba(0, 0, 0, 0.5),
    .scrollThumb = rgba(93, 91, 118, 0.45),
    .scrollThumbHover = rgba(91, 79, 224, 1),
    .mediaBg = rgba(0, 0, 0, 1),
    .mediaScrim = rgba(8, 8, 8, 0.72),
    .mediaScrimStrong = rgba(8, 8, 8, 0.8),
    .onMedia = rgba(255, 255, 255, 1),
    .onMediaMuted = rgba(244, 244, 242, 0.68),
    .captionBg = rgba(8, 8, 8, 0.8),
    .captionBgClassic = rgba(8, 8, 8, 0.74),
};

const Shadows& darkShadows() {
    static const Shadows shadows{
        .accentGlow = {{0, 4, 12, -6, rgba(106, 87, 240, 0.42), false}},
        .accentDotRing = {zeroShadow()},
        .tabActiveRing = {zeroShadow()},
        .rowActiveRing = {{0, 0, 0, 1, rgba(171, 160, 255, 0.1), true}},
        .switchOnEdge = {zeroShadow()},
        .switchKnobShadow = {{0, 1, 3, 0, rgba(0, 0, 0, 0.35), false}},
        .focusRing = {zeroShadow()},
        .logoMarkShadow = {zeroShadow()},
        .logoDiscShadow = {{0, 6, 14, -6, rgba(91, 79, 224, 0.6), false}},
        .shadow = {{0, 24, 64, 0, rgba(0, 0, 0, 0.55), false},
                   {0, 2, 8, 0, rgba(0, 0, 0, 0.35), false}},
        .shadowMenu = {{0, 18, 48, 0, rgba(0, 0, 0, 0.55), false},
                       {0, 2, 6, 0, rgba(0, 0, 0, 0.3), false}},
        .tipShadow = {{0, 18, 48, 0, rgba(0, 0, 0, 0.55), false},
                      {0, 2, 6, 0, rgba(0, 0, 0, 0.3), false}},
        .lift = {zeroShadow()},
        .markDiscShadow = {{0, 5, 7, 0, rgba(91, 79, 224, 0.45), false}},
        .ringLine = {{0, 0, 0, 1, rgba(196, 190, 255, 0.07), true}},
        .strongEdge = {{0, 0, 0, 1, rgba(255, 255, 255, 0.06), true}},
    };
    return shadows;
}

const Shadows& lightShadows() {
    static const Shadows shadows{
        .accentGlow = {{0, 5, 14, -6, rgba(91, 79, 224, 0.55), false}},
        .accentDotRing = {zeroShadow()},
        .tabActiveRing = {zeroShadow()},
        .rowActiveRing = {{0, 0, 0, 1, rgba(91, 79, 224, 0.1), true}},
        .switchOnEdge = {zeroShadow()},
        .switchKnobShadow = {{0, 1, 3, 0, rgba(20, 19, 43, 0.25), false}},
        .focusRing = {zeroShadow()},
        .logoMarkShadow = {{0, 1, 2, 0, rgba(66, 54, 194, 0.25), false}},
        .logoDiscShadow = {{0, 6, 14, -6, rgba(91, 79, 224, 0.6), false}},
        .shadow = {{0, 24, 64, 0, rgba(0, 0, 0, 0.18), false},
                   {0, 2, 8, 0, rgba(0, 0, 0, 0.08), false}},
        .shadowMenu = {{0, 18, 48, 0, rgba(0, 0, 0, 0.16), false},
                       {0, 2, 6, 0, rgba(0, 0, 0, 0.06), false}},
        .tipShadow = {{0, 8, 24, 0, rgba(0, 0, 0, 0.18), false},
                      {0, 1, 3, 0, rgba(0, 0, 0, 0.12), false}},
        .lift = {{0, 1, 2, 0, rgba(0, 0, 0, 0.06), false},
                 {0, 0, 0, 1, rgba(27, 24, 74, 0.07), true}},
        .markDiscShadow = {{0, 5, 7, 0, rgba(91, 79, 224, 0.45), false}},
        .ringLine = {{0, 0, 0, 1, rgba(27, 24, 74, 0.07), true}},
        .strongEdge = {{0, 0, 0, 1, rgba(255, 255, 255, 0.06), true}},
    };
    return shadows;
}

} // namespace talverin::ThemeTokens
