#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace talverin {

// The loudness of one capture, gathered frame by frame as its samples arrive, so that the
// speech decision at the end costs one pass over a float per 0.1 s. Only ever appended to.
struct SilenceGate {
    // The RMS of every completed frame, in order.
    std::vector<float> frameRMS;

    void append(std::span<const float> samples);

    // frameRMS, plus the unfinished frame once it holds at least half a frame: the tail of a
    // clip counts when it is 0.05 s long.
    std::vector<float> frames() const;
    std::size_t speechFrameCount() const;
    bool hasSpeech() const;

private:
    float m_sum = 0;         // squares of the frame being filled
    std::size_t m_count = 0; // samples in the frame being filled
};

} // namespace talverin
