#pragma once

#include "Runtime/Bundle.h"
#include "TalverinCore/SoundPlaying.h"
#include "TalverinAudio/SoundPlayer.h"

#include <array>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace talverin {

// The dictation's three ticks, loaded once from the bundle's "sounds" folder and played at a
// fixed, quiet volume. Main thread only.
class Sounds final : public SoundPlaying {
public:
    using Tick = SoundTick;

    static constexpr float volume = 0.35f;

    // The resource paths of the ticks, relative to the resources folder, in tick order.
    static const std::array<std::string, 3>& bundledFiles();
    // The file locations tried for a tick, in order; none when the bundle has no folder.
    static std::vector<std::filesystem::path> candidates(Tick tick, const Bundle& bundle);
    // The first candidate that exists.
    static std::optional<std::filesystem::path> url(Tick tick, const Bundle& bundle);

    Sounds(std::shared_ptr<SoundPlayer> player, const Bundle& bundle);

    // Plays one tick from its beginning, stopping it first when it still plays; a tick whose
    // file is missing stays silent.
    void play(Tick tick) override;
    // Loads the three ticks ahead of the first dictation.
    void preload();

private:
    PlayerSound* sound(Tick tick);

    std::shared_ptr<SoundPlayer> m_player;
    Bundle m_bundle;
    std::map<Tick, std::unique_ptr<PlayerSound>> m_loaded;
    // Ticks whose file could not be found or loaded: they are never tried again.
    std::set<Tick> m_missing;
};

} // namespace talverin
