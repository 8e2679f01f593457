// labels: tsan
#include "TalverinAudio/DictationMic.h"

#include "AudioTestSupport.h"
#include "Runtime/MainQueue.h"
#include "fakes/AudioSystemFake.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace talverin {
namespace {

using test::AudioSystemFake;
using test::toneBlock;
using T = InputDevice::Transport;

// The microphone on real threads: the engine's thread delivers blocks and the sound system's
// thread announces changes while the caller dictates, switches devices and swaps callbacks.
// The assertions are few; the point is that ThreadSanitizer and AddressSanitizer see every
// path run concurrently, teardown included.
TEST(DictationMicThreads, DictatesWhileBlocksAndChangesArriveFromOtherThreads) {
    test::ThreadEventLoop loop;
    test::LogLines log;
    auto system = std::make_shared<AudioSystemFake>();
    const InputDevice vmic{1, "vmic", "Virtual", T::virtual_};
    const InputDevice usb{2, "usb", "USB", T::usb};
    system->setDevices({vmic, usb});
    system->setShape(1, {16000, 1});
    system->setShape(2, {48000, 2});
    system->setDefaultInput(1);
    auto mic = std::make_unique<DictationMic>(system, [] { return true; });
    std::atomic<int> buffers = 0;
    std::atomic<int> changes = 0;
    std::atomic<int> readings = 0;
    mic->setOnBuffer([&](const MicBuffer&) { ++buffers; });
    mic->setOnDevicesChange([&] { ++changes; });
    ASSERT_TRUE(mic->prewarm());

    std::atomic<bool> running = true;
    std::thread engineThread([&] {
        std::size_t offset = 0;
        while (running) {
            auto format = system->latestEngine().tapFormat.value_or(AudioFormat{16000, 1});
            auto frames = static_cast<std::size_t>(format.sampleRate / 100);
            system->deliver(
                toneBlock(format.sampleRate, format.channels, frames, 0.1f, 440, offset),
                Clock::uptime() - 0.01);
            offset += frames;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::thread systemThread([&] {
        int i = 0;
        while (running) {
            if (i % 3 == 0)
                system->setDefaultInput(i % 2 ? 1 : 2);
            system->announce(i % 2 ? AudioSystem::Property::defaultInput
                                   : AudioSystem::Property::deviceList);
            if (i % 5 == 0)
                system->changeConfiguration();
            ++i;
            std::this_thread::sleep_for(std::chrono::milliseconds(7));
        }
    });

    int clips = 0;
    for (int i = 0; i < 40; ++i) {
        if (i % 4 == 0)
            mic->setDeviceID(i % 8 ? std::optional<std::string>("usb") : std::nullopt);
        if (i % 6 == 0)
            mic->setOnBuffer([&](const MicBuffer&) { ++buffers; });
        if (i % 5 == 0) {
            mic->beginLevelCheck([&](const MicCheckReading&) { ++readings; });
            mic->endLevelCheck();
        }
        if (i % 5 == 2) {
            // A check that runs while blocks arrive, taken over, and ended by the dictation.
            mic->beginLevelCheck([&](const MicCheckReading&) { ++readings; });
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            mic->beginLevelCheck([&](const MicCheckReading&) { ++readings; });
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
        }
        if (!mic->begin())
            continue;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        auto clip = mic->end(i % 7 == 0 ? 0 : 10);
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!clip.isReady() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(clip.isReady()) << "dictation " << i << " never ended";
        ++clips;
        (void)mic->deviceName();
    }
    // Destroyed while blocks and changes still arrive.
    mic.reset();
    running = false;
    engineThread.join();
    systemThread.join();
    EXPECT_GT(clips, 30);
    EXPECT_GT(buffers, 0);
    EXPECT_GT(readings, 0);
    EXPECT_EQ(system->listenerCount(), 0u);
}

} // namespace
} // namespace talverin
