#include "TalverinAudio/WavFile.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace talverin {

namespace {

constexpr std::uint16_t formatPcm = 1;
constexpr std::uint16_t formatFloat = 3;
constexpr std::uint16_t formatExtensible = 0xFFFE;
// A sound of more than a minute at 48 kHz stereo is no tick; refusing it bounds the memory a
// damaged header can ask for.
constexpr std::size_t maxSamples = 48000 * 2 * 60;

std::uint32_t le32(std::string_view bytes, std::size_t at) {
    auto b = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i]));
    };
    return b(0) | (b(1) << 8) | (b(2) << 16) | (b(3) << 24);
}

std::uint16_t le16(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      (static_cast<unsigned char>(bytes[at + 1]) << 8));
}

} // namespace

Result<WavFile, WavError> WavFile::parse(std::string_view bytes) {
    if (bytes.size() < 12 || bytes.substr(0, 4) != "RIFF" || bytes.substr(8, 4) != "WAVE")
        return fail(WavError::NotWav, "no RIFF/WAVE header");

    std::optional<std::string_view> format;
    std::optional<std::string_view> data;
    std::size_t at = 12;
    while (at + 8 <= bytes.size() && !(format && data)) {
        std::string_view id = bytes.substr(at, 4);
        std::uint32_t size = le32(bytes, at + 4);
        if (size > bytes.size() - at - 8)
            return fail(WavError::NotWav, "a chunk runs past the end");
        std::string_view body = bytes.substr(at + 8, size);
        if (id == "fmt ")
            format = body;
        else if (id == "data")
            data = body;
        // Chunks are padded to an even size.
        at += 8 + static_cast<std::size_t>(size) + (size & 1u);
    }
    if (!format || !data || format->size() < 16)
        return fail(WavError::NotWav, "no format or no data chunk");

    std::uint16_t tag = le16(*format, 0);
    std::uint16_t channels = le16(*format, 2);
    std::uint32_t rate = le32(*format, 4);
    std::uint16_t bits = le16(*format, 14);
    if (tag == formatExtensible) {
        if (format->size() < 26)
            return fail(WavError::NotWav, "short extensible format");
        tag = le16(*format, 24); // the first two bytes of the sub-format GUID
    }
    bool isInt16 = tag == formatPcm && bits == 16;
    bool isFloat32 = tag == formatFloat && bits == 32;
    if (!(isInt16 || isFloat32) || channels == 0 || channels > 8 || rate == 0 || rate > 384000)
        return fail(WavError::Unsupported, "format " + std::to_string(tag) + ", " +
                                               std::to_string(bits) + " bits, " +
                                               std::to_string(channels) + " channels");

    std::size_t width = bits / 8;
    std::size_t count = data->size() / width;
    count -= count % channels;
    if (count > maxSamples)
        return fail(WavError::Unsupported, "too long");

    WavFile out;
    out.sampleRate = rate;
    out.channels = channels;
    out.samples.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (isInt16) {
            auto value = static_cast<std::int16_t>(le16(*data, i * 2));
            out.samples[i] = static_cast<float>(value) / 32768.0f;
        } else {
            // A damaged file must not send NaN or a blast past full scale to the speakers.
            float value = std::bit_cast<float>(le32(*data, i * 4));
            out.samples[i] = std::isfinite(value) ? std::clamp(value, -1.0f, 1.0f) : 0.0f;
        }
    }
    return out;
}

Result<WavFile, WavError> WavFile::read(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return fail(WavError::Unreadable, file.string());
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return fail(WavError::Unreadable, file.string());
    return parse(bytes);
}

} // namespace talverin
