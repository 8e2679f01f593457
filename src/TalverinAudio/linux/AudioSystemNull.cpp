#include "TalverinAudio/linux/AudioSystemNull.h"

#include "TalverinAudio/linux/AudioEngineNull.h"

#include <utility>

namespace talverin {

CoreAudioError AudioSystemNull::error(std::string what) const {
    return CoreAudioError{std::move(what), 0, CoreAudioError::Kind::unavailable, reason()};
}

Result<std::vector<InputDevice>, CoreAudioError> AudioSystemNull::inputDevices() {
    return fail(error("AudioObjectGetPropertyData(dev#)"));
}

Result<std::optional<std::uint32_t>, CoreAudioError> AudioSystemNull::defaultInputID() {
    return fail(error("AudioObjectGetPropertyData(dIn )"));
}

Result<AudioSystem::ListenerID, CoreAudioError>
AudioSystemNull::addListener(Property property, std::function<void()> /*onChange*/) {
    return fail(error("AudioObjectAddPropertyListener(" + CA::fourCC(codeOf(property)) + ")"));
}

std::unique_ptr<AudioEngine> AudioSystemNull::makeEngine() {
    return std::make_unique<AudioEngineNull>(reason());
}

} // namespace talverin
