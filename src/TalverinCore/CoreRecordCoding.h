#pragma once

#include "TalverinCore/KeyCaptureResult.h"
#include "TalverinCore/MicCheckReading.h"
#include "TalverinCore/WireCoding.h"
#include "TalverinCore/WireMicrophone.h"

// The JSON forms of the shared records that travel to the pages.
namespace talverin::Wire {

// {"level": number, "reason": raw string}; "reason" is written only when set and read as absent
// when missing. The level is a 32-bit float written in its shortest form; a level that is not a
// number fails the encoding.
template <> struct Coding<MicCheckReading> {
    static nlohmann::json encode(const MicCheckReading& value);
    static MicCheckReading decode(const nlohmann::json& json);
};

// {"id", "name"}, both required.
template <> struct Coding<Microphone> {
    static nlohmann::json encode(const Microphone& value);
    static Microphone decode(const nlohmann::json& json);
};

// {"kind": "accepted", "key": raw, "warn": raw or null} (with "warn" always written),
// {"kind": "rejected", "reason": raw} or {"kind": "cancelled"}. Reading ignores "warn"; an
// unknown kind fails with "unknown capture result " followed by the kind.
template <> struct Coding<KeyCaptureResult> {
    static nlohmann::json encode(const KeyCaptureResult& value);
    static KeyCaptureResult decode(const nlohmann::json& json);
};

} // namespace talverin::Wire
