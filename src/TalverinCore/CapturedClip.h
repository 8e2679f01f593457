#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace talverin {

// The whole clip of one dictation, 16 kHz mono, with the speech-presence decision. A clip can
// hold minutes of audio and travels from the microphone to the controller and the encoder; its
// samples are shared and never change.
class CapturedClip {
public:
    CapturedClip(std::vector<float> pcm16kMono, bool speechDetected, std::int64_t durationMs)
        : m_samples(std::make_shared<const std::vector<float>>(std::move(pcm16kMono))),
          m_speechDetected(speechDetected), m_durationMs(durationMs) {}

    // No samples, no speech, no duration: what the microphone answers when nothing was
    // captured.
    static CapturedClip empty() { return CapturedClip({}, false, 0); }

    const std::vector<float>& pcm16kMono() const { return *m_samples; }
    bool speechDetected() const { return m_speechDetected; }
    std::int64_t durationMs() const { return m_durationMs; }

    bool operator==(const CapturedClip& other) const {
        return m_speechDetected == other.m_speechDetected && m_durationMs == other.m_durationMs &&
               *m_samples == *other.m_samples;
    }

private:
    std::shared_ptr<const std::vector<float>> m_samples;
    bool m_speechDetected;
    std::int64_t m_durationMs;
};

} // namespace talverin
