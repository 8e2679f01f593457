#pragma once

#include "TalverinCore/Replacement.h"
#include "TalverinCore/Settings.h"
#include "TalverinCore/WireCoding.h"

// The JSON forms of the settings that the pages receive and send.
namespace talverin::Wire {

// {"from", "to"}: both must be present and be strings.
template <> struct Coding<Replacement> {
    static nlohmann::json encode(const Replacement& value);
    static Replacement decode(const nlohmann::json& json);
};

// All fifteen keys, "microphoneID" as null without a microphone. Reading starts from the
// defaults and applies the same JSON read as a patch, so a record from outside is validated
// like a change; it fails only when the value is not an object.
template <> struct Coding<Settings> {
    static nlohmann::json encode(const Settings& value);
    static Settings decode(const nlohmann::json& json);
};

// Any subset of the fifteen keys. Reading fails only when the value is not an object: a key
// whose value does not read as its field (a wrong type, an unknown raw string, 3.0 for the
// onboarding step, a null) is left absent, and a list keeps only its elements that read, so one
// bad element drops only itself. "microphoneID": null clears, a string sets. Writing writes the
// present fields only, a cleared microphone as null.
template <> struct Coding<Settings::Patch> {
    static nlohmann::json encode(const Settings::Patch& value);
    static Settings::Patch decode(const nlohmann::json& json);
};

} // namespace talverin::Wire
