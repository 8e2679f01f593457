#pragma once

#include "TalverinAudio/SoundPlayer.h"
#include "TalverinAudio/linux/PulseConnection.h"

#include <memory>

namespace talverin {

// Plays decoded WAV files as short playback streams on the sound server's default sink. The
// samples themselves are scaled to the tick's volume; the sink's volume is never touched.
// Starting and stopping only takes the connection's lock for a moment and never waits for the
// server, so the main thread can call it.
class SoundPlayerPulse final : public SoundPlayer {
public:
    explicit SoundPlayerPulse(std::shared_ptr<PulseConnection> connection);

    std::unique_ptr<PlayerSound> load(const std::filesystem::path& file) override;

private:
    std::shared_ptr<PulseConnection> m_connection;
};

} // namespace talverin
