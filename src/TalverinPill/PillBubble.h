#pragma once

#include "TalverinCore/ScreenGeometry.h"
#include "TalverinPill/PillVector.h"

#include <string>

namespace talverin {

// The hint bubble beside the pill: "Hold" and the key's name.
struct PillBubble {
    Rect frame;
    std::string lead;
    std::string key;
    PillVector slide; // the offset from which the bubble slides into place

    bool operator==(const PillBubble&) const = default;
};

} // namespace talverin
