#include "TalverinPill/PillBars.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace talverin::PillBars {

std::vector<double> heights(const std::vector<float>& levels, int count, double minHeight,
                            double maxHeight) {
    std::vector<double> bars;
    if (count < 1)
        return bars;
    const int half = count / 2;
    const auto newest = static_cast<long>(levels.size()) - 1;
    for (int i = -half; i < count - half; ++i) {
        const int m = std::abs(i);
        const float level = levels.empty() ? 0.0f : levels[std::max(0L, newest - m)];
        // The square root lifts quiet speech into view; the level never exceeds full height.
        const double v = level > 0 && std::isfinite(level) ? std::sqrt(std::min(level, 1.0f)) : 0;
        const double t = half > 0 ? static_cast<double>(m) / half : 0;
        bars.push_back(std::round(minHeight + (maxHeight - minHeight) * v * (1 - 0.45 * t * t)));
    }
    return bars;
}

std::vector<float> push(float level, std::vector<float> into) {
    into.push_back(level);
    if (into.size() > static_cast<std::size_t>(history))
        into.erase(into.begin(), into.end() - history);
    return into;
}

} // namespace talverin::PillBars
