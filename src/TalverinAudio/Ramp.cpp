#include "TalverinAudio/Ramp.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace talverin::Ramp {

std::vector<float> values(float from, float to, double duration, double step) {
    std::size_t count = 1;
    if (duration > 0 && step > 0) {
        // The small allowance keeps 0.12 / 0.01 at 12 steps despite binary rounding.
        count = static_cast<std::size_t>(std::max(1.0, std::ceil(duration / step - 1e-9)));
    }
    std::vector<float> out;
    out.reserve(count);
    for (std::size_t i = 1; i < count; ++i) {
        double fraction = static_cast<double>(i) / static_cast<double>(count);
        out.push_back(static_cast<float>(from + (to - from) * fraction));
    }
    out.push_back(to);
    return out;
}

} // namespace talverin::Ramp
