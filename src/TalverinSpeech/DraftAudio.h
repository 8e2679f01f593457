#pragma once

#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

namespace talverin {

// The sample formats a recogniser may take.
enum class DraftSampleFormat { float32, int16, other };

// The audio format of a recognition request.
struct DraftAudioFormat {
    double sampleRate = 16000;
    int channels = 1;
    DraftSampleFormat common = DraftSampleFormat::float32;
    bool interleaved = false;

    bool operator==(const DraftAudioFormat&) const = default;
};

// One block of audio in a request's format, mono.
struct DraftPcmBuffer {
    DraftAudioFormat format;
    std::variant<std::vector<float>, std::vector<std::int16_t>> samples;

    std::size_t frameLength() const {
        return std::visit([](const auto& s) { return s.size(); }, samples);
    }
};

// Microphone blocks as a recogniser takes them.
namespace DraftAudio {

// The format used when a recogniser's own does not suit: 16 kHz mono 32-bit float.
const DraftAudioFormat& float32Format();
// The samples in the format; absent for no samples, a format with other than one channel or
// a sample format other than float32 and int16.
std::optional<DraftPcmBuffer> buffer(const std::vector<float>& samples,
                                     const DraftAudioFormat& format);
// The root mean square of the samples; 0 for none.
float rms(const std::vector<float>& samples);

} // namespace DraftAudio

} // namespace talverin
