#pragma once

#include "TalverinAudio/SoundPlayer.h"
#include "TalverinAudio/Unavailable.h"

#include <string>
#include <utility>

namespace talverin {

// The player when there is no sound server: it loads nothing, so every tick stays silent.
class SoundPlayerNull final : public SoundPlayer, public Unavailable {
public:
    explicit SoundPlayerNull(std::string reason = noServer) : Unavailable(std::move(reason)) {}

    std::unique_ptr<PlayerSound> load(const std::filesystem::path& /*file*/) override {
        return nullptr;
    }
};

} // namespace talverin
