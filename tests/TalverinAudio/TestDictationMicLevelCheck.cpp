#include "TalverinAudio/DictationMic.h"

#include "DictationMicFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace talverin {
namespace {

using test::AudioSystemFake;
using test::usb;
using test::vmic;
using Reason = MicSilenceReason;
using Property = AudioSystem::Property;

constexpr float silent = 0;
constexpr float quiet = 0.002f; // heard, but far below the speech level
constexpr float loud = 0.1f;

const std::string preparedLine =
    "mic: level check: prepared virtual input (systemDefault), 16000 Hz, 1 ch, in 0 ms";

struct Timed {
    double time;
    MicCheckReading reading;
};

class LevelCheck : public test::DictationMicTest {
protected:
    // Begins a check whose readings, with the virtual time they came at, land in `into`, and
    // lets the control queue take it up.
    void beginCheck(std::vector<Timed>& into) {
        mic->beginLevelCheck([this, &into](const MicCheckReading& reading) {
            into.push_back({world.uptime(), reading});
        });
        world.runReady();
    }
    void beginCheck() { beginCheck(readings); }

    // Blocks of 0.1 s at `amplitude` for `seconds` from now.
    void feed(double seconds, float amplitude) {
        deliver(world.uptime(), static_cast<int>(std::lround(seconds * 10)), amplitude);
    }

    // The readings that came after `time`.
    std::vector<Timed> after(double time) const {
        std::vector<Timed> found;
        for (const auto& r : readings)
            if (r.time > time)
                found.push_back(r);
        return found;
    }

    // The highest level among the last two readings: blocks of 0.1 s leave every other
    // reading empty.
    float recentLevel() const {
        if (readings.empty())
            return 0;
        float level = readings.back().reading.level;
        if (readings.size() > 1)
            level = std::max(level, readings[readings.size() - 2].reading.level);
        return level;
    }

    std::vector<Timed> readings;
};

TEST_F(LevelCheck, NoReasonDuringTheFirstWindowThenTheDiagnosisOfTheDevice) {
    struct Case {
        const char* name;
        float amplitude;
        void (*arrange)(AudioSystemFake&);
        Reason reason;
    };
    const Case cases[] = {
        {"only zeros", silent, [](AudioSystemFake&) {}, Reason::noInput},
        {"quiet noise", quiet, [](AudioSystemFake&) {}, Reason::unknown},
        {"muted input", quiet, [](AudioSystemFake& s) { s.setMuted(vmic.id, true); },
         Reason::muted},
        {"held by another process", quiet,
         [](AudioSystemFake& s) { s.setHeldByOther(vmic.id, true); }, Reason::busy},
        {"unplugged", quiet, [](AudioSystemFake& s) { s.setDevices({usb}); }, Reason::noInput},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        readings.clear();
        lines();
        const double start = world.uptime();
        beginCheck();
        // The device changes without a notice, so the engine stays as it is.
        c.arrange(*system);
        feed(3, c.amplitude);

        ASSERT_GE(readings.size(), 55u);
        for (const auto& r : readings) {
            if (r.time - start < 1.99)
                EXPECT_EQ(r.reading.reason, std::nullopt) << "at +" << r.time - start;
            else if (r.time - start > 2.01)
                EXPECT_EQ(r.reading.reason, c.reason) << "at +" << r.time - start;
            EXPECT_LE(r.reading.level, c.amplitude > 0 ? 0.15f : 0.0f);
        }
        mic->endLevelCheck();
        world.runReady();
        auto fresh = lines();
        ASSERT_GE(fresh.size(), 3u);
        EXPECT_EQ(fresh[fresh.size() - 3], "mic: level check started");
        EXPECT_EQ(fresh[fresh.size() - 2],
                  "mic: level check: quiet (" + std::string(toString(c.reason)) + ")");
        EXPECT_EQ(fresh.back(),
                  "mic: level check ended (" + std::to_string(readings.size()) + " readings)");

        system->setDevices({vmic, usb});
        system->setMuted(vmic.id, false);
        system->setHeldByOther(vmic.id, false);
    }
}

TEST_F(LevelCheck, OneLoudBlockClearsTheReasonAtOnceAndQuietBringsItBackAWindowLater) {
    beginCheck();
    feed(2.5, silent);
    ASSERT_EQ(readings.back().reading.reason, Reason::noInput);

    feed(0.1, loud);
    const auto index = readings.size();
    feed(0.1, silent);
    ASSERT_GT(readings.size(), index);
    EXPECT_EQ(readings[index].reading.reason, std::nullopt) << "the very next reading";
    EXPECT_GT(readings[index].reading.level, LevelMeter::speechLevel);
    const double loudAt = readings[index].time;

    feed(2.2, silent);
    for (const auto& r : after(loudAt)) {
        if (r.time - loudAt < 1.99)
            EXPECT_EQ(r.reading.reason, std::nullopt) << "at +" << r.time - loudAt;
        else if (r.time - loudAt > 2.01)
            // The loud block was heard since the last diagnosis.
            EXPECT_EQ(r.reading.reason, Reason::unknown) << "at +" << r.time - loudAt;
    }
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           preparedLine,
                           "mic: level check started",
                           "mic: level check: quiet (noInput)",
                           "mic: level check: hearing input",
                           "mic: level check: quiet (unknown)",
                       }));
}

TEST_F(LevelCheck, AStandingReasonIsRenewedEveryWindowAndLoggedOnlyWhenItChanges) {
    beginCheck();
    feed(2.5, quiet);
    lines();
    system->log.clear();
    // Diagnoses come every 2 s (on the first tick that reaches it), each on what was heard
    // since the previous one.
    feed(6, quiet);
    auto asked = system->log.times("muted");
    ASSERT_EQ(asked.size(), 3u);
    for (std::size_t i = 1; i < asked.size(); ++i) {
        EXPECT_GE(asked[i] - asked[i - 1], 2.0 - 1e-6);
        EXPECT_LE(asked[i] - asked[i - 1], 2.0 + MicCheck::interval + 1e-6);
    }
    EXPECT_TRUE(lines().empty());

    system->setMuted(vmic.id, true);
    feed(2.1, quiet);
    EXPECT_EQ(readings.back().reading.reason, Reason::muted);
    feed(4, silent);
    system->setMuted(vmic.id, false);
    feed(2.1, silent);
    // Zeros without a mute: nothing was heard since the previous diagnosis.
    EXPECT_EQ(readings.back().reading.reason, Reason::noInput);
    EXPECT_EQ(lines(), (std::vector<std::string>{"mic: level check: quiet (muted)",
                                                 "mic: level check: quiet (noInput)"}));
}

TEST_F(LevelCheck, ASecondBeginTakesTheRunningCheckOver) {
    std::vector<Timed> first;
    beginCheck(first);
    feed(2.5, silent);
    ASSERT_EQ(first.back().reading.reason, Reason::noInput);
    const auto before = first.size();
    lines();

    beginCheck();
    feed(1, silent);
    EXPECT_EQ(first.size(), before) << "the first caller hears nothing more";
    ASSERT_GE(readings.size(), 19u);
    // The window goes on: the standing reason is there from the first reading.
    EXPECT_EQ(readings.front().reading.reason, Reason::noInput);
    EXPECT_EQ(system->enginesMade(), 1u);
    EXPECT_EQ(system->latestEngine().starts, 1);
    // The new caller is told the standing reason, and the log names it again for it.
    EXPECT_EQ(lines(), std::vector<std::string>{"mic: level check: quiet (noInput)"});

    mic->endLevelCheck();
    world.runReady();
    EXPECT_EQ(lines(),
              std::vector<std::string>{"mic: level check ended (" +
                                       std::to_string(before + readings.size()) + " readings)"});
    auto engine = system->latestEngine();
    EXPECT_FALSE(engine.running);
    EXPECT_EQ(engine.pauses, 1);
    const auto total = readings.size();
    world.runUntil(world.uptime() + 1);
    EXPECT_EQ(readings.size(), total);
}

// A check that cannot take over (its engine cannot run, or it waits for a capture) is replaced
// by the next begin, which goes on at the same pace: one reading per interval, one caller.
TEST_F(LevelCheck, ASecondBeginReplacingAFailingOrWaitingCheckKeepsOneReadingPerInterval) {
    for (const bool duringCapture : {false, true}) {
        SCOPED_TRACE(duringCapture ? "waiting for a capture" : "failing");
        std::vector<Timed> first;
        readings.clear();
        if (duringCapture)
            ASSERT_TRUE(mic->begin());
        else
            system->setDevices({});
        beginCheck(first);
        feed(0.5, loud);
        beginCheck();
        if (duringCapture) {
            auto clip = mic->end(0);
            feed(0.2, loud);
            ASSERT_TRUE(clip.peek());
        }
        const auto firstHeard = first.size();
        const double from = world.uptime();
        feed(1, loud);

        EXPECT_EQ(first.size(), firstHeard) << "the first caller hears nothing more";
        const auto since = after(from);
        ASSERT_GE(since.size(), 19u);
        EXPECT_LE(since.size(), 21u);
        for (std::size_t i = 1; i < since.size(); ++i)
            EXPECT_NEAR(since[i].time - since[i - 1].time, MicCheck::interval, 1e-6);

        mic->endLevelCheck();
        world.runUntil(world.uptime() + 1);
        system->setDevices({vmic, usb});
    }
}

TEST_F(LevelCheck, AnEndBeforeTheQueueRanLeavesNothingBehind) {
    mic->beginLevelCheck([this](const MicCheckReading& r) { readings.push_back({0, r}); });
    mic->endLevelCheck();
    world.runUntil(world.uptime() + 1);
    EXPECT_TRUE(readings.empty());
    EXPECT_TRUE(lines().empty());
    EXPECT_EQ(system->enginesMade(), 0u);
    EXPECT_EQ(world.pending(), 0u) << "no timer is left running";
}

TEST_F(LevelCheck, ACheckAskedForDuringACaptureWaitsAndThenKeepsTheEngineRunning) {
    ASSERT_TRUE(mic->begin());
    lines();
    beginCheck();
    feed(1, loud);
    EXPECT_TRUE(readings.empty());
    EXPECT_EQ(log.starting("mic: level check"),
              std::vector<std::string>{"mic: level check waits for the capture to end"});
    lines();

    auto clip = mic->end(100);
    feed(0.2, loud);
    ASSERT_TRUE(clip.peek());
    const double clipped = world.uptime();
    feed(1, loud);
    auto engine = system->latestEngine();
    EXPECT_TRUE(engine.running);
    EXPECT_EQ(engine.pauses, 0);
    auto fresh = lines();
    ASSERT_EQ(fresh.size(), 2u);
    EXPECT_TRUE(fresh[0].starts_with("mic: clip ")) << fresh[0];
    EXPECT_EQ(fresh[1], "mic: level check started");
    EXPECT_GE(after(clipped).size(), 18u);
    EXPECT_GT(recentLevel(), LevelMeter::speechLevel);
}

TEST_F(LevelCheck, ADictationEndsTheCheckWithoutALine) {
    beginCheck();
    feed(1, loud);
    ASSERT_FALSE(readings.empty());
    lines();
    const auto heard = readings.size();

    ASSERT_TRUE(mic->begin());
    EXPECT_EQ(system->latestEngine().pauses, 0) << "the capture uses the running engine";
    feed(0.5, loud);
    auto clip = mic->end(0);
    feed(0.2, loud);
    ASSERT_TRUE(clip.peek());
    EXPECT_EQ(readings.size(), heard);
    for (const auto& line : lines())
        EXPECT_FALSE(line.starts_with("mic: level check")) << line;
    EXPECT_FALSE(system->latestEngine().running) << "the capture's end pauses the engine";
    world.runUntil(world.uptime() + 1);
    EXPECT_EQ(readings.size(), heard);
    EXPECT_EQ(world.pending(), 0u) << "no timer is left running";
}

struct FailureCase {
    std::string name;
    void (*arrange)(LevelCheck&, AudioSystemFake&);
    void (*heal)(LevelCheck&, AudioSystemFake&);
    Reason reason;
    std::string line;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class LevelCheckFailures : public LevelCheck, public ::testing::WithParamInterface<FailureCase> {
public:
    bool& allowed() { return authorized; }
};

TEST_P(LevelCheckFailures, AnEngineThatCannotRunGivesQuietReadingsAndIsRetried) {
    const auto& c = GetParam();
    c.arrange(*this, *system);
    const double start = world.uptime();
    beginCheck();
    feed(5, loud);
    // A reading of level 0 with the reason every tick, from the first one on.
    ASSERT_GE(readings.size(), 99u);
    for (const auto& r : readings)
        EXPECT_EQ(r.reading, (MicCheckReading{0, c.reason})) << "at +" << r.time - start;
    auto own = log.starting("mic: level check");
    EXPECT_EQ(std::count(own.begin(), own.end(), c.line), 1);

    c.heal(*this, *system);
    const double healed = world.uptime();
    feed(2.5, loud);
    EXPECT_TRUE(log.contains("mic: level check running again"));
    EXPECT_EQ(readings.back().reading.reason, std::nullopt);
    EXPECT_GT(recentLevel(), LevelMeter::speechLevel);
    // The retry comes within one window of the healing.
    auto heard = after(healed);
    auto firstHeard = std::find_if(heard.begin(), heard.end(),
                                   [](const Timed& r) { return r.reading.level > 0; });
    ASSERT_NE(firstHeard, heard.end());
    EXPECT_LE(firstHeard->time - healed, 2.2);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LevelCheckFailures,
    ::testing::Values(
        FailureCase{"notAuthorized",
                    [](LevelCheck& t, AudioSystemFake&) {
                        static_cast<LevelCheckFailures&>(t).allowed() = false;
                    },
                    [](LevelCheck& t, AudioSystemFake&) {
                        static_cast<LevelCheckFailures&>(t).allowed() = true;
                    },
                    Reason::unknown,
                    "mic: level check: no engine (unknown; microphone not "
                    "authorized)"},
        FailureCase{"noDevices", [](LevelCheck&, AudioSystemFake& s) { s.setDevices({}); },
                    [](LevelCheck&, AudioSystemFake& s) {
                        s.setDevices({vmic, usb});
                    },
                    Reason::noInput, "mic: level check: no engine (noInput; no input device)"},
        FailureCase{"startFails",
                    [](LevelCheck&, AudioSystemFake& s) {
                        for (int i = 0; i < 3; ++i)
                            s.scriptStart(AudioEngineError{"pulse", 6});
                    },
                    [](LevelCheck&, AudioSystemFake&) {}, Reason::busy,
                    "mic: level check: no engine (busy; engine start failed (pulse 6))"},
        FailureCase{"startFailsOnAMutedDevice",
                    [](LevelCheck&, AudioSystemFake& s) {
                        s.setMuted(vmic.id, true);
                        for (int i = 0; i < 3; ++i)
                            s.scriptStart(AudioEngineError{"pulse", 6});
                    },
                    [](LevelCheck&, AudioSystemFake& s) { s.setMuted(vmic.id, false); },
                    Reason::muted,
                    "mic: level check: no engine (muted; engine start failed (pulse 6))"}),
    [](const auto& info) { return info.param.name; });

TEST_F(LevelCheck, ALostEngineIsReportedOnceAndFollowedWhenTheDeviceReturns) {
    beginCheck();
    feed(1, loud);
    lines();
    system->setDevices({});
    system->announce(Property::deviceList);
    feed(3, loud);
    EXPECT_EQ(readings.back().reading, (MicCheckReading{0, Reason::noInput}));
    auto fresh = lines();
    ASSERT_GE(fresh.size(), 2u);
    EXPECT_EQ(fresh[0], "mic: devices: no input device left");
    EXPECT_EQ(fresh[1], "mic: level check: engine lost (noInput)");
    EXPECT_EQ(std::count(fresh.begin(), fresh.end(), "mic: level check: engine lost (noInput)"), 1);

    system->setDevices({vmic, usb});
    system->announce(Property::deviceList);
    const double back = world.uptime();
    feed(1, loud);
    EXPECT_TRUE(log.contains("mic: level check running again"));
    auto heard = after(back + 0.3);
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.back().reading.reason, std::nullopt);
    EXPECT_GT(recentLevel(), LevelMeter::speechLevel);
}

TEST_F(LevelCheck, ABeginWithoutPermissionStillEndsTheCheck) {
    beginCheck();
    feed(0.5, loud);
    const auto heard = readings.size();
    authorized = false;
    ASSERT_FALSE(mic->begin());
    feed(1, loud);
    EXPECT_EQ(readings.size(), heard);
    EXPECT_FALSE(system->latestEngine().running) << "the next tick pauses the idle engine";
    EXPECT_EQ(world.pending(), 0u) << "no timer is left running";
}

} // namespace
} // namespace talverin
