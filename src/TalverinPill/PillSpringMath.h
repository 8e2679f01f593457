#pragma once

#include "TalverinCore/PillMetrics.h"

namespace talverin {

// The closed-form motion of the pill's springs for a unit step from 0 to 1. Pure: any thread.
class PillSpringMath {
public:
    PillSpringMath() = delete;

    struct Motion {
        double x = 0; // position
        double v = 0; // velocity, per second
    };

    // Where the spring is `t` seconds after the step.
    static Motion state(const PillMetrics::Spring& spring, double t);
    // The farthest it goes past 1 in the first 2 s; 0 for a spring that never does.
    static double overshoot(const PillMetrics::Spring& spring);
    // When it has come to rest, in whole 10 ms: the first such instant after the last one at
    // which it still moved faster than 0.05 per second or stood 0.001 or more away from 1.
    static double settleTime(const PillMetrics::Spring& spring);
};

} // namespace talverin
