#pragma once

#include "TalverinCore/EnumTable.h"

namespace talverin {

// The three ticks a dictation plays.
enum class SoundTick {
    start,    // the first pill of a dictation appeared
    stop,     // a dictation stopped listening
    inserted, // its text went into the field
};

template <> struct EnumTable<SoundTick> {
    static constexpr auto entries = std::to_array<EnumEntry<SoundTick>>({
        {SoundTick::start, "start"},
        {SoundTick::stop, "stop"},
        {SoundTick::inserted, "inserted"},
    });
};

// Plays the dictation's ticks.
class SoundPlaying {
public:
    virtual ~SoundPlaying() = default;

    // Main thread. Starts the tick and returns at once; a tick that cannot play is skipped.
    virtual void play(SoundTick tick) = 0;
};

} // namespace talverin
