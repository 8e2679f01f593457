#include "TalverinAudio/LevelWindow.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

namespace talverin {
namespace {

using Reason = MicSilenceReason;
using Drained = LevelWindow::Drained;

const Drained zeros{0, false, false, 4};
const Drained noise{0.05f, false, true, 4};
const Drained loud{0.6f, true, true, 4};

// Runs a check's ticks every 0.05 s from t = 100 on a device with the given facts; answers
// each reading and counts the diagnoses.
struct CheckRun {
    LevelWindow window = LevelWindow::startingAt(100.0);
    LevelWindow::DeviceFacts device{true, true, false, false};
    int diagnoses = 0;
    int ticks = 0;

    MicCheckReading tick(const Drained& drained) {
        ++ticks;
        return window.tick(100.0 + ticks * MicCheck::interval, drained,
                           [this](const LevelWindow::Evidence& evidence) {
                               ++diagnoses;
                               return LevelWindow::diagnoseFrom(device, evidence);
                           });
    }
    // Ticks for `seconds` and answers the last reading.
    MicCheckReading during(double seconds, const Drained& drained) {
        MicCheckReading last;
        for (int i = 0; i < static_cast<int>(std::lround(seconds / MicCheck::interval)); ++i)
            last = tick(drained);
        return last;
    }
};

TEST(LevelWindow, NoReasonDuringTheFirstWindowThenADiagnosis) {
    struct Case {
        const char* name;
        Drained drained;
        LevelWindow::DeviceFacts device;
        Reason reason;
    };
    for (const Case& c : std::vector<Case>{
             {"only zeros", zeros, {true, true, false, false}, Reason::noInput},
             {"quiet noise", noise, {true, true, false, false}, Reason::unknown},
             {"muted", noise, {true, true, true, false}, Reason::muted},
             {"held by another", noise, {true, true, false, true}, Reason::busy},
             {"unplugged", noise, {true, false, false, false}, Reason::noInput},
             {"no device", noise, {false, false, false, false}, Reason::noInput},
             {"no blocks at all",
              Drained{0, false, false, 0},
              {true, true, false, false},
              Reason::noInput},
         }) {
        SCOPED_TRACE(c.name);
        CheckRun run;
        run.device = c.device;
        for (int i = 0; i < 39; ++i) // 1.95 s
            EXPECT_EQ(run.tick(c.drained).reason, std::nullopt) << i;
        EXPECT_EQ(run.tick(c.drained).reason, c.reason);
    }
}

TEST(LevelWindow, OneLoudBlockClearsTheReasonAtOnceForAWholeWindow) {
    CheckRun run;
    EXPECT_EQ(run.during(2.5, noise).reason, Reason::unknown);
    MicCheckReading reading = run.tick(loud);
    EXPECT_EQ(reading, (MicCheckReading{0.6f, std::nullopt}));
    EXPECT_EQ(run.during(1.9, noise).reason, std::nullopt);
    EXPECT_EQ(run.during(0.1, noise).reason, Reason::unknown);
}

TEST(LevelWindow, TheDiagnosisIsRenewedEveryWindowOnNewEvidence) {
    CheckRun run;
    EXPECT_EQ(run.during(2.0, noise).reason, Reason::unknown);
    EXPECT_EQ(run.diagnoses, 1);
    // Only zeros from now on: the standing reason holds until the next diagnosis, which
    // judges only the evidence since the last one.
    EXPECT_EQ(run.during(1.95, zeros).reason, Reason::unknown);
    EXPECT_EQ(run.diagnoses, 1);
    EXPECT_EQ(run.tick(zeros).reason, Reason::noInput);
    EXPECT_EQ(run.diagnoses, 2);
}

TEST(LevelWindow, TheLevelIsThePeakClampedAndNotANumberPassesOn) {
    struct Case {
        float peak, level;
    };
    for (Case c : {Case{1.5f, 1.0f}, Case{-0.2f, 0.0f}, Case{0.3f, 0.3f}}) {
        CheckRun run;
        EXPECT_EQ(run.tick(Drained{c.peak, false, true, 1}).level, c.level) << c.peak;
    }
    CheckRun run;
    EXPECT_TRUE(std::isnan(run.tick(Drained{NAN, false, true, 1}).level));
}

} // namespace
} // namespace talverin
