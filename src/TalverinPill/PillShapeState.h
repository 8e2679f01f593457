#pragma once

#include "TalverinCore/ScreenGeometry.h"
#include "TalverinPill/PillAnim.h"
#include "TalverinPill/PillLook.h"

#include <optional>

namespace talverin {

// Where and how the pill's shape is drawn, each value with the animation of its last change.
struct PillShapeState {
    // The screen position of the grab point: the shape's centre while `grab` is the middle.
    Point centre;
    // The point of the shape, as fractions of its size from the bottom-left corner, that
    // `centre` places; the shape grows and shrinks around it.
    Point grab{0.5, 0.5};
    PillLook look;
    double opacity = 0;
    double scale = 0.6;
    double lift = 0; // how far the shape is lifted off the screen during a drag, 0 to 1
    std::optional<PillAnim> moveAnim;
    std::optional<PillAnim> lookAnim;
    std::optional<PillAnim> opacityAnim;
    std::optional<PillAnim> scaleAnim;
    std::optional<PillAnim> liftAnim;

    bool operator==(const PillShapeState&) const = default;
};

} // namespace talverin
