#pragma once

#include <array>

// The pulsing dots of the polishing pill.
namespace talverin::PillMotion {

inline constexpr double dotCycle = 1.0; // seconds
// The dots' opacities when motion is reduced: a still picture of the pulse.
inline constexpr std::array<double, 3> staticDots{1.0, 0.62, 0.32};

// Each dot pulses between 0.3 and 1.0 once a second, each next dot 0.2 s later.
double dotOpacity(int index, double time);

} // namespace talverin::PillMotion
