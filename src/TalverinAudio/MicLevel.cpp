#include "TalverinAudio/MicLevel.h"

#include <algorithm>
#include <cmath>

namespace talverin::MicLevel {

float level(float rms) {
    if (!(rms > 0) || !std::isfinite(rms))
        return 0;
    float db = 20 * std::log10(rms);
    return std::clamp((db - floorDB) / (ceilingDB - floorDB), 0.0f, 1.0f);
}

float level(std::span<const float> samples) {
    if (samples.empty())
        return 0;
    float sum = 0;
    for (float s : samples)
        sum += s * s;
    return level(std::sqrt(sum / static_cast<float>(samples.size())));
}

} // namespace talverin::MicLevel
