#pragma once

#include "TalverinPill/PillAnim.h"

#include <array>
#include <cstddef>
#include <optional>

namespace talverin {

// The motion of one animated value of the overlay, as a pure function of time: where it was
// when its target last changed, how fast it moved then, the target and the animation that
// carries it there. A new target starts from the value and velocity presented at that instant,
// so a spring that is interrupted bends towards the new target instead of jumping.
namespace PillMotionMath {

// The y of a cubic Bezier easing curve at the x `progress` (0 to 1).
double ease(const ThemeTokens::Curve& curve, double progress);

// The deviation from the target and its velocity, `t` seconds after a spring let go of a
// deviation `d0` moving at `v0`.
struct Deviation {
    double d = 0;
    double v = 0;
};
Deviation spring(const PillMetrics::Spring& spring, double d0, double v0, double t);

// How long, in whole 10 ms, the spring takes from (d0, v0) until it stays within 0.001 of the
// larger of its start deviation and its start velocity times the response, moving slower than
// 0.05 of it per second. For a unit step from rest this is `PillSpringMath::settleTime`.
double settleTime(const PillMetrics::Spring& spring, double d0, double v0);

} // namespace PillMotionMath

template <std::size_t N> class PillTrack {
public:
    using Value = std::array<double, N>;

    explicit PillTrack(Value value = {}) : m_from(value), m_to(value) {}

    // The value shown at `now`.
    Value value(double now) const;
    // Its rate of change at `now`, per second.
    Value velocity(double now) const;
    const Value& target() const { return m_to; }
    // The instant from which it stays at its target.
    double end() const { return m_end; }
    bool moving(double now) const { return now < m_end; }

    // Heads for `target` from what is shown at `now`; without an animation it is there at
    // once. A target equal to the present one changes nothing, so a running motion goes on.
    void retarget(const Value& target, const std::optional<PillAnim::Animation>& how, double now);
    // Shows `value` at once and stops.
    void jump(const Value& value);

private:
    Value m_from{};
    Value m_velocity{};
    Value m_to{};
    double m_start = 0;
    double m_end = 0;
    std::optional<PillAnim::Animation> m_how;
};

using PillTrack1 = PillTrack<1>;
using PillTrack2 = PillTrack<2>;

} // namespace talverin
