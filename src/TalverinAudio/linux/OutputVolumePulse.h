#pragma once

#include "TalverinAudio/OutputVolume.h"
#include "TalverinAudio/linux/PulseConnection.h"

#include <memory>

namespace talverin {

// The output volume on the sound server: a device is a sink (its index; its name is the
// stable uid), its volume is the slider value, the loudest channel over the normal volume,
// and a write scales all channels alike so the balance stays. Each call waits for at most one
// bounded answer per request of the server (PulseConnection::waitLimit). Any thread but the
// connection's own.
class OutputVolumePulse final : public OutputVolume {
public:
    explicit OutputVolumePulse(std::shared_ptr<PulseConnection> connection);

    std::optional<DeviceId> defaultDevice() override;
    std::optional<std::string> uid(DeviceId device) override;
    std::optional<float> volume(DeviceId device) override;
    std::optional<bool> isOutputMuted(DeviceId device) override;
    Result<void, CoreAudioError> setVolume(float volume, DeviceId device) override;
    std::optional<DeviceId> device(const std::string& uid) override;
    bool isReachable() override;

    // Whether another process plays on the default sink: an uncorked stream of a process
    // other than this one. Our own ticks therefore never count.
    bool otherProcessPlays();

private:
    std::shared_ptr<PulseConnection> m_connection;
};

} // namespace talverin
