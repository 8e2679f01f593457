#pragma once

#include "TalverinCore/ThemeTokens.h"

#include <cairo.h>

#include <string_view>

// The pill's symbol glyphs, drawn as our own line art so they look the same on every system:
// "checkmark", "pencil", "doc.on.clipboard", "sparkles", "wifi.slash", "mic.slash", "lock",
// "exclamationmark" and "hourglass".
namespace talverin::PillSymbols {

// Whether `name` is one of the glyphs above.
bool known(std::string_view name);

// Draws the glyph centred on (centreX, centreY), `size` points tall, its strokes heavier for a
// heavier weight. An unknown name draws nothing.
void draw(cairo_t* cr, std::string_view name, double centreX, double centreY, double size,
          double weight, ThemeTokens::RGBA colour);

} // namespace talverin::PillSymbols
