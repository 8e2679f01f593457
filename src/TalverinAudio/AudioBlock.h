#pragma once

#include "TalverinAudio/AudioFormat.h"

#include <cstddef>
#include <utility>
#include <vector>

namespace talverin {

// One block of device audio as the input tap delivers it: interleaved 32-bit float frames in
// the device's own rate and channel count. The engine copies the block out of the sound
// server's buffer once; from there it is moved, never copied again.
class AudioBlock {
public:
    AudioBlock() = default;
    AudioBlock(AudioFormat format, std::vector<float> samples)
        : m_format(format), m_samples(std::move(samples)) {}

    const AudioFormat& format() const { return m_format; }
    const std::vector<float>& samples() const { return m_samples; }

    // Whole frames only; a block whose format is unusable has none.
    std::size_t frames() const {
        if (m_format.channels <= 0)
            return 0;
        return m_samples.size() / static_cast<std::size_t>(m_format.channels);
    }

    // Seconds of audio; 0 when the rate is unusable.
    double duration() const {
        return m_format.sampleRate > 0 ? static_cast<double>(frames()) / m_format.sampleRate : 0;
    }

    // A block that can be read as audio at all: a positive rate, at least one channel and
    // nothing but whole frames.
    bool isPCM() const {
        return m_format.sampleRate > 0 && m_format.channels > 0 &&
               m_samples.size() % static_cast<std::size_t>(m_format.channels) == 0;
    }

private:
    AudioFormat m_format;
    std::vector<float> m_samples;
};

} // namespace talverin
