#include "TalverinAudio/Sounds.h"

#include "TalverinCore/CoreLog.h"

#include <system_error>

namespace talverin {

namespace {

constexpr std::array<SoundTick, 3> allTicks = {SoundTick::start, SoundTick::stop,
                                               SoundTick::inserted};

std::string fileName(SoundTick tick) {
    return std::string(toString(tick)) + ".wav";
}

} // namespace

const std::array<std::string, 3>& Sounds::bundledFiles() {
    static const std::array<std::string, 3> files = [] {
        std::array<std::string, 3> out;
        for (std::size_t i = 0; i < allTicks.size(); ++i)
            out[i] = "sounds/" + fileName(allTicks[i]);
        return out;
    }();
    return files;
}

std::vector<std::filesystem::path> Sounds::candidates(Tick tick, const Bundle& bundle) {
    if (bundle.folder().empty())
        return {};
    return {bundle.folder() / "sounds" / fileName(tick)};
}

std::optional<std::filesystem::path> Sounds::url(Tick tick, const Bundle& bundle) {
    for (const auto& candidate : candidates(tick, bundle)) {
        std::error_code error;
        if (std::filesystem::exists(candidate, error))
            return candidate;
    }
    return std::nullopt;
}

Sounds::Sounds(std::shared_ptr<SoundPlayer> player, const Bundle& bundle)
    : m_player(std::move(player)), m_bundle(bundle) {}

void Sounds::play(Tick tick) {
    PlayerSound* s = sound(tick);
    if (!s)
        return;
    if (s->isPlaying())
        s->stop();
    s->play(volume);
}

void Sounds::preload() {
    for (SoundTick tick : allTicks)
        sound(tick);
}

PlayerSound* Sounds::sound(Tick tick) {
    if (auto it = m_loaded.find(tick); it != m_loaded.end())
        return it->second.get();
    if (m_missing.contains(tick))
        return nullptr;
    if (auto file = url(tick, m_bundle)) {
        if (auto loaded = m_player->load(*file)) {
            PlayerSound* raw = loaded.get();
            m_loaded.emplace(tick, std::move(loaded));
            return raw;
        }
    }
    m_missing.insert(tick);
    CoreLog::write("sounds: " + fileName(tick) + " is not in the bundle");
    return nullptr;
}

} // namespace talverin
