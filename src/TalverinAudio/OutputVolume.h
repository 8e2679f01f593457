#pragma once

#include "Runtime/Result.h"
#include "TalverinAudio/CA.h"

#include <cstdint>
#include <optional>
#include <string>

namespace talverin {

// The output side as the ducker sees it: the default output device, its volume and mute.
// Volumes are slider values where 1 is the device's normal volume; a server may allow more.
// Every operation may block briefly on the sound server and is called from the ducker's queue.
class OutputVolume {
public:
    using DeviceId = std::uint32_t;

    virtual ~OutputVolume() = default;

    // The default output device, or nothing when there is none or it cannot be read.
    virtual std::optional<DeviceId> defaultDevice() = 0;
    // The device's stable name, which survives a restart of the application.
    virtual std::optional<std::string> uid(DeviceId device) = 0;
    // The device's volume, or nothing when it cannot be read or cannot be set.
    virtual std::optional<float> volume(DeviceId device) = 0;
    // Whether the device is muted: nothing when the mute cannot be read, false when the
    // device has no mute at all.
    virtual std::optional<bool> isOutputMuted(DeviceId device) = 0;
    virtual Result<void, CoreAudioError> setVolume(float volume, DeviceId device) = 0;
    // The connected device with this stable name.
    virtual std::optional<DeviceId> device(const std::string& uid) = 0;
    // Whether the sound server can be asked at all. Without a server no device is known, which
    // says nothing about whether a device is connected.
    virtual bool isReachable() { return true; }
};

} // namespace talverin
