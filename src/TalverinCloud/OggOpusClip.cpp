// The one-pass encoding of a whole clip, its 48 kHz retry and the process-wide WAV fallback.
#include "TalverinCloud/OggOpus.h"

#include "TalverinCloud/OpusPacketEncoder.h"
#include "TalverinCore/CoreLog.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <random>

#include <soxr.h>

namespace talverin::OggOpus {
namespace {

constexpr std::uint32_t framesPerPacket16k = 320;
constexpr std::uint32_t framesPerPacket48k = 960;
constexpr double retryRate = 48000.0;

struct Fallback {
    std::mutex lock;
    bool opusFailed = false;
};

// Never destroyed: clips may still be encoded on other threads while the process exits.
Fallback& fallback() {
    static Fallback* const instance = new Fallback;
    return *instance;
}

// The input's length in 48 kHz samples.
std::int64_t keepFor(std::size_t count) {
    return std::llround(static_cast<double>(count) * 48000.0 / sampleRate);
}

EncodeResult<Bytes> encodeAt(double rate, std::uint32_t framesPerPacket,
                             std::span<const float> samples, std::uint32_t serial,
                             std::int64_t keep, const OpusEncoderMaker& maker) {
    auto encoder = OpusPacketEncoder::create(rate, framesPerPacket, bitRate, maker);
    if (!encoder)
        return failure(encoder.error());
    if (auto appended = (*encoder)->append(samples); !appended)
        return failure(appended.error());
    auto packets = (*encoder)->finish();
    if (!packets)
        return failure(packets.error());
    return mux(*packets, serial, static_cast<std::uint32_t>(rate), keep);
}

} // namespace

std::string EncodeError::description() const {
    switch (kind) {
    case Kind::noEncoder:
        return "no Opus encoder at " + std::to_string(rate) + " Hz";
    case Kind::convert:
        return "Opus encoding failed: " + (message.empty() ? std::string("convert") : message);
    case Kind::empty:
        return "no samples";
    case Kind::badPackets:
        return "the encoder made no valid Opus packets";
    }
    return "no samples";
}

std::optional<std::vector<float>> resample(std::span<const float> samples, double rate) {
    if (samples.empty() || !(rate > 0))
        return std::nullopt;
    // The resampler's filters would smear a NaN or an infinity over their whole length.
    std::vector<float> input;
    if (std::any_of(samples.begin(), samples.end(), [](float s) { return !std::isfinite(s); })) {
        input.reserve(samples.size());
        for (float s : samples)
            input.push_back(std::isfinite(s) ? s : 0.0f);
        samples = input;
    }
    const auto capacity = static_cast<std::size_t>(
                              std::floor(rate * static_cast<double>(samples.size()) / sampleRate)) +
                          64;
    std::vector<float> output(capacity);
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    std::size_t produced = 0;
    const soxr_error_t error =
        soxr_oneshot(sampleRate, rate, 1, samples.data(), samples.size(), nullptr, output.data(),
                     output.size(), &produced, &io, &quality, nullptr);
    if (error)
        return std::nullopt;
    output.resize(produced);
    return output;
}

EncodeResult<Bytes> encode(std::span<const float> samples, std::uint32_t serial,
                           const OpusEncoderMaker& maker) {
    if (samples.empty())
        return failure(EncodeError::empty());
    const std::int64_t keep = keepFor(samples.size());
    auto first = encodeAt(sampleRate, framesPerPacket16k, samples, serial, keep, maker);
    if (first)
        return first;
    auto resampled = resample(samples, retryRate);
    if (!resampled)
        return first;
    // keep stays the 16 kHz length: the stream's granules count 48 kHz samples either way.
    return encodeAt(retryRate, framesPerPacket48k, *resampled, serial, keep, maker);
}

EncodedClip clip(std::span<const float> samples, const OpusEncoderMaker& maker) {
    const double seconds = static_cast<double>(samples.size()) / sampleRate;
    if (!usesWav() && !samples.empty()) {
        auto stream = encode(samples, randomSerial(), maker);
        if (stream)
            return EncodedClip{std::move(stream).value(), std::string(mime), seconds};
        markOpusFailed(stream.error());
    }
    return EncodedClip{wav(samples), std::string(wavMime), seconds};
}

std::uint32_t randomSerial() {
    static thread_local std::mt19937 generator{std::random_device{}()};
    return std::uniform_int_distribution<std::uint32_t>(1, 0xFFFFFFFFu)(generator);
}

void markOpusFailed(const EncodeError& error) {
    Fallback& state = fallback();
    {
        std::lock_guard guard(state.lock);
        if (std::exchange(state.opusFailed, true))
            return;
    }
    CoreLog::write("Cloud: Opus could not be encoded (" + error.description() +
                   "); clips go as WAV from now on");
}

bool usesWav() {
    Fallback& state = fallback();
    std::lock_guard guard(state.lock);
    return state.opusFailed;
}

} // namespace talverin::OggOpus
