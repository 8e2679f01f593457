#include "TalverinPill/PillCanvas.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include <pango/pangocairo.h>

namespace talverin::PillCanvas {
namespace {

struct SurfaceDeleter {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct CairoDeleter {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};

void blurLine(unsigned char* data, int count, int step, int radius, std::vector<int>& line) {
    line.resize(count);
    for (int i = 0; i < count; ++i)
        line[i] = data[i * step];
    const int window = 2 * radius + 1;
    int sum = 0;
    for (int i = -radius; i <= radius; ++i)
        sum += (i >= 0 && i < count) ? line[i] : 0;
    for (int i = 0; i < count; ++i) {
        data[i * step] = static_cast<unsigned char>((sum + window / 2) / window);
        const int leaving = i - radius;
        const int entering = i + radius + 1;
        sum -= (leaving >= 0 && leaving < count) ? line[leaving] : 0;
        sum += (entering < count) ? line[entering] : 0;
    }
}

} // namespace

void setColour(cairo_t* cr, RGBA colour) {
    cairo_set_source_rgba(cr, colour.r, colour.g, colour.b, colour.a);
}

void roundedPath(cairo_t* cr, const Box& box, double topRadius, double bottomRadius) {
    const double limit = std::min(box.width, box.height) / 2;
    const double top = std::clamp(topRadius, 0.0, limit);
    const double bottom = std::clamp(bottomRadius, 0.0, limit);
    const double left = box.x;
    const double right = box.x + box.width;
    const double upper = box.y;
    const double lower = box.y + box.height;
    cairo_new_sub_path(cr);
    cairo_arc(cr, right - top, upper + top, top, -M_PI / 2, 0);
    cairo_arc(cr, right - bottom, lower - bottom, bottom, 0, M_PI / 2);
    cairo_arc(cr, left + bottom, lower - bottom, bottom, M_PI / 2, M_PI);
    cairo_arc(cr, left + top, upper + top, top, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

void capsulePath(cairo_t* cr, const Box& box) {
    const double radius = std::min(box.width, box.height) / 2;
    roundedPath(cr, box, radius, radius);
}

void circlePath(cairo_t* cr, double centreX, double centreY, double diameter) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, centreX, centreY, diameter / 2, 0, 2 * M_PI);
    cairo_close_path(cr);
}

void fill(cairo_t* cr, RGBA colour) {
    setColour(cr, colour);
    cairo_fill(cr);
}

void boxBlur(unsigned char* data, int width, int height, int stride, int radius) {
    if (radius <= 0)
        return;
    std::vector<int> line;
    for (int pass = 0; pass < 3; ++pass) {
        for (int y = 0; y < height; ++y)
            blurLine(data + y * stride, width, 1, radius, line);
        for (int x = 0; x < width; ++x)
            blurLine(data + x, height, stride, radius, line);
    }
}

void shadow(cairo_t* cr, const std::function<void(cairo_t*)>& path, const Shadow& shadow) {
    if (shadow.colour.a <= 0)
        return;
    cairo_save(cr);
    cairo_new_path(cr);
    path(cr);
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    cairo_path_extents(cr, &x1, &y1, &x2, &y2);
    cairo_new_path(cr);
    // The mask is made at the device's resolution so the shadow is as sharp as the shape.
    double unitX = 1, unitY = 0;
    cairo_user_to_device_distance(cr, &unitX, &unitY);
    const double scale = std::max(std::hypot(unitX, unitY), 0.01);
    const double margin = 2 * shadow.radius + 2;
    const int width = static_cast<int>(std::ceil((x2 - x1 + 2 * margin) * scale));
    const int height = static_cast<int>(std::ceil((y2 - y1 + 2 * margin) * scale));
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384) {
        cairo_restore(cr);
        return;
    }
    std::unique_ptr<cairo_surface_t, SurfaceDeleter> mask(
        cairo_image_surface_create(CAIRO_FORMAT_A8, width, height));
    {
        std::unique_ptr<cairo_t, CairoDeleter> maskCr(cairo_create(mask.get()));
        cairo_scale(maskCr.get(), scale, scale);
        cairo_translate(maskCr.get(), margin - x1, margin - y1);
        path(maskCr.get());
        cairo_set_source_rgba(maskCr.get(), 0, 0, 0, 1);
        cairo_fill(maskCr.get());
    }
    cairo_surface_flush(mask.get());
    // Three box passes of a third of the radius each come close to a gaussian of that size.
    const int boxRadius = static_cast<int>(std::lround(shadow.radius * scale / 3));
    boxBlur(cairo_image_surface_get_data(mask.get()), width, height,
            cairo_image_surface_get_stride(mask.get()), boxRadius);
    cairo_surface_mark_dirty(mask.get());
    cairo_surface_set_device_scale(mask.get(), scale, scale);
    setColour(cr, shadow.colour);
    cairo_mask_surface(cr, mask.get(), x1 - margin + shadow.dx, y1 - margin + shadow.dy);
    cairo_restore(cr);
}

void strokeInside(cairo_t* cr, const Box& box, double topRadius, double bottomRadius,
                  double lineWidth, RGBA colour, const std::vector<double>& dashes) {
    cairo_save(cr);
    const double half = lineWidth / 2;
    roundedPath(cr, box.inset(half), std::max(0.0, topRadius - half),
                std::max(0.0, bottomRadius - half));
    cairo_set_line_width(cr, lineWidth);
    cairo_set_miter_limit(cr, 10);
    if (!dashes.empty())
        cairo_set_dash(cr, dashes.data(), static_cast<int>(dashes.size()), 0);
    setColour(cr, colour);
    cairo_stroke(cr);
    cairo_restore(cr);
}

double textWidth(std::string_view text, const PillFonts::Font& font) {
    return PillFonts::width(text, font.size, font.weight, font.tabular);
}

double drawText(cairo_t* cr, const std::vector<Run>& runs, const PillFonts::Font& font, double x,
                double midY, double maxWidth, Cut cut) {
    std::string text;
    auto* attributes = pango_attr_list_new();
    for (const auto& run : runs) {
        const auto start = static_cast<guint>(text.size());
        text += run.text;
        auto channel = [](double value) {
            return static_cast<guint16>(std::lround(std::clamp(value, 0.0, 1.0) * 65535));
        };
        auto* colour = pango_attr_foreground_new(channel(run.colour.r), channel(run.colour.g),
                                                 channel(run.colour.b));
        auto* alpha = pango_attr_foreground_alpha_new(channel(run.colour.a));
        colour->start_index = alpha->start_index = start;
        colour->end_index = alpha->end_index = static_cast<guint>(text.size());
        pango_attr_list_insert(attributes, colour);
        pango_attr_list_insert(attributes, alpha);
    }
    if (font.tabular)
        pango_attr_list_insert(attributes, pango_attr_font_features_new("tnum=1"));
    PangoContext* context = PillFonts::newContext();
    pango_cairo_update_context(cr, context);
    // Drawn exactly as measured, whatever options the surface brings.
    PillFonts::applyMeasuringOptions(context);
    PangoLayout* layout = PillFonts::newLayout(context, text, font);
    pango_layout_set_attributes(layout, attributes);
    pango_attr_list_unref(attributes);
    if (cut != Cut::none && maxWidth > 0) {
        pango_layout_set_width(layout, static_cast<int>(std::floor(maxWidth * PANGO_SCALE)));
        pango_layout_set_ellipsize(layout,
                                   cut == Cut::tail ? PANGO_ELLIPSIZE_END : PANGO_ELLIPSIZE_START);
    }
    PangoRectangle logical{};
    pango_layout_get_extents(layout, nullptr, &logical);
    const double width = static_cast<double>(logical.width) / PANGO_SCALE;
    const double height = static_cast<double>(logical.height) / PANGO_SCALE;
    cairo_save(cr);
    cairo_move_to(cr, x - static_cast<double>(logical.x) / PANGO_SCALE, midY - height / 2);
    pango_cairo_show_layout(cr, layout);
    cairo_restore(cr);
    g_object_unref(layout);
    g_object_unref(context);
    return std::ceil(width);
}

} // namespace talverin::PillCanvas
