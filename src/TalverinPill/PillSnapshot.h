#pragma once

#include "TalverinCore/PillState.h"
#include "TalverinCore/EnumTable.h"
#include "TalverinCore/ScreenGeometry.h"
#include "TalverinPill/PillLang.h"

#include <cairo.h>

#include <filesystem>
#include <functional>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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

// Draws into a transparent bitmap of `size` points at `scale` and encodes it as PNG; none when
// the bitmap cannot be made or encoded.
std::optional<std::string> drawPNG(Size size, double scale,
                                   const std::function<void(cairo_t*)>& draw);

// Registers the pill fonts from the main bundle's resources, as every render does first.
void prepareFonts();

// One sample state of the export: the file stem, the state and the microphone name the
// silence state shows.
struct Sample {
    std::string name;
    PillState state;
    std::optional<std::string> microphone;
};

// The 24 sample states of a language, in export order.
std::vector<Sample> samples(PillLang lang);

// The motion scenes: the pill in a stage at a spot of a mock display.
enum class Scene {
    idle,
    hover,
    drop,
    islandRest,
    islandHover,
    islandListening,
    islandInserted,
    spotMiddleRightIdle,
    spotMiddleRightHover,
    spotMiddleLeftHover,
    spotMiddleRightDrop,
    spotMiddleRightListening,
    spotMiddleRightDrag,
    spotBottomCenterHover,
    spotTopCenterHover,
    spotTopLeftHover,
    spotBottomRightHover,
    spotBottomCenterDrag,
    drag,
};
// "motion-" and the scene's raw value; the writer adds ".png".
std::string fileName(Scene scene);

// The scale a scene renders at: the drag scene covers a whole display, so it renders at half
// the scale, never below 1.
double sceneScale(Scene scene, double scale);
// One scene as PNG data; none when it cannot be rendered.
std::optional<std::string> scenePNG(Scene scene, double scale, PillLang lang);
// The contact sheet of a language: every sample over the dark and the light background.
std::optional<std::string> sheetPNG(PillLang lang, double scale);
// The contact sheet's size in points for a number of rows.
Size sheetSize(std::size_t rows);

// Why an export stopped.
struct SnapshotError {
    enum class Kind {
        renderFailed, // `stem` could not be rendered or encoded
        fileSystem,   // a folder or file could not be made; `error` is the errno value
    };
    Kind kind = Kind::renderFailed;
    std::string stem; // the file or folder concerned
    int error = 0;
    bool operator==(const SnapshotError&) const = default;
};

// What an export wrote, in writing order, and the failure that stopped it, if any.
struct Export {
    std::vector<std::filesystem::path> written;
    std::optional<SnapshotError> failure;
};

// For each language in order: its folder ("en", "ru") inside `folder` with every sample and
// scene, then its contact sheet "sheet-<code>.png" beside the language folders. The first
// failure stops the export; what was written stays.
Export writeAll(const std::filesystem::path& folder, double scale,
                const std::vector<PillLang>& langs);

} // namespace talverin::PillSnapshot

namespace talverin {

template <> struct EnumTable<PillSnapshot::Scene> {
    using Scene = PillSnapshot::Scene;
    static constexpr auto entries = std::to_array<EnumEntry<Scene>>({
        {Scene::idle, "idle"},
        {Scene::hover, "hover"},
        {Scene::drop, "drop"},
        {Scene::islandRest, "island-rest"},
        {Scene::islandHover, "island-hover"},
        {Scene::islandListening, "island-listening"},
        {Scene::islandInserted, "island-inserted"},
        {Scene::spotMiddleRightIdle, "spot-mr-idle"},
        {Scene::spotMiddleRightHover, "spot-mr-hover"},
        {Scene::spotMiddleLeftHover, "spot-ml-hover"},
        {Scene::spotMiddleRightDrop, "spot-mr-drop"},
        {Scene::spotMiddleRightListening, "spot-mr-listening"},
        {Scene::spotMiddleRightDrag, "spot-mr-drag"},
        {Scene::spotBottomCenterHover, "spot-bc-hover"},
        {Scene::spotTopCenterHover, "spot-tc-hover"},
        {Scene::spotTopLeftHover, "spot-tl-hover"},
        {Scene::spotBottomRightHover, "spot-br-hover"},
        {Scene::spotBottomCenterDrag, "spot-bc-drag"},
        {Scene::drag, "drag"},
    });
};

} // namespace talverin
