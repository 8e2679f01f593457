#pragma once

#include <string>

namespace talverin::Wire {

// One audio input device as the pages and the pill's microphone menu show it.
struct Microphone {
    std::string id;   // the device's identifier, as the device list supplies it
    std::string name; // its display name

    bool operator==(const Microphone&) const = default;
};

} // namespace talverin::Wire
