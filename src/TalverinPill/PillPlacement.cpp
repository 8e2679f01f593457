#include "TalverinPill/PillPlacement.h"

#include "TalverinCore/PillMetrics.h"
#include "TalverinPill/PillRects.h"

#include <algorithm>
#include <cmath>

namespace talverin {
namespace {

// The screen whose chosen rectangle shares the largest area with `rect`; the earlier screen
// on a tie, none when no screen shares any.
template <typename Which>
std::optional<PillScreen> bestOverlap(const Rect& rect, const std::vector<PillScreen>& screens,
                                      Which which) {
    const PillScreen* best = nullptr;
    double bestArea = 0;
    for (const PillScreen& screen : screens) {
        const double area = PillRects::overlapArea(which(screen), rect);
        if (area > bestArea) {
            best = &screen;
            bestArea = area;
        }
    }
    return best ? std::optional(*best) : std::nullopt;
}

bool isUsable(const Rect& rect) {
    return std::isfinite(rect.minX()) && std::isfinite(rect.minY()) &&
           std::isfinite(rect.width()) && std::isfinite(rect.height()) && rect.width() > 0 &&
           rect.height() > 0;
}

// The frame of a plain desktop, for when the system reports no screen at all.
constexpr Rect standInFrame{{0, 0}, {1440, 900}};

} // namespace

std::optional<PillScreen> PillPlacement::screen(Point p, const std::vector<PillScreen>& in) {
    for (const PillScreen& screen : in) {
        const Rect& f = screen.frame;
        if (p.x >= f.minX() && p.x < f.maxX() && p.y > f.minY() && p.y <= f.maxY())
            return screen;
    }
    for (const PillScreen& screen : in)
        if (PillRects::contains(PillRects::grown(screen.frame, 1), p))
            return screen;
    return std::nullopt;
}

std::optional<PillScreen> PillPlacement::screen(const Rect& matching,
                                                const std::vector<PillScreen>& in) {
    for (const PillScreen& screen : in)
        if (screen.visibleFrame == matching)
            return screen;
    return bestOverlap(matching, in, [](const PillScreen& s) { return s.visibleFrame; });
}

std::optional<Rect> PillPlacement::visibleFrame(const std::optional<Rect>& forWindow,
                                                const std::vector<PillScreen>& in) {
    if (!forWindow || !isUsable(*forWindow))
        return std::nullopt;
    const auto screen = bestOverlap(*forWindow, in, [](const PillScreen& s) { return s.frame; });
    return screen ? std::optional(screen->visibleFrame) : std::nullopt;
}

Rect PillPlacement::visibleFrame(Point pointer, const std::vector<PillScreen>& in) {
    if (const auto under = screen(pointer, in))
        return under->visibleFrame;
    return in.empty() ? standInFrame : in.front().visibleFrame;
}

Rect PillPlacement::visibleFrame(std::optional<std::uint32_t> afterScreensChange, Point pointer,
                                 const std::vector<PillScreen>& in) {
    if (afterScreensChange) {
        const auto same = std::find_if(
            in.begin(), in.end(), [&](const PillScreen& s) { return s.id == *afterScreensChange; });
        if (same != in.end())
            return same->visibleFrame;
    }
    return visibleFrame(pointer, in);
}

Rect PillPlacement::frame(Size size, const Rect& on) {
    const double x = size.width >= on.width()
                         ? on.minX()
                         : std::min(std::max(std::round(on.midX() - size.width / 2), on.minX()),
                                    on.maxX() - size.width);
    return {{x, std::round(on.minY() + PillMetrics::bottomGap)}, size};
}

} // namespace talverin
