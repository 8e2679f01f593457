#pragma once

#include "TalverinCore/ThemeTokens.h"
#include "TalverinPill/PillFonts.h"

#include <cairo.h>

#include <functional>
#include <string_view>
#include <vector>

// Drawing primitives of the pill's painters, on cairo in points with y growing downwards.
namespace talverin::PillCanvas {

using ThemeTokens::RGBA;

// A rectangle in drawing coordinates: origin at the top left.
struct Box {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double midX() const { return x + width / 2; }
    double midY() const { return y + height / 2; }
    Box inset(double by) const { return {x + by, y + by, width - 2 * by, height - 2 * by}; }
};

// A soft shadow: the shape's silhouette blurred by `radius` points and moved by the offset.
struct Shadow {
    RGBA colour;
    double radius = 0;
    double dx = 0;
    double dy = 0;
};

void setColour(cairo_t* cr, RGBA colour);

// A rounded rectangle whose top corners have one radius and bottom corners another, each
// limited to half the shorter side; the corners are circular arcs.
void roundedPath(cairo_t* cr, const Box& box, double topRadius, double bottomRadius);
// A capsule: both ends fully round.
void capsulePath(cairo_t* cr, const Box& box);
void circlePath(cairo_t* cr, double centreX, double centreY, double diameter);

// Fills the current path with a colour.
void fill(cairo_t* cr, RGBA colour);

// Draws the blurred silhouette of the shape that `path` traces; cairo has no blur, so this is
// a box blur, three passes each way, of an alpha mask at the device resolution.
void shadow(cairo_t* cr, const std::function<void(cairo_t*)>& path, const Shadow& shadow);

// Blurs an 8-bit alpha image in place: three box passes along each axis.
void boxBlur(unsigned char* data, int width, int height, int stride, int radius);

// Strokes the outline of `box` inside its edge with a line of `lineWidth`.
void strokeInside(cairo_t* cr, const Box& box, double topRadius, double bottomRadius,
                  double lineWidth, RGBA colour, const std::vector<double>& dashes = {});

enum class Cut { none, tail, head };

// One run of text in one colour.
struct Run {
    std::string_view text;
    RGBA colour;
};

// Draws one line of runs in `font`, starting at `x` and centred vertically on `midY`. With a
// cut, a line wider than `maxWidth` is cut with an ellipsis at that end. Answers the width the
// line took.
double drawText(cairo_t* cr, const std::vector<Run>& runs, const PillFonts::Font& font, double x,
                double midY, double maxWidth = 0, Cut cut = Cut::none);

// The width `drawText` gives a line, before any cut: the typographic width rounded up.
double textWidth(std::string_view text, const PillFonts::Font& font);

} // namespace talverin::PillCanvas
