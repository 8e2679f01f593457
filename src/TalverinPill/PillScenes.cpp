// The motion scenes of the image export: the pill in one stage at a spot of a mock display,
// with the display's reserved edges, the drop-spot ghosts and the hint bubble where a scene
// has them.
#include "TalverinPill/PillSnapshot.h"

#include "TalverinPill/PillColor.h"
#include "TalverinPill/PillCopy.h"
#include "TalverinPill/PillGeometry.h"
#include "TalverinPill/PillOverlayViews.h"
#include "TalverinPill/PillRects.h"
#include "TalverinPill/PillScreen.h"
#include "TalverinPill/PillFace.h"
#include "TalverinPill/PillView.h"

#include <algorithm>
#include <functional>

namespace talverin::PillSnapshot {
namespace {

using RGBA = ThemeTokens::RGBA;

const PillScreen plainScreen{1, {{0, 0}, {1512, 982}}, {{0, 70}, {1512, 879}}, std::nullopt};
const PillScreen notchedScreen{
    2, {{0, 0}, {1512, 982}}, {{0, 4}, {1512, 941}}, Rect{{661, 945}, {190, 37}}};

constexpr RGBA displayColour{0.56, 0.6, 0.68, 1};
constexpr RGBA visibleColour{0.765, 0.788, 0.843, 1};
constexpr RGBA offScreenColour{0.055, 0.055, 0.078, 1};
constexpr RGBA desktopColour{0.427, 0.478, 0.573, 1};
constexpr RGBA windowColour{0.925, 0.933, 0.957, 1};
constexpr double notchRadius = 9;

enum class Layout { alone, spot, island, spotDrag, freeDrag };

struct SceneInfo {
    Layout layout;
    PillSpot spot;
    PillStage::Kind stage;  // `pill` for a state
    bool listening = false; // the state, for a pill: listening, else inserted
};

SceneInfo infoOf(Scene scene) {
    using K = PillStage::Kind;
    switch (scene) {
    case Scene::idle:
        return {Layout::alone, PillSpot::bottomCenter, K::bar};
    case Scene::hover:
        return {Layout::alone, PillSpot::bottomCenter, K::hover};
    case Scene::drop:
        return {Layout::alone, PillSpot::bottomCenter, K::drop};
    case Scene::islandRest:
        return {Layout::island, PillSpot::topCenter, K::bar};
    case Scene::islandHover:
        return {Layout::island, PillSpot::topCenter, K::hover};
    case Scene::islandListening:
        return {Layout::island, PillSpot::topCenter, K::pill, true};
    case Scene::islandInserted:
        return {Layout::island, PillSpot::topCenter, K::pill, false};
    case Scene::spotMiddleRightIdle:
        return {Layout::spot, PillSpot::middleRight, K::bar};
    case Scene::spotMiddleRightHover:
        return {Layout::spot, PillSpot::middleRight, K::hover};
    case Scene::spotMiddleLeftHover:
        return {Layout::spot, PillSpot::middleLeft, K::hover};
    case Scene::spotMiddleRightDrop:
        return {Layout::spot, PillSpot::middleRight, K::drop};
    case Scene::spotMiddleRightListening:
        return {Layout::spot, PillSpot::middleRight, K::pill, true};
    case Scene::spotMiddleRightDrag:
        return {Layout::spotDrag, PillSpot::middleRight, K::hover};
    case Scene::spotBottomCenterHover:
        return {Layout::spot, PillSpot::bottomCenter, K::hover};
    case Scene::spotTopCenterHover:
        return {Layout::spot, PillSpot::topCenter, K::hover};
    case Scene::spotTopLeftHover:
        return {Layout::spot, PillSpot::topLeft, K::hover};
    case Scene::spotBottomRightHover:
        return {Layout::spot, PillSpot::bottomRight, K::hover};
    case Scene::spotBottomCenterDrag:
        return {Layout::spotDrag, PillSpot::bottomCenter, K::hover};
    case Scene::drag:
        return {Layout::freeDrag, PillSpot::middleRight, K::hover};
    }
    return {Layout::alone, PillSpot::bottomCenter, K::bar};
}

// The items of a scene, each drawn at the centre of a screen rectangle.
struct Item {
    Rect rect;
    std::function<void(cairo_t*, Point centre)> draw;
};

class ScenePainter {
public:
    explicit ScenePainter(PillLang lang)
        : m_lang(lang), m_copy(lang), m_key(PillCopy::keyName(HoldKey::rightOption, lang)),
          m_hoverWidth(PillGeometry::hoverWidth(m_copy.hoverLead(), m_key, pillMeasure)) {}

    std::optional<std::string> paint(Scene scene, double scale) const;

private:
    std::optional<PillState> stateOf(const SceneInfo& info) const {
        if (info.stage != PillStage::Kind::pill)
            return std::nullopt;
        const std::string sentence = m_lang == PillLang::ru ? "давай созвонимся в четверг в три"
                                                            : "let's meet on Thursday at three";
        return info.listening ? PillState::listening(sentence, 0.6f) : PillState::inserted("Notes");
    }

    PillStage stageOf(const SceneInfo& info, const std::optional<PillFace>& face) const {
        switch (info.stage) {
        case PillStage::Kind::pill:
            return PillStage::pill(face ? face->width : 0);
        case PillStage::Kind::hover:
            return PillStage::hover();
        case PillStage::Kind::drop:
            return PillStage::drop();
        case PillStage::Kind::none:
            return PillStage::none();
        case PillStage::Kind::bar:
            break;
        }
        return PillStage::bar();
    }

    // The content shown in a resting form or a lifted pill: the hover hint on an island, the
    // microphone button elsewhere (upright at the side spots).
    PillContentLayer restContent(PillSpot spot, bool island) const {
        if (island)
            return {
                0,
                PillContentLayer::Kind::hover(std::string(m_copy.hoverLead()), m_key, m_hoverWidth),
                0};
        return {0,
                PillContentLayer::Kind::mic(std::string(m_copy.micButton()),
                                            PillGeometry::isSide(spot)),
                0};
    }

    Item shapeItem(const SceneInfo& info, const PillScreen& screen) const {
        const auto state = stateOf(info);
        std::optional<PillFace> face;
        if (state)
            face = PillFace::make(*state, m_lang, std::nullopt, pillMeasure);
        const auto target = PillGeometry::target(stageOf(info, face), info.spot, screen);
        PillShapeView view;
        view.shape.centre = PillRects::centre(target.frame);
        view.shape.look = {target.frame.size, target.topRadius, target.bottomRadius,
                           target.island ? 1.0 : 0.0};
        view.shape.opacity = 1;
        view.shape.scale = 1;
        view.levels = state ? PillView::levels(*state) : std::vector<float>{};
        if (face)
            view.layers.push_back({0, PillContentLayer::Kind::state(*face), 0});
        else if (info.stage == PillStage::Kind::hover)
            view.layers.push_back(restContent(info.spot, target.island));
        view.align = PillGeometry::contentAlign(info.spot, target.island, false);
        return {target.frame, [view](cairo_t* cr, Point centre) { view.draw(cr, centre); }};
    }

    Item liftedItem(PillSpot spot, Point pointer, const PillScreen& screen) const {
        const Size size = PillGeometry::liftedSize(spot, screen, m_hoverWidth);
        const bool island = PillGeometry::isIsland(spot, screen);
        PillShapeView view;
        view.shape.centre = pointer;
        const double radius = std::min(size.width, size.height) / 2;
        view.shape.look = {size, radius, radius, 0};
        view.shape.opacity = 1;
        view.shape.scale = PillGeometry::liftScale;
        view.shape.lift = 1;
        view.layers.push_back(restContent(spot, island));
        view.align = PillGeometry::contentAlign(spot, island, true);
        return {PillRects::centredOn(pointer, size),
                [view](cairo_t* cr, Point centre) { view.draw(cr, centre); }};
    }

    Item bubbleItem(PillSpot spot, const PillScreen& screen) const {
        const auto hover = PillGeometry::target(PillStage::hover(), spot, screen);
        const double width = PillGeometry::bubbleWidth(m_copy.hoverLead(), m_key, pillMeasure);
        PillBubble bubble{PillGeometry::bubbleFrame(hover.frame, spot, width),
                          std::string(m_copy.hoverLead()), m_key, PillGeometry::bubbleSlide(spot)};
        return {bubble.frame,
                [bubble](cairo_t* cr, Point centre) { PillBubbleView{bubble}.draw(cr, centre); }};
    }

    PillLang m_lang;
    PillCopy m_copy;
    std::string m_key;
    double m_hoverWidth;
};

// A screen rectangle in the crop's drawing coordinates.
PillCanvas::Box inCrop(const Rect& rect, const Rect& crop) {
    return {rect.minX() - crop.minX(), crop.maxY() - rect.maxY(), rect.width(), rect.height()};
}

void fillClipped(cairo_t* cr, const Rect& rect, const Rect& crop, RGBA colour) {
    const double minX = std::max(rect.minX(), crop.minX());
    const double maxX = std::min(rect.maxX(), crop.maxX());
    const double minY = std::max(rect.minY(), crop.minY());
    const double maxY = std::min(rect.maxY(), crop.maxY());
    if (maxX <= minX || maxY <= minY)
        return;
    const auto box = inCrop({{minX, minY}, {maxX - minX, maxY - minY}}, crop);
    cairo_rectangle(cr, box.x, box.y, box.width, box.height);
    PillCanvas::fill(cr, colour);
}

void fillCrop(cairo_t* cr, const Rect& crop, RGBA colour) {
    cairo_rectangle(cr, 0, 0, crop.width(), crop.height());
    PillCanvas::fill(cr, colour);
}

void backdrop(cairo_t* cr, const PillScreen& screen, const Rect& crop) {
    fillClipped(cr, screen.frame, crop, displayColour);
    fillClipped(cr, screen.visibleFrame, crop, visibleColour);
    PillCanvas::strokeInside(cr, {0, 0, crop.width(), crop.height()}, 0, 0, 1,
                             PillColor::ghostLine(), {4, 3});
}

// A shape with a square top and rounded lower corners, like the camera housing.
void hangingShape(cairo_t* cr, const PillCanvas::Box& box, RGBA colour) {
    PillCanvas::roundedPath(cr, box, 0, notchRadius);
    PillCanvas::fill(cr, colour);
}

void drawItems(cairo_t* cr, const std::vector<Item>& items, const Rect& crop) {
    for (const auto& item : items)
        item.draw(cr, {item.rect.midX() - crop.minX(), crop.maxY() - item.rect.midY()});
}

Point dragOffset(PillSpot spot) {
    switch (spot) {
    case PillSpot::topRight:
    case PillSpot::middleRight:
    case PillSpot::bottomRight:
        return {-30, 6};
    case PillSpot::topLeft:
    case PillSpot::middleLeft:
    case PillSpot::bottomLeft:
        return {30, 6};
    case PillSpot::bottomCenter:
        return {50, 16};
    case PillSpot::topCenter:
        return {50, -16};
    }
    return {0, 0};
}

std::optional<std::string> ScenePainter::paint(Scene scene, double scale) const {
    const SceneInfo info = infoOf(scene);
    const double renderScale = sceneScale(scene, scale);
    switch (info.layout) {
    case Layout::alone: {
        const Item shape = shapeItem(info, plainScreen);
        const Rect crop = PillRects::grown(shape.rect, 12);
        return drawPNG(crop.size, renderScale, [&](cairo_t* cr) { drawItems(cr, {shape}, crop); });
    }
    case Layout::spot: {
        const Rect crop = PillGeometry::homeBox(info.spot, plainScreen);
        std::vector<Item> items;
        if (info.stage == PillStage::Kind::hover)
            items.push_back(bubbleItem(info.spot, plainScreen));
        items.push_back(shapeItem(info, plainScreen));
        return drawPNG(crop.size, renderScale, [&](cairo_t* cr) {
            fillCrop(cr, crop, offScreenColour);
            backdrop(cr, plainScreen, crop);
            drawItems(cr, items, crop);
        });
    }
    case Layout::island: {
        const Rect crop = PillGeometry::homeBox(info.spot, notchedScreen);
        const Item shape = shapeItem(info, notchedScreen);
        return drawPNG(crop.size, renderScale, [&](cairo_t* cr) {
            // The desktop, and a light window below the menu bar that the island hangs over.
            fillCrop(cr, crop, desktopColour);
            const double top = crop.maxY() - notchedScreen.visibleFrame.maxY();
            hangingShape(cr, {24, top, crop.width() - 48, crop.height() - top - 12}, windowColour);
            drawItems(cr, {shape}, crop);
        });
    }
    case Layout::spotDrag: {
        const Rect crop = PillGeometry::homeBox(info.spot, plainScreen);
        const auto ghost = PillGeometry::target(PillStage::hover(), info.spot, plainScreen);
        const Point offset = dragOffset(info.spot);
        const Point pointer{ghost.frame.midX() + offset.x, ghost.frame.midY() + offset.y};
        std::vector<Item> items{{ghost.frame,
                                 [ghost](cairo_t* cr, Point centre) {
                                     PillGhostView{ghost, true}.draw(cr, centre);
                                 }},
                                liftedItem(info.spot, pointer, plainScreen)};
        return drawPNG(crop.size, renderScale, [&](cairo_t* cr) {
            fillCrop(cr, crop, offScreenColour);
            backdrop(cr, plainScreen, crop);
            drawItems(cr, items, crop);
        });
    }
    case Layout::freeDrag: {
        const Rect crop = notchedScreen.frame;
        const auto ghosts = PillGeometry::ghosts(notchedScreen);
        Point pointer{0, 0};
        std::vector<PillGeometry::SpotCentre> centres;
        for (const auto& ghost : ghosts) {
            centres.push_back({ghost.spot, PillRects::centre(ghost.target.frame)});
            if (ghost.spot == PillSpot::middleRight)
                pointer = {ghost.target.frame.midX() - 90, ghost.target.frame.midY() + 40};
        }
        const PillSpot nearest = PillGeometry::nearestSpot(pointer, centres, std::nullopt,
                                                           PillGeometry::magnetHysteresis)
                                     .value_or(PillSpot::middleRight);
        std::vector<Item> items;
        for (const auto& ghost : ghosts) {
            const bool hot = ghost.spot == nearest;
            items.push_back(
                {ghost.target.frame, [target = ghost.target, hot](cairo_t* cr, Point centre) {
                     PillGhostView{target, hot}.draw(cr, centre);
                 }});
        }
        const Rect notch = *notchedScreen.notch;
        items.push_back({notch, [notch](cairo_t* cr, Point centre) {
                             hangingShape(cr,
                                          {centre.x - notch.width() / 2,
                                           centre.y - notch.height() / 2, notch.width(),
                                           notch.height()},
                                          PillColor::island());
                         }});
        items.push_back(liftedItem(nearest, pointer, notchedScreen));
        return drawPNG(crop.size, renderScale, [&](cairo_t* cr) {
            fillCrop(cr, crop, desktopColour);
            drawItems(cr, items, crop);
        });
    }
    }
    return std::nullopt;
}

} // namespace

std::string fileName(Scene scene) {
    return "motion-" + std::string(toString(scene));
}

double sceneScale(Scene scene, double scale) {
    return scene == Scene::drag ? std::max(scale * 0.5, 1.0) : scale;
}

std::optional<std::string> scenePNG(Scene scene, double scale, PillLang lang) {
    prepareFonts();
    return ScenePainter(lang).paint(scene, scale);
}

} // namespace talverin::PillSnapshot
