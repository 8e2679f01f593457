#include "TalverinSpeech/DraftAudio.h"

#include <algorithm>
#include <cmath>

namespace talverin {

namespace DraftAudio {

const DraftAudioFormat& float32Format() {
    static const DraftAudioFormat format{16000, 1, DraftSampleFormat::float32, false};
    return format;
}

namespace {

// Full scale is symmetric (-32767 to 32767), so a sample and its negation stay mirror images;
// NaN, which a broken filter can produce, is silence.
std::int16_t toInt16(float sample) {
    if (std::isnan(sample))
        return 0;
    if (sample <= -1.0f)
        return -32767;
    return static_cast<std::int16_t>(std::lround(std::min(sample, 1.0f) * 32767.0f));
}

} // namespace

std::optional<DraftPcmBuffer> buffer(const std::vector<float>& samples,
                                     const DraftAudioFormat& format) {
    if (samples.empty() || format.channels != 1)
        return std::nullopt;
    switch (format.common) {
    case DraftSampleFormat::float32:
        return DraftPcmBuffer{format, samples};
    case DraftSampleFormat::int16: {
        std::vector<std::int16_t> converted(samples.size());
        std::transform(samples.begin(), samples.end(), converted.begin(), toInt16);
        return DraftPcmBuffer{format, std::move(converted)};
    }
    case DraftSampleFormat::other:
        break;
    }
    return std::nullopt;
}

float rms(const std::vector<float>& samples) {
    if (samples.empty())
        return 0;
    double sum = 0;
    for (float s : samples)
        sum += static_cast<double>(s) * s;
    return static_cast<float>(std::sqrt(sum / static_cast<double>(samples.size())));
}

} // namespace DraftAudio

} // namespace talverin
