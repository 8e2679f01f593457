#include "TalverinCloud/OggOpus.h"

#include <algorithm>
#include <cmath>

namespace talverin::OggOpus {
namespace {

constexpr std::uint32_t crcPolynomial = 0x04C11DB7;
// A page holds at most this many packets, so that a page stands for about a second of audio.
constexpr std::size_t maxPacketsPerPage = 50;
constexpr std::size_t maxLacingValues = 255;
constexpr std::size_t pageHeaderSize = 27;
constexpr std::size_t wavHeaderSize = 44;

void append(Bytes& out, std::span<const std::uint8_t> bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void append(Bytes& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
}

void appendLe16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

std::size_t lacingValues(std::size_t length) {
    return length / 255 + 1;
}

std::int16_t pcm16(float sample) {
    if (!std::isfinite(sample))
        return 0;
    const double clamped = std::clamp(static_cast<double>(sample), -1.0, 1.0);
    // lround rounds halves away from zero, as the format's readers expect of 0.5 -> 16384.
    return static_cast<std::int16_t>(std::lround(clamped * 32767.0));
}

} // namespace

const std::array<std::uint32_t, 256>& crcTable() {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t r = i << 24;
            for (int bit = 0; bit < 8; ++bit)
                r = (r & 0x80000000u) ? (r << 1) ^ crcPolynomial : r << 1;
            t[i] = r;
        }
        return t;
    }();
    return table;
}

std::array<std::uint8_t, 4> le32(std::uint32_t value) {
    std::array<std::uint8_t, 4> out{};
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return out;
}

std::array<std::uint8_t, 8> le64(std::uint64_t value) {
    std::array<std::uint8_t, 8> out{};
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return out;
}

std::uint32_t crc(std::span<const std::uint8_t> bytes) {
    const auto& table = crcTable();
    std::uint32_t value = 0;
    for (std::uint8_t byte : bytes)
        value = table[((value >> 24) ^ byte) & 0xFF] ^ (value << 8);
    return value;
}

Bytes page(std::span<const Bytes> packets, std::uint32_t serial, std::uint32_t seq,
           std::uint64_t granule, bool bos, bool eos) {
    std::size_t segments = 0;
    std::size_t bodySize = 0;
    for (const Bytes& packet : packets) {
        segments += lacingValues(packet.size());
        bodySize += packet.size();
    }
    Bytes out;
    out.reserve(pageHeaderSize + segments + bodySize);
    append(out, std::string_view("OggS"));
    out.push_back(0);
    out.push_back(static_cast<std::uint8_t>((bos ? 0x02 : 0) | (eos ? 0x04 : 0)));
    append(out, le64(granule));
    append(out, le32(serial));
    append(out, le32(seq));
    append(out, le32(0));
    out.push_back(static_cast<std::uint8_t>(segments));
    for (const Bytes& packet : packets) {
        out.insert(out.end(), packet.size() / 255, std::uint8_t{255});
        out.push_back(static_cast<std::uint8_t>(packet.size() % 255));
    }
    for (const Bytes& packet : packets)
        out.insert(out.end(), packet.begin(), packet.end());
    const auto checksum = le32(crc(out));
    std::copy(checksum.begin(), checksum.end(), out.begin() + 22);
    return out;
}

Bytes opusHead(std::uint32_t inputRate) {
    Bytes out;
    out.reserve(19);
    append(out, std::string_view("OpusHead"));
    out.push_back(1); // version
    out.push_back(1); // channels
    appendLe16(out, preSkip);
    append(out, le32(inputRate));
    appendLe16(out, 0); // output gain
    out.push_back(0);   // channel mapping family
    return out;
}

Bytes opusTags() {
    Bytes out;
    out.reserve(28);
    append(out, std::string_view("OpusTags"));
    append(out, le32(static_cast<std::uint32_t>(vendor.size())));
    append(out, vendor);
    append(out, le32(0));
    return out;
}

int packetSamples(std::span<const std::uint8_t> packet) {
    if (packet.empty())
        return 0;
    const std::uint8_t toc = packet[0];
    const int config = toc >> 3;
    int frameSize = 0;
    if (config < 12) {
        static constexpr int silk[] = {480, 960, 1920, 2880};
        frameSize = silk[config % 4];
    } else if (config < 16) {
        frameSize = (toc & 0x08) ? 960 : 480;
    } else {
        static constexpr int celt[] = {120, 240, 480, 960};
        frameSize = celt[config % 4];
    }
    int frames = 0;
    switch (toc & 0x03) {
    case 0:
        frames = 1;
        break;
    case 1:
    case 2:
        frames = 2;
        break;
    default:
        if (packet.size() < 2)
            return 0;
        frames = packet[1] & 0x3F;
        break;
    }
    const int duration = frameSize * frames;
    return duration <= 0 || duration > 5760 ? 0 : duration;
}

Bytes mux(std::span<const Bytes> packets, std::uint32_t serial, std::uint32_t inputRate,
          std::int64_t keep) {
    Bytes out;
    const Bytes head = opusHead(inputRate);
    const Bytes tags = opusTags();
    append(out, page(std::span(&head, 1), serial, 0, 0, true, false));
    append(out, page(std::span(&tags, 1), serial, 1, 0, false, false));

    // The decoder plays the granule of the last page minus the pre-skip, so the stream ends
    // at the input's length plus the pre-skip. A packet that starts at or after that point
    // holds nothing to play; it is left out, because the last page may trim less than one
    // packet and must never fall below the granule of the page before it.
    const std::uint64_t end = static_cast<std::uint64_t>(std::max<std::int64_t>(keep, 0)) + preSkip;
    std::size_t count = 0;
    std::uint64_t total = 0;
    for (const Bytes& packet : packets) {
        if (total >= end)
            break;
        total += static_cast<std::uint64_t>(packetSamples(packet));
        ++count;
    }
    const std::uint64_t finalGranule = std::min(total, end);

    std::uint32_t seq = 2;
    std::uint64_t granule = 0;
    std::size_t next = 0;
    while (next < count) {
        const std::size_t first = next;
        std::size_t lacing = 0;
        while (next < count && next - first < maxPacketsPerPage) {
            const std::size_t values = lacingValues(packets[next].size());
            if (next > first && lacing + values > maxLacingValues)
                break;
            lacing += values;
            granule += static_cast<std::uint64_t>(packetSamples(packets[next]));
            ++next;
        }
        const bool last = next == count;
        append(out, page(packets.subspan(first, next - first), serial, seq++,
                         last ? finalGranule : granule, false, last));
    }
    return out;
}

Bytes wav(std::span<const float> samples) {
    const auto dataSize = static_cast<std::uint32_t>(2 * samples.size());
    Bytes out;
    out.reserve(wavHeaderSize + dataSize);
    append(out, std::string_view("RIFF"));
    append(out, le32(36 + dataSize));
    append(out, std::string_view("WAVE"));
    append(out, std::string_view("fmt "));
    append(out, le32(16));
    appendLe16(out, 1); // PCM
    appendLe16(out, 1); // channels
    append(out, le32(16000));
    append(out, le32(32000)); // byte rate
    appendLe16(out, 2);       // block align
    appendLe16(out, 16);      // bits per sample
    append(out, std::string_view("data"));
    append(out, le32(dataSize));
    for (float sample : samples)
        appendLe16(out, static_cast<std::uint16_t>(pcm16(sample)));
    return out;
}

} // namespace talverin::OggOpus
