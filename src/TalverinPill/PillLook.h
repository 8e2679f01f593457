#pragma once

#include "TalverinCore/ScreenGeometry.h"

namespace talverin {

// The pill shape's size and corners.
struct PillLook {
    Size size{44, 44};
    double topRadius = 22;
    double bottomRadius = 22;
    // 1 for a shape hanging from the camera housing, 0 for a free pill; the views draw the
    // island in proportion while it animates between the two.
    double islandness = 0;

    bool operator==(const PillLook&) const = default;
};

} // namespace talverin
