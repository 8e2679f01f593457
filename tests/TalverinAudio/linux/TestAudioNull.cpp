#include "TalverinAudio/linux/AudioSystemNull.h"

#include "../AudioTestSupport.h"
#include "Runtime/Bundle.h"
#include "Runtime/DefaultsStore.h"
#include "Runtime/VirtualWorld.h"
#include "TalverinAudio/DictationMic.h"
#include "TalverinAudio/Ducker.h"
#include "TalverinAudio/DuckingNull.h"
#include "TalverinAudio/MicCapturingNull.h"
#include "TalverinAudio/SoundPlayingNull.h"
#include "TalverinAudio/Sounds.h"
#include "TalverinAudio/linux/OutputVolumeNull.h"
#include "TalverinAudio/linux/SoundPlayerNull.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talverin {
namespace {

// Every failure of the sound system without a server is "unavailable" and carries the reason.
TEST(AudioSystemNull, EveryFailureSaysTheSystemIsUnavailableAndWhy) {
    AudioSystemNull system;
    const auto unavailable = CoreAudioError::Kind::unavailable;
    ASSERT_FALSE(system.inputDevices());
    EXPECT_EQ(system.inputDevices().error().kind, unavailable);
    EXPECT_EQ(system.inputDevices().error().message, "no sound server");
    ASSERT_FALSE(system.defaultInputID());
    EXPECT_EQ(system.defaultInputID().error().kind, unavailable);
    auto listener = system.addListener(AudioSystem::Property::defaultInput, [] {});
    ASSERT_FALSE(listener);
    EXPECT_EQ(listener.error().kind, unavailable);

    auto engine = system.makeEngine();
    ASSERT_TRUE(engine);
    for (auto result : {engine->selectDevice(InputDevice{}), engine->start()}) {
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().kind, AudioEngineError::Kind::unavailable);
        EXPECT_EQ(result.error().message, "no sound server");
    }
    EXPECT_FALSE(engine->isRunning());
}

// The real services run on the Null backends: the microphone finds no input, the ducker no
// volume to lower (and keeps a record a crash left for a server that can be asked), and the
// ticks stay silent.
TEST(AudioNullBackends, TheServicesRunOnThemWithoutAServer) {
    VirtualWorld world;
    test::LogLines log;
    {
        DictationMic mic(std::make_shared<AudioSystemNull>(), [] { return true; });
        auto begun = mic.begin();
        ASSERT_FALSE(begun);
        EXPECT_EQ(begun.error(), MicError::noInput());
        EXPECT_EQ(mic.deviceName(), std::nullopt);
    }
    EXPECT_EQ(log.starting("mic: begin: "),
              std::vector<std::string>{"mic: begin: no input device"});

    auto defaults = std::make_shared<DefaultsStoreMemory>();
    const nlohmann::json record{{"uid", "speakers"}, {"original", 0.8}, {"written", 0.2}};
    defaults->set(Ducker::pendingKey, record);
    {
        Ducker ducker(
            std::make_shared<OutputVolumeNull>(), [] { return true; }, defaults);
        ducker.duck();
        world.advance(3 * Ducker::recoveryRetry);
        EXPECT_EQ(ducker.state(), Ducker::State{Ducker::Idle{}});
    }
    EXPECT_EQ(defaults->get(Ducker::pendingKey), record);
    EXPECT_EQ(log.starting("ducker: "),
              std::vector<std::string>{"ducker: the output has no volume control"});

    Sounds sounds(std::make_shared<SoundPlayerNull>(), Bundle::main());
    sounds.play(SoundTick::start);
}

// The contracts' own Null implementations: the controller can hold them like the real ones,
// and what they answer says why nothing happens.
TEST(AudioContractNulls, AnswerWithTheirReason) {
    VirtualWorld world;
    const std::string reason = "no sound server";
    MicCapturingNull mic(reason);
    MicCapturing& capturing = mic;
    capturing.setDeviceID("usb");
    EXPECT_EQ(capturing.deviceID(), "usb");
    EXPECT_EQ(capturing.prewarm().error(), MicError::engine(reason));
    EXPECT_EQ(capturing.begin().error(), MicError::engine(reason));
    auto clip = capturing.end(300);
    ASSERT_TRUE(clip.isReady());
    EXPECT_EQ(*clip.peek(), CapturedClip::empty());
    std::vector<MicCheckReading> readings;
    capturing.beginLevelCheck([&](const MicCheckReading& r) { readings.push_back(r); });
    world.runReady();
    EXPECT_EQ(readings, (std::vector<MicCheckReading>{{0, MicSilenceReason::noInput}}));
    capturing.endLevelCheck();

    DuckingNull ducking(reason);
    SoundPlayingNull ticks(reason);
    static_cast<Ducking&>(ducking).duck();
    static_cast<SoundPlaying&>(ticks).play(SoundTick::inserted);
    EXPECT_EQ(ducking.reason(), reason);
    EXPECT_EQ(ticks.reason(), reason);
}

} // namespace
} // namespace talverin
