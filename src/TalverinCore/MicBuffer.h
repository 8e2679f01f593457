#pragma once

#include <memory>
#include <vector>

namespace talverin {

// One block of microphone samples, 16 kHz mono. A block is handed from the audio queue to the
// live draft, the clip encoder and the level meter, and queued onward by each; its samples are
// shared and never change, so every hand-on copies a pointer, not the audio.
class MicBuffer {
public:
    MicBuffer(std::vector<float> samples, float level, double time)
        : m_samples(std::make_shared<const std::vector<float>>(std::move(samples))), m_level(level),
          m_time(time) {}

    const std::vector<float>& samples() const { return *m_samples; }
    // The block's level, 0 to 1.
    float level() const { return m_level; }
    // Uptime in seconds when the block was captured.
    double time() const { return m_time; }

private:
    std::shared_ptr<const std::vector<float>> m_samples;
    float m_level;
    double m_time;
};

} // namespace talverin
