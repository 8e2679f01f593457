#pragma once

#include "Runtime/Result.h"
#include "TalverinAudio/AudioEngine.h"
#include "TalverinAudio/CA.h"
#include "TalverinAudio/InputDevice.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace talverin {

// A device's input shape: its nominal rate and channel count, 0 for what cannot be read.
struct InputShape {
    double rate = 0;
    int channels = 0;

    bool operator==(const InputShape&) const = default;
};

// The seam of the sound system as the microphone sees it: the input devices, the default
// input, their shapes, notices of changes, and engines to record with. Every call waits at
// most about 2 s for the sound server; without a server the lists are empty.
class AudioSystem {
public:
    enum class Property { defaultInput, deviceList };
    using ListenerID = std::uint64_t;

    virtual ~AudioSystem() = default;

    // Any thread. The usable input devices in the system's order.
    virtual Result<std::vector<InputDevice>, CoreAudioError> inputDevices() = 0;
    // Any thread. The default input device's id; none when the system has none.
    virtual Result<std::optional<std::uint32_t>, CoreAudioError> defaultInputID() = 0;
    // Any thread. Zeros for what cannot be read.
    virtual InputShape inputShape(std::uint32_t id) = 0;
    // Any thread. `onChange` runs on the system's own thread, and must only post, whenever
    // the property changes; a failure carries the sound system's status.
    virtual Result<ListenerID, CoreAudioError> addListener(Property property,
                                                           std::function<void()> onChange) = 0;
    // Any thread. No call of that listener comes after it returns.
    virtual void removeListener(ListenerID id) = 0;
    // Any thread. Whether the device's input is muted or its volume is at zero; false when
    // that cannot be read.
    virtual bool isInputMuted(std::uint32_t id) = 0;
    // Any thread. Whether another process holds the device for itself alone.
    virtual bool isHeldByOtherProcess(std::uint32_t id) = 0;
    // Any thread. A new engine on no device yet; none when the system cannot make one.
    virtual std::unique_ptr<AudioEngine> makeEngine() = 0;
    // Any thread. Bounds the calling thread's waits on the sound server, this system's and
    // its engines', by `deadline` (an uptime; none: each wait's own limit), and forgets
    // whether one ran out.
    virtual void limitWaits(std::optional<double> deadline) = 0;
    // Any thread. Whether a wait of the calling thread ran out since limitWaits(): the server
    // did not answer in time, or has not answered since it last failed to.
    virtual bool waitRanOut() = 0;
};

// The four-character code of a property, for log lines.
inline std::uint32_t codeOf(AudioSystem::Property property) {
    return property == AudioSystem::Property::defaultInput ? CA::defaultInput : CA::deviceList;
}

} // namespace talverin
