#include "TalverinAudio/Ducker.h"

#include "Runtime/DefaultsStore.h"
#include "Runtime/VirtualWorld.h"
#include "TalverinAudio/Ramp.h"
#include "TalverinCore/CoreLog.h"
#include "fakes/OutputVolumeFake.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace talverin {
namespace {

using test::OutputVolumeFake;

TEST(Ramp, StepsEndExactlyAtTheTarget) {
    struct Case {
        float from, to;
        double duration, step;
        std::vector<float> expected;
    };
    for (const Case& c : std::vector<Case>{
             {1.0f, 0.0f, 0.0, 0.01, {0.0f}},
             {1.0f, 0.0f, 0.1, 0.0, {0.0f}},
             {0.0f, 1.0f, 0.04, 0.01, {0.25f, 0.5f, 0.75f, 1.0f}},
             {0.5f, 0.2f, 0.015, 0.01, {0.35f, 0.2f}},
         }) {
        auto values = Ramp::values(c.from, c.to, c.duration, c.step);
        ASSERT_EQ(values.size(), c.expected.size()) << c.duration;
        for (std::size_t i = 0; i < values.size(); ++i)
            EXPECT_NEAR(values[i], c.expected[i], 1e-6) << c.duration << " " << i;
        EXPECT_EQ(values.back(), c.to);
    }
    EXPECT_EQ(Ramp::values(0.8f, 0.2f, 0.12, 0.01).size(), 12u);
    EXPECT_EQ(Ramp::values(0.2f, 0.8f, 0.2, 0.01).size(), 20u);
}

TEST(DuckerClamp, AllowsTheOriginalAboveOneButNeverAboveTheServersMaximum) {
    struct Case {
        float volume, original, expected;
    };
    for (Case c : std::vector<Case>{{1.2f, 1.2f, 1.2f},
                                    {1.1f, 0.8f, 1.0f},
                                    {-0.1f, 0.8f, 0.0f},
                                    {5.0f, 5.0f, Ducker::maxVolume},
                                    {0.5f, 0.8f, 0.5f}})
        EXPECT_FLOAT_EQ(Ducker::clampVolume(c.volume, c.original), c.expected) << c.volume;
    EXPECT_NEAR(Ducker::maxVolume, 1.53, 0.01);
}

// Defaults in memory that count the saves.
class CountingDefaults final : public DefaultsStore {
public:
    std::optional<nlohmann::json> get(const std::string& key) const override {
        return m_memory.get(key);
    }
    bool contains(const std::string& key) const override { return m_memory.contains(key); }
    void set(const std::string& key, nlohmann::json value) override {
        ++saves;
        m_memory.set(key, std::move(value));
    }
    void remove(const std::string& key) override { m_memory.remove(key); }

    int saves = 0;

private:
    DefaultsStoreMemory m_memory;
};

class DuckerTest : public ::testing::Test {
protected:
    static constexpr OutputVolume::DeviceId speakers = 7;

    void SetUp() override {
        CoreLog::setSink([this](const std::string& line) {
            std::lock_guard lock(m_logMutex);
            m_logs.push_back(line);
        });
        output->devices[speakers] = {"alsa_output.speakers", 0.8f};
        output->defaultId = speakers;
    }
    void TearDown() override {
        ducker.reset();
        CoreLog::setSink({});
    }

    // A fresh output, defaults and log for one case of a table.
    void reset() {
        ducker.reset();
        output = std::make_shared<OutputVolumeFake>();
        defaults = std::make_shared<DefaultsStoreMemory>();
        playing = true;
        {
            std::lock_guard lock(m_logMutex);
            m_logs.clear();
        }
        output->devices[speakers] = {"alsa_output.speakers", 0.8f};
        output->defaultId = speakers;
    }

    Ducker& make() {
        ducker = std::make_unique<Ducker>(
            output, [this] { return playing; }, defaults);
        world.runReady();
        return *ducker;
    }
    std::vector<std::string> logs() {
        std::lock_guard lock(m_logMutex);
        return m_logs;
    }
    float volume() { return *output->devices[speakers].volume; }
    std::optional<nlohmann::json> record() { return defaults->get(Ducker::pendingKey); }
    void finishFades() { world.runUntil(world.uptime() + 1.0); }

    VirtualWorld world;
    std::shared_ptr<OutputVolumeFake> output = std::make_shared<OutputVolumeFake>();
    std::shared_ptr<DefaultsStoreMemory> defaults = std::make_shared<DefaultsStoreMemory>();
    bool playing = true;
    std::unique_ptr<Ducker> ducker;

private:
    std::mutex m_logMutex;
    std::vector<std::string> m_logs;
};

TEST_F(DuckerTest, FadesDownInTwelveStepsAndBackInTwenty) {
    Ducker& d = make();
    d.duck();
    world.runReady();
    // The first step runs at once.
    ASSERT_EQ(output->writes.size(), 1u);
    EXPECT_NEAR(output->writes[0].volume, 0.75f, 1e-5);
    finishFades();
    auto down = output->writtenVolumes();
    ASSERT_EQ(down.size(), 12u);
    EXPECT_EQ(down.back(), 0.2f);
    EXPECT_EQ(logs(), (std::vector<std::string>{"ducker: 0.80 \u2192 0.20"}));
    EXPECT_EQ(
        *record(),
        (nlohmann::json{{"uid", "alsa_output.speakers"}, {"original", 0.8f}, {"written", 0.2f}}));

    d.restore();
    finishFades();
    ASSERT_EQ(output->writes.size(), 32u);
    EXPECT_EQ(volume(), 0.8f);
    EXPECT_FALSE(record());
    EXPECT_EQ(d.state(), Ducker::State{Ducker::Idle{}});
}

// A crash at any moment of a fade must leave a record that the next launch recognises. The
// record is saved before the first write and after the last (a save rewrites the whole
// defaults file), so it names the fade's path, and every volume of every step lies on it.
TEST_F(DuckerTest, TheRecordIsSavedAroundEachFadeAndCoversEveryStep) {
    auto counting = std::make_shared<CountingDefaults>();
    ducker = std::make_unique<Ducker>(
        output, [this] { return playing; }, counting);
    world.runReady();
    auto onPath = [&] {
        auto r = counting->get(Ducker::pendingKey);
        ASSERT_TRUE(r);
        EXPECT_NEAR((*r)["original"].get<float>(), 0.8f, 1e-6);
        const float written = (*r)["written"].get<float>();
        const float target = r->value("target", written);
        EXPECT_GE(volume(), std::min(written, target) - 1e-6);
        EXPECT_LE(volume(), std::max(written, target) + 1e-6);
    };
    ducker->duck();
    world.runReady();
    EXPECT_EQ(counting->saves, 1) << "saved once before the first write";
    onPath();
    while (world.pending() > 0) {
        world.stepNext();
        onPath();
    }
    EXPECT_EQ(counting->saves, 2) << "and once when the fade down has ended";
    EXPECT_FALSE(counting->get(Ducker::pendingKey)->contains("target"));
    ducker->restore();
    world.runReady();
    onPath();
    for (int i = 0; i < 18; ++i) {
        world.stepNext();
        onPath();
    }
    finishFades();
    EXPECT_EQ(counting->saves, 3);
    EXPECT_FALSE(counting->get(Ducker::pendingKey));
    EXPECT_EQ(volume(), 0.8f);
}

// Writes that take time must not stretch a fade: its steps are timed from its start, and a
// step that is late writes the value due by then.
TEST_F(DuckerTest, SlowWritesDoNotStretchTheFade) {
    for (double cost : {0.004, 0.025}) {
        SCOPED_TRACE(cost);
        reset();
        Ducker& d = make();
        std::vector<double> times;
        output->onWrite = [&] {
            times.push_back(world.uptime());
            // Only the clock moves: no job of the ducker is due meanwhile.
            world.runUntil(world.uptime() + cost);
        };
        const double t0 = world.uptime();
        d.duck();
        finishFades();
        ASSERT_FALSE(times.empty());
        EXPECT_LE(times.back() - t0, Ducker::fadeDown + cost + 1e-9);
        EXPECT_EQ(volume(), 0.2f);
        output->onWrite = nullptr;
    }
}

TEST_F(DuckerTest, ALaunchAfterACrashMidFadeRestoresTheOriginal) {
    make().duck();
    world.runReady();
    world.stepNext();
    world.stepNext(); // three of twelve steps written
    ducker.reset();   // the run dies here
    ASSERT_NEAR(volume(), 0.65f, 1e-5);
    make();
    EXPECT_EQ(volume(), 0.8f);
    EXPECT_FALSE(record());
    EXPECT_EQ(logs().back(), "ducker: restored the volume a previous run left ducked");
}

TEST_F(DuckerTest, DucksNothingWhenItShouldNot) {
    struct Case {
        const char* name;
        bool playing;
        std::optional<float> volume;
        std::optional<bool> muted;
        std::vector<std::string> logs;
    };
    for (const Case& c : std::vector<Case>{
             {"nothing plays", false, 0.8f, false, {"ducker: nothing plays"}},
             {"volume 0.01", true, 0.01f, false, {}},
             {"muted", true, 0.8f, true, {}},
             {"no volume control",
              true,
              std::nullopt,
              false,
              {"ducker: the output has no volume control"}},
         }) {
        SCOPED_TRACE(c.name);
        reset();
        playing = c.playing;
        output->devices[speakers].volume = c.volume;
        output->devices[speakers].muted = c.muted;
        make().duck();
        finishFades();
        EXPECT_TRUE(output->writes.empty());
        EXPECT_EQ(logs(), c.logs);
        EXPECT_FALSE(record());
        EXPECT_EQ(ducker->state(), Ducker::State{Ducker::Idle{}});
    }
}

TEST_F(DuckerTest, AnUnreadableMuteDoesNotStopTheDuck) {
    output->devices[speakers].muted = std::nullopt;
    make().duck();
    finishFades();
    EXPECT_EQ(volume(), 0.2f);
}

TEST_F(DuckerTest, TheUserMovingTheVolumeDuringTheFadeWins) {
    Ducker& d = make();
    d.duck();
    world.runReady();
    for (int i = 0; i < 3; ++i)
        world.stepNext();
    output->devices[speakers].volume = 0.5f; // the user's slider, between two steps
    finishFades();
    EXPECT_EQ(output->writes.size(), 4u);
    EXPECT_EQ(logs().back(), "ducker: the volume was changed during the fade: kept");
    EXPECT_EQ(volume(), 0.5f);
    EXPECT_FALSE(record());
    d.restore();
    finishFades();
    EXPECT_EQ(volume(), 0.5f);
}

TEST_F(DuckerTest, TheUserMovingTheVolumeWhileDuckedIsKeptAtRestore) {
    Ducker& d = make();
    d.duck();
    finishFades();
    output->devices[speakers].volume = 0.6f;
    d.restore();
    finishFades();
    EXPECT_EQ(volume(), 0.6f);
    EXPECT_EQ(logs().back(), "ducker: the volume was changed meanwhile: kept");
    EXPECT_FALSE(record());
}

TEST_F(DuckerTest, ADuckDuringTheFadeUpKeepsTheFirstOriginal) {
    Ducker& d = make();
    d.duck();
    finishFades();
    d.restore();
    world.runReady();
    for (int i = 0; i < 9; ++i)
        world.stepNext(); // ten of twenty steps: about 0.5
    ASSERT_NEAR(volume(), 0.5f, 1e-5);
    d.duck();
    finishFades();
    EXPECT_EQ(volume(), 0.2f);
    EXPECT_NEAR((*record())["original"].get<float>(), 0.8f, 1e-6);
    d.restore();
    finishFades();
    EXPECT_EQ(volume(), 0.8f);
}

TEST_F(DuckerTest, ASecondRestoreDuringTheFadeUpIsIgnored) {
    Ducker& d = make();
    d.duck();
    finishFades();
    d.restore();
    world.runReady();
    world.stepNext();
    d.restore();
    finishFades();
    EXPECT_EQ(output->writes.size(), 32u);
    EXPECT_EQ(volume(), 0.8f);
}

TEST_F(DuckerTest, RestoreImmediatelyDuringTheFadeUpWritesTheOriginalAtOnce) {
    Ducker& d = make();
    d.duck();
    finishFades();
    d.restore();
    world.runReady();
    world.stepNext();
    d.restoreImmediately();
    EXPECT_EQ(volume(), 0.8f);
    EXPECT_FALSE(record());
    std::size_t writes = output->writes.size();
    finishFades();
    EXPECT_EQ(output->writes.size(), writes); // the fade stopped
    d.restoreImmediately();
    EXPECT_EQ(output->writes.size(), writes);
}

TEST_F(DuckerTest, AnOriginalAboveOneIsRestoredAsItWas) {
    output->devices[speakers].volume = 1.2f;
    Ducker& d = make();
    d.duck();
    finishFades();
    EXPECT_NEAR(volume(), 0.3f, 1e-6);
    d.restore();
    finishFades();
    EXPECT_EQ(volume(), 1.2f);
}

TEST_F(DuckerTest, ADeviceWithoutAUidIsDuckedWithoutARecord) {
    output->devices[speakers].uid = std::nullopt;
    make().duck();
    finishFades();
    EXPECT_EQ(volume(), 0.2f);
    EXPECT_FALSE(record());
}

TEST_F(DuckerTest, AFailedWriteIsLoggedAndTheFadeGoesOn) {
    output->devices[speakers].failWrites = true;
    make().duck();
    finishFades();
    auto lines = logs();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "ducker: set volume failed (-3)"), 12);
}

TEST_F(DuckerTest, RecoversOnlyWhenTheSameDeviceStillHasTheWrittenVolume) {
    struct Case {
        const char* name;
        nlohmann::json record;
        float expected;
        bool logged;
    };
    const std::string restored = "ducker: restored the volume a previous run left ducked";
    for (const Case& c : std::vector<Case>{
             {"matches",
              {{"uid", "alsa_output.speakers"}, {"original", 0.9}, {"written", 0.79}},
              0.9f,
              true},
             {"above one",
              {{"uid", "alsa_output.speakers"}, {"original", 1.2}, {"written", 0.8}},
              1.2f,
              true},
             {"corrupt original",
              {{"uid", "alsa_output.speakers"}, {"original", 40.0}, {"written", 0.8}},
              Ducker::maxVolume,
              true},
             {"moved since",
              {{"uid", "alsa_output.speakers"}, {"original", 0.9}, {"written", 0.3}},
              0.8f,
              false},
             {"a step in flight",
              {{"uid", "alsa_output.speakers"},
               {"original", 0.9},
               {"written", 0.85},
               {"writing", 0.8}},
              0.9f,
              true},
             {"off the path of an older run's step",
              {{"uid", "alsa_output.speakers"},
               {"original", 0.9},
               {"written", 0.85},
               {"writing", 0.9}},
              0.8f,
              false},
             {"anywhere on the fade's path",
              {{"uid", "alsa_output.speakers"},
               {"original", 0.9},
               {"written", 0.9},
               {"target", 0.225}},
              0.9f,
              true},
             {"past the fade's target",
              {{"uid", "alsa_output.speakers"},
               {"original", 0.9},
               {"written", 0.95},
               {"target", 0.85}},
              0.8f,
              false},
             {"other device", {{"uid", "usb"}, {"original", 0.9}, {"written", 0.8}}, 0.8f, false},
             {"missing field", {{"uid", "alsa_output.speakers"}, {"original", 0.9}}, 0.8f, false},
             {"wrong type",
              {{"uid", "alsa_output.speakers"}, {"original", "0.9"}, {"written", 0.8}},
              0.8f,
              false},
         }) {
        SCOPED_TRACE(c.name);
        reset();
        defaults->set(Ducker::pendingKey, c.record);
        make();
        EXPECT_FLOAT_EQ(volume(), c.expected);
        EXPECT_FALSE(record());
        EXPECT_EQ(logs(),
                  c.logged ? std::vector<std::string>{restored} : std::vector<std::string>{});
    }
}

TEST_F(DuckerTest, RecoveryWaitsForTheSoundServer) {
    defaults->set(Ducker::pendingKey,
                  {{"uid", "alsa_output.speakers"}, {"original", 0.9}, {"written", 0.8}});
    output->reachable = false;
    make();
    world.advance(5.0);
    EXPECT_TRUE(record());
    EXPECT_EQ(volume(), 0.8f);
    output->reachable = true;
    world.advance(Ducker::recoveryRetry);
    EXPECT_FLOAT_EQ(volume(), 0.9f);
    EXPECT_FALSE(record());
}

// The server comes up and the user dictates before the recovery asks again: the volume a
// crash left low is given back first, and the duck lowers from it. The record of the new duck
// is not taken for the old one.
TEST_F(DuckerTest, ADuckBeforeTheRecoveryRetriesRecoversFirst) {
    defaults->set(Ducker::pendingKey,
                  {{"uid", "alsa_output.speakers"}, {"original", 0.8}, {"written", 0.2}});
    output->devices[speakers].volume = 0.2f;
    output->reachable = false;
    Ducker& d = make();
    output->reachable = true;
    d.duck();
    world.runReady();
    for (int i = 0; i < 11; ++i)
        world.stepNext(); // the fade down ends before the recovery's next try
    EXPECT_EQ(volume(), 0.2f);
    EXPECT_EQ(logs(),
              (std::vector<std::string>{"ducker: restored the volume a previous run left ducked",
                                        "ducker: 0.80 \u2192 0.20"}));
    world.advance(2 * Ducker::recoveryRetry);
    EXPECT_EQ(volume(), 0.2f) << "the recovery does not undo the running duck";
    ASSERT_TRUE(record());
    EXPECT_NEAR((*record())["original"].get<float>(), 0.8f, 1e-6);
    d.restore();
    finishFades();
    EXPECT_EQ(volume(), 0.8f);
    EXPECT_FALSE(record());
}

} // namespace
} // namespace talverin
