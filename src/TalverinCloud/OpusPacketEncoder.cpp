#include "TalverinCloud/OpusPacketEncoder.h"

#include <algorithm>
#include <cmath>

namespace talverin {

using OggOpus::EncodeError;
using OggOpus::EncodeResult;

EncodeResult<std::unique_ptr<OpusPacketEncoder>>
OpusPacketEncoder::create(double rate, std::uint32_t framesPerPacket, int bitRate,
                          const OpusEncoderMaker& maker) {
    const int wholeRate = static_cast<int>(std::lround(rate));
    if (framesPerPacket == 0 || !maker)
        return OggOpus::failure(EncodeError::noEncoder(wholeRate));
    auto codec = maker(wholeRate, static_cast<int>(framesPerPacket), bitRate);
    if (!codec)
        return OggOpus::failure(EncodeError::noEncoder(wholeRate));
    return std::unique_ptr<OpusPacketEncoder>(
        new OpusPacketEncoder(rate, framesPerPacket, std::move(codec).value()));
}

OpusPacketEncoder::OpusPacketEncoder(double rate, std::size_t frameSize,
                                     std::unique_ptr<OpusFrameEncoder> codec)
    : m_rate(rate), m_frameSize(frameSize), m_codec(std::move(codec)) {
    m_pending.reserve(m_frameSize);
}

EncodeResult<void> OpusPacketEncoder::append(std::span<const float> samples) {
    if (m_finished || samples.empty())
        return {};
    if (m_failure)
        return OggOpus::failure(*m_failure);
    m_sampleCount += samples.size();
    while (!samples.empty()) {
        const std::size_t take = std::min(samples.size(), m_frameSize - m_pending.size());
        // A sample that is not a number or infinite would spread through the encoder's
        // filters and spoil the frames around it; it is silence, as in the WAV file.
        for (float sample : samples.first(take))
            m_pending.push_back(std::isfinite(sample) ? sample : 0.0f);
        samples = samples.subspan(take);
        if (auto encoded = encodeWholeFrames(); !encoded)
            return encoded;
    }
    return {};
}

EncodeResult<void> OpusPacketEncoder::encodeWholeFrames() {
    if (m_pending.size() < m_frameSize)
        return {};
    auto packet = m_codec->encodeFrame(m_pending);
    m_pending.clear();
    if (!packet) {
        // A failed encoder is not trusted with later frames either.
        m_failure = EncodeError::convert(packet.message());
        return OggOpus::failure(*m_failure);
    }
    if (!packet->empty())
        m_packets.push_back(std::move(packet).value());
    return {};
}

EncodeResult<std::vector<OggOpus::Bytes>> OpusPacketEncoder::finish() {
    if (!m_finished) {
        m_finished = true;
        if (m_failure)
            return OggOpus::failure(*m_failure);
        // The encoder's output lags its input by its lookahead: without that much silence
        // after the last sample, the end of the clip would never come out of it. Then the
        // last frame is filled up with silence.
        if (m_sampleCount > 0) {
            std::size_t padding = static_cast<std::size_t>(std::max(m_codec->lookahead(), 0));
            padding += (m_frameSize - (m_pending.size() + padding) % m_frameSize) % m_frameSize;
            while (padding > 0) {
                const std::size_t take = std::min(padding, m_frameSize - m_pending.size());
                m_pending.insert(m_pending.end(), take, 0.0f);
                padding -= take;
                if (auto encoded = encodeWholeFrames(); !encoded)
                    return OggOpus::failure(encoded.error());
            }
        }
        m_pending = {};
        m_codec.reset();
    }
    if (m_failure)
        return OggOpus::failure(*m_failure);
    if (m_packets.empty())
        return OggOpus::failure(EncodeError::badPackets());
    for (const auto& packet : m_packets) {
        if (OggOpus::packetSamples(packet) == 0)
            return OggOpus::failure(EncodeError::badPackets());
    }
    return m_packets;
}

} // namespace talverin
