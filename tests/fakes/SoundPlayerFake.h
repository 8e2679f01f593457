#pragma once

#include "TalverinAudio/SoundPlayer.h"
#include "TalverinAudio/WavFile.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace talverin::test {

// Decodes the files as the real player does and records, instead of playing, what each
// loaded sound is asked to do: "load start.wav", "stop start.wav", "play start.wav 0.35".
// A sound counts as playing from its play() until the test ends it with finishAll().
class SoundPlayerFake final : public SoundPlayer {
public:
    std::vector<std::string> events;

    std::unique_ptr<PlayerSound> load(const std::filesystem::path& file) override {
        events.push_back("load " + file.filename().string());
        if (!WavFile::read(file))
            return nullptr;
        auto sound = std::make_unique<Sound>(*this, file.filename().string());
        m_sounds.push_back(sound.get());
        return sound;
    }

    void finishAll() {
        for (Sound* s : m_sounds)
            s->playing = false;
    }

private:
    struct Sound final : PlayerSound {
        Sound(SoundPlayerFake& owner, std::string name) : owner(owner), name(std::move(name)) {}
        bool isPlaying() const override { return playing; }
        void stop() override {
            owner.events.push_back("stop " + name);
            playing = false;
        }
        void play(float volume) override {
            char text[16];
            std::snprintf(text, sizeof text, "%.2f", static_cast<double>(volume));
            owner.events.push_back("play " + name + " " + text);
            playing = true;
        }
        SoundPlayerFake& owner;
        std::string name;
        bool playing = false;
    };
    // Owned by Sounds, which the tests destroy before this fake.
    std::vector<Sound*> m_sounds;
};

} // namespace talverin::test
