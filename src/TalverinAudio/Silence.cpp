#include "TalverinAudio/Silence.h"

#include "TalverinAudio/SilenceGate.h"

#include <algorithm>

namespace talverin::Silence {

bool isSpeechFrame(float rms, float floor) {
    return rms > std::max(floor * noiseFactor, minRMS);
}

std::vector<bool> speechFrames(std::span<const float> frameRMS) {
    const std::size_t n = frameRMS.size();
    std::vector<bool> flags(n);
    for (std::size_t i = 0; i < n; ++i) {
        std::size_t first = i > floorWindow ? i - floorWindow : 0;
        std::size_t last = std::min(i + floorWindow, n - 1);
        float floor = *std::min_element(frameRMS.begin() + static_cast<std::ptrdiff_t>(first),
                                        frameRMS.begin() + static_cast<std::ptrdiff_t>(last) + 1);
        flags[i] = isSpeechFrame(frameRMS[i], floor);
    }
    return flags;
}

bool isSpeech(std::span<const float> samples) {
    SilenceGate gate;
    gate.append(samples);
    return gate.hasSpeech();
}

} // namespace talverin::Silence
