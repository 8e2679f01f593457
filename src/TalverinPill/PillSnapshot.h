#pragma once

#include "TalverinCore/PillState.h"
#include "TalverinPill/PillLang.h"

#include <cairo.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Off-screen renderings of the pill: one state as an image or PNG data, and the export of
// every sample state, motion scene and contact sheet of the interface languages. No display
// is needed. Main thread.
namespace talverin::PillSnapshot {

// A rendered bitmap with its point size (the pixel size divided by the scale).
struct Image {
    std::shared_ptr<cairo_surface_t> surface;
    double scale = 1;
    int pixelWidth() const;
    int pixelHeight() const;
    double pointWidth() const { return pixelWidth() / scale; }
    double pointHeight() const { return pixelHeight() / scale; }
};

// One state on a transparent background, `margin` points of it around the pill; none for the
// hidden state or when the bitmap cannot be made.
std::optional<Image> render(const PillState& state, double scale, PillLang lang,
                            const std::optional<std::string>& microphone, double margin);
// The same as PNG data.
std::optional<std::string> png(const PillState& state, double scale, PillLang lang,
                               const std::optional<std::string>& microphone, double margin);

// PNG data of a cairo image surface; none when encoding fails.
std::optional<std::string> encodePNG(cairo_surface_t* surface);

} // namespace talverin::PillSnapshot
