#pragma once

#include "TalverinCore/ScreenGeometry.h"

#include <cstdint>
#include <optional>

namespace talverin {

// A value snapshot of one display, in the core's screen coordinates.
struct PillScreen {
    std::uint32_t id = 0;      // the display's number; 0 when the system gives none
    Rect frame;                // the whole display
    Rect visibleFrame;         // the display without the panels and docks that reserve its edges
    std::optional<Rect> notch; // the camera housing at the top edge, on displays that have one

    // The camera housing of a display from its safe-area top inset and the widths of the two
    // usable areas left and right of the camera (none when the display reports no such area).
    // There is a housing only when the inset is positive and the two areas leave room between
    // them.
    static std::optional<Rect> notchFrom(const Rect& frame, double safeTop,
                                         std::optional<double> leftWidth,
                                         std::optional<double> rightWidth);

    bool operator==(const PillScreen&) const = default;
};

} // namespace talverin
