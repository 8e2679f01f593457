#pragma once

#include "AudioTestSupport.h"
#include "Runtime/VirtualWorld.h"
#include "TalverinAudio/DictationMic.h"
#include "fakes/AudioSystemFake.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talverin::test {

inline const InputDevice vmic{1, "vmic", "Virtual Microphone", InputDevice::Transport::virtual_};
inline const InputDevice usb{2, "usb-uid", "USB Microphone", InputDevice::Transport::usb};

// The microphone on a scripted sound system in virtual time: two devices, the virtual one the
// default, and the log lines it writes.
class DictationMicTest : public ::testing::Test {
protected:
    DictationMicTest() {
        system->setDevices({vmic, usb});
        system->setShape(vmic.id, {16000, 1});
        system->setShape(usb.id, {48000, 2});
        system->setDefaultInput(vmic.id);
        mic->setOnBuffer([this](const MicBuffer&) { ++buffers; });
        mic->setOnDevicesChange([this] { ++deviceChanges; });
    }

    // The microphone's log lines since the last call.
    std::vector<std::string> lines() {
        auto all = log.lines();
        std::vector<std::string> fresh(all.begin() + static_cast<std::ptrdiff_t>(seen), all.end());
        seen = all.size();
        return fresh;
    }

    // Blocks of 0.1 s, each delivered when the clock reaches its end.
    void deliver(double from, int count, float amplitude = 0.1f) {
        auto format = system->latestEngine().tapFormat.value_or(AudioFormat{16000, 1});
        for (int i = 0; i < count; ++i) {
            double start = from + 0.1 * i;
            world.runUntil(start + 0.1);
            system->deliver(toneBlock(format.sampleRate, format.channels,
                                      static_cast<std::size_t>(format.sampleRate / 10), amplitude),
                            start);
            world.runReady();
        }
    }

    // One dictation: begin now, `seconds` of audio, release, and the post-roll's audio.
    std::optional<CapturedClip> dictate(double seconds = 0.5, int postRollMs = 200) {
        const double from = world.uptime();
        if (!mic->begin())
            return std::nullopt;
        deliver(from, static_cast<int>(seconds * 10 + 0.5));
        auto clip = mic->end(postRollMs);
        deliver(world.uptime(), postRollMs / 100 + 1);
        world.runUntil(world.uptime() + 0.2);
        return clip.peek();
    }

    VirtualWorld world;
    LogLines log;
    std::size_t seen = 0;
    int buffers = 0;
    int deviceChanges = 0;
    bool authorized = true;
    std::shared_ptr<AudioSystemFake> system = std::make_shared<AudioSystemFake>();
    std::unique_ptr<DictationMic> mic =
        std::make_unique<DictationMic>(system, [this] { return authorized; });
};

} // namespace talverin::test
