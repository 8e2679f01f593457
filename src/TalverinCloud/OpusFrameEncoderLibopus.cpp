#include "TalverinCloud/OpusFrameEncoderLibopus.h"

#include <string>

#include <opus/opus.h>

namespace talverin {
namespace {

struct OpusEncoderDeleter {
    void operator()(OpusEncoder* encoder) const { opus_encoder_destroy(encoder); }
};

// The largest packet asked of libopus: one 20 ms frame never comes near it (1275 bytes is
// the format's own limit for a single frame).
constexpr int maxPacket = 1500;

// For 20 ms of speech at 32 kbit/s, libopus's default complexity (10) makes the same number
// of bytes as 5 and a waveform that differs by a few hundredths of a decibel, at twice the
// cost; at 10 streaming a clip runs below a hundred times real time on a busy machine.
constexpr int complexity = 5;

Failure<OpusFrameError> libopusFailure(OpusFrameError error, int code) {
    return fail(error, "libopus " + std::to_string(code));
}

} // namespace

struct OpusFrameEncoderLibopus::Handle {
    std::unique_ptr<OpusEncoder, OpusEncoderDeleter> encoder;
};

OpusFrameEncoderLibopus::OpusFrameEncoderLibopus(std::unique_ptr<Handle> handle, int lookahead)
    : m_handle(std::move(handle)), m_lookahead(lookahead) {}

OpusFrameEncoderLibopus::~OpusFrameEncoderLibopus() = default;

Result<std::unique_ptr<OpusFrameEncoder>, OpusFrameError>
OpusFrameEncoderLibopus::make(int rate, int frameSize, int bitRate) {
    if (frameSize <= 0)
        return fail(OpusFrameError::cannotMake, "frame size " + std::to_string(frameSize));
    int status = OPUS_OK;
    auto handle = std::make_unique<Handle>();
    handle->encoder.reset(opus_encoder_create(rate, 1, OPUS_APPLICATION_VOIP, &status));
    if (status != OPUS_OK || !handle->encoder)
        return libopusFailure(OpusFrameError::cannotMake, status);
    status = opus_encoder_ctl(handle->encoder.get(), OPUS_SET_BITRATE(bitRate));
    if (status == OPUS_OK)
        status = opus_encoder_ctl(handle->encoder.get(), OPUS_SET_COMPLEXITY(complexity));
    if (status != OPUS_OK)
        return libopusFailure(OpusFrameError::cannotMake, status);
    opus_int32 lookahead = 0;
    status = opus_encoder_ctl(handle->encoder.get(), OPUS_GET_LOOKAHEAD(&lookahead));
    if (status != OPUS_OK)
        return libopusFailure(OpusFrameError::cannotMake, status);
    return std::unique_ptr<OpusFrameEncoder>(
        new OpusFrameEncoderLibopus(std::move(handle), static_cast<int>(lookahead)));
}

Result<std::vector<std::uint8_t>, OpusFrameError>
OpusFrameEncoderLibopus::encodeFrame(std::span<const float> frame) {
    std::vector<std::uint8_t> packet(maxPacket);
    const opus_int32 size =
        opus_encode_float(m_handle->encoder.get(), frame.data(), static_cast<int>(frame.size()),
                          packet.data(), static_cast<opus_int32>(packet.size()));
    if (size < 0)
        return libopusFailure(OpusFrameError::cannotEncode, size);
    packet.resize(static_cast<std::size_t>(size));
    return packet;
}

} // namespace talverin
