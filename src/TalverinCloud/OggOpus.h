#pragma once

#include "Runtime/Result.h"
#include "TalverinCloud/EncodedClip.h"
#include "TalverinCloud/OpusFrameEncoder.h"
#include "TalverinCloud/OpusFrameEncoderLibopus.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talverin {

// The clip containers: Ogg pages with their checksum, the Opus header packets, the paging of
// Opus packets, the WAV file; and the one-pass encoding of a whole clip with its fallbacks.
// Everything here may be called from any thread.
namespace OggOpus {

using Bytes = std::vector<std::uint8_t>;

inline constexpr double sampleRate = 16000.0;
inline constexpr int bitRate = 32000;
// In 48 kHz samples: the encoder's lookahead, which the decoder skips.
inline constexpr std::uint16_t preSkip = 312;
inline constexpr std::string_view vendor = "talverin-mac";
inline constexpr std::string_view mime = "audio/ogg";
inline constexpr std::string_view wavMime = "audio/wav";

// --- Container -------------------------------------------------------------------------

// The Ogg CRC table, built on first use.
const std::array<std::uint32_t, 256>& crcTable();

std::array<std::uint8_t, 4> le32(std::uint32_t value);
std::array<std::uint8_t, 8> le64(std::uint64_t value);
// The Ogg CRC-32 (polynomial 0x04C11DB7, no reflection, no final XOR); 0 for no bytes.
std::uint32_t crc(std::span<const std::uint8_t> bytes);

// One complete Ogg page of whole packets.
Bytes page(std::span<const Bytes> packets, std::uint32_t serial, std::uint32_t seq,
           std::uint64_t granule, bool bos, bool eos);
// The 19-byte identification header.
Bytes opusHead(std::uint32_t inputRate);
// The 28-byte comment header.
Bytes opusTags();
// The packet's duration in 48 kHz samples from its TOC byte; 0 when it is not a valid packet.
int packetSamples(std::span<const std::uint8_t> packet);
// The complete Ogg Opus stream. `keep` is the input's length in 48 kHz samples.
Bytes mux(std::span<const Bytes> packets, std::uint32_t serial, std::uint32_t inputRate,
          std::int64_t keep);
// The complete 16-bit PCM WAV file of 16 kHz mono samples.
Bytes wav(std::span<const float> samples);

// --- One-pass encoding -----------------------------------------------------------------

struct EncodeError {
    enum class Kind {
        noEncoder,
        convert,
        empty,
        badPackets,
    };

    Kind kind = Kind::empty;
    // The rate of `noEncoder`.
    int rate = 0;
    // The encoder's error domain and code for `convert`; empty when it gave none.
    std::string message;

    static EncodeError noEncoder(int rate) { return {Kind::noEncoder, rate, {}}; }
    static EncodeError convert(std::string message) {
        return {Kind::convert, 0, std::move(message)};
    }
    static EncodeError empty() { return {Kind::empty, 0, {}}; }
    static EncodeError badPackets() { return {Kind::badPackets, 0, {}}; }

    std::string description() const;
    bool operator==(const EncodeError&) const = default;
};

template <typename T> using EncodeResult = Result<T, EncodeError>;

inline Failure<EncodeError> failure(EncodeError error) {
    std::string text = error.description();
    return fail(std::move(error), std::move(text));
}

// 16 kHz samples resampled to `rate`; absent for no samples or when resampling fails.
std::optional<std::vector<float>> resample(std::span<const float> samples, double rate);
// The Ogg Opus stream of 16 kHz samples: 20 ms packets at 32 kbit/s, encoded at 16 kHz or,
// when that fails, at 48 kHz.
EncodeResult<Bytes> encode(std::span<const float> samples, std::uint32_t serial,
                           const OpusEncoderMaker& maker = OpusFrameEncoderLibopus::make);
// The clip of 16 kHz samples: Ogg Opus, or WAV when there is nothing to encode, when
// encoding fails, and for every clip after the first failure. Never fails.
EncodedClip clip(std::span<const float> samples,
                 const OpusEncoderMaker& maker = OpusFrameEncoderLibopus::make);
// Uniform in 1...4294967295.
std::uint32_t randomSerial();
// Switches the process to WAV for good; logs the first time only.
void markOpusFailed(const EncodeError& error);
bool usesWav();

} // namespace OggOpus

} // namespace talverin
