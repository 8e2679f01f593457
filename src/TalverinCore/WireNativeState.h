#pragma once

#include "TalverinCore/Settings.h"
#include "TalverinCore/WireCoding.h"
#include "TalverinCore/WireFnAction.h"
#include "TalverinCore/WireMicrophone.h"
#include "TalverinCore/WirePermissions.h"

#include <cstdint>
#include <string>
#include <vector>

namespace talverin::Wire {

// The answer to a page's "getState": everything a page needs to draw itself.
struct NativeState {
    Settings settings;                   // the current settings record
    Permissions permissions;             // the three permission states
    std::string version;                 // the short version, "dev" when the bundle has none
    std::string lang;                    // the native interface language, "en" or "ru"
    bool cloudConfigured = false;        // whether a cloud backend is configured
    std::vector<Microphone> microphones; // the input devices
    std::int64_t wordsToday = 0;         // words dictated today, from the history
    bool hasNotch = false;               // whether the screen has a notch
    FnAction fnAction = FnAction::unknown;

    bool operator==(const NativeState&) const = default;
};

// All nine keys are written and all nine are required when read.
template <> struct Coding<NativeState> {
    static nlohmann::json encode(const NativeState& value);
    static NativeState decode(const nlohmann::json& json);
};

} // namespace talverin::Wire
