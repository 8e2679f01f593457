#pragma once

#include <pango/pango.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

// The pill's own variable fonts (Urbanist for Latin, Manrope for Cyrillic), registered with
// fontconfig once per process, with a cascade to the system font so every glyph has a face.
// All state is process-wide behind one lock; every function may be called from any thread.
namespace talverin::PillFonts {

// The variation axis of the numeric weight, 'wght' as a big-endian number.
inline constexpr std::uint32_t weightAxis = 0x77676874;

// The family the system font is asked for when the pill's own faces are not there.
inline constexpr std::string_view systemFamily = "Sans";

// A font of one size and numeric weight: a description for pango and whether digits should be
// of equal width (a layout feature, not part of the description).
struct Font {
    std::shared_ptr<const PangoFontDescription> description;
    bool tabular = false;
    double size = 0;
    double weight = 400;
};

// The lock behind every value; not re-entrant. `loadLocked` expects it held.
std::mutex& lock();

// The registration attempt with the lock already held: the first call looks for the font
// files (in `resources`, else in a development tree) and registers them; every later call
// returns the first call's count and does nothing else.
int loadLocked(const std::optional<std::filesystem::path>& resources);

// Takes the lock and makes the registration attempt; answers the number of files that gave a
// face in the first attempt, whatever folder a later call names.
int registerFonts(const std::optional<std::filesystem::path>& resources);

// Whether the pill's own faces are in use, making the attempt with the main bundle if needed.
bool isLoaded();

// The cached font for a size in points, a numeric weight (1-1000) and tabular digits.
Font font(double size, double weight, bool tabular);

// One line of `text` in that font, rounded up to a whole point; an empty text measures 0.
double width(std::string_view text, double size, double weight, bool tabular);
// The same line's typographic width, unrounded.
double typographicWidth(std::string_view text, double size, double weight, bool tabular);

// The folder that holds the font files (see the .cpp), or none.
std::optional<std::filesystem::path>
fontsDirectory(const std::optional<std::filesystem::path>& resources);

// The system font's weight band for a numeric weight.
PangoWeight systemWeight(double weight);

// The families in use for the pill's text, primary first, then the fallbacks and the system
// font; only the system font when the pill's own faces are not there.
std::string families();

// A pango context that measures and draws the way the pill's layout assumes: 72 dpi, metrics
// not hinted and glyph positions not rounded, so widths never snap to whole points. The
// caller owns the returned reference.
PangoContext* newContext();
// Puts those font options back on a context, after pango_cairo_update_context has merged a
// surface's own options (which hint metrics) into it.
void applyMeasuringOptions(PangoContext* context);

// A layout of one line of `text` in `font`, with the tabular digits feature when asked.
PangoLayout* newLayout(PangoContext* context, std::string_view text, const Font& font);

} // namespace talverin::PillFonts
