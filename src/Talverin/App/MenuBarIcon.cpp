#include "Talverin/App/MenuBarIcon.h"

#include "Talverin/App/CubicBezier.h"
#include "TalverinPill/PillCanvas.h"
#include "TalverinPill/PillSnapshot.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>

namespace talverin {

namespace {

// The grid's geometry at ordinary resolution and, from 1.5 device pixels a unit, the finer
// one: thinner-looking strokes drawn wider, rounded bars.
struct Geometry {
    double bubbleX, bubbleY, bubbleWidth, bubbleHeight;
    double stroke;
    double lineY;
    double caretTop, caretBottom;
    double caretRestX;
    double barRadius;
    double lineRadius;
};

constexpr Geometry normal{1.5, 2.5, 15, 10, 1, 7.5, 5, 10, 12, 0, 0};
constexpr Geometry fine{1.75, 2.75, 14.5, 9.5, 1.5, 7.25, 4.5, 10.5, 11.5, 1, 0.75};

constexpr double barWidth = 2;
constexpr double barCentreY = 7.5;
constexpr double lineStartX = 5;

double deviceScale(cairo_t* cr) {
    double dx = 1;
    double dy = 0;
    cairo_user_to_device_distance(cr, &dx, &dy);
    const double s = std::hypot(dx, dy);
    return s < 1 ? 1 : s;
}

// Whole device pixels, so that edges stay sharp at every scale.
double toPixel(double value, double scale) { return std::round(value * scale) / scale; }

void roundedRect(cairo_t* cr, double x, double y, double width, double height, double radius) {
    PillCanvas::roundedPath(cr, {x, y, width, height}, radius, radius);
}

double clampUnit(double value) { return std::isfinite(value) ? std::clamp(value, 0.0, 1.0) : 1.0; }

void fillLine(cairo_t* cr, const Geometry& g, double scale, double endX) {
    const double top = toPixel(g.lineY - g.stroke / 2, scale);
    const double bottom = toPixel(g.lineY + g.stroke / 2, scale);
    roundedRect(cr, lineStartX, top, endX - lineStartX, bottom - top, g.lineRadius);
    cairo_fill(cr);
}

void fillCaret(cairo_t* cr, const Geometry& g, double scale, double x) {
    const double top = toPixel(g.caretTop, scale);
    const double bottom = toPixel(g.caretBottom, scale);
    roundedRect(cr, toPixel(x, scale), top, g.stroke, bottom - top, g.lineRadius);
    cairo_fill(cr);
}

void drawListening(cairo_t* cr, const Geometry& g, double scale,
                   const MenuBarIcon::Listening& frame) {
    cairo_fill_preserve(cr);
    cairo_stroke(cr);
    // The bars are holes: what lies under the status item shows through them.
    cairo_set_operator(cr, CAIRO_OPERATOR_DEST_OUT);
    for (std::size_t i = 0; i < 3; ++i) {
        double height = frame.bars[i];
        if (!std::isfinite(height))
            height = MenuBarIcon::restingBars[i];
        height = std::clamp(height, MenuBarIcon::restingBars[i], MenuBarIcon::fullBar);
        const double top = toPixel(barCentreY - height / 2, scale);
        const double bottom = toPixel(barCentreY + height / 2, scale);
        roundedRect(cr, MenuBarIcon::barX[i], top, barWidth, bottom - top, g.barRadius);
        cairo_fill(cr);
    }
}

void drawIdle(cairo_t* cr, const Geometry& g, double scale) {
    cairo_stroke(cr);
    fillLine(cr, g, scale, 10);
    fillCaret(cr, g, scale, g.caretRestX);
}

void drawPolishing(cairo_t* cr, const Geometry& g, double scale,
                   const MenuBarIcon::Polishing& frame) {
    cairo_stroke(cr);
    const double travel = 5 - g.stroke;
    const double line = clampUnit(frame.line);
    const double alpha = clampUnit(frame.alpha);
    const double caret = clampUnit(frame.caret);
    if (alpha > 0) {
        cairo_push_group(cr);
        const double end = std::max(lineStartX + g.stroke,
                                    toPixel(lineStartX + g.stroke + travel * line, scale));
        fillLine(cr, g, scale, end);
        cairo_pop_group_to_source(cr);
        cairo_paint_with_alpha(cr, alpha);
    }
    // The line's group took the colour with it.
    cairo_set_source_rgba(cr, 0, 0, 0, 1);
    fillCaret(cr, g, scale, g.caretRestX - travel * (1 - caret));
}

} // namespace

void MenuBarIcon::draw(const Frame& frame, cairo_t* cr, Tint tint) {
    const double scale = deviceScale(cr);
    const Geometry& g = scale < 1.5 ? normal : fine;
    cairo_save(cr);
    // Everything is drawn black into a group first, so that the holes cut only the bubble,
    // never what lies under the glyph; the group then paints in the tint.
    cairo_push_group(cr);
    cairo_set_source_rgba(cr, 0, 0, 0, 1);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_set_line_width(cr, g.stroke);
    cairo_new_path(cr);
    bubble(cr, g.bubbleX, g.bubbleY, g.bubbleWidth, g.bubbleHeight);
    if (const auto* listening = std::get_if<Listening>(&frame))
        drawListening(cr, g, scale, *listening);
    else if (const auto* polishing = std::get_if<Polishing>(&frame))
        drawPolishing(cr, g, scale, *polishing);
    else
        drawIdle(cr, g, scale);
    cairo_pattern_t* glyph = cairo_pop_group(cr);
    const double level = tint == Tint::white ? 1 : 0;
    cairo_set_source_rgba(cr, level, level, level, 1);
    cairo_mask(cr, glyph);
    cairo_pattern_destroy(glyph);
    cairo_restore(cr);
}

void MenuBarIcon::bubble(cairo_t* cr, double x, double y, double width, double height) {
    const double r = height / 2;
    const double minX = x;
    const double maxX = x + width;
    const double minY = y;
    const double maxY = y + height;
    const double midY = y + r;
    constexpr double degree = std::numbers::pi / 180;
    const double c35 = std::cos(35 * degree);
    const double s35 = std::sin(35 * degree);

    cairo_move_to(cr, minX + r, minY);
    cairo_line_to(cr, maxX - r, minY);
    cairo_arc(cr, maxX - r, midY, r, -90 * degree, 90 * degree);
    cairo_line_to(cr, 8.6, maxY);
    // The tail leaves the left cap at 145 degrees and points 5.4 units down at 55 degrees.
    const double px = minX + r - r * c35;
    const double py = midY + r * s35;
    const double tx = px + 3.0973127562956506;
    const double ty = py + 4.423421039160555;
    cairo_curve_to(cr, 6.4, maxY, tx + 0.85, ty - 0.433 - 1.0392, tx + 0.25, ty - 0.433);
    const double endX = tx - 0.2867882181755232;
    const double endY = ty - 0.40957602214449584;
    cairo_curve_to(cr, tx + 0.1125, ty - 0.433 + 0.23815, endX + 0.15773351999653776,
                   endY + 0.22526681217947273, endX, endY);
    cairo_line_to(cr, px, py);
    cairo_arc(cr, minX + r, midY, r, 145 * degree, 270 * degree);
    cairo_close_path(cr);
}

std::array<double, 3> MenuBarIcon::bars(const std::vector<float>& levels) {
    const std::size_t n = levels.size();
    const double last = n > 0 ? levels[n - 1] : 0;
    const double prev = n > 1 ? levels[n - 2] : last;
    auto f = [](double x) { return std::isfinite(x) && x > 0 ? std::min(std::sqrt(x), 1.0) : 0.0; };
    const double outer = 3 + 3 * 0.8 * f(prev);
    return {outer, 4 + 2 * f(last), outer};
}

MenuBarIcon::Polishing MenuBarIcon::polishing(double t, bool reduceMotion) {
    if (reduceMotion)
        return {1, 1, 1};
    constexpr double cycle = 1.6;
    constexpr double grown = 0.76;
    constexpr double fadeIn = 0.08;
    constexpr double fadeOutStart = 1.16;
    constexpr double fadeOut = 0.14;
    constexpr double caretBack = 0.3;
    const CubicBezier e1{0.45, 0, 0.55, 1};
    const CubicBezier e2{0.23, 1, 0.32, 1};
    const double p = std::isfinite(t) ? std::fmod(std::max(t, 0.0), cycle) : 0;
    const double grow = e1(p / grown);
    double alpha = 0;
    if (p < fadeIn)
        alpha = e2(p / fadeIn);
    else if (p < fadeOutStart)
        alpha = 1;
    else if (p < fadeOutStart + fadeOut)
        alpha = 1 - e2((p - fadeOutStart) / fadeOut);
    const double caret = p < fadeOutStart ? grow : 1 - e1((p - fadeOutStart) / caretBack);
    const double line = p >= fadeOutStart + fadeOut ? 0 : grow;
    return {line, alpha, caret};
}

std::optional<std::string> MenuBarIcon::png(double scale) {
    return PillSnapshot::drawPNG({44, 18}, scale, [](cairo_t* cr) {
        draw(Idle{}, cr);
        cairo_save(cr);
        cairo_translate(cr, 26, 0);
        draw(Listening{bars({0.3f, 0.5f})}, cr);
        cairo_restore(cr);
    });
}

std::vector<std::uint32_t> MenuBarIcon::Image::render(int pixels, Tint tint) const {
    if (pixels <= 0)
        return {};
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface(
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pixels, pixels), &cairo_surface_destroy);
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        return {};
    cairo_t* cr = cairo_create(surface.get());
    cairo_scale(cr, pixels / 18.0, pixels / 18.0);
    draw(frame, cr, tint);
    const bool drawn = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(cr);
    if (!drawn)
        return {};
    cairo_surface_flush(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    const unsigned char* data = cairo_image_surface_get_data(surface.get());
    std::vector<std::uint32_t> out(static_cast<std::size_t>(pixels) * pixels);
    for (int row = 0; row < pixels; ++row)
        std::copy_n(reinterpret_cast<const std::uint32_t*>(data + row * stride), pixels,
                    out.begin() + static_cast<std::ptrdiff_t>(row) * pixels);
    return out;
}

} // namespace talverin
