#include "TalverinPill/PillGeometry.h"

#include "TalverinCore/PillMetrics.h"

#include <algorithm>
#include <cmath>

namespace talverin {
namespace {

using Horizontal = PillContentAlign::Horizontal;
using Vertical = PillContentAlign::Vertical;

// The resting window's inner height: room for the upright forms at the sides, and for the
// hint bubble above or below the pill at the centre spots.
double homeInnerHeight(PillSpot spot) {
    if (row(spot) == PillSpotRow::middle)
        return 64;
    return column(spot) == PillSpotColumn::center ? 88 : 44;
}

constexpr double homeInnerWidth = 420;

Rect withOrigin(double x, double y, Size size) {
    return {{x, y}, size};
}

} // namespace

bool PillGeometry::isSide(PillSpot spot) {
    return row(spot) == PillSpotRow::middle;
}

double PillGeometry::sideGap(PillSpot spot) {
    return isSide(spot) ? PillMetrics::sideSpotGap : PillMetrics::sideGap;
}

bool PillGeometry::isIsland(PillSpot spot, const PillScreen& screen) {
    return spot == PillSpot::topCenter && screen.notch.has_value();
}

Size PillGeometry::size(const PillStage& stage, PillSpot spot) {
    return size(stage, std::nullopt, isSide(spot));
}

Size PillGeometry::size(const PillStage& stage, const std::optional<Rect>& notch, bool upright) {
    using Kind = PillStage::Kind;
    if (notch) {
        switch (stage.kind()) {
        case Kind::pill:
            return {std::max(stage.width(), notch->width() + islandWiden),
                    notch->height() + dropSize.height};
        case Kind::hover:
            return {std::max(notch->width(), islandHoverWidth), notch->height() + hoverHeight};
        case Kind::none:
        case Kind::bar:
        case Kind::drop:
            return notch->size;
        }
    }
    switch (stage.kind()) {
    case Kind::pill:
        return {stage.width(), dropSize.height};
    case Kind::bar:
        return upright ? uprightBarSize : barSize;
    case Kind::hover:
        return micHover(upright);
    case Kind::none:
    case Kind::drop:
        return dropSize;
    }
    return dropSize;
}

Size PillGeometry::micHover(bool upright) {
    return upright ? uprightHoverSize : micHoverSize;
}

Rect PillGeometry::anchored(Size size, PillSpot spot, const Rect& rect) {
    double x = rect.midX() - size.width / 2;
    if (column(spot) == PillSpotColumn::left)
        x = rect.minX() + sideGap(spot);
    else if (column(spot) == PillSpotColumn::right)
        x = rect.maxX() - sideGap(spot) - size.width;
    double y = rect.midY() - size.height / 2;
    if (row(spot) == PillSpotRow::top)
        y = rect.maxY() - PillMetrics::topGap - size.height;
    else if (row(spot) == PillSpotRow::bottom)
        y = rect.minY() + PillMetrics::bottomGap;
    return withOrigin(std::round(x), std::round(y), size);
}

Rect PillGeometry::island(Size size, const Rect& notch, const Rect& screenFrame) {
    // A form exactly as wide as the housing takes the housing's own x, so that no rounding can
    // shift it off the hardware by half a point.
    const double x =
        size.width == notch.width() ? notch.minX() : std::round(notch.midX() - size.width / 2);
    return withOrigin(x, screenFrame.maxY() - size.height, size);
}

PillShapeTarget PillGeometry::capsule(const Rect& frame) {
    const double radius = std::min(frame.width(), frame.height()) / 2;
    return {frame, radius, radius, false};
}

PillShapeTarget PillGeometry::target(const PillStage& stage, PillSpot spot,
                                     const PillScreen& screen) {
    if (isIsland(spot, screen)) {
        const Rect& notch = *screen.notch;
        const Rect frame = island(size(stage, notch, false), notch, screen.frame);
        double bottomRadius = islandRestRadius;
        if (stage.kind() == PillStage::Kind::pill)
            bottomRadius = islandPillRadius;
        else if (stage.kind() == PillStage::Kind::hover)
            bottomRadius = islandHoverRadius;
        return {frame, 0, bottomRadius, true};
    }
    return capsule(anchored(size(stage, spot), spot, screen.visibleFrame));
}

Rect PillGeometry::homeBox(PillSpot spot, const PillScreen& screen) {
    if (isIsland(spot, screen)) {
        const Rect& notch = *screen.notch;
        const Size box{boxSize.width, notch.height() + dropSize.height + boxMargin};
        return island(box, notch, screen.frame);
    }
    const Rect inner = anchored({homeInnerWidth, homeInnerHeight(spot)}, spot, screen.visibleFrame);
    return PillRects::grown(inner, boxMargin);
}

PillContentAlign PillGeometry::contentAlign(PillSpot spot, bool island, bool dragging) {
    if (island)
        return PillContentAlign::island();
    if (dragging)
        return PillContentAlign::center();
    // The content hugs the screen edge the spot is anchored to.
    Horizontal horizontal = Horizontal::center;
    if (column(spot) == PillSpotColumn::left)
        horizontal = Horizontal::leading;
    else if (column(spot) == PillSpotColumn::right)
        horizontal = Horizontal::trailing;
    Vertical vertical = Vertical::center;
    if (row(spot) == PillSpotRow::top)
        vertical = Vertical::top;
    else if (row(spot) == PillSpotRow::bottom)
        vertical = Vertical::bottom;
    return {horizontal, vertical};
}

Rect PillGeometry::contentFrame(Size content, const Rect& rect, PillContentAlign align) {
    double x = rect.midX() - content.width / 2;
    if (align.horizontal == Horizontal::leading)
        x = rect.minX();
    else if (align.horizontal == Horizontal::trailing)
        x = rect.maxX() - content.width;
    double y = rect.midY() - content.height / 2;
    if (align.vertical == Vertical::top)
        y = rect.maxY() - content.height;
    else if (align.vertical == Vertical::bottom)
        y = rect.minY();
    return withOrigin(x, y, content);
}

Rect PillGeometry::stopRect(const Rect& content) {
    constexpr double side = 32, padStop = 6;
    return withOrigin(content.maxX() - padStop - side, content.midY() - side / 2, {side, side});
}

Rect PillGeometry::hitRect(const Rect& rect) {
    return PillRects::grown(rect, hitSlop);
}

PillHitArea PillGeometry::hitArea(const PillShapeTarget& target, const PillScreen& screen) {
    const Rect g = hitRect(target.frame);
    if (!target.island || !screen.notch)
        return {{g}};
    const Rect& notch = *screen.notch;
    // Below the menu band the grown shape counts; within it only the housing's column, which
    // reaches past the top edge so that a pointer pushed against the edge still finds it.
    const double band = std::min(screen.visibleFrame.maxY(), notch.minY());
    PillHitArea area;
    if (g.minY() < band)
        area.rects.push_back(withOrigin(g.minX(), g.minY(), {g.width(), band - g.minY()}));
    const double top = std::max(g.maxY(), screen.frame.maxY() + hitSlop);
    area.rects.push_back(withOrigin(notch.minX(), band, {notch.width(), top - band}));
    return area;
}

std::vector<PillGhost> PillGeometry::ghosts(const PillScreen& screen) {
    std::vector<PillGhost> ghosts;
    for (PillSpot spot : allCases<PillSpot>())
        ghosts.push_back({spot, target(PillStage::hover(), spot, screen)});
    return ghosts;
}

std::optional<PillSpot> PillGeometry::nearestSpot(Point pointer,
                                                  const std::vector<SpotCentre>& ghosts,
                                                  std::optional<PillSpot> previous,
                                                  double hysteresis) {
    if (ghosts.empty())
        return std::nullopt;
    const SpotCentre* best = &ghosts.front();
    double bestDistance = PillRects::distance(pointer, best->centre);
    for (const SpotCentre& ghost : ghosts) {
        const double d = PillRects::distance(pointer, ghost.centre);
        if (d < bestDistance) {
            best = &ghost;
            bestDistance = d;
        }
    }
    if (!previous || *previous == best->spot)
        return best->spot;
    const auto kept = std::find_if(ghosts.begin(), ghosts.end(), [&](const SpotCentre& ghost) {
        return ghost.spot == *previous;
    });
    if (kept == ghosts.end())
        return best->spot;
    // The previous spot keeps the pill while it is nearly as near, so that a pointer halfway
    // between two spots does not make the highlight flicker.
    if (PillRects::distance(pointer, kept->centre) - hysteresis < bestDistance)
        return previous;
    return best->spot;
}

Point PillGeometry::clampDrag(Point centre, Size size, const Rect& screen) {
    // The lower bound wins when the pill is larger than the span it may move in.
    auto clamp = [](double value, double low, double high) {
        return std::min(std::max(value, low), std::max(low, high));
    };
    const double ox = dragOvershoot.width, oy = dragOvershoot.height;
    return {
        clamp(centre.x, screen.minX() - ox + size.width / 2, screen.maxX() + ox - size.width / 2),
        clamp(centre.y, screen.minY() - oy + size.height / 2,
              screen.maxY() + oy - size.height / 2)};
}

Point PillGeometry::magnetPoint(Point pointer, Point grab, Size grabbed, const Rect& screen) {
    return clampDrag(
        {pointer.x + (0.5 - grab.x) * grabbed.width, pointer.y + (0.5 - grab.y) * grabbed.height},
        grabbed, screen);
}

Rect PillGeometry::draggedFrame(Point pointer, Point grab, Size size, const Rect& screen) {
    return PillRects::centredOn(magnetPoint(pointer, grab, size, screen), size);
}

Point PillGeometry::grabFraction(Point p, const Rect& rect) {
    auto fraction = [](double value, double origin, double length) {
        return length > 0 ? std::clamp((value - origin) / length, 0.0, 1.0) : 0.5;
    };
    return {fraction(p.x, rect.minX(), rect.width()), fraction(p.y, rect.minY(), rect.height())};
}

Rect PillGeometry::grabbedShape(PillSpot spot, const PillScreen& screen, double hoverWidth) {
    const Rect hover = target(PillStage::hover(), spot, screen).frame;
    if (!isIsland(spot, screen))
        return hover;
    // Off the island the grabbed form is the hint alone, without the housing above it.
    return withOrigin(hover.midX() - hoverWidth / 2, hover.maxY() - hoverHeight,
                      {hoverWidth, hoverHeight});
}

Size PillGeometry::liftedSize(std::optional<PillSpot> spot, const PillScreen& screen,
                              double hoverWidth) {
    if (!spot)
        return micHoverSize;
    if (isIsland(*spot, screen))
        return {hoverWidth, hoverHeight};
    return micHover(isSide(*spot));
}

Point PillGeometry::micCentre(const Rect& rect) {
    return PillRects::centre(rect);
}

bool PillGeometry::isOnStop(Point p, const Rect& stop) {
    // The corners of the square lie beyond the drawn disc, and a click there is a click beside it.
    return PillRects::distance(p, PillRects::centre(stop)) <= stop.size.width / 2;
}

bool PillGeometry::isOnMic(Point p, const Rect& hover) {
    return PillRects::distance(p, micCentre(hover)) <= PillMicMetrics::micSize / 2;
}

double PillGeometry::hoverWidth(std::string_view lead, std::string_view key,
                                const PillMeasure& measure) {
    using namespace PillHoverMetrics;
    const double content = measure(lead, leadSize, leadWeight, false) + 2 * padding + keyGap +
                           2 * keyPadding + measure(key, keySize, keyWeight, false);
    return std::max(2 * std::ceil(content / 2), hoverMinWidth);
}

double PillGeometry::bubbleWidth(std::string_view lead, std::string_view key,
                                 const PillMeasure& measure) {
    using namespace PillHoverMetrics;
    const double text =
        measure(lead, PillBubbleMetrics::textSize, PillBubbleMetrics::textWeight, false);
    return std::ceil(text + 2 * PillBubbleMetrics::padding + PillBubbleMetrics::gap +
                     2 * keyPadding + measure(key, keySize, keyWeight, false));
}

PillBubblePlacement PillGeometry::bubblePlacement(PillSpot spot) {
    switch (column(spot)) {
    case PillSpotColumn::left:
        return PillBubblePlacement::right;
    case PillSpotColumn::right:
        return PillBubblePlacement::left;
    case PillSpotColumn::center:
        break;
    }
    return row(spot) == PillSpotRow::top ? PillBubblePlacement::below : PillBubblePlacement::above;
}

Rect PillGeometry::bubbleFrame(const Rect& pill, PillSpot spot, double width) {
    using namespace PillBubbleMetrics;
    const Size size{width, height};
    const double besideY = std::round(pill.midY() - height / 2);
    const double centredX = std::round(pill.midX() - width / 2);
    switch (bubblePlacement(spot)) {
    case PillBubblePlacement::left:
        return withOrigin(pill.minX() - gapToPill - width, besideY, size);
    case PillBubblePlacement::right:
        return withOrigin(pill.maxX() + gapToPill, besideY, size);
    case PillBubblePlacement::above:
        return withOrigin(centredX, pill.maxY() + gapToPill, size);
    case PillBubblePlacement::below:
        return withOrigin(centredX, pill.minY() - gapToPill - height, size);
    }
    return withOrigin(centredX, pill.maxY() + gapToPill, size);
}

PillVector PillGeometry::bubbleSlide(PillSpot spot) {
    constexpr double slide = PillBubbleMetrics::slide;
    switch (bubblePlacement(spot)) {
    case PillBubblePlacement::right:
        return {-slide, 0};
    case PillBubblePlacement::left:
        return {slide, 0};
    case PillBubblePlacement::below:
        return {0, slide};
    case PillBubblePlacement::above:
        return {0, -slide};
    }
    return {};
}

} // namespace talverin
