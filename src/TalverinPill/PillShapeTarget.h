#pragma once

#include "TalverinCore/ScreenGeometry.h"

namespace talverin {

// Where the pill's shape goes and how its corners are rounded.
struct PillShapeTarget {
    Rect frame;
    double topRadius = 0;
    double bottomRadius = 0;
    bool island = false; // the shape hangs from the camera housing

    bool operator==(const PillShapeTarget&) const = default;
};

} // namespace talverin
