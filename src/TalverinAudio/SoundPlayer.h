#pragma once

#include <filesystem>
#include <memory>

namespace talverin {

// One sound loaded by a SoundPlayer, ready to play again and again.
class PlayerSound {
public:
    virtual ~PlayerSound() = default;

    virtual bool isPlaying() const = 0;
    virtual void stop() = 0;
    // Starts the sound from its beginning with its samples scaled by `volume` (the output's
    // own volume is never touched) and returns at once; a playback that cannot start is
    // dropped silently.
    virtual void play(float volume) = 0;
};

// Loads sound files for playback.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;

    // The sound in the file, or none when the file is missing or cannot be decoded.
    virtual std::unique_ptr<PlayerSound> load(const std::filesystem::path& file) = 0;
};

} // namespace talverin
