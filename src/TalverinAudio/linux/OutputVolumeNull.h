#pragma once

#include "TalverinAudio/OutputVolume.h"
#include "TalverinAudio/Unavailable.h"

#include <string>
#include <utility>

namespace talverin {

// The output when there is no sound server: no device, no volume, and a server that cannot be
// asked, so that a record a previous run left stays until a real server can be asked about it.
class OutputVolumeNull final : public OutputVolume, public Unavailable {
public:
    explicit OutputVolumeNull(std::string reason = noServer) : Unavailable(std::move(reason)) {}

    std::optional<DeviceId> defaultDevice() override { return std::nullopt; }
    std::optional<std::string> uid(DeviceId /*device*/) override { return std::nullopt; }
    std::optional<float> volume(DeviceId /*device*/) override { return std::nullopt; }
    std::optional<bool> isOutputMuted(DeviceId /*device*/) override { return std::nullopt; }
    Result<void, CoreAudioError> setVolume(float volume, DeviceId device) override;
    std::optional<DeviceId> device(const std::string& /*uid*/) override { return std::nullopt; }
    bool isReachable() override { return false; }
};

} // namespace talverin
