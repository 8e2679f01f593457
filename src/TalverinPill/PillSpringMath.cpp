#include "TalverinPill/PillSpringMath.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace talverin {

PillSpringMath::Motion PillSpringMath::state(const PillMetrics::Spring& spring, double t) {
    const double omega = 2 * std::numbers::pi / spring.response;
    const double zeta = spring.dampingFraction;
    if (zeta < 1) {
        const double omegaD = omega * std::sqrt(1 - zeta * zeta);
        const double decay = std::exp(-zeta * omega * t);
        return {1 - decay * (std::cos(omegaD * t) + zeta * omega / omegaD * std::sin(omegaD * t)),
                omega * omega / omegaD * decay * std::sin(omegaD * t)};
    }
    if (zeta == 1) {
        const double decay = std::exp(-omega * t);
        return {1 - decay * (omega * t + 1), omega * omega * t * decay};
    }
    const double s = std::sqrt(zeta * zeta - 1);
    const double r1 = -omega * (zeta - s), r2 = -omega * (zeta + s);
    const double e1 = std::exp(r1 * t), e2 = std::exp(r2 * t);
    return {(r2 * e1 - r1 * e2) / (r1 - r2) + 1, r1 * r2 * (e1 - e2) / (r1 - r2)};
}

double PillSpringMath::overshoot(const PillMetrics::Spring& spring) {
    double most = 0;
    for (int i = 0; i <= 2000; ++i)
        most = std::max(most, state(spring, i / 1000.0).x - 1);
    return most;
}

double PillSpringMath::settleTime(const PillMetrics::Spring& spring) {
    int lastMoving = 0;
    for (int i = 0; i <= 3000; ++i) {
        const Motion m = state(spring, i / 1000.0);
        if (std::abs(m.v) >= 0.05 || std::abs(1 - m.x) >= 0.001)
            lastMoving = i;
    }
    // Whole milliseconds up to the next whole 10 ms, in integers so that no rounding of a
    // double can land one step early or late.
    return (lastMoving + 10) / 10 * 10 / 1000.0;
}

} // namespace talverin
