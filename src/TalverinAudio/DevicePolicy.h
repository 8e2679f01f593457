#pragma once

#include "TalverinAudio/InputDevice.h"
#include "TalverinCore/EnumTable.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talverin {

// Which microphone to record from: the one the user asked for while it is connected,
// otherwise the system default, except that a Bluetooth default gives way to a built-in
// microphone (recording from a headset drops its playback to call quality).
namespace DevicePolicy {

enum class Reason { requested, systemDefault, builtInInsteadOfBluetooth, firstAvailable };

struct Choice {
    InputDevice device;
    Reason reason = Reason::firstAvailable;
    // A microphone was asked for by uid and is not connected.
    bool requestedMissing = false;

    bool operator==(const Choice&) const = default;
};

// None or an empty uid asks for the automatic choice. None only for an empty device list.
std::optional<Choice> choose(const std::optional<std::string>& requestedUID,
                             const std::vector<InputDevice>& devices,
                             std::optional<std::uint32_t> systemDefault);

} // namespace DevicePolicy

template <> struct EnumTable<DevicePolicy::Reason> {
    static constexpr auto entries = std::to_array<EnumEntry<DevicePolicy::Reason>>({
        {DevicePolicy::Reason::requested, "requested"},
        {DevicePolicy::Reason::systemDefault, "systemDefault"},
        {DevicePolicy::Reason::builtInInsteadOfBluetooth, "builtInInsteadOfBluetooth"},
        {DevicePolicy::Reason::firstAvailable, "firstAvailable"},
    });
};

} // namespace talverin
