#include "TalverinCloud/StreamingOpus.h"

#include "Runtime/Bundle.h"
#include "Runtime/MainQueue.h"
#include "TalverinCloud/OggOpus.h"
#include "TalverinCloud/OpusPacketEncoder.h"
#include "TalverinCore/CoreLog.h"

#include <cmath>
#include <cstdio>

namespace talverin {
namespace {

// 15 s at 16 kHz: ordinary dictations never regrow the sample store.
constexpr std::size_t reservedSamples = 240'000;
constexpr std::uint32_t framesPerPacket = 320;

std::string queueLabel() {
    return Bundle::main().identifier() + ".opus";
}

std::string finishLine(double seconds, std::size_t bytes, const std::string& label, double ms) {
    char text[160];
    std::snprintf(text, sizeof text, "Cloud: opus: %.2f s -> %zu bytes (%s) in %.1f ms", seconds,
                  bytes, label.c_str(), ms);
    return text;
}

} // namespace

StreamingOpus::StreamingOpus(std::uint32_t serial, bool opusAllowed, OpusEncoderMaker maker)
    : m_serial(serial), m_opusAllowed(opusAllowed), m_maker(std::move(maker)),
      m_queue(queueLabel()) {}

StreamingOpus::StreamingOpus() : StreamingOpus(OggOpus::randomSerial(), true) {}

StreamingOpus::~StreamingOpus() = default;

void StreamingOpus::append(const MicBuffer& buffer) {
    if (buffer.samples().empty())
        return;
    // A block's samples are shared and never change, so the queue holds on to the block
    // itself instead of copying its audio on the audio thread.
    m_queue.async([this, buffer] { feed(buffer.samples()); });
}

void StreamingOpus::append(std::span<const float> samples) {
    if (samples.empty())
        return;
    append(std::vector<float>(samples.begin(), samples.end()));
}

void StreamingOpus::append(std::vector<float>&& samples) {
    if (samples.empty())
        return;
    m_queue.async([this, block = std::move(samples)] { feed(block); });
}

EncodedClip StreamingOpus::finishClip() {
    return m_queue.syncValue([this] { return finishOnQueue(); });
}

std::vector<std::uint8_t> StreamingOpus::finish() {
    return finishClip().data;
}

void StreamingOpus::cancel() {
    m_queue.async([this] {
        m_cancelled = true;
        m_encoder.reset();
        m_samples = {};
        m_fedCount = 0;
    });
}

std::int64_t StreamingOpus::sampleCount() {
    return m_queue.syncValue([this] { return m_fedCount; });
}

void StreamingOpus::feed(const std::vector<float>& block) {
    if (m_result || m_cancelled)
        return;
    if (m_samples.empty())
        m_samples.reserve(reservedSamples);
    m_samples.insert(m_samples.end(), block.begin(), block.end());
    m_fedCount += static_cast<std::int64_t>(block.size());
    if (!m_opusAllowed || m_streamFailed)
        return;
    if (OggOpus::usesWav()) {
        // Another clip's failure switched the process to WAV. Streaming on would leave an
        // encoder that has missed the rest of the clip, so the stream stops here; the
        // fallback has been logged already, by the clip that failed.
        m_streamFailed = true;
        m_encoder.reset();
        return;
    }
    if (!m_encoder) {
        auto made = OpusPacketEncoder::create(OggOpus::sampleRate, framesPerPacket,
                                              OggOpus::bitRate, m_maker);
        if (!made) {
            m_streamFailed = true;
            CoreLog::write("Cloud: opus: streaming stopped (" + made.error().description() +
                           "); the clip is encoded at release");
            return;
        }
        m_encoder = std::move(made).value();
    }
    if (auto fed = m_encoder->append(block); !fed) {
        m_streamFailed = true;
        m_encoder.reset();
        CoreLog::write("Cloud: opus: streaming stopped (" + fed.error().description() +
                       "); the clip is encoded at release");
    }
}

EncodedClip StreamingOpus::onePass(std::span<const float> samples, const OpusEncoderMaker& maker,
                                   std::string& label) {
    EncodedClip clip = OggOpus::clip(samples, maker);
    label = clip.isOpus() ? "one pass" : "wav";
    return clip;
}

EncodedClip StreamingOpus::finishStreamed(std::int64_t count, std::string& label) {
    auto packets = m_encoder->finish();
    if (!packets) {
        CoreLog::write("Cloud: opus: the streamed tail failed (" + packets.error().description() +
                       "); one pass instead");
        return onePass(m_samples, m_maker, label);
    }
    label = "streamed";
    const std::int64_t keep =
        std::llround(static_cast<double>(count) * 48000.0 / OggOpus::sampleRate);
    return EncodedClip{OggOpus::mux(*packets, m_serial, 16000, keep), std::string(OggOpus::mime),
                       static_cast<double>(count) / OggOpus::sampleRate};
}

EncodedClip StreamingOpus::finishOnQueue() {
    if (m_result)
        return *m_result;
    const double start = Clock::continuous();
    const auto count = static_cast<std::int64_t>(m_samples.size());
    const double seconds = static_cast<double>(count) / OggOpus::sampleRate;
    std::string label;
    EncodedClip clip;
    if (m_cancelled || count == 0) {
        clip = EncodedClip{OggOpus::wav({}), std::string(OggOpus::wavMime), 0};
        label = m_cancelled ? "cancelled" : "empty";
    } else if (m_opusAllowed && (!m_encoder || m_streamFailed)) {
        clip = onePass(m_samples, m_maker, label);
    } else if (m_opusAllowed) {
        clip = finishStreamed(count, label);
    } else {
        clip = EncodedClip{OggOpus::wav(m_samples), std::string(OggOpus::wavMime), seconds};
        label = "wav";
    }
    m_encoder.reset();
    m_samples = {};
    m_result = clip;
    const double ms = (Clock::continuous() - start) * 1000.0;
    CoreLog::write(finishLine(seconds, clip.data.size(), label, ms));
    return clip;
}

} // namespace talverin
