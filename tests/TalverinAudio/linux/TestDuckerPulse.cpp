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

using test::patience;
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

// The child's fade down: long enough that the parent kills it in the middle of the fade.
constexpr double childFade = 30;

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
    ASSERT_EQ(shell("timeout 120 pactl subscribe > '" + events.string() + "' 2>/dev/null &"), 0);
    auto sawEvent = [&](const std::string& what) {
        std::ifstream in(events);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return text.find(what) != std::string::npos;
    };
    // The subscription is live once it reports a change that the test makes itself.
    bool live = waitFor(
        [&] {
            shell("pactl set-sink-volume @DEFAULT_SINK@ 79%");
            shell("pactl set-sink-volume @DEFAULT_SINK@ 80%");
            return sawEvent("'change' on sink");
        },
        patience);
    ASSERT_TRUE(live) << "pactl subscribe reported nothing";
    sounds.play(SoundTick::start);
    // Each tick appears as a stream on the sink while it plays, and never counts as another
    // process playing.
    EXPECT_TRUE(waitFor([&] { return sawEvent("'new' on sink-input"); }, patience));
    // Ticks played again and again keep a stream of ours on the sink almost all the time.
    for (int i = 0; i < 20; ++i) {
        sounds.play(SoundTick::stop);
        waitFor([] { return false; }, 0.04);
        EXPECT_FALSE(output->otherProcessPlays()) << "tick " << i;
    }
    EXPECT_TRUE(waitFor([&] { return sinkInputs() == before; }, patience));

    startOther();
    ASSERT_TRUE(waitFor([&] { return output->otherProcessPlays(); }, patience));

    auto defaults = std::make_shared<DefaultsStoreMemory>();
    Ducker ducker(
        output, [this] { return output->otherProcessPlays(); }, defaults);
    ducker.duck();
    EXPECT_TRUE(waitFor([] { return sinkPercent() == 20; }, patience)) << sinkPercent();
    ASSERT_TRUE(defaults->get(Ducker::pendingKey));
    EXPECT_EQ((*defaults->get(Ducker::pendingKey))["uid"], "vspk");
    ducker.restore();
    EXPECT_TRUE(waitFor([] { return sinkPercent() == 80; }, patience)) << sinkPercent();
    EXPECT_TRUE(waitFor([&] { return !defaults->contains(Ducker::pendingKey); }, patience));
}

// Run as a child by the test below: ducks in a fade long enough to be killed in the middle of
// it on any machine, and waits to be killed.
TEST_F(DuckerPulse, ChildDucksAndWaits) {
    const char* file = std::getenv("TALVERIN_DUCK_CHILD");
    if (!file)
        GTEST_SKIP() << "runs only as the child of KillingTheProcessMidDuck";
    Ducker ducker(
        output, [] { return true; }, std::make_shared<DefaultsStoreFile>(file), childFade);
    ducker.duck();
    sleep(600);
}

TEST_F(DuckerPulse, ALaunchAfterAKillMidDuckRestoresTheVolume) {
    auto defaultsFile = dir.path() / "defaults.json";
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    pid_t child =
        std::atoi(shellLine("TALVERIN_DUCK_CHILD='" + defaultsFile.string() + "' '" + self +
                            "' --gtest_filter='*ChildDucksAndWaits' " + ">/dev/null 2>&1 & echo $!")
                      .c_str());
    ASSERT_GT(child, 0);
    // The child is ready when its record is on disk: it is written before the fade's first
    // step. Then it is killed once the fade has moved the volume, long before it ends.
    bool recorded = waitFor(
        [&] {
            std::ifstream in(defaultsFile);
            std::string text((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
            return text.find(Ducker::pendingKey) != std::string::npos;
        },
        patience);
    bool lowered = recorded && waitFor([] { return sinkPercent() < 77; }, patience);
    kill(child, SIGKILL);
    ASSERT_TRUE(recorded) << "the child never recorded its duck";
    ASSERT_TRUE(lowered) << sinkPercent();
    ASSERT_GT(sinkPercent(), 20) << "the kill came after the fade had ended";

    Ducker ducker(
        output, [] { return false; }, std::make_shared<DefaultsStoreFile>(defaultsFile));
    // Recovery retries every 2 s until the connection is ready, then writes the original.
    EXPECT_TRUE(waitFor([] { return sinkPercent() == 80; }, patience)) << sinkPercent();
}

} // namespace
} // namespace talverin
