#pragma once

namespace talverin {

// An easing curve from (0, 0) to (1, 1) with the control points (x1, y1) and (x2, y2).
struct CubicBezier {
    double x1 = 0;
    double y1 = 0;
    double x2 = 1;
    double y2 = 1;

    // The curve's y at `x`: 0 for an x that is not a positive number, 1 from 1 on. The curve
    // parameter is found by bisection, which needs no derivative and cannot diverge.
    double operator()(double x) const;
};

} // namespace talverin
