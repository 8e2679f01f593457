#include "TalverinPill/linux/PillWindowShapeX11.h"

#include <algorithm>

#include <cairo.h>

#include <X11/Xlib.h>
#include <X11/extensions/shape.h>

namespace talverin {
namespace {

// An edge pixel joins the shape when the body covers at least half of it: the cut outline then
// runs where the smooth one crosses the pixels, and no pixel of a soft edge or a translucent
// decoration shows as a dark fringe.
constexpr std::uint32_t opaqueAlpha = 128;

} // namespace

std::vector<PillWindowShapeX11::Span> PillWindowShapeX11::opaqueSpans(cairo_surface_t* image) {
    std::vector<Span> spans;
    if (cairo_image_surface_get_format(image) != CAIRO_FORMAT_ARGB32)
        return spans;
    cairo_surface_flush(image);
    const unsigned char* data = cairo_image_surface_get_data(image);
    const int width = cairo_image_surface_get_width(image);
    const int height = cairo_image_surface_get_height(image);
    const int stride = cairo_image_surface_get_stride(image);
    std::vector<Span> row, band;
    for (int y = 0; y < height; ++y) {
        row.clear();
        const auto* pixels = reinterpret_cast<const std::uint32_t*>(data + y * stride);
        for (int x = 0; x < width;) {
            if ((pixels[x] >> 24) < opaqueAlpha) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < width && (pixels[x] >> 24) >= opaqueAlpha)
                ++x;
            row.push_back({start, y, x - start, 1});
        }
        // A row with the runs of the band above it makes that band one row taller.
        const bool same =
            !band.empty() && band.size() == row.size() &&
            band.front().y + band.front().height == y &&
            std::equal(row.begin(), row.end(), band.begin(), [](const Span& a, const Span& b) {
                return a.x == b.x && a.width == b.width;
            });
        if (same) {
            for (Span& span : band)
                ++span.height;
            continue;
        }
        spans.insert(spans.end(), band.begin(), band.end());
        band = row;
    }
    spans.insert(spans.end(), band.begin(), band.end());
    return spans;
}

void PillWindowShapeX11::cut(Display* display, unsigned long window, std::vector<Span> spans) {
    if (m_cut && spans == m_spans)
        return;
    std::vector<XRectangle> rects;
    rects.reserve(spans.size());
    for (const Span& s : spans)
        rects.push_back({short(s.x), short(s.y), static_cast<unsigned short>(s.width),
                         static_cast<unsigned short>(s.height)});
    // The bands come from the top and each row from the left: the order the server can take
    // without sorting.
    XShapeCombineRectangles(display, window, ShapeBounding, 0, 0, rects.data(), int(rects.size()),
                            ShapeSet, YXBanded);
    m_cut = true;
    m_spans = std::move(spans);
}

void PillWindowShapeX11::reset(Display* display, unsigned long window) {
    if (!m_cut)
        return;
    XShapeCombineMask(display, window, ShapeBounding, 0, 0, None, ShapeSet);
    m_cut = false;
    m_spans.clear();
}

} // namespace talverin
