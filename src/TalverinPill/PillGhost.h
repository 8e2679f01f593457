#pragma once

#include "TalverinCore/PillSpot.h"
#include "TalverinPill/PillShapeTarget.h"

namespace talverin {

// A drop-spot outline shown while the pill is dragged: the shape the pill would take there.
struct PillGhost {
    PillSpot spot;
    PillShapeTarget target;

    bool operator==(const PillGhost&) const = default;
};

} // namespace talverin
