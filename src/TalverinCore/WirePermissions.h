#pragma once

#include "TalverinCore/EnumTable.h"
#include "TalverinCore/WireCoding.h"

namespace talverin::Wire {

// One of the three permissions the program needs.
enum class PermissionKind {
    microphone,
    accessibility,
    speech,
};

// The state of one permission.
enum class PermissionState {
    granted,
    denied,
    notDetermined,
    restricted,
};

} // namespace talverin::Wire

namespace talverin {

template <> struct EnumTable<Wire::PermissionKind> {
    static constexpr auto entries = std::to_array<EnumEntry<Wire::PermissionKind>>({
        {Wire::PermissionKind::microphone, "microphone"},
        {Wire::PermissionKind::accessibility, "accessibility"},
        {Wire::PermissionKind::speech, "speech"},
    });
};

template <> struct EnumTable<Wire::PermissionState> {
    static constexpr auto entries = std::to_array<EnumEntry<Wire::PermissionState>>({
        {Wire::PermissionState::granted, "granted"},
        {Wire::PermissionState::denied, "denied"},
        {Wire::PermissionState::notDetermined, "notDetermined"},
        {Wire::PermissionState::restricted, "restricted"},
    });
};

} // namespace talverin

namespace talverin::Wire {

// The three permission states at one moment.
struct Permissions {
    PermissionState microphone = PermissionState::notDetermined;
    PermissionState accessibility = PermissionState::notDetermined;
    PermissionState speech = PermissionState::notDetermined;

    PermissionState& operator[](PermissionKind kind);
    PermissionState operator[](PermissionKind kind) const;

    // Speech recognition counts too: the live words need it.
    bool allGranted() const;

    bool operator==(const Permissions&) const = default;
};

// All three keys are written and all three are required when read.
template <> struct Coding<Permissions> {
    static nlohmann::json encode(const Permissions& value);
    static Permissions decode(const nlohmann::json& json);
};

} // namespace talverin::Wire
