#pragma once

#include "TalverinAudio/AudioSystem.h"
#include "TalverinAudio/InputDevice.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace talverin {

// The input devices as the microphone and the pages use them. Stateless: every call asks the
// sound system afresh, and none fails: what cannot be read is empty, none or zero.
namespace AudioDevices {

std::vector<InputDevice> inputs(AudioSystem& system);
// The default input, when it is one of inputs().
std::optional<InputDevice> defaultInput(AudioSystem& system);
// The default input's id; none when it cannot be read.
std::optional<std::uint32_t> defaultInputID(AudioSystem& system);
InputShape inputShape(AudioSystem& system, std::uint32_t id);
// Whether the device is among the usable inputs now.
bool isConnected(AudioSystem& system, const InputDevice& device);

} // namespace AudioDevices

} // namespace talverin
