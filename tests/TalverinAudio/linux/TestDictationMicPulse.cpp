// labels: pulse
// resource-lock: pulse-server
#include "TalverinAudio/DictationMic.h"

#include "PulseTestSupport.h"
#include "Runtime/MainQueue.h"
#include "TalverinAudio/linux/AudioSystemPulse.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <fstream>
#include <mutex>
#include <numbers>
#include <regex>
#include <string>
#include <vector>

namespace talverin {
namespace {

using test::patience;
using test::shell;
using test::shellLine;
using test::waitFor;

// Dictations against the session's sound server: what is played into a virtual sink comes
// back out of its virtual microphone, in real time.
class DictationMicPulse : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::serverRuns())
            GTEST_SKIP() << "no sound server";
        mic->setOnBuffer([this](const MicBuffer&) { ++buffers; });
        mic->setOnDevicesChange([this] { ++deviceChanges; });
    }

    void TearDown() override {
        mic.reset();
        for (const auto& module : modules)
            shell("pactl unload-module " + module + " >/dev/null 2>&1");
    }

    std::string loadModule(const std::string& arguments) {
        std::string module = shellLine("pactl load-module " + arguments);
        EXPECT_FALSE(module.empty()) << arguments;
        modules.push_back(module);
        return module;
    }

    void unloadModule(const std::string& module) {
        shell("pactl unload-module " + module);
        std::erase(modules, module);
    }

    // The first line that matches `pattern` completely, waiting up to `seconds` for it.
    std::string awaitLine(const std::string& pattern, double seconds = patience) {
        std::regex re(pattern);
        std::string found;
        waitFor(
            [&] {
                for (const auto& line : log.lines())
                    if (std::regex_match(line, re)) {
                        found = line;
                        return true;
                    }
                return false;
            },
            seconds);
        if (found.empty()) {
            std::string lines;
            for (const auto& line : log.lines())
                lines += "\n  " + line;
            ADD_FAILURE() << "no line like: " << pattern << "\nlines:" << lines;
        }
        return found;
    }

    // Loads a source, prepares the microphone on it and begins a capture that receives blocks;
    // answers the module, empty when any of it failed.
    std::string recordOn(const std::string& moduleArguments, const std::string& source,
                         const std::string& shape) {
        auto module = loadModule(moduleArguments);
        mic->setDeviceID(source);
        if (!mic->prewarm())
            return "";
        awaitLine("mic: prewarm: prepared virtual input \\(requested\\), " + shape +
                  ", in \\d+ ms");
        if (!mic->begin() || !waitFor([&] { return buffers >= 3; }, patience))
            return "";
        return module;
    }

    std::optional<CapturedClip> awaitClip(const Future<CapturedClip>& clip,
                                          double seconds = patience) {
        waitFor([&] { return clip.isReady(); }, seconds);
        return clip.peek();
    }

    test::ThreadEventLoop loop;
    test::LogLines log;
    test::TempDir dir;
    std::atomic<int> buffers = 0;
    std::atomic<int> deviceChanges = 0;
    std::vector<std::string> modules;
    std::unique_ptr<DictationMic> mic = std::make_unique<DictationMic>(
        std::make_shared<AudioSystemPulse>(PulseConnection::shared()), [] { return true; });
};

struct SpeechSource {
    std::string name;
    std::optional<std::string> deviceID;
    std::string sink;
    int rate;
    int channels;
    std::string reason;
};

void PrintTo(const SpeechSource& s, std::ostream* os) {
    *os << s.name;
}

class DictationMicPulseSpeech : public DictationMicPulse,
                                public ::testing::WithParamInterface<SpeechSource> {};

TEST_P(DictationMicPulseSpeech, SpokenWordsGiveAClipWithSpeechOfTheRightLength) {
    if (!test::haveProgram("espeak-ng") || !test::haveProgram("sox"))
        GTEST_SKIP() << "espeak-ng and sox make the speech";
    const auto& source = GetParam();
    auto speech = test::makeSpeech(dir.path(), "Hello world, this is a dictation test.");
    mic->setDeviceID(source.deviceID);
    ASSERT_TRUE(mic->prewarm());

    const double t0 = Clock::uptime();
    ASSERT_TRUE(mic->begin());
    ASSERT_EQ(shell("paplay -d " + source.sink + " '" + speech.string() + "'"), 0);
    const double release = Clock::uptime();
    auto clip = awaitClip(mic->end(300));
    ASSERT_TRUE(clip);

    EXPECT_TRUE(clip->speechDetected());
    const std::string rate = std::to_string(source.rate);
    const std::string ch = std::to_string(source.channels);
    std::smatch first;
    std::string firstLine = awaitLine("mic: first block \\d+ ms after begin \\(captured at "
                                      "\\+(-?\\d+) ms, 1024 frames at " +
                                      rate + " Hz\\)");
    ASSERT_TRUE(std::regex_match(firstLine, first, std::regex(".*at \\+(-?\\d+) ms,.*")));
    // The clip runs from the first captured sample to the release plus the post-roll, in
    // samples at 16 kHz: anything but 16 kHz mono would not fit.
    const double firstSample = t0 + std::stod(first[1].str()) / 1000;
    const double expectedMs = (release + 0.3 - firstSample) * 1000;
    const double blockMs = 1000.0 * DictationMic::tapFrames / source.rate;
    EXPECT_NEAR(static_cast<double>(clip->durationMs()), expectedMs, blockMs);
    EXPECT_EQ(clip->durationMs(), std::llround(clip->pcm16kMono().size() / 16.0));
    EXPECT_GT(buffers, 0);

    awaitLine("mic: prewarm: prepared virtual input \\(" + source.reason + "\\), " + rate +
              " Hz, " + ch + " ch, in \\d+ ms");
    awaitLine("mic: begin \\d+ ms");
    awaitLine("mic: clip \\d+ ms, speech yes \\(\\d+ of \\d+ frames\\), \\d+ blocks, ended by "
              "post-roll \\d+ ms after release");
}

INSTANTIATE_TEST_SUITE_P(
    Sources, DictationMicPulseSpeech,
    ::testing::Values(SpeechSource{"mono16k", std::nullopt, "vspk", 16000, 1, "systemDefault"},
                      SpeechSource{"stereo48k", "vmic48", "vspk48", 48000, 2, "requested"}),
    [](const auto& info) { return info.param.name; });

TEST_F(DictationMicPulse, SilenceGivesAClipWithoutSpeech) {
    ASSERT_TRUE(mic->prewarm());
    ASSERT_TRUE(mic->begin());
    ASSERT_TRUE(waitFor([&] { return buffers >= 5; }, patience));
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    auto clip = awaitClip(mic->end(200));
    ASSERT_TRUE(clip);
    EXPECT_FALSE(clip->speechDetected());
    EXPECT_GT(clip->durationMs(), 800);
    awaitLine("mic: clip \\d+ ms, speech no \\(0 of \\d+ frames\\), \\d+ blocks, ended by "
              "post-roll \\d+ ms after release");
}

TEST_F(DictationMicPulse, ANewSourceAndItsRemovalRebuildForTheDevices) {
    mic->setDeviceID("tlvnull");
    ASSERT_TRUE(mic->prewarm());
    awaitLine("mic: prewarm: prepared virtual input \\(systemDefault, picked device missing\\), "
              "16000 Hz, 1 ch, in \\d+ ms");

    auto module = loadModule("module-null-source source_name=tlvnull rate=22050 channels=1");
    awaitLine("mic: devices: prepared virtual input \\(requested\\), 22050 Hz, 1 ch, in \\d+ ms");
    EXPECT_GT(deviceChanges, 0);
    EXPECT_EQ(mic->activeDevice()->uid, "tlvnull");

    unloadModule(module);
    awaitLine("mic: devices: prepared virtual input \\(systemDefault, picked device missing\\), "
              "16000 Hz, 1 ch, in \\d+ ms");
    EXPECT_EQ(mic->activeDevice()->uid, "vmic");
}

TEST_F(DictationMicPulse, ASourceRemovedWhileRecordingEndsTheClipAndItsReturnIsRebuilt) {
    auto module = recordOn("module-null-source source_name=tlvrate rate=44100 channels=2",
                           "tlvrate", "44100 Hz, 2 ch");
    ASSERT_FALSE(module.empty());

    // The source goes away and comes back with another rate and channel count.
    unloadModule(module);
    awaitLine("mic: engine configuration changed during a capture");
    loadModule("module-null-source source_name=tlvrate rate=22050 channels=1");
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    auto clip = awaitClip(mic->end(300));
    ASSERT_TRUE(clip);
    EXPECT_GT(clip->durationMs(), 0);
    // The recording is not moved to another source: no audio comes after the removal.
    awaitLine("mic: clip \\d+ ms, speech no .*, ended by deadline \\d+ ms after release");
    awaitLine("mic: after capture: prepared virtual input \\(requested\\), 22050 Hz, 1 ch, in "
              "\\d+ ms");

    int before = buffers;
    ASSERT_TRUE(mic->begin());
    ASSERT_TRUE(waitFor([&] { return buffers >= before + 3; }, patience));
    clip = awaitClip(mic->end(100));
    ASSERT_TRUE(clip);
    EXPECT_GT(clip->durationMs(), 100);
}

// A microphone that is unplugged ends the capture as a change of configuration: the
// recording stays on its source and is not moved to another one (the speakers' monitor, say),
// so no audio of another source reaches the clip and it ends by its deadline.
TEST_F(DictationMicPulse, AnUnpluggedMicrophoneEndsTheCaptureInsteadOfMovingIt) {
    auto module = recordOn("module-remap-source master=vspk.monitor source_name=tlvplug", "tlvplug",
                           "16000 Hz, 1 ch");
    ASSERT_FALSE(module.empty());

    unloadModule(module);
    awaitLine("mic: engine configuration changed during a capture");
    auto clip = awaitClip(mic->end(300));
    ASSERT_TRUE(clip);
    EXPECT_GT(clip->durationMs(), 0);
    awaitLine("mic: clip \\d+ ms, speech no .*, ended by deadline \\d+ ms after release");
}

// The level check on the server's own sources: a source of zeros is "no input", the same
// source muted is "muted" (read from the server), and a tone played into the virtual sink is
// heard through its microphone.
TEST_F(DictationMicPulse, TheLevelCheckNamesASilentAndAMutedSourceAndHearsATone) {
    loadModule("module-null-source source_name=tlvcheck rate=16000 channels=1");
    std::mutex mutex;
    std::vector<MicCheckReading> readings;
    auto collect = [&](const MicCheckReading& reading) {
        std::lock_guard lock(mutex);
        readings.push_back(reading);
    };
    mic->setDeviceID("tlvcheck");
    mic->beginLevelCheck(collect);
    awaitLine("mic: level check started");
    awaitLine("mic: level check: quiet \\(noInput\\)");
    ASSERT_EQ(shell("pactl set-source-mute tlvcheck 1"), 0);
    awaitLine("mic: level check: quiet \\(muted\\)");
    mic->endLevelCheck();
    awaitLine("mic: level check ended \\(\\d+ readings\\)");

    // A 440 Hz tone at half scale, as 32-bit floats at 16 kHz, long enough to outlast any wait.
    const auto tone = dir.path() / "tone.raw";
    {
        std::ofstream out(tone, std::ios::binary);
        for (int i = 0; i < static_cast<int>(16000 * patience); ++i) {
            float sample =
                0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 440 * i / 16000));
            out.write(reinterpret_cast<const char*>(&sample), sizeof sample);
        }
    }
    {
        std::lock_guard lock(mutex);
        readings.clear();
    }
    log.clear();
    mic->setDeviceID(std::nullopt);
    mic->beginLevelCheck(collect);
    // The tone starts once the check runs on the virtual microphone.
    awaitLine("mic: level check started");
    int player = std::atoi(shellLine("pacat --playback -d vspk --format=float32le --rate=16000 "
                                     "--channels=1 '" +
                                     tone.string() + "' >/dev/null 2>&1 & echo $!")
                               .c_str());
    ASSERT_GT(player, 0);
    EXPECT_TRUE(waitFor(
        [&] {
            std::lock_guard lock(mutex);
            return std::any_of(readings.begin(), readings.end(), [](const MicCheckReading& r) {
                return r.level > LevelMeter::speechLevel && !r.reason;
            });
        },
        patience));
    mic->endLevelCheck();
    ::kill(player, SIGKILL);
}

} // namespace
} // namespace talverin
