#pragma once

#include "TalverinCloud/OpusFrameEncoder.h"

#include <string>

namespace talverin {

// The Opus encoder when the codec library cannot be had: it cannot be made, so the clip
// encoders fall back to WAV as they do for any encoder that fails.
class OpusFrameEncoderNull final : public OpusFrameEncoder {
public:
    explicit OpusFrameEncoderNull(std::string reason) : m_reason(std::move(reason)) {}

    const std::string& reason() const { return m_reason; }

    int lookahead() const override { return 0; }
    Result<std::vector<std::uint8_t>, OpusFrameError> encodeFrame(std::span<const float>) override {
        return fail(OpusFrameError::cannotEncode, "unavailable (" + m_reason + ")");
    }

    // A maker that never makes one, for a clip encoder built without the codec.
    static OpusEncoderMaker maker(std::string reason) {
        return [reason](int, int, int) -> Result<std::unique_ptr<OpusFrameEncoder>, OpusFrameError> {
            return fail(OpusFrameError::cannotMake, "unavailable (" + reason + ")");
        };
    }

private:
    std::string m_reason;
};

} // namespace talverin
