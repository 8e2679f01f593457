#include "TalverinPill/PillSymbols.h"

#include "TalverinPill/PillCanvas.h"

#include <array>
#include <cmath>
#include <functional>
#include <utility>

namespace talverin::PillSymbols {
namespace {

// Each glyph is traced in a 12 x 12 box with its origin at the top left; `stroke` is called
// for outlines, `fill` for solid parts.
struct Pen {
    cairo_t* cr;
    void stroke() const { cairo_stroke(cr); }
    void fill() const { cairo_fill(cr); }
    void line(double x1, double y1, double x2, double y2) const {
        cairo_move_to(cr, x1, y1);
        cairo_line_to(cr, x2, y2);
    }
    void dot(double x, double y, double diameter) const {
        PillCanvas::circlePath(cr, x, y, diameter);
    }
};

void checkmark(const Pen& pen) {
    cairo_move_to(pen.cr, 2.2, 6.4);
    cairo_line_to(pen.cr, 4.9, 9.1);
    cairo_line_to(pen.cr, 9.9, 3.1);
    pen.stroke();
}

void pencil(const Pen& pen) {
    cairo_move_to(pen.cr, 2, 10);
    cairo_line_to(pen.cr, 2.5, 7.6);
    cairo_line_to(pen.cr, 8.4, 1.7);
    cairo_line_to(pen.cr, 10.3, 3.6);
    cairo_line_to(pen.cr, 4.4, 9.5);
    cairo_close_path(pen.cr);
    pen.line(7.1, 3, 9, 4.9);
    pen.stroke();
}

void clipboard(const Pen& pen) {
    PillCanvas::roundedPath(pen.cr, {2.2, 2.2, 7.6, 9}, 1.3, 1.3);
    pen.stroke();
    PillCanvas::roundedPath(pen.cr, {4.2, 1, 3.6, 2.4}, 0.8, 0.8);
    pen.fill();
    pen.line(4.2, 6.2, 7.8, 6.2);
    pen.line(4.2, 8.4, 6.8, 8.4);
    pen.stroke();
}

void sparkle(const Pen& pen, double x, double y, double r) {
    cairo_move_to(pen.cr, x, y - r);
    cairo_curve_to(pen.cr, x + r * 0.15, y - r * 0.15, x + r * 0.15, y - r * 0.15, x + r, y);
    cairo_curve_to(pen.cr, x + r * 0.15, y + r * 0.15, x + r * 0.15, y + r * 0.15, x, y + r);
    cairo_curve_to(pen.cr, x - r * 0.15, y + r * 0.15, x - r * 0.15, y + r * 0.15, x - r, y);
    cairo_curve_to(pen.cr, x - r * 0.15, y - r * 0.15, x - r * 0.15, y - r * 0.15, x, y - r);
    cairo_close_path(pen.cr);
}

void sparkles(const Pen& pen) {
    sparkle(pen, 5, 6.8, 4.4);
    sparkle(pen, 9.6, 2.6, 2.1);
    sparkle(pen, 9.8, 9.6, 1.5);
    pen.fill();
}

void slash(const Pen& pen) {
    pen.line(1.6, 1.6, 10.4, 10.4);
    pen.stroke();
}

void wifiSlash(const Pen& pen) {
    for (double radius : {8.4, 5.6, 2.9}) {
        cairo_new_sub_path(pen.cr);
        cairo_arc(pen.cr, 6, 10.4, radius, M_PI * 1.25, M_PI * 1.75);
    }
    pen.stroke();
    pen.dot(6, 10.2, 1.8);
    pen.fill();
    slash(pen);
}

void micSlash(const Pen& pen) {
    PillCanvas::roundedPath(pen.cr, {4.2, 0.8, 3.6, 6.4}, 1.8, 1.8);
    cairo_new_sub_path(pen.cr);
    cairo_arc_negative(pen.cr, 6, 5.2, 3.6, M_PI, 0);
    pen.line(6, 8.8, 6, 11);
    pen.stroke();
    slash(pen);
}

void lock(const Pen& pen) {
    PillCanvas::roundedPath(pen.cr, {2, 5.4, 8, 6}, 1.4, 1.4);
    pen.fill();
    cairo_new_sub_path(pen.cr);
    cairo_move_to(pen.cr, 3.7, 5.6);
    cairo_arc(pen.cr, 6, 3.7, 2.3, M_PI, 0);
    cairo_line_to(pen.cr, 8.3, 5.6);
    pen.stroke();
}

void exclamationmark(const Pen& pen) {
    pen.line(6, 1.6, 6, 7.6);
    pen.stroke();
    pen.dot(6, 10.2, 1.9);
    pen.fill();
}

void hourglass(const Pen& pen) {
    pen.line(2.6, 1.2, 9.4, 1.2);
    pen.line(2.6, 10.8, 9.4, 10.8);
    cairo_move_to(pen.cr, 3.4, 1.2);
    cairo_curve_to(pen.cr, 3.4, 4.4, 6, 4.8, 6, 6);
    cairo_curve_to(pen.cr, 6, 7.2, 3.4, 7.6, 3.4, 10.8);
    cairo_move_to(pen.cr, 8.6, 1.2);
    cairo_curve_to(pen.cr, 8.6, 4.4, 6, 4.8, 6, 6);
    cairo_curve_to(pen.cr, 6, 7.2, 8.6, 7.6, 8.6, 10.8);
    pen.stroke();
}

using Tracer = void (*)(const Pen&);
constexpr std::array<std::pair<std::string_view, Tracer>, 9> glyphs{{
    {"checkmark", checkmark},
    {"pencil", pencil},
    {"doc.on.clipboard", clipboard},
    {"sparkles", sparkles},
    {"wifi.slash", wifiSlash},
    {"mic.slash", micSlash},
    {"lock", lock},
    {"exclamationmark", exclamationmark},
    {"hourglass", hourglass},
}};

Tracer tracer(std::string_view name) {
    for (const auto& [glyph, trace] : glyphs)
        if (glyph == name)
            return trace;
    return nullptr;
}

} // namespace

bool known(std::string_view name) {
    return tracer(name) != nullptr;
}

void draw(cairo_t* cr, std::string_view name, double centreX, double centreY, double size,
          double weight, ThemeTokens::RGBA colour) {
    const Tracer trace = tracer(name);
    if (trace == nullptr)
        return;
    cairo_save(cr);
    cairo_translate(cr, centreX - size / 2, centreY - size / 2);
    cairo_scale(cr, size / 12, size / 12);
    // A semibold glyph strokes at 1.5 of the box's 12 units, a bold one a little heavier.
    cairo_set_line_width(cr, 1.5 * weight / 600);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_new_path(cr);
    PillCanvas::setColour(cr, colour);
    trace(Pen{cr});
    cairo_restore(cr);
}

} // namespace talverin::PillSymbols
