#include "Talverin/App/linux/LiveAudio.h"

#include "Runtime/Bundle.h"
#include "TalverinAudio/DictationMic.h"
#include "TalverinAudio/Ducker.h"
#include "TalverinAudio/DuckingNull.h"
#include "TalverinAudio/MicCapturingNull.h"
#include "TalverinAudio/linux/AudioSystemNull.h"
#include "TalverinAudio/linux/AudioSystemPulse.h"
#include "TalverinAudio/linux/OutputVolumePulse.h"
#include "TalverinAudio/linux/PulseConnection.h"
#include "TalverinAudio/linux/SoundPlayerNull.h"
#include "TalverinAudio/linux/SoundPlayerPulse.h"

namespace talverin::LiveAudio {

std::shared_ptr<AudioSystem> system(const std::optional<std::string>& missing) {
    if (missing)
        return std::make_shared<AudioSystemNull>(*missing);
    return std::make_shared<AudioSystemPulse>(PulseConnection::shared());
}

std::shared_ptr<MicCapturing> mic(std::shared_ptr<AudioSystem> system,
                                  const std::optional<std::string>& missing,
                                  std::function<void()> onDevicesChange) {
    if (missing)
        return std::make_shared<MicCapturingNull>(*missing);
    // On Linux the microphone is allowed when the sound server takes the program; a server
    // that refuses fails the engine itself, in its own words.
    auto mic = std::make_shared<DictationMic>(std::move(system), [] { return true; });
    mic->setOnDevicesChange(std::move(onDevicesChange));
    return mic;
}

std::shared_ptr<Sounds> sounds(const std::optional<std::string>& missing) {
    std::shared_ptr<SoundPlayer> player;
    if (missing)
        player = std::make_shared<SoundPlayerNull>(*missing);
    else
        player = std::make_shared<SoundPlayerPulse>(PulseConnection::shared());
    return std::make_shared<Sounds>(player, Bundle::main());
}

std::shared_ptr<Ducking> ducker(const std::optional<std::string>& missing,
                                std::shared_ptr<DefaultsStore> defaults) {
    if (missing)
        return std::make_shared<DuckingNull>(*missing);
    auto output = std::make_shared<OutputVolumePulse>(PulseConnection::shared());
    return std::make_shared<Ducker>(
        output, [output] { return output->otherProcessPlays(); }, std::move(defaults));
}

} // namespace talverin::LiveAudio
