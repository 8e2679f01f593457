#include "TalverinAudio/DictationMic.h"

#include "DictationMicFixture.h"
#include "Runtime/VirtualWorld.h"
#include "fakes/AudioSystemFake.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talverin {
namespace {

using test::AudioSystemFake;
using test::DictationMicTest;
using test::toneBlock;
using test::usb;
using test::vmic;
using Property = AudioSystem::Property;

const std::string vmicPrepared = "prepared virtual input (systemDefault), 16000 Hz, 1 ch, in 0 ms";

TEST_F(DictationMicTest, PrewarmPreparesOnceAndASecondPrewarmReusesTheEngine) {
    ASSERT_TRUE(mic->prewarm());
    EXPECT_EQ(lines(), std::vector<std::string>{"mic: prewarm: " + vmicPrepared});
    auto engine = system->latestEngine();
    EXPECT_EQ(engine.device, vmic);
    EXPECT_EQ(engine.tapFrames, DictationMic::tapFrames);
    EXPECT_EQ(engine.tapFormat, (AudioFormat{16000, 1}));
    EXPECT_EQ(engine.prepares, 1);
    EXPECT_FALSE(engine.running);
    EXPECT_EQ(mic->deviceName(), "Virtual Microphone");
    EXPECT_EQ(system->listenerCount(), 2u);

    ASSERT_TRUE(mic->prewarm());
    EXPECT_TRUE(lines().empty());
    EXPECT_EQ(system->enginesMade(), 1u);
}

TEST_F(DictationMicTest, ADictationRunsOnThePreparedEngineAndPausesItAfterTheClip) {
    ASSERT_TRUE(mic->prewarm());
    lines();
    auto clip = dictate(0.5, 200);
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->durationMs(), 700);
    EXPECT_TRUE(clip->speechDetected() == false); // a steady tone is not speech
    EXPECT_EQ(buffers, 7);
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "mic: begin 0 ms",
                           "mic: first block 100 ms after begin (captured at +0 ms, 1600 frames "
                           "at 16000 Hz)",
                           "mic: clip 700 ms, speech no (0 of 5 frames), 7 blocks, ended by "
                           "post-roll 200 ms after release",
                       }));
    auto engine = system->latestEngine();
    EXPECT_EQ(system->enginesMade(), 1u);
    EXPECT_EQ(engine.starts, 1);
    EXPECT_EQ(engine.pauses, 1);
    EXPECT_FALSE(engine.running);
}

TEST_F(DictationMicTest, AudioFromBeforeThePauseNeverReachesTheNextClip) {
    ASSERT_TRUE(mic->begin());
    deliver(world.uptime(), 3);
    auto first = mic->end(100);
    deliver(world.uptime(), 1);
    ASSERT_TRUE(first.peek());
    ASSERT_FALSE(system->latestEngine().running);
    const double paused = world.uptime();

    world.runUntil(paused + 1);
    ASSERT_TRUE(mic->begin());
    // Blocks held back by the sound server and captured before the pause arrive late: the
    // one that ended before it is dropped, the one that runs past it is pre-roll.
    system->deliver(toneBlock(16000, 1, 1600, 0.1f), paused - 0.1);
    system->deliver(toneBlock(16000, 1, 1600, 0.1f), paused - 0.05);
    deliver(world.uptime(), 2);
    auto clip = mic->end(0);
    world.runReady();
    ASSERT_TRUE(clip.peek());
    EXPECT_EQ(clip.peek()->pcm16kMono().size(), 3u * 1600);
}

// The engine goes on recording until the server has taken the pause, a while after the clip
// ended: what it captured meanwhile, handed over late, belongs to no clip either.
TEST_F(DictationMicTest, AudioCapturedWhileThePauseIsTakenNeverReachesTheNextClip) {
    ASSERT_TRUE(mic->begin());
    deliver(world.uptime(), 3);
    auto first = mic->end(100);
    double ended = 0;
    system->setOnPause([&] {
        ended = world.uptime();
        world.runUntil(world.uptime() + 0.05);
    });
    deliver(world.uptime(), 1);
    ASSERT_TRUE(first.peek());
    ASSERT_GT(ended, 0);
    system->setOnPause(nullptr);

    world.runUntil(world.uptime() + 1);
    ASSERT_TRUE(mic->begin());
    system->deliver(toneBlock(16000, 1, 320, 0.1f), ended + 0.01);
    deliver(world.uptime(), 2);
    auto clip = mic->end(0);
    world.runReady();
    ASSERT_TRUE(clip.peek());
    EXPECT_EQ(clip.peek()->pcm16kMono().size(), 2u * 1600);
}

// A server that stops answering fails a begin with one error once its budget has run out,
// whether the engine was prepared or not, and tears nothing down: once the server answers,
// the next begin rebuilds and records.
TEST_F(DictationMicTest, ABeginThatGetsNoAnswerFailsWithoutTearingDown) {
    const std::string noAnswer = "mic: begin: no answer from the sound server within 500 ms";
    for (bool prepared : {true, false}) {
        SCOPED_TRACE(prepared);
        if (prepared)
            ASSERT_TRUE(mic->prewarm());
        lines();
        const std::size_t engines = system->enginesMade();
        system->setStalled(true);
        const double t0 = world.uptime();
        auto begun = mic->begin();
        EXPECT_EQ(system->waitDeadline(), t0 + DictationMic::waitBudget);
        ASSERT_FALSE(begun);
        EXPECT_EQ(begun.error(), MicError::engine(DictationMic::noAnswerText));
        EXPECT_EQ(lines(), std::vector<std::string>{noAnswer});
        EXPECT_EQ(system->enginesMade(), engines) << "no rebuild while the server is silent";

        system->setStalled(false);
        auto clip = dictate();
        ASSERT_TRUE(clip);
        EXPECT_GT(clip->durationMs(), 0);
        EXPECT_EQ(lines().front(), "mic: begin: " + vmicPrepared);
        mic = std::make_unique<DictationMic>(system, [this] { return authorized; });
    }
}

TEST_F(DictationMicTest, BeginWithoutAnEngineRebuildsWithReasonBegin) {
    ASSERT_TRUE(mic->begin());
    EXPECT_EQ(lines(),
              (std::vector<std::string>{"mic: begin: " + vmicPrepared, "mic: begin 0 ms"}));
}

TEST_F(DictationMicTest, WithoutPermissionNothingIsPreparedAndNothingLogged) {
    ASSERT_TRUE(mic->prewarm());
    lines();
    authorized = false;
    auto begun = mic->begin();
    ASSERT_FALSE(begun);
    EXPECT_EQ(begun.error(), MicError::notAuthorized());
    EXPECT_TRUE(system->latestEngine().starts == 0);
    auto prewarmed = mic->prewarm();
    ASSERT_FALSE(prewarmed);
    EXPECT_EQ(prewarmed.error(), MicError::notAuthorized());
    // A preparation without permission tears the engine down.
    EXPECT_TRUE(system->latestEngine().stopped);
    EXPECT_EQ(mic->deviceName(), std::nullopt);
    EXPECT_TRUE(lines().empty());
}

struct FailureCase {
    std::string name;
    void (*arrange)(AudioSystemFake&);
    MicError error;
    std::vector<std::string> lines;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class DictationMicFailures : public DictationMicTest,
                             public ::testing::WithParamInterface<FailureCase> {};

TEST_P(DictationMicFailures, APreparationThatFailsLeavesNoEngine) {
    const auto& c = GetParam();
    c.arrange(*system);
    auto result = mic->prewarm();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), c.error);
    EXPECT_EQ(lines(), c.lines);
    EXPECT_EQ(mic->activeDevice(), std::nullopt);
    // begin() tries again, with its own reason.
    auto begun = mic->begin();
    ASSERT_FALSE(begun);
    EXPECT_EQ(begun.error(), c.error);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DictationMicFailures,
    ::testing::Values(FailureCase{"noDevices",
                                  [](AudioSystemFake& s) { s.setDevices({}); },
                                  MicError::noInput(),
                                  {"mic: prewarm: no input device"}},
                      FailureCase{
                          "unreadableDeviceList",
                          [](AudioSystemFake& s) {
                              s.setListError(CoreAudioError{"AudioObjectGetPropertyData(dev#)", 6});
                          },
                          MicError::noInput(),
                          {"mic: prewarm: no input device"}},
                      FailureCase{"selectionFails",
                                  [](AudioSystemFake& s) {
                                      s.scriptSelect(5);
                                      s.scriptSelect(5);
                                  },
                                  MicError::device(5),
                                  {"mic: prewarm: selecting the virtual device failed (5)"}},
                      FailureCase{"noInputFormat",
                                  [](AudioSystemFake& s) {
                                      s.setShape(1, {0, 0});
                                  },
                                  MicError::noInput(),
                                  {"mic: prewarm: the virtual device has no input format"}},
                      FailureCase{"noEngine",
                                  [](AudioSystemFake& s) { s.setMakeEngineFails(true); },
                                  MicError::noInput(),
                                  {}}),
    [](const auto& info) { return info.param.name; });

TEST_F(DictationMicTest, TheChosenDeviceTakesEffectAtTheNextPreparation) {
    ASSERT_TRUE(mic->prewarm());
    lines();
    mic->setDeviceID("usb-uid");
    world.runUntil(world.uptime() + 5);
    EXPECT_EQ(system->enginesMade(), 1u);
    EXPECT_EQ(mic->deviceName(), "Virtual Microphone");

    ASSERT_TRUE(mic->prewarm());
    mic->setDeviceID("gone-uid");
    ASSERT_TRUE(mic->prewarm());
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "mic: prewarm: prepared usb input (requested), 48000 Hz, 2 ch, in 0 ms",
                           "mic: prewarm: prepared virtual input (systemDefault, picked device "
                           "missing), 16000 Hz, 1 ch, in 0 ms",
                       }));
}

TEST_F(DictationMicTest, DeviceChangesAreCoalescedIntoOneRebuildCheck) {
    ASSERT_TRUE(mic->prewarm());
    lines();
    // Unchanged devices: the check leaves the engine alone.
    system->announce(Property::deviceList);
    world.runUntil(world.uptime() + 1);
    EXPECT_EQ(system->enginesMade(), 1u);
    EXPECT_EQ(deviceChanges, 1);

    const double first = world.uptime();
    system->setDefaultInput(usb.id);
    system->announce(Property::defaultInput);
    world.runUntil(first + 0.1);
    system->announce(Property::deviceList);
    world.runUntil(first + 0.3499);
    EXPECT_EQ(system->enginesMade(), 1u);
    world.runUntil(first + 1);
    EXPECT_EQ(system->log.times("makeEngine").back(), first + 0.1 + 0.25);
    EXPECT_EQ(system->enginesMade(), 2u);
    EXPECT_EQ(deviceChanges, 3);
    EXPECT_EQ(lines(), std::vector<std::string>{
                           "mic: devices: prepared usb input (systemDefault), 48000 Hz, 2 ch, in "
                           "0 ms"});
}

TEST_F(DictationMicTest, ADeviceChangeDuringACaptureIsCheckedAfterIt) {
    for (bool defaultChanges : {false, true}) {
        ASSERT_TRUE(mic->prewarm());
        ASSERT_TRUE(mic->begin());
        lines();
        std::size_t engines = system->enginesMade();
        if (defaultChanges)
            system->setDefaultInput(usb.id);
        system->announce(Property::defaultInput);
        deliver(world.uptime(), 5);
        EXPECT_EQ(system->enginesMade(), engines) << "nothing is rebuilt under a capture";
        mic->end(100);
        deliver(world.uptime(), 2);
        world.runUntil(world.uptime() + 1);
        auto fresh = lines();
        if (defaultChanges) {
            EXPECT_EQ(system->enginesMade(), engines + 1);
            EXPECT_EQ(fresh.back(),
                      "mic: after capture: prepared usb input (systemDefault), 48000 Hz, 2 ch, "
                      "in 0 ms");
        } else {
            EXPECT_EQ(system->enginesMade(), engines);
            EXPECT_TRUE(fresh.back().starts_with("mic: clip "));
        }
    }
}

TEST_F(DictationMicTest, AConfigurationChangeDuringACaptureRebuildsAfterIt) {
    ASSERT_TRUE(mic->prewarm());
    ASSERT_TRUE(mic->begin());
    deliver(world.uptime(), 3);
    lines();
    system->setShape(vmic.id, {44100, 1});
    system->changeConfiguration();
    world.runReady();
    EXPECT_EQ(lines(),
              std::vector<std::string>{"mic: engine configuration changed during a capture"});
    // The capture keeps its engine to the end.
    deliver(world.uptime(), 2);
    auto clip = mic->end(100);
    deliver(world.uptime(), 2);
    world.runUntil(world.uptime() + 0.5);
    ASSERT_TRUE(clip.peek());
    EXPECT_EQ(clip.peek()->durationMs(), 600);
    auto fresh = lines();
    EXPECT_EQ(fresh.back(), "mic: after capture: prepared virtual input (systemDefault), 44100 "
                            "Hz, 1 ch, in 0 ms");
    EXPECT_EQ(system->enginesMade(), 2u);
}

TEST_F(DictationMicTest, AConfigurationChangeThatKeepsDeviceAndShapeOnlyPreparesAgain) {
    ASSERT_TRUE(mic->prewarm());
    lines();
    system->changeConfiguration();
    world.runUntil(world.uptime() + 1);
    EXPECT_EQ(system->enginesMade(), 1u);
    EXPECT_EQ(system->latestEngine().prepares, 2);
    EXPECT_TRUE(lines().empty());
}

struct ChangeTimesCase {
    std::string name;
    std::vector<double> offsets; // seconds after the first change
    bool lastKeepsChanging;
};

void PrintTo(const ChangeTimesCase& c, std::ostream* os) {
    *os << c.name;
}

class DictationMicConfigurationChanges : public DictationMicTest,
                                         public ::testing::WithParamInterface<ChangeTimesCase> {};

TEST_P(DictationMicConfigurationChanges, TheFourthWithinTenSecondsStopsTheRebuilds) {
    const auto& c = GetParam();
    ASSERT_TRUE(mic->prewarm());
    lines();
    const double first = world.uptime();
    const InputShape shapes[] = {{48000, 2}, {44100, 1}};
    for (std::size_t i = 0; i < c.offsets.size(); ++i) {
        world.runUntil(first + c.offsets[i]);
        InputShape shape = shapes[i % 2];
        system->setShape(vmic.id, shape);
        system->changeConfiguration();
        world.runReady();
        auto fresh = lines();
        bool last = i + 1 == c.offsets.size();
        if (last && c.lastKeepsChanging) {
            EXPECT_EQ(fresh, std::vector<std::string>{
                                 "mic: engine configuration keeps changing: rebuilt at the next "
                                 "begin"});
        } else {
            std::string rate = std::to_string(static_cast<int>(shape.rate));
            std::string ch = std::to_string(shape.channels);
            EXPECT_EQ(fresh, std::vector<std::string>{"mic: engine configuration changed (" + rate +
                                                      " Hz, " + ch + " ch)"});
            world.runUntil(world.uptime() + 0.3);
            EXPECT_EQ(lines(),
                      std::vector<std::string>{
                          "mic: configuration: prepared virtual input (systemDefault), " + rate +
                          " Hz, " + ch + " ch, in 0 ms"})
                << "change " << i;
        }
    }
    std::size_t engines = system->enginesMade();
    world.runUntil(world.uptime() + 5);
    if (c.lastKeepsChanging) {
        EXPECT_EQ(system->enginesMade(), engines) << "no automatic rebuild";
        ASSERT_TRUE(mic->begin());
        EXPECT_TRUE(lines().front().starts_with("mic: begin: prepared virtual input"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, DictationMicConfigurationChanges,
    ::testing::Values(ChangeTimesCase{"fourInFourSeconds", {0, 1, 2, 3}, true},
                      ChangeTimesCase{"fourJustUnderTen", {0, 1, 2, 9.9}, true},
                      ChangeTimesCase{"firstTenSecondsOld", {0, 1, 2, 10}, false},
                      ChangeTimesCase{"three", {0, 0.5, 1}, false}),
    [](const auto& info) { return info.param.name; });

TEST_F(DictationMicTest, TheLastDeviceUnpluggedTearsTheEngineDownAndStopsThere) {
    ASSERT_TRUE(mic->prewarm());
    lines();
    system->setDevices({});
    system->announce(Property::deviceList);
    world.runUntil(world.uptime() + 1);
    // Nothing is prepared on no device: no second "no input device" and no failed preparation.
    EXPECT_EQ(lines(), std::vector<std::string>{"mic: devices: no input device left"});
    EXPECT_TRUE(system->latestEngine().stopped);
    EXPECT_EQ(system->log.count("makeEngine"), 1u);
    EXPECT_EQ(mic->deviceName(), std::nullopt);

    auto begun = mic->begin();
    ASSERT_FALSE(begun);
    EXPECT_EQ(begun.error(), MicError::noInput());
    EXPECT_EQ(lines(), std::vector<std::string>{"mic: begin: no input device"});
}

TEST_F(DictationMicTest, AnEngineThatFailsToStartTwiceFailsBeginAndIsRebuiltNextTime) {
    ASSERT_TRUE(mic->prewarm());
    lines();
    system->scriptStart(AudioEngineError{"pulse", 7});
    system->scriptStart(AudioEngineError{"pulse", 9});
    auto begun = mic->begin();
    ASSERT_FALSE(begun);
    EXPECT_EQ(begun.error(), MicError::engine("pulse 9"));
    EXPECT_EQ(begun.error().description(), "engine start failed (pulse 9)");
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "mic: start failed (pulse 7), rebuilding",
                           "mic: retry: " + vmicPrepared,
                           "mic: start failed again (pulse 9)",
                       }));
    // No capture is left open: an end answers at once with nothing.
    auto clip = mic->end(300);
    world.runReady();
    ASSERT_TRUE(clip.peek());
    EXPECT_EQ(*clip.peek(), CapturedClip::empty());

    ASSERT_TRUE(dictate());
    auto fresh = lines();
    ASSERT_GE(fresh.size(), 2u);
    EXPECT_EQ(fresh[0], "mic: begin: " + vmicPrepared);
    EXPECT_EQ(fresh[1], "mic: begin 0 ms");
}

TEST_F(DictationMicTest, AnEngineThatStartsOnTheRetryCaptures) {
    ASSERT_TRUE(mic->prewarm());
    system->scriptStart(AudioEngineError{"pulse", 7});
    auto clip = dictate(0.4, 100);
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->durationMs(), 500);
    EXPECT_EQ(system->enginesMade(), 2u);
    EXPECT_TRUE(system->engine(0).stopped);
}

TEST_F(DictationMicTest, ANegativePostRollEndsAtOnce) {
    ASSERT_TRUE(mic->begin());
    deliver(world.uptime(), 3);
    auto clip = mic->end(-50);
    world.runReady();
    ASSERT_TRUE(clip.peek());
    EXPECT_EQ(clip.peek()->durationMs(), 300);
    EXPECT_NE(log.starting("mic: clip ").back().find("ended by cancelled"), std::string::npos);
}

TEST_F(DictationMicTest, AFailedListenerIsLoggedAndTheOtherStillListens) {
    system->scriptListener(Property::defaultInput, -3);
    ASSERT_TRUE(mic->prewarm());
    EXPECT_EQ(lines().front(), "mic: listener dIn  failed (-3)");
    EXPECT_EQ(system->listenerCount(), 1u);
    system->setDevices({usb});
    system->announce(Property::deviceList);
    world.runUntil(world.uptime() + 1);
    EXPECT_EQ(mic->activeDevice(), usb);
}

TEST_F(DictationMicTest, DestructionRemovesTheListenersAndStopsTheEngine) {
    ASSERT_TRUE(mic->prewarm());
    ASSERT_TRUE(mic->begin());
    deliver(world.uptime(), 2);
    mic.reset();
    world.runUntil(world.uptime() + 1);
    EXPECT_EQ(system->listenerCount(), 0u);
    EXPECT_TRUE(system->latestEngine().stopped);
    EXPECT_EQ(system->enginesMade(), 1u);
}

} // namespace
} // namespace talverin
