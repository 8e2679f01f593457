#pragma once

#include "Runtime/Result.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace talverin {

enum class OpusFrameError {
    cannotMake,
    cannotEncode,
};

// The Opus encoder of one clip, one frame at a time. The clip encoders above it keep the
// partial frame between blocks and pad the end, so the encoder itself never sees a short frame.
class OpusFrameEncoder {
public:
    virtual ~OpusFrameEncoder() = default;

    // The owner's thread. Samples at the encoder's rate by which its output lags its input.
    virtual int lookahead() const = 0;
    // The owner's thread. Encodes exactly one frame into one packet. A failure carries the
    // library's error domain and code as its message, or no message when it gave none.
    virtual Result<std::vector<std::uint8_t>, OpusFrameError>
    encodeFrame(std::span<const float> frame) = 0;
};

// Makes a mono encoder for a sample rate, frame size (samples per packet) and bit rate.
// Fails with `cannotMake` when the encoder cannot be had at that rate.
using OpusEncoderMaker = std::function<Result<std::unique_ptr<OpusFrameEncoder>, OpusFrameError>(
    int rate, int frameSize, int bitRate)>;

} // namespace talverin
