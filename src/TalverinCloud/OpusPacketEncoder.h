#pragma once

#include "TalverinCloud/OggOpus.h"
#include "TalverinCloud/OpusFrameEncoder.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace talverin {

// The Opus encoder of one clip: fed in blocks of any size, finished once, its packets
// validated. Used from one thread at a time.
class OpusPacketEncoder {
public:
    // Fails with `noEncoder` and the rate when no encoder can be made.
    static OggOpus::EncodeResult<std::unique_ptr<OpusPacketEncoder>>
    create(double rate, std::uint32_t framesPerPacket, int bitRate,
           const OpusEncoderMaker& maker = OpusFrameEncoderLibopus::make);

    // Encodes every whole frame the samples complete and keeps the rest for the next block.
    // Ignored after finish() and for no samples.
    OggOpus::EncodeResult<void> append(std::span<const float> samples);
    // Encodes the rest, padded with silence, and answers every packet; `badPackets` when
    // there is none or one is not valid Opus. A second call answers the same again.
    OggOpus::EncodeResult<std::vector<OggOpus::Bytes>> finish();

    double rate() const { return m_rate; }
    const std::vector<OggOpus::Bytes>& packets() const { return m_packets; }

private:
    OpusPacketEncoder(double rate, std::size_t frameSize, std::unique_ptr<OpusFrameEncoder> codec);
    OggOpus::EncodeResult<void> encodeWholeFrames();

    double m_rate;
    std::size_t m_frameSize;
    std::unique_ptr<OpusFrameEncoder> m_codec;
    std::vector<OggOpus::Bytes> m_packets;
    // Samples of a frame not yet complete; always fewer than one frame between calls.
    std::vector<float> m_pending;
    std::uint64_t m_sampleCount = 0;
    bool m_finished = false;
    std::optional<OggOpus::EncodeError> m_failure;
};

} // namespace talverin
