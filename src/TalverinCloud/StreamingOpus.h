#pragma once

#include "Runtime/SerialQueue.h"
#include "TalverinCloud/EncodedClip.h"
#include "TalverinCloud/OpusFrameEncoder.h"
#include "TalverinCloud/OpusFrameEncoderLibopus.h"
#include "TalverinCore/ClipEncoding.h"
#include "TalverinCore/MicBuffer.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace talverin {

class OpusPacketEncoder;

// Encodes one dictation's audio while the user speaks, on a serial queue of its own, so that
// on release only the last packets remain to be made. Keeps every sample as well, for the
// one-pass encoding or the WAV file that stand in when streaming fails.
class StreamingOpus final : public ClipEncoding {
public:
    StreamingOpus(std::uint32_t serial, bool opusAllowed,
                  OpusEncoderMaker maker = OpusFrameEncoderLibopus::make);
    // A random serial, Opus allowed.
    StreamingOpus();
    ~StreamingOpus() override;
    StreamingOpus(const StreamingOpus&) = delete;
    StreamingOpus& operator=(const StreamingOpus&) = delete;

    // Any thread (the microphone's audio thread). Hands 16 kHz mono samples to the queue and
    // returns at once; no samples schedules nothing.
    void append(const MicBuffer& buffer) override;
    void append(std::span<const float> samples);
    void append(std::vector<float>&& samples);
    // Any thread but the queue's own. Waits until every block appended before it has been
    // fed, then answers the clip; every later call answers the same clip.
    EncodedClip finishClip();
    // As finishClip(), the clip's bytes only: what the dictation sends.
    std::vector<std::uint8_t> finish() override;
    // Any thread. Drops the samples and the encoder; a finish after it answers an empty WAV,
    // unless the clip was already finished.
    void cancel() override;
    // Any thread but the queue's own. Samples received since creation or the last cancel.
    std::int64_t sampleCount();

private:
    void feed(const std::vector<float>& block);
    EncodedClip finishOnQueue();
    EncodedClip finishStreamed(std::int64_t count, std::string& label);
    static EncodedClip onePass(std::span<const float> samples, const OpusEncoderMaker& maker,
                               std::string& label);

    // Every field below is read and written on the queue only.
    std::uint32_t m_serial;
    bool m_opusAllowed;
    OpusEncoderMaker m_maker;
    std::unique_ptr<OpusPacketEncoder> m_encoder;
    bool m_streamFailed = false;
    std::vector<float> m_samples;
    std::int64_t m_fedCount = 0;
    std::optional<EncodedClip> m_result;
    bool m_cancelled = false;
    // Last, so that it is destroyed first: its jobs still reach the fields above.
    SerialQueue m_queue;
};

} // namespace talverin
