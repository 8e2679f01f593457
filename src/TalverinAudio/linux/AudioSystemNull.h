#pragma once

#include "TalverinAudio/AudioSystem.h"
#include "TalverinAudio/Unavailable.h"

#include <string>
#include <utility>

namespace talverin {

// The sound system when there is no sound server: no devices, no default, no notices, and
// engines that never start. Every failure says why.
class AudioSystemNull final : public AudioSystem, public Unavailable {
public:
    explicit AudioSystemNull(std::string reason = noServer) : Unavailable(std::move(reason)) {}

    Result<std::vector<InputDevice>, CoreAudioError> inputDevices() override;
    Result<std::optional<std::uint32_t>, CoreAudioError> defaultInputID() override;
    InputShape inputShape(std::uint32_t /*id*/) override { return {}; }
    Result<ListenerID, CoreAudioError> addListener(Property property,
                                                   std::function<void()> onChange) override;
    void removeListener(ListenerID /*id*/) override {}
    bool isInputMuted(std::uint32_t /*id*/) override { return false; }
    bool isHeldByOtherProcess(std::uint32_t /*id*/) override { return false; }
    std::unique_ptr<AudioEngine> makeEngine() override;
    void limitWaits(std::optional<double> /*deadline*/) override {}
    bool waitRanOut() override { return false; }

private:
    CoreAudioError error(std::string what) const;
};

} // namespace talverin
