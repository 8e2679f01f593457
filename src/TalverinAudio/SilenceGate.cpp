#include "TalverinAudio/SilenceGate.h"

#include "TalverinAudio/Silence.h"

#include <algorithm>
#include <cmath>

namespace talverin {

void SilenceGate::append(std::span<const float> samples) {
    for (float s : samples) {
        m_sum += s * s;
        if (m_count + 1 == Silence::frameSamples) {
            frameRMS.push_back(std::sqrt(m_sum / static_cast<float>(Silence::frameSamples)));
            m_sum = 0;
            m_count = 0;
        } else {
            ++m_count;
        }
    }
}

std::vector<float> SilenceGate::frames() const {
    std::vector<float> result = frameRMS;
    if (m_count >= Silence::frameSamples / 2)
        result.push_back(std::sqrt(m_sum / static_cast<float>(m_count)));
    return result;
}

std::size_t SilenceGate::speechFrameCount() const {
    auto flags = Silence::speechFrames(frames());
    return static_cast<std::size_t>(std::count(flags.begin(), flags.end(), true));
}

bool SilenceGate::hasSpeech() const {
    return speechFrameCount() >= Silence::minSpeechFrames;
}

} // namespace talverin
