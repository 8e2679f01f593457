#pragma once

#include <array>
#include <string_view>
#include <vector>

// The product's visual vocabulary: two colour palettes with their shadow sets, radii, spacing,
// type, durations, easing curves, motion amounts and the font files. The pill draws with the
// dark palette and the dark shadow set; the image export shows both palettes. Every token is a
// constant: nothing is loaded and nothing changes at run time, and there is no theme switching
// here: a caller picks `dark` or `light` itself.
namespace talverin::ThemeTokens {

// A colour in sRGB with alpha, every channel 0 to 1.
struct RGBA {
    double r = 0;
    double g = 0;
    double b = 0;
    double a = 0;

    // The relative luminance of the colour, alpha ignored: 0 for black, 1 for white.
    double luminance() const;
    // The contrast ratio with another colour, from 1 (the same luminance) to 21.
    double contrast(const RGBA& other) const;

    bool operator==(const RGBA&) const = default;
};

// One shadow layer in points: offset, blur radius, spread (negative shrinks), colour, and
// whether it is drawn inside the shape.
struct Shadow {
    double x = 0;
    double y = 0;
    double blur = 0;
    double spread = 0;
    RGBA color;
    bool inset = false;

    bool operator==(const Shadow&) const = default;
};

// A cubic Bezier easing curve from (0, 0) to (1, 1) with these two control points.
struct Curve {
    double x1 = 0;
    double y1 = 0;
    double x2 = 0;
    double y2 = 0;
};

// One palette.
struct Colors {
    RGBA bg;
    RGBA surface1;
    RGBA surface2;
    RGBA surface3;
    RGBA line;
    RGBA fg;
    RGBA fg2;
    RGBA muted;
    RGBA menuBg;
    RGBA accent;
    RGBA accentPress;
    RGBA onAccent;
    RGBA accentMark;
    RGBA accentLine;
    RGBA accentSoft;
    RGBA accentEdge;
    RGBA accentDot;
    RGBA tabActiveBg;
    RGBA tabActiveFg;
    RGBA rowActiveBg;
    RGBA iconDiscBg;
    RGBA emptyIcon;
    RGBA mark;
    RGBA focus;
    RGBA strongBg;
    RGBA strongFg;
    RGBA strongAccent;
    RGBA tipBg;
    RGBA tipFg;
    RGBA logoFg;
    RGBA danger;
    RGBA warn;
    RGBA warnText;
    RGBA dangerText;
    RGBA scrim;
    RGBA shimmer;
    RGBA markBubbleTop;
    RGBA markBubbleBottom;
    RGBA markLineTop;
    RGBA markLineBottom;
    RGBA markCaretTop;
    RGBA markCaretBottom;
    RGBA warnTint;
    RGBA dangerTint;
    RGBA rowHover;
    RGBA backdrop;
    RGBA scrollThumb;
    RGBA scrollThumbHover;
    RGBA mediaBg;
    RGBA mediaScrim;
    RGBA mediaScrimStrong;
    RGBA onMedia;
    RGBA onMediaMuted;
    RGBA captionBg;
    RGBA captionBgClassic;

    bool operator==(const Colors&) const = default;
};

// One shadow set. Every list has at least one layer; a single all-zero layer stands where a
// theme has no shadow for that element.
struct Shadows {
    std::vector<Shadow> accentGlow;
    std::vector<Shadow> accentDotRing;
    std::vector<Shadow> tabActiveRing;
    std::vector<Shadow> rowActiveRing;
    std::vector<Shadow> switchOnEdge;
    std::vector<Shadow> switchKnobShadow;
    std::vector<Shadow> focusRing;
    std::vector<Shadow> logoMarkShadow;
    std::vector<Shadow> logoDiscShadow;
    std::vector<Shadow> shadow;
    std::vector<Shadow> shadowMenu;
    std::vector<Shadow> tipShadow;
    std::vector<Shadow> lift;
    std::vector<Shadow> markDiscShadow;
    std::vector<Shadow> ringLine;
    std::vector<Shadow> strongEdge;

    bool operator==(const Shadows&) const = default;
};

extern const Colors dark;
extern const Colors light;

// Built once, on first use.
const Shadows& darkShadows();
const Shadows& lightShadows();

// Corner radii, points. `pill` is large enough to round any pill's ends fully.
namespace Radius {
inline constexpr double panel = 28;
inline constexpr double hero = 24;
inline constexpr double card = 22;
inline constexpr double menu = 18;
inline constexpr double row = 16;
inline constexpr double field = 14;
inline constexpr double item = 12;
inline constexpr double tip = 10;
inline constexpr double sm = 8;
inline constexpr double xs = 6;
inline constexpr double xxs = 4;
inline constexpr double pill = 999;
} // namespace Radius

// The spacing scale, points.
inline constexpr std::array<double, 13> spacing{2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 24, 32, 40};

// Text sizes, points.
namespace TextSize {
inline constexpr double micro = 11;
inline constexpr double meta = 12;
inline constexpr double small = 12.5;
inline constexpr double ui = 13;
inline constexpr double uiLg = 13.5;
inline constexpr double md = 14;
inline constexpr double lg = 15;
inline constexpr double title = 20;
inline constexpr double h = 22;
inline constexpr double display = 28;
} // namespace TextSize
inline constexpr double bodySize = 14.5;

// Positions on the variable fonts' weight axis.
namespace Weight {
inline constexpr double text = 450;
inline constexpr double medium = 500;
inline constexpr double semibold = 600;
inline constexpr double strong = 650;
inline constexpr double bold = 700;
inline constexpr double heavy = 800;
} // namespace Weight

// Letter spacing. Only the pages' style sheets use these; no native code reads them.
namespace Tracking {
inline constexpr double caps = 0.06;
inline constexpr double tight = -0.02;
inline constexpr double snug = -0.01;
inline constexpr double wide = 0.01;
} // namespace Tracking

// Durations, seconds.
namespace Dur {
inline constexpr double base = 0.16;
inline constexpr double press = 0.12;
inline constexpr double popIn = 0.16;
inline constexpr double popOut = 0.11;
inline constexpr double fade = 0.15;
inline constexpr double tab = 0.22;
inline constexpr double seg = 0.2;
inline constexpr double sheetIn = 0.28;
inline constexpr double sheetOut = 0.18;
inline constexpr double toastIn = 0.22;
inline constexpr double toastOut = 0.14;
inline constexpr double row = 0.18;
inline constexpr double rowOut = 0.12;
inline constexpr double gauge = 0.3;
} // namespace Dur

namespace Ease {
inline constexpr Curve base{0.2, 0.8, 0.2, 1};
inline constexpr Curve out{0.23, 1, 0.32, 1};
inline constexpr Curve inOut{0.77, 0, 0.175, 1};
inline constexpr Curve drawer{0.32, 0.72, 0, 1};
} // namespace Ease

// Motion amounts. Only the pages' style sheets use these and no native code reads them, so
// what each measures (a scale factor, a distance in points) is the style sheets' business.
namespace Motion {
inline constexpr double press = 0.97;
inline constexpr double pressCard = 0.985;
inline constexpr double pop = 0.96;
inline constexpr double row = 6;
inline constexpr double toast = 10;
inline constexpr double sheetFade = 1;
inline constexpr double check = 0.9;
inline constexpr double rise = 6;
inline constexpr double search = 4;
inline constexpr double condense = 0.94;
inline constexpr double done = 8;
} // namespace Motion

// The two families and the variable font files shipped in the resources' "fonts" folder.
namespace Fonts {
inline constexpr std::string_view latinFamily = "Urbanist";
inline constexpr std::string_view intlFamily = "Manrope";
inline constexpr std::array<std::string_view, 4> files{
    "urbanist-latin-wght.woff2", "urbanist-latin-ext-wght.woff2", "manrope-cyrillic-wght.woff2",
    "manrope-cyrillic-ext-wght.woff2"};
} // namespace Fonts

} // namespace talverin::ThemeTokens
