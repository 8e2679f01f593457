#pragma once

#include <cstdint>
#include <string>

namespace talverin {

// Four-character codes name the audio properties in the microphone's log lines ('dIn ' for
// the default input, 'dev#' for the device list): a 32-bit value whose first character is
// the most significant byte.
namespace CA {

constexpr std::uint32_t code(const char (&text)[5]) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(text[0])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(text[1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(text[2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[3]));
}

inline constexpr std::uint32_t defaultInput = code("dIn ");
inline constexpr std::uint32_t deviceList = code("dev#");

// The code's four characters when all are printable ASCII, else its decimal value.
std::string fourCC(std::uint32_t code);

} // namespace CA

// A failed call of the audio system, as a log line quotes it: `what` names the call with the
// property's code, `status` is the sound server's error code; `kind` says what kind of failure
// that is, and `message` holds the server's own words when it has some.
struct CoreAudioError {
    enum class Kind {
        failed,      // the server refused, for a reason of its own
        noDevice,    // the device asked about is gone
        timedOut,    // the server did not answer in time
        unavailable, // there is no server to ask
    };

    std::string what;
    std::int32_t status = 0;
    Kind kind = Kind::failed;
    std::string message = {};

    std::string description() const { return what + " failed (" + std::to_string(status) + ")"; }
    bool operator==(const CoreAudioError&) const = default;
};

} // namespace talverin
