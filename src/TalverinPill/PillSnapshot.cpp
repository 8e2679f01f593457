#include "TalverinPill/PillSnapshot.h"

#include "Runtime/Bundle.h"
#include "TalverinPill/PillFonts.h"
#include "TalverinPill/PillLayout.h"
#include "TalverinPill/PillView.h"

#include <cmath>
#include <mutex>

namespace talverin::PillSnapshot {
namespace {

struct SurfaceDeleter {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};

// Renders register the fonts from the bundle first, so an export run before the pill panel
// exists still draws in the pill's own faces.
void prepareFonts() {
    std::lock_guard guard(PillFonts::lock());
    const auto& folder = Bundle::main().folder();
    PillFonts::loadLocked(folder.empty() ? std::nullopt : std::optional(folder));
}

} // namespace

int Image::pixelWidth() const {
    return cairo_image_surface_get_width(surface.get());
}

int Image::pixelHeight() const {
    return cairo_image_surface_get_height(surface.get());
}

std::optional<Image> render(const PillState& state, double scale, PillLang lang,
                            const std::optional<std::string>& microphone, double margin) {
    if (state.kind() == PillState::Kind::hidden)
        return std::nullopt;
    prepareFonts();
    auto body = PillView{state, lang, microphone}.body();
    if (!body)
        return std::nullopt;
    const int width = static_cast<int>(std::ceil((body->width() + 2 * margin) * scale));
    const int height = static_cast<int>(std::ceil((PillLayout::height + 2 * margin) * scale));
    std::shared_ptr<cairo_surface_t> surface(
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height), SurfaceDeleter{});
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        return std::nullopt;
    cairo_t* cr = cairo_create(surface.get());
    cairo_scale(cr, scale, scale);
    body->draw(cr, margin, margin);
    const bool drawn = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(cr);
    cairo_surface_flush(surface.get());
    if (!drawn)
        return std::nullopt;
    return Image{surface, scale};
}

std::optional<std::string> png(const PillState& state, double scale, PillLang lang,
                               const std::optional<std::string>& microphone, double margin) {
    auto image = render(state, scale, lang, microphone, margin);
    if (!image)
        return std::nullopt;
    return encodePNG(image->surface.get());
}

std::optional<std::string> encodePNG(cairo_surface_t* surface) {
    std::string data;
    auto write = [](void* closure, const unsigned char* bytes, unsigned int length) {
        static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(bytes), length);
        return CAIRO_STATUS_SUCCESS;
    };
    if (cairo_surface_write_to_png_stream(surface, write, &data) != CAIRO_STATUS_SUCCESS ||
        data.empty())
        return std::nullopt;
    return data;
}

} // namespace talverin::PillSnapshot
