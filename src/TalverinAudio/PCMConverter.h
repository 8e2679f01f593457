#pragma once

#include "TalverinAudio/AudioBlock.h"
#include "TalverinAudio/AudioFormat.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

namespace talverin {

// Turns the blocks of one capture into 16 kHz mono: the channels of each frame are averaged,
// and the result is resampled with libsoxr when the device does not run at 16 kHz already.
// Built lazily from the first block and rebuilt whenever the block format changes. One per
// capture, used only on the audio queue; it fails soft, giving no samples for a block it
// cannot convert.
class PCMConverter {
public:
    // The drain at the end of a stream is bounded, so a misbehaving resampler cannot hold the
    // audio queue.
    static constexpr int drainPasses = 8;
    static constexpr std::size_t drainFrames = 8192;

    PCMConverter();
    ~PCMConverter();
    PCMConverter(const PCMConverter&) = delete;
    PCMConverter& operator=(const PCMConverter&) = delete;

    // The block's samples in 16 kHz mono; empty when the block is empty or cannot be
    // converted. The resampler keeps what it cannot emit yet for the next call.
    std::vector<float> convert(const AudioBlock& block);
    // What the resampler still holds at the end of a stream; afterwards it is reset and
    // takes a new stream of the same format.
    std::vector<float> finish();

    // Output room for one block: the input frames scaled to 16 kHz, plus 64 frames for what
    // the resampler held back from earlier blocks.
    static std::size_t outputCapacity(double inputRate, std::size_t inputFrames);

    const std::optional<AudioFormat>& inputFormat() const { return m_inputFormat; }
    bool hasConverter() const { return m_converter != nullptr; }

private:
    class Converter;

    std::unique_ptr<Converter> m_converter;
    std::optional<AudioFormat> m_inputFormat;
};

} // namespace talverin
