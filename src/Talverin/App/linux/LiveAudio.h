#pragma once

#include "Runtime/DefaultsStore.h"
#include "TalverinAudio/AudioSystem.h"
#include "TalverinAudio/Sounds.h"
#include "TalverinCore/Ducking.h"
#include "TalverinCore/MicCapturing.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace talverin {

// The sound services on the process's PulseAudio connection, or their Null backends when
// `missing` says why there is no sound server. Main thread.
namespace LiveAudio {
std::shared_ptr<AudioSystem> system(const std::optional<std::string>& missing);
std::shared_ptr<MicCapturing> mic(std::shared_ptr<AudioSystem> system,
                                  const std::optional<std::string>& missing,
                                  std::function<void()> onDevicesChange);
std::shared_ptr<Sounds> sounds(const std::optional<std::string>& missing);
std::shared_ptr<Ducking> ducker(const std::optional<std::string>& missing,
                                std::shared_ptr<DefaultsStore> defaults);
} // namespace LiveAudio

} // namespace talverin
