#include "Talverin/App/MicTest.h"

#include "Runtime/VirtualWorld.h"
#include "fakes/MicCapturingFake.h"
#include "support/LogLines.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace talverin {
namespace {

using Role = Bridge::ViewRole;

struct MicTestTest : ::testing::Test {
    VirtualWorld world;
    test::LogLines log;
    test::MicCapturingFake mic;
    MicTest micTest{mic};
    std::vector<std::pair<Role, float>> levels;
    std::vector<std::string> asked;
    bool allowed = true;
    bool free = true;
    bool onboardingVisible = true;

    MicTestTest() {
        micTest.send = [this](const Wire::Event& event, Role role) {
            ASSERT_EQ(event.kind(), Wire::Event::Kind::micLevel);
            levels.emplace_back(role, event.reading().level);
        };
        micTest.micAllowed = [this] {
            asked.push_back("allowed");
            return allowed;
        };
        micTest.micFree = [this] {
            asked.push_back("free");
            return free;
        };
        micTest.onScreen = [this](Role role) {
            asked.push_back("on screen");
            return role == Role::main || onboardingVisible;
        };
    }
    void want(Role role) {
        micTest.wantedBy = role;
        micTest.update();
    }
    void reading(float level) {
        mic.sendReading({level, std::nullopt});
        world.runUntilIdle();
    }
};

TEST_F(MicTestTest, RunsOnlyWhileWantedOnScreenAllowedAndFreeAskingInThatOrder) {
    struct Case {
        bool visible, allowed, free;
        std::vector<std::string> asked;
        bool runs;
    };
    const Case cases[] = {
        {true, true, true, {"on screen", "allowed", "free"}, true},
        {false, true, true, {"on screen"}, false},
        {true, false, true, {"on screen", "allowed"}, false},
        {true, true, false, {"on screen", "allowed", "free"}, false},
    };
    for (const Case& c : cases) {
        MicTest fresh(mic);
        fresh.micAllowed = micTest.micAllowed;
        fresh.micFree = micTest.micFree;
        fresh.onScreen = micTest.onScreen;
        onboardingVisible = c.visible;
        allowed = c.allowed;
        free = c.free;
        asked.clear();
        fresh.update();
        EXPECT_TRUE(asked.empty()) << "nobody wants it: nothing is asked";
        fresh.wantedBy = Role::onboarding;
        fresh.update();
        EXPECT_EQ(asked, c.asked);
        EXPECT_EQ(fresh.isRunning(), c.runs);
    }
}

TEST_F(MicTestTest, ReadingsReachTheWantingPageUntilItHidesOrGoes) {
    want(Role::onboarding);
    ASSERT_TRUE(mic.isChecking());
    ASSERT_TRUE(micTest.isRunning());
    EXPECT_EQ(mic.log.count("beginLevelCheck"), 1u);
    reading(0.4f);
    EXPECT_EQ(levels, (std::vector<std::pair<Role, float>>{{Role::onboarding, 0.4f}}));

    onboardingVisible = false; // miniaturised
    micTest.update();
    EXPECT_FALSE(micTest.isRunning());
    EXPECT_EQ(mic.log.count("endLevelCheck"), 1u);
    EXPECT_EQ(log.starting("Mic test:"), (std::vector<std::string>{"Mic test: on", "Mic test: off"}));

    // The main page's test does not depend on the onboarding window.
    want(Role::main);
    EXPECT_TRUE(micTest.isRunning());
}

TEST_F(MicTestTest, AReadingOnItsWayWhenTheTestStopsIsDropped) {
    want(Role::main);
    mic.sendReading({0.7f, std::nullopt});
    world.step(); // the control queue hands it to the main queue
    micTest.wantedBy.reset();
    micTest.update();
    // And one from before a restart belongs to the old test.
    want(Role::main);
    world.runUntilIdle();
    EXPECT_TRUE(levels.empty());
    reading(0.2f);
    EXPECT_EQ(levels.size(), 1u);
}

TEST_F(MicTestTest, ADictationStopsTheReadingsAndTheTestComesBackAfterIt) {
    want(Role::main);
    mic.sendReading({0.5f, std::nullopt});
    micTest.dictationBegan();
    world.runUntilIdle();
    EXPECT_TRUE(levels.empty());
    EXPECT_FALSE(micTest.isRunning());

    free = false; // the dictation holds the microphone
    micTest.update();
    EXPECT_EQ(mic.log.count("beginLevelCheck"), 1u);
    free = true; // it ended
    micTest.update();
    EXPECT_TRUE(micTest.isRunning());
    EXPECT_EQ(mic.log.count("beginLevelCheck"), 2u);
    reading(0.3f);
    EXPECT_EQ(levels, (std::vector<std::pair<Role, float>>{{Role::main, 0.3f}}));
}

TEST_F(MicTestTest, APageThatLeavesDuringADictationLeavesNoLevelCheckOpen) {
    want(Role::main);
    micTest.dictationBegan();
    micTest.wantedBy.reset();
    micTest.update();
    EXPECT_EQ(mic.log.count("endLevelCheck"), 1u);
    EXPECT_FALSE(mic.isChecking());
    EXPECT_EQ(log.count("Mic test: off"), 0);
}

} // namespace
} // namespace talverin
