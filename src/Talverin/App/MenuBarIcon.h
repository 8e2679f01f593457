#pragma once

#include <array>
#include <cairo.h>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace talverin {

// The status item's speech-bubble glyph, one frame at a time, on an 18 x 18 unit grid with y
// growing downwards. At rest an outlined bubble holds a line of text and a caret; while
// listening the bubble is filled and three level bars are cut out of it; while polishing a
// line grows and fades as a caret types it. Drawn in one colour with transparency, so that the
// status bar's theme decides black or white.
class MenuBarIcon {
public:
    MenuBarIcon() = delete;

    struct Listening {
        std::array<double, 3> bars{}; // heights in grid units
        bool operator==(const Listening&) const = default;
    };
    struct Polishing {
        double line = 0;  // how far the text line has grown, 0...1
        double alpha = 0; // the line's opacity
        double caret = 0; // where the caret stands: 0 at its left end, 1 at rest
        bool operator==(const Polishing&) const = default;
    };
    struct Idle {
        bool operator==(const Idle&) const = default;
    };
    using Frame = std::variant<Listening, Polishing, Idle>;

    enum class Tint { black, white };

    // One frame as the status item shows it: drawn when the item asks for pixels, at the size
    // it asks for.
    struct Image {
        Frame frame;
        std::string accessibilityDescription = "Talverin";

        // Premultiplied ARGB, one 32-bit value per pixel in native byte order (cairo's
        // ARGB32), row by row; `pixels` a side; empty when the bitmap cannot be made.
        std::vector<std::uint32_t> render(int pixels, Tint tint) const;
        bool operator==(const Image&) const = default;
    };

    static constexpr std::array<double, 3> barX{5, 8, 11};
    static constexpr std::array<double, 3> restingBars{3, 4, 3};
    static constexpr double fullBar = 6;

    static Image image(const Frame& frame) { return Image{frame}; }
    // Draws a frame into a context already scaled to the grid; the context's own scale picks
    // the finer geometry from 1.5 device pixels a unit on.
    static void draw(const Frame& frame, cairo_t* cr, Tint tint = Tint::black);
    // Adds the bubble outline for a rectangle to the context's path.
    static void bubble(cairo_t* cr, double x, double y, double width, double height);
    // The three bar heights for the newest levels, oldest first (at most two are used).
    static std::array<double, 3> bars(const std::vector<float>& levels);
    // The polishing frame `elapsed` seconds into the animation; still with reduce motion.
    static Polishing polishing(double elapsed, bool reduceMotion);
    // PNG data of the icon sheet (the idle glyph and, 8 units further, a listening one) at
    // `scale` pixels a unit: 176 x 72 at scale 4. None when drawing fails.
    static std::optional<std::string> png(double scale);
};

} // namespace talverin
