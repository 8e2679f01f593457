#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace talverin {

// A finished dictation clip as it goes to the cloud: an Ogg Opus stream or a WAV file.
struct EncodedClip {
    std::vector<std::uint8_t> data;
    // "audio/ogg" or "audio/wav".
    std::string mime;
    // Input samples / 16000; 0 for the empty clip of a cancelled or empty stream.
    double seconds = 0;

    bool isOpus() const { return mime == "audio/ogg"; }
    bool operator==(const EncodedClip&) const = default;
};

} // namespace talverin
