#pragma once

#include "Runtime/Result.h"

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

namespace talverin {

enum class WavError {
    Unreadable,  // the file could not be opened or read
    NotWav,      // no RIFF/WAVE header, or a chunk runs past the end
    Unsupported, // a format other than 16-bit integer or 32-bit float PCM
};

// A decoded WAV file: interleaved samples in -1 … 1.
struct WavFile {
    std::uint32_t sampleRate = 0;
    std::uint16_t channels = 0;
    std::vector<float> samples;

    // Decodes 16-bit integer or 32-bit float PCM, plain or in the extensible format.
    static Result<WavFile, WavError> parse(std::string_view bytes);
    static Result<WavFile, WavError> read(const std::filesystem::path& file);
};

} // namespace talverin
