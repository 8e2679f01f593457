#pragma once

#include "TalverinCore/ScreenGeometry.h"
#include "TalverinPill/PillScreen.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace talverin {

// Which screen the pill goes to, and its default frame there. Pure: any thread.
class PillPlacement {
public:
    PillPlacement() = delete;

    // The screen under a point. A point on the edge between two stacked screens belongs to the
    // lower one's top edge, not the upper one's bottom edge; a point just off every screen
    // (within one point) still finds the nearest one.
    static std::optional<PillScreen> screen(Point containing, const std::vector<PillScreen>& in);
    // The screen with exactly that visible frame, else the one whose visible frame overlaps it
    // most.
    static std::optional<PillScreen> screen(const Rect& matching,
                                            const std::vector<PillScreen>& in);

    // The visible frame of the screen that holds most of a window; none for no window, an
    // empty one or one off every screen.
    static std::optional<Rect> visibleFrame(const std::optional<Rect>& forWindow,
                                            const std::vector<PillScreen>& in);
    // The visible frame under the pointer, else of the first screen, else a stand-in frame.
    static Rect visibleFrame(Point pointer, const std::vector<PillScreen>& in);
    // After the screens changed: the screen the pill was on when it is still there (known by
    // its display number, since its frames may have moved), else the one under the pointer.
    static Rect visibleFrame(std::optional<std::uint32_t> afterScreensChange, Point pointer,
                             const std::vector<PillScreen>& in);

    // A frame of that size at the bottom centre of the rectangle, kept inside it.
    static Rect frame(Size size, const Rect& on);
};

} // namespace talverin
