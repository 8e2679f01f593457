#include "TalverinPill/PillSnapshot.h"

#include "Runtime/Bundle.h"
#include "Runtime/PrivateFile.h"
#include "TalverinCore/RefuseReason.h"
#include "TalverinPill/PillColor.h"
#include "TalverinPill/PillFonts.h"
#include "TalverinPill/PillLayout.h"
#include "TalverinPill/PillView.h"

#include <cerrno>
#include <cmath>
#include <mutex>
#include <system_error>

namespace talverin::PillSnapshot {
namespace {

struct SurfaceDeleter {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};

std::shared_ptr<cairo_surface_t> drawSurface(Size size, double scale,
                                             const std::function<void(cairo_t*)>& draw) {
    const int width = static_cast<int>(std::ceil(size.width * scale));
    const int height = static_cast<int>(std::ceil(size.height * scale));
    if (width <= 0 || height <= 0)
        return nullptr;
    std::shared_ptr<cairo_surface_t> surface(
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height), SurfaceDeleter{});
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        return nullptr;
    cairo_t* cr = cairo_create(surface.get());
    cairo_scale(cr, scale, scale);
    draw(cr);
    const bool drawn = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(cr);
    cairo_surface_flush(surface.get());
    return drawn ? surface : nullptr;
}

struct Texts {
    const char* sentence;
    const char* shortText;
    const char* product;
};

Texts textsFor(PillLang lang) {
    if (lang == PillLang::ru)
        return {"давай встретимся в четверг в полдень у главного входа", "привет, это", "Талверин"};
    return {"let's meet on Thursday at noon by the main entrance", "hi, this is", "Talverin"};
}

// Contact sheet geometry, points.
constexpr double sheetPad = 16;
constexpr double rowGap = 12;
constexpr double columnGap = 16;
constexpr double nameWidth = 170;
constexpr Size tile{452, 68};
constexpr double tileRadius = 12;

void drawTile(cairo_t* cr, const Sample& sample, PillLang lang, double x, double y,
              ThemeTokens::RGBA backdrop) {
    cairo_save(cr);
    PillCanvas::roundedPath(cr, {x, y, tile.width, tile.height}, tileRadius, tileRadius);
    cairo_clip(cr);
    cairo_rectangle(cr, x, y, tile.width, tile.height);
    PillCanvas::fill(cr, backdrop);
    if (auto body = PillView{sample.state, lang, sample.microphone}.body())
        body->draw(cr, x + (tile.width - body->width()) / 2,
                   y + (tile.height - PillLayout::height) / 2);
    cairo_restore(cr);
}

// Writes one file of the export and notes it; false after a failure, which is recorded.
bool writeFile(Export& result, const std::filesystem::path& file, const std::string& stem,
               const std::optional<std::string>& data) {
    if (!data) {
        result.failure = SnapshotError{SnapshotError::Kind::renderFailed, stem, 0};
        return false;
    }
    if (int error = PrivateFile::replace(file, *data); error != 0) {
        result.failure = SnapshotError{SnapshotError::Kind::fileSystem, file.string(), error};
        return false;
    }
    result.written.push_back(file);
    return true;
}

} // namespace

void prepareFonts() {
    std::lock_guard guard(PillFonts::lock());
    const auto& folder = Bundle::main().folder();
    PillFonts::loadLocked(folder.empty() ? std::nullopt : std::optional(folder));
}

int Image::pixelWidth() const {
    return cairo_image_surface_get_width(surface.get());
}

int Image::pixelHeight() const {
    return cairo_image_surface_get_height(surface.get());
}

std::optional<std::string> drawPNG(Size size, double scale,
                                   const std::function<void(cairo_t*)>& draw) {
    auto surface = drawSurface(size, scale, draw);
    if (!surface)
        return std::nullopt;
    return encodePNG(surface.get());
}

std::optional<Image> render(const PillState& state, double scale, PillLang lang,
                            const std::optional<std::string>& microphone, double margin) {
    if (state.kind() == PillState::Kind::hidden)
        return std::nullopt;
    prepareFonts();
    auto body = PillView{state, lang, microphone}.body();
    if (!body)
        return std::nullopt;
    const Size size{body->width() + 2 * margin, PillLayout::height + 2 * margin};
    auto surface = drawSurface(size, scale, [&](cairo_t* cr) { body->draw(cr, margin, margin); });
    if (!surface)
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

std::vector<Sample> samples(PillLang lang) {
    const Texts texts = textsFor(lang);
    const std::string sentence = texts.sentence;
    const std::string longText = sentence + " " + sentence + " " + sentence + " " + sentence;
    std::vector<Sample> list{
        {"listening-empty", PillState::listening("", 0.02f), std::nullopt},
        {"listening-short", PillState::listening(texts.shortText, 0.35f), std::nullopt},
        {"listening-words", PillState::listening(sentence, 0.6f), std::nullopt},
        {"listening-long-loud", PillState::listening(longText, 1.0f), std::nullopt},
        {"polishing", PillState::polishing(), std::nullopt},
        {"inserted", PillState::inserted("Notes"), std::nullopt},
        {"handsFree-start", PillState::handsFree(0, ""), std::nullopt},
        {"handsFree-words", PillState::handsFree(74, sentence), std::nullopt},
        {"voiceEdit-1", PillState::voiceEdit(1), std::nullopt},
        {"voiceEdit-3", PillState::voiceEdit(3), std::nullopt},
        {"voiceEdit-12", PillState::voiceEdit(12), std::nullopt},
        {"copied", PillState::copied(), std::nullopt},
        {"learned", PillState::learned(texts.product), std::nullopt},
        {"learned-long", PillState::learned("Pneumonoultramicroscopicsilicovolcanoconiosis"),
         std::nullopt},
        {"offline", PillState::offline(), std::nullopt},
        {"silence-mic", PillState::silence(), "MacBook Pro Microphone"},
        {"silence", PillState::silence(), std::nullopt},
    };
    for (auto reason : allCases<RefuseReason>())
        list.push_back(
            {"refused-" + std::string(toString(reason)), PillState::refused(reason), std::nullopt});
    list.push_back({"limit", PillState::limit(), std::nullopt});
    return list;
}

Size sheetSize(std::size_t rows) {
    const double n = static_cast<double>(rows);
    return {2 * sheetPad + nameWidth + 2 * columnGap + 2 * tile.width,
            2 * sheetPad + n * tile.height + std::max(0.0, n - 1) * rowGap};
}

std::optional<std::string> sheetPNG(PillLang lang, double scale) {
    prepareFonts();
    const auto list = samples(lang);
    const Size size = sheetSize(list.size());
    return drawPNG(size, scale, [&](cairo_t* cr) {
        cairo_rectangle(cr, 0, 0, size.width, size.height);
        PillCanvas::fill(cr, ThemeTokens::dark.surface1);
        // The names are set in the system's monospaced face: they are file stems, not copy.
        auto* description = pango_font_description_new();
        pango_font_description_set_family(description, "Monospace");
        pango_font_description_set_weight(description, PANGO_WEIGHT_MEDIUM);
        pango_font_description_set_absolute_size(description, 12 * PANGO_SCALE);
        PillFonts::Font nameFont{std::shared_ptr<const PangoFontDescription>(
                                     description,
                                     [](const PangoFontDescription* d) {
                                         pango_font_description_free(
                                             const_cast<PangoFontDescription*>(d));
                                     }),
                                 false, 12, 500};
        double y = sheetPad;
        for (const auto& sample : list) {
            const double midY = y + tile.height / 2;
            PillCanvas::drawText(cr, {{sample.name, PillColor::muted()}}, nameFont, sheetPad, midY,
                                 nameWidth, PillCanvas::Cut::tail);
            double x = sheetPad + nameWidth + columnGap;
            drawTile(cr, sample, lang, x, y, ThemeTokens::dark.bg);
            x += tile.width + columnGap;
            drawTile(cr, sample, lang, x, y, ThemeTokens::light.bg);
            y += tile.height + rowGap;
        }
    });
}

Export writeAll(const std::filesystem::path& folder, double scale,
                const std::vector<PillLang>& langs) {
    Export result;
    for (auto lang : langs) {
        prepareFonts();
        const std::string code(toString(lang));
        const auto langFolder = folder / code;
        std::error_code error;
        std::filesystem::create_directories(langFolder, error);
        if (error) {
            result.failure =
                SnapshotError{SnapshotError::Kind::fileSystem, langFolder.string(), error.value()};
            return result;
        }
        for (const auto& sample : samples(lang)) {
            auto data = png(sample.state, scale, lang, sample.microphone, 8);
            if (!writeFile(result, langFolder / (sample.name + ".png"), sample.name, data))
                return result;
        }
        for (auto scene : allCases<Scene>()) {
            const std::string stem = fileName(scene);
            if (!writeFile(result, langFolder / (stem + ".png"), stem,
                           scenePNG(scene, scale, lang)))
                return result;
        }
        const std::string sheet = "sheet-" + code;
        if (!writeFile(result, folder / (sheet + ".png"), sheet, sheetPNG(lang, scale)))
            return result;
    }
    return result;
}

} // namespace talverin::PillSnapshot
