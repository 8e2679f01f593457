#pragma once

#include "TalverinAudio/Sounds.h"
#include "TalverinCore/SoundPlaying.h"

#include <memory>

namespace talverin {

// The dictation's ticks as the controller plays them: each one through the process's sounds.
// Whether a tick is wanted at all (the settings' sounds) is the caller's decision.
class TickPlayer final : public SoundPlaying {
public:
    explicit TickPlayer(std::shared_ptr<Sounds> sounds) : m_sounds(std::move(sounds)) {}

    void play(SoundTick tick) override { m_sounds->play(tick); }

private:
    std::shared_ptr<Sounds> m_sounds;
};

} // namespace talverin
