#pragma once

#include "TalverinCloud/OpusFrameEncoder.h"

namespace talverin {

// The Opus encoder of libopus, tuned for speech (OPUS_APPLICATION_VOIP).
class OpusFrameEncoderLibopus final : public OpusFrameEncoder {
public:
    // Any thread. An OpusEncoderMaker.
    static Result<std::unique_ptr<OpusFrameEncoder>, OpusFrameError> make(int rate, int frameSize,
                                                                          int bitRate);
    ~OpusFrameEncoderLibopus() override;

    int lookahead() const override { return m_lookahead; }
    Result<std::vector<std::uint8_t>, OpusFrameError>
    encodeFrame(std::span<const float> frame) override;

    struct Handle;

private:
    OpusFrameEncoderLibopus(std::unique_ptr<Handle> handle, int lookahead);

    std::unique_ptr<Handle> m_handle;
    int m_lookahead = 0;
};

} // namespace talverin
