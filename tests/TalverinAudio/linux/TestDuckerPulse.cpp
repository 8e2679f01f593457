// labels: pulse
// resource-lock: pulse-server
#include "TalverinAudio/Ducker.h"

#include "PulseTestSupport.h"
#include "Runtime/Bundle.h"
#include "Runtime/DefaultsStore.h"
#include "TalverinAudio/Sounds.h"
#include "TalverinAudio/linux/OutputVolumePulse.h"
#include "TalverinAudio/linux/SoundPlayerPulse.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

namespace talverin {
namespace {

using test::shell;
using test::shellLine;
using test::waitFor;

// The default sink's volume as the server's own tool reports it, in percent of the normal
// volume (the loudest channel).
int sinkPercent() {
    std::string line = shellLine("pactl get-sink-volume @DEFAULT_SINK@ | head -1");
    int best = -1;
    for (std::size_t at = line.find('%'); at != std::string::npos; at = line.find('%', at + 1)) {
        std::size_t start = line.find_last_of(' ', at);
        best = std::max(best, std::atoi(line.substr(start + 1, at - start - 1).c_str()));
    }
    return best;
}

int sinkInputs() {
    return std::atoi(shellLine("pactl list short sink-inputs | wc -l").c_str());
}

class DuckerPulse : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::serverRuns() || !test::haveProgram("sox") || !test::haveProgram("paplay"))
            GTEST_SKIP() << "no sound server, sox or paplay";
        ASSERT_EQ(shell("pactl set-sink-mute @DEFAULT_SINK@ 0"), 0);
        ASSERT_EQ(shell("pactl set-sink-volume @DEFAULT_SINK@ 80%"), 0);
    }
    void TearDown() override {
        stopOther();
        shell("pactl set-sink-volume @DEFAULT_SINK@ 100%");
    }

    // Another process playing a sine tone into the default sink.
    void startOther() {
        auto sine = dir.path() / "sine.wav";
        ASSERT_EQ(shell("sox -n -r 48000 -c 1 '" + sine.string() +
                        "' synth 20 sine 440 vol 0.1 >/dev/null 2>&1"),
                  0);
        otherPid = std::atoi(
            shellLine("paplay '" + sine.string() + "' >/dev/null 2>&1 & echo $!").c_str());
        ASSERT_GT(otherPid, 0);
    }
    void stopOther() {
        if (otherPid > 0) {
            kill(otherPid, SIGKILL);
            otherPid = 0;
        }
    }

    test::ThreadEventLoop loop;
    test::TempDir dir;
    std::shared_ptr<OutputVolumePulse> output =
        std::make_shared<OutputVolumePulse>(PulseConnection::shared());
    pid_t otherPid = 0;
};

TEST_F(DuckerPulse, DucksAnotherProcessButNotOurOwnTick) {
    Sounds sounds(std::make_shared<SoundPlayerPulse>(PulseConnection::shared()), Bundle::main());
    int before = sinkInputs();
    // A tick lasts about 0.1 s, shorter than a poll of pactl on a loaded machine: the server's
    // own event stream shows it whatever the timing.
    auto events = dir.path() / "events.txt";
    ASSERT_EQ(shell("timeout 6 pactl subscribe > '" + events.string() + "' 2>/dev/null &"), 0);
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(events); }, 2.0));
    waitFor([] { return false; }, 0.5);
    sounds.play(SoundTick::start);
    // Each tick appears as a stream on the sink while it plays, and never counts as another
    // process playing.
    auto sawNewSinkInput = [&] {
        std::ifstream in(events);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return text.find("'new' on sink-input") != std::string::npos;
    };
    EXPECT_TRUE(waitFor(sawNewSinkInput, 5.0));
    // Ticks played again and again keep a stream of ours on the sink almost all the time.
    for (int i = 0; i < 20; ++i) {
        sounds.play(SoundTick::stop);
        waitFor([] { return false; }, 0.04);
        EXPECT_FALSE(output->otherProcessPlays()) << "tick " << i;
    }
    EXPECT_TRUE(waitFor([&] { return sinkInputs() == before; }, 3.0));

    startOther();
    ASSERT_TRUE(waitFor([&] { return output->otherProcessPlays(); }, 5.0));

    auto defaults = std::make_shared<DefaultsStoreMemory>();
    Ducker ducker(
        output, [this] { return output->otherProcessPlays(); }, defaults);
    ducker.duck();
    EXPECT_TRUE(waitFor([] { return sinkPercent() == 20; }, 3.0)) << sinkPercent();
    ASSERT_TRUE(defaults->get(Ducker::pendingKey));
    EXPECT_EQ((*defaults->get(Ducker::pendingKey))["uid"], "vspk");
    ducker.restore();
    EXPECT_TRUE(waitFor([] { return sinkPercent() == 80; }, 3.0)) << sinkPercent();
    EXPECT_TRUE(waitFor([&] { return !defaults->contains(Ducker::pendingKey); }, 1.0));
}

// Run as a child by the test below: ducks and waits to be killed.
TEST_F(DuckerPulse, ChildDucksAndWaits) {
    const char* file = std::getenv("TALVERIN_DUCK_CHILD");
    if (!file)
        GTEST_SKIP() << "runs only as the child of KillingTheProcessMidDuck";
    Ducker ducker(
        output, [] { return true; }, std::make_shared<DefaultsStoreFile>(file));
    ducker.duck();
    sleep(60);
}

TEST_F(DuckerPulse, ALaunchAfterAKillMidDuckRestoresTheVolume) {
    auto defaultsFile = dir.path() / "defaults.json";
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    pid_t child =
        std::atoi(shellLine("TALVERIN_DUCK_CHILD='" + defaultsFile.string() + "' '" + self +
                            "' --gtest_filter='*ChildDucksAndWaits' " + ">/dev/null 2>&1 & echo $!")
                      .c_str());
    ASSERT_GT(child, 0);
    // Killed in the middle of the fade down.
    bool lowered = waitFor([] { return sinkPercent() < 70; }, 5.0);
    kill(child, SIGKILL);
    ASSERT_TRUE(lowered) << sinkPercent();
    waitFor([] { return false; }, 0.3);
    ASSERT_LT(sinkPercent(), 80);

    Ducker ducker(
        output, [] { return false; }, std::make_shared<DefaultsStoreFile>(defaultsFile));
    // Recovery retries every 2 s until the connection is ready, then fades up.
    EXPECT_TRUE(waitFor([] { return sinkPercent() == 80; }, 8.0)) << sinkPercent();
}

} // namespace
} // namespace talverin
