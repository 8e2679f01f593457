#pragma once

#include "TalverinCore/WireMicrophone.h"

#include <optional>
#include <string>
#include <vector>

namespace talverin {

// The model of the pill's microphone submenu. By default it offers no devices and has nothing
// selected.
struct PillMicrophoneMenu {
    std::vector<Wire::Microphone> devices;
    std::optional<std::string> selectedID; // none: the automatic choice

    bool operator==(const PillMicrophoneMenu&) const = default;
};

} // namespace talverin
