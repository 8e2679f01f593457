#include "TalverinAudio/DevicePolicy.h"

#include <algorithm>

namespace talverin::DevicePolicy {

std::optional<Choice> choose(const std::optional<std::string>& requestedUID,
                             const std::vector<InputDevice>& devices,
                             std::optional<std::uint32_t> systemDefault) {
    using Transport = InputDevice::Transport;
    if (devices.empty())
        return std::nullopt;

    bool missing = false;
    if (requestedUID && !requestedUID->empty()) {
        auto it = std::find_if(devices.begin(), devices.end(),
                               [&](const InputDevice& d) { return d.uid == *requestedUID; });
        if (it != devices.end())
            return Choice{*it, Reason::requested, false};
        missing = true;
    }

    auto firstWhere = [&](auto predicate) {
        auto it = std::find_if(devices.begin(), devices.end(), predicate);
        return it == devices.end() ? nullptr : &*it;
    };
    auto isBuiltIn = [](const InputDevice& d) { return d.transport == Transport::builtIn; };
    const InputDevice* builtIn = firstWhere(isBuiltIn);

    if (systemDefault) {
        if (const InputDevice* def =
                firstWhere([&](const InputDevice& d) { return d.id == *systemDefault; })) {
            if (def->transport != Transport::bluetooth)
                return Choice{*def, Reason::systemDefault, missing};
            if (builtIn)
                return Choice{*builtIn, Reason::builtInInsteadOfBluetooth, missing};
            return Choice{*def, Reason::systemDefault, missing};
        }
    }

    if (builtIn)
        return Choice{*builtIn, Reason::firstAvailable, missing};
    if (const InputDevice* wired =
            firstWhere([](const InputDevice& d) { return d.transport != Transport::bluetooth; }))
        return Choice{*wired, Reason::firstAvailable, missing};
    return Choice{devices.front(), Reason::firstAvailable, missing};
}

} // namespace talverin::DevicePolicy
