#include "TalverinPill/PillFonts.h"

#include "Runtime/Bundle.h"
#include "TalverinCore/CoreLog.h"
#include "TalverinCore/ThemeTokens.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <system_error>
#include <tuple>
#include <vector>

#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>
#include <pango/pangofc-fontmap.h>

namespace talverin::PillFonts {
namespace {

struct PatternDeleter {
    void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
using PatternPtr = std::unique_ptr<FcPattern, PatternDeleter>;

struct DescriptionDeleter {
    void operator()(const PangoFontDescription* description) const {
        pango_font_description_free(const_cast<PangoFontDescription*>(description));
    }
};

// The faces found by a successful attempt: the first file's family, then those of the other
// files that loaded, in file order.
struct Faces {
    std::string primary;
    std::vector<std::string> fallbacks;
};

using Key = std::tuple<double, double, bool>; // size, weight, tabular

struct State {
    std::mutex lock;
    bool attempted = false;
    int registeredCount = 0;
    std::optional<Faces> faces;
    std::map<Key, Font> cache;
};

State& state() {
    // Never destroyed: fonts may be measured from threads that outlive static destruction.
    static State* shared = new State;
    return *shared;
}

// A development tree keeps the bundle's fonts in its resources folder.
constexpr std::string_view developmentFonts = "resources/fonts";
constexpr int climbLimit = 12;

bool holdsProbe(const std::filesystem::path& folder) {
    std::error_code error;
    return std::filesystem::is_regular_file(folder / ThemeTokens::Fonts::files.front(), error);
}

std::optional<std::filesystem::path> climbFrom(const std::filesystem::path& start) {
    std::error_code error;
    std::filesystem::path folder = std::filesystem::weakly_canonical(start, error);
    if (error)
        folder = start.lexically_normal();
    for (int level = 0; level < climbLimit; ++level) {
        if (holdsProbe(folder / developmentFonts))
            return folder / developmentFonts;
        if (folder.parent_path() == folder)
            break;
        folder = folder.parent_path();
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> mainResources() {
    const auto& folder = Bundle::main().folder();
    if (folder.empty())
        return std::nullopt;
    return folder;
}

// Whether the whole file can be read; its bytes are not kept, since fontconfig reads the
// decoded face beside it.
bool readable(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    if (!stream)
        return false;
    std::string bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    return !stream.bad();
}

// The face of one font file. Pango ignores WOFF2 faces registered through fontconfig, so each
// .woff2 ships with the TrueType face decoded from it (X.ttf beside X.woff2), and that is the
// file that gives the face; a missing or broken one means the file has no face.
PatternPtr faceOf(const std::filesystem::path& woff2) {
    if (!readable(woff2))
        return nullptr;
    auto ttf = woff2;
    ttf.replace_extension(".ttf");
    int count = 0;
    auto* pattern =
        FcFreeTypeQuery(reinterpret_cast<const FcChar8*>(ttf.c_str()), 0, nullptr, &count);
    return PatternPtr(pattern);
}

std::string familyOf(const FcPattern* pattern) {
    FcChar8* family = nullptr;
    if (FcPatternGetString(pattern, FC_FAMILY, 0, &family) != FcResultMatch || family == nullptr)
        return {};
    return reinterpret_cast<const char*>(family);
}

void registerFace(const std::filesystem::path& woff2) {
    auto ttf = woff2;
    ttf.replace_extension(".ttf");
    // Adding a file fontconfig already knows succeeds, so a second caller is accepted quietly.
    if (!FcConfigAppFontAddFile(nullptr, reinterpret_cast<const FcChar8*>(ttf.c_str())))
        CoreLog::write("PillFonts: registration error 0");
}

int attempt(State& shared, const std::optional<std::filesystem::path>& resources) {
    if (shared.attempted)
        return shared.registeredCount;
    shared.attempted = true;
    auto folder = fontsDirectory(resources);
    if (!folder) {
        CoreLog::write("PillFonts: font files not found, using the system font");
        return 0;
    }
    const auto& files = ThemeTokens::Fonts::files;
    std::vector<std::optional<std::string>> families;
    for (auto name : files) {
        auto file = *folder / name;
        auto face = faceOf(file);
        if (!face) {
            families.push_back(std::nullopt);
            continue;
        }
        registerFace(file);
        families.push_back(familyOf(face.get()));
    }
    int obtained = 0;
    for (const auto& family : families)
        obtained += family ? 1 : 0;
    if (obtained < static_cast<int>(files.size()))
        CoreLog::write("PillFonts: " + std::to_string(files.size() - obtained) + " of " +
                       std::to_string(files.size()) + " font files missing");
    if (!families.front()) {
        CoreLog::write("PillFonts: no primary font file, using the system font");
        return 0;
    }
    Faces faces{*families.front(), {}};
    for (std::size_t i = 1; i < families.size(); ++i)
        if (families[i])
            faces.fallbacks.push_back(*families[i]);
    shared.faces = std::move(faces);
    shared.registeredCount = obtained;
    // This thread's font map may have listed the fonts before these were added.
    pango_fc_font_map_config_changed(PANGO_FC_FONT_MAP(pango_cairo_font_map_get_default()));
    return obtained;
}

std::string familiesLocked(const State& shared) {
    if (!shared.faces)
        return std::string(systemFamily);
    std::string list = shared.faces->primary;
    for (const auto& fallback : shared.faces->fallbacks)
        if (list.find(fallback) == std::string::npos)
            list += "," + fallback;
    return list + "," + std::string(systemFamily);
}

// The weight axis's setting for pango ("wght=500"), written the same in every locale: GTK
// sets the number locale from the environment, and pango would read "500,5" as "500".
std::string weightVariation(double weight) {
    char number[64];
    const auto written = std::to_chars(number, number + sizeof number, weight);
    return "wght=" + std::string(number, written.ptr);
}

Font make(const State& shared, double size, double weight, bool tabular) {
    auto* description = pango_font_description_new();
    // Set as a list, never parsed from a string: the Cyrillic face's only family name ends in
    // "ExtraLight", which a parser would read as a weight.
    pango_font_description_set_family(description, familiesLocked(shared).c_str());
    pango_font_description_set_absolute_size(description, size * PANGO_SCALE);
    if (shared.faces) {
        const int nearest = static_cast<int>(std::lround(std::clamp(weight, 100.0, 1000.0)));
        pango_font_description_set_weight(description, static_cast<PangoWeight>(nearest));
        pango_font_description_set_variations(description, weightVariation(weight).c_str());
    } else {
        pango_font_description_set_weight(description, systemWeight(weight));
    }
    return Font{std::shared_ptr<const PangoFontDescription>(description, DescriptionDeleter{}),
                tabular, size, weight};
}

Font fontLocked(State& shared, double size, double weight, bool tabular) {
    Key key{size, weight, tabular};
    if (auto found = shared.cache.find(key); found != shared.cache.end())
        return found->second;
    attempt(shared, mainResources());
    auto made = make(shared, size, weight, tabular);
    shared.cache.emplace(key, made);
    return made;
}

struct ContextDeleter {
    void operator()(PangoContext* context) const { g_object_unref(context); }
};

} // namespace

std::mutex& lock() {
    return state().lock;
}

int loadLocked(const std::optional<std::filesystem::path>& resources) {
    return attempt(state(), resources);
}

int registerFonts(const std::optional<std::filesystem::path>& resources) {
    std::lock_guard guard(state().lock);
    return attempt(state(), resources);
}

bool isLoaded() {
    std::lock_guard guard(state().lock);
    attempt(state(), mainResources());
    return state().faces.has_value();
}

Font font(double size, double weight, bool tabular) {
    std::lock_guard guard(state().lock);
    return fontLocked(state(), size, weight, tabular);
}

std::string families() {
    std::lock_guard guard(state().lock);
    return familiesLocked(state());
}

double typographicWidth(std::string_view text, double size, double weight, bool tabular) {
    if (text.empty())
        return 0;
    auto made = font(size, weight, tabular);
    // One context per thread: pango's font maps are per thread too.
    thread_local std::unique_ptr<PangoContext, ContextDeleter> context(newContext());
    auto* layout = newLayout(context.get(), text, made);
    PangoRectangle logical{};
    pango_layout_get_extents(layout, nullptr, &logical);
    g_object_unref(layout);
    return static_cast<double>(logical.width) / PANGO_SCALE;
}

double width(std::string_view text, double size, double weight, bool tabular) {
    return std::ceil(typographicWidth(text, size, weight, tabular));
}

std::optional<std::filesystem::path>
fontsDirectory(const std::optional<std::filesystem::path>& resources) {
    if (resources) {
        for (const auto& folder : {*resources / "fonts", *resources})
            if (holdsProbe(folder))
                return folder;
    }
    std::vector<std::filesystem::path> starts;
    if (auto bundle = mainResources())
        starts.push_back(*bundle);
    std::error_code error;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error)
        starts.push_back(executable.parent_path());
    auto current = std::filesystem::current_path(error);
    if (!error)
        starts.push_back(current);
    for (const auto& start : starts)
        if (auto found = climbFrom(start))
            return found;
    return std::nullopt;
}

PangoWeight systemWeight(double weight) {
    struct Band {
        double below;
        PangoWeight weight;
    };
    // Pango's thin (100) is lighter than its ultra light (200).
    static constexpr Band bands[] = {{150, PANGO_WEIGHT_THIN},   {250, PANGO_WEIGHT_ULTRALIGHT},
                                     {350, PANGO_WEIGHT_LIGHT},  {475, PANGO_WEIGHT_NORMAL},
                                     {550, PANGO_WEIGHT_MEDIUM}, {675, PANGO_WEIGHT_SEMIBOLD},
                                     {750, PANGO_WEIGHT_BOLD},   {850, PANGO_WEIGHT_ULTRABOLD}};
    for (const auto& band : bands)
        if (weight < band.below)
            return band.weight;
    return PANGO_WEIGHT_HEAVY;
}

PangoContext* newContext() {
    auto* context = pango_font_map_create_context(pango_cairo_font_map_get_default());
    pango_cairo_context_set_resolution(context, 72);
    applyMeasuringOptions(context);
    return context;
}

void applyMeasuringOptions(PangoContext* context) {
    auto* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    pango_cairo_context_set_font_options(context, options);
    cairo_font_options_destroy(options);
    pango_context_set_round_glyph_positions(context, FALSE);
}

PangoLayout* newLayout(PangoContext* context, std::string_view text, const Font& font) {
    auto* layout = pango_layout_new(context);
    pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));
    pango_layout_set_font_description(layout, font.description.get());
    pango_layout_set_single_paragraph_mode(layout, TRUE);
    if (font.tabular) {
        auto* attributes = pango_attr_list_new();
        pango_attr_list_insert(attributes, pango_attr_font_features_new("tnum=1"));
        pango_layout_set_attributes(layout, attributes);
        pango_attr_list_unref(attributes);
    }
    return layout;
}

} // namespace talverin::PillFonts
