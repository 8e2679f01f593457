#pragma once

#include "TalverinPill/PillAnimator.h"

#include <cairo.h>

namespace talverin {

class PillModel;

// The live overlay at one instant: the model's scene drawn with the values the animator
// presents for that instant, in the window's coordinates (y down).
struct PillAnimatedView {
    const PillModel& model;
    const PillAnimator::Frame& frame;
    double time = 0;          // for the pulsing dots: seconds since 2001-01-01 UTC
    bool stopPressed = false; // the stop button is held down
    bool shadows = true;      // soft shadows, only where a compositor blends them

    void draw(cairo_t* cr) const;
};

} // namespace talverin
