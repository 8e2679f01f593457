#pragma once

#include "TalverinAudio/OutputVolume.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace talverin::test {

// Output devices held in memory. A write sets the device's volume (which reads back as set),
// and is recorded.
class OutputVolumeFake final : public OutputVolume {
public:
    struct Device {
        std::optional<std::string> uid;
        std::optional<float> volume; // nothing: unreadable or not settable
        std::optional<bool> muted = false;
        bool failWrites = false;
    };
    struct Write {
        DeviceId device;
        float volume;
    };

    std::map<DeviceId, Device> devices;
    std::optional<DeviceId> defaultId;
    std::vector<Write> writes;
    bool reachable = true;
    // Called inside every successful write, e.g. to let time pass while it "takes".
    std::function<void()> onWrite;

    std::vector<float> writtenVolumes() const {
        std::vector<float> out;
        for (const Write& w : writes)
            out.push_back(w.volume);
        return out;
    }

    std::optional<DeviceId> defaultDevice() override { return defaultId; }
    std::optional<std::string> uid(DeviceId device) override {
        auto it = devices.find(device);
        return it == devices.end() ? std::nullopt : it->second.uid;
    }
    std::optional<float> volume(DeviceId device) override {
        auto it = devices.find(device);
        return it == devices.end() ? std::nullopt : it->second.volume;
    }
    std::optional<bool> isOutputMuted(DeviceId device) override {
        auto it = devices.find(device);
        return it == devices.end() ? std::nullopt : it->second.muted;
    }
    Result<void, CoreAudioError> setVolume(float volume, DeviceId device) override {
        auto it = devices.find(device);
        if (it == devices.end() || it->second.failWrites)
            return fail(CoreAudioError{"set volume", -3});
        writes.push_back({device, volume});
        it->second.volume = volume;
        if (onWrite)
            onWrite();
        return {};
    }
    bool isReachable() override { return reachable; }
    std::optional<DeviceId> device(const std::string& uid) override {
        for (const auto& [id, d] : devices)
            if (d.uid == uid)
                return id;
        return std::nullopt;
    }
};

} // namespace talverin::test
