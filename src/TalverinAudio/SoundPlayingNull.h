#pragma once

#include "TalverinAudio/Unavailable.h"
#include "TalverinCore/SoundPlaying.h"

#include <string>
#include <utility>

namespace talverin {

// The ticks when nothing can play them: every tick is skipped, as one that cannot play is.
class SoundPlayingNull final : public SoundPlaying, public Unavailable {
public:
    explicit SoundPlayingNull(std::string reason) : Unavailable(std::move(reason)) {}

    void play(SoundTick /*tick*/) override {}
};

} // namespace talverin
