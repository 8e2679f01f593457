#include "TalverinAudio/PCMConverter.h"

#include "TalverinAudio/PCM.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <utility>

namespace talverin {

// Averages the channels into one and, unless the input already runs at 16 kHz, resamples
// that channel with one soxr resampler. At 16 kHz nothing is held back, so the drain is empty.
class PCMConverter::Converter {
public:
    static std::unique_ptr<Converter> make(const AudioFormat& input) {
        if (!(input.sampleRate > 0) || !std::isfinite(input.sampleRate) || input.channels <= 0)
            return nullptr;
        auto converter = std::unique_ptr<Converter>(new Converter(input.channels));
        if (input.sampleRate == PCM::sampleRate)
            return converter;
        soxr_error_t error = nullptr;
        soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        converter->m_soxr =
            soxr_create(input.sampleRate, PCM::sampleRate, 1, &error, &io, nullptr, nullptr);
        if (error || !converter->m_soxr)
            return nullptr;
        return converter;
    }

    ~Converter() {
        if (m_soxr)
            soxr_delete(m_soxr);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // False when the resampler reports an error.
    bool convert(const AudioBlock& block, std::vector<float>& out) {
        std::vector<float> mono = downmix(block);
        if (!m_soxr) {
            out = std::move(mono);
            return true;
        }
        out.resize(outputCapacity(block.format().sampleRate, mono.size()));
        std::size_t consumed = 0;
        std::size_t produced = 0;
        if (soxr_process(m_soxr, mono.data(), mono.size(), &consumed, out.data(), out.size(),
                         &produced))
            return false;
        out.resize(produced);
        return true;
    }

    std::vector<float> drain() {
        std::vector<float> result;
        if (!m_soxr)
            return result;
        std::vector<float> pass(drainFrames);
        for (int i = 0; i < drainPasses; ++i) {
            std::size_t produced = 0;
            // No input signals the end of the stream.
            if (soxr_process(m_soxr, nullptr, 0, nullptr, pass.data(), pass.size(), &produced))
                break;
            if (produced == 0)
                break;
            result.insert(result.end(), pass.begin(), pass.begin() + produced);
        }
        soxr_clear(m_soxr);
        return result;
    }

private:
    explicit Converter(int channels) : m_channels(channels) {}

    std::vector<float> downmix(const AudioBlock& block) const {
        const std::size_t frames = block.frames();
        const float* in = block.samples().data();
        std::vector<float> mono(frames);
        if (m_channels == 1) {
            std::copy(in, in + frames, mono.begin());
            return mono;
        }
        const float scale = 1.0f / static_cast<float>(m_channels);
        for (std::size_t f = 0; f < frames; ++f) {
            float sum = 0;
            for (int c = 0; c < m_channels; ++c)
                sum += in[f * static_cast<std::size_t>(m_channels) + static_cast<std::size_t>(c)];
            mono[f] = sum * scale;
        }
        return mono;
    }

    int m_channels;
    soxr_t m_soxr = nullptr;
};

PCMConverter::PCMConverter() = default;
PCMConverter::~PCMConverter() = default;

std::size_t PCMConverter::outputCapacity(double inputRate, std::size_t inputFrames) {
    if (!(inputRate > 0))
        return 64;
    double scaled = PCM::sampleRate / inputRate * static_cast<double>(inputFrames);
    return static_cast<std::size_t>(scaled) + 64;
}

std::vector<float> PCMConverter::convert(const AudioBlock& block) {
    if (block.frames() == 0)
        return {};
    if (!m_inputFormat || *m_inputFormat != block.format()) {
        // Whatever the old resampler held belongs to the old format and is dropped with it.
        m_inputFormat = block.format();
        m_converter = Converter::make(block.format());
    }
    if (!m_converter || !block.isPCM())
        return {};
    std::vector<float> out;
    if (!m_converter->convert(block, out))
        return {};
    return out;
}

std::vector<float> PCMConverter::finish() {
    if (!m_converter)
        return {};
    return m_converter->drain();
}

} // namespace talverin
