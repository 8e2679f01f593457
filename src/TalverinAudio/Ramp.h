#pragma once

#include <vector>

namespace talverin {

// The volumes of one fade.
namespace Ramp {

// One value per step, from the first step after `from` to exactly `to`; a single value when
// the duration or the step is not positive.
std::vector<float> values(float from, float to, double duration, double step);

} // namespace Ramp

} // namespace talverin
