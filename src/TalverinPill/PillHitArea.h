#pragma once

#include "TalverinCore/ScreenGeometry.h"
#include "TalverinPill/PillRects.h"

#include <algorithm>
#include <vector>

namespace talverin {

// Where the pointer counts as being on the pill: one or more rectangles.
struct PillHitArea {
    std::vector<Rect> rects;

    bool contains(Point p) const {
        return std::any_of(rects.begin(), rects.end(),
                           [&](const Rect& rect) { return PillRects::contains(rect, p); });
    }

    bool operator==(const PillHitArea&) const = default;
};

} // namespace talverin
