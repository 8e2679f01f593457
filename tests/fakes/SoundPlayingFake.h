#pragma once

#include "TalverinCore/SoundPlaying.h"
#include "fakes/CallLog.h"

namespace talverin::test {

// A tick player that records the ticks it is asked to play.
class SoundPlayingFake final : public SoundPlaying {
public:
    CallLog log;

    void play(SoundTick tick) override { log.record("play", std::string(toString(tick))); }
};

} // namespace talverin::test
