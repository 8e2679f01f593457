#include "TalverinAudio/AudioDevices.h"

#include <algorithm>

namespace talverin::AudioDevices {

std::vector<InputDevice> inputs(AudioSystem& system) {
    auto devices = system.inputDevices();
    return devices.ok() ? std::move(devices.value()) : std::vector<InputDevice>{};
}

std::optional<std::uint32_t> defaultInputID(AudioSystem& system) {
    auto id = system.defaultInputID();
    return id.ok() ? id.value() : std::nullopt;
}

std::optional<InputDevice> defaultInput(AudioSystem& system) {
    auto id = defaultInputID(system);
    if (!id)
        return std::nullopt;
    auto devices = inputs(system);
    auto it = std::find_if(devices.begin(), devices.end(),
                           [&](const InputDevice& d) { return d.id == *id; });
    return it == devices.end() ? std::nullopt : std::optional<InputDevice>(*it);
}

InputShape inputShape(AudioSystem& system, std::uint32_t id) {
    return system.inputShape(id);
}

bool isConnected(AudioSystem& system, const InputDevice& device) {
    auto devices = inputs(system);
    return std::any_of(devices.begin(), devices.end(),
                       [&](const InputDevice& d) { return d.isSame(device); });
}

} // namespace talverin::AudioDevices
