#include "Talverin/App/PillCoordinator.h"

#include "Runtime/VirtualWorld.h"
#include "fakes/KeyTappingFake.h"
#include "fakes/PillPresentingFake.h"
#include "support/LogLines.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talverin {
namespace {

const std::vector<Wire::Microphone> devices{{"usb-1", "USB Microphone"}, {"builtin", "Built-in"}};

Settings onboardedSettings() {
    Settings settings;
    settings.onboarded = true;
    settings.pillIdle = true;
    return settings;
}

struct PillCoordinatorTest : ::testing::Test {
    VirtualWorld world;
    test::LogLines log;
    test::PillPresentingFake pill;
    test::KeyTappingFake tap;
    Settings settings = onboardedSettings();
    std::vector<Settings::Patch> patches;
    int clicks = 0;
    int settingsOpened = 0;
    std::unique_ptr<PillCoordinator> coordinator;

    void start() {
        coordinator = std::make_unique<PillCoordinator>(pill, tap, [] { return devices; }, settings);
        coordinator->updateSettings = [this](const Settings::Patch& patch) { patches.push_back(patch); };
        coordinator->startHandsFree = [this] { ++clicks; };
        coordinator->openSettings = [this] { ++settingsOpened; };
        coordinator->start();
    }
    // The settings change as the bridge reports it.
    void change(const std::function<void(Settings&)>& edit) {
        Settings before = settings;
        edit(settings);
        coordinator->settingsChanged(settings, before);
    }
};

TEST_F(PillCoordinatorTest, StartPutsThePillWhereTheSettingsSay) {
    settings.pillSpot = PillSpot::topRight;
    settings.holdKey = HoldKey::f13;
    settings.microphoneID = "builtin";
    start();
    EXPECT_EQ(pill.log.last("setSpot")->args, "tr");
    EXPECT_EQ(pill.holdKey(), HoldKey::f13);
    EXPECT_EQ(pill.microphoneMenu(), (PillMicrophoneMenu{devices, "builtin"}));
    EXPECT_TRUE(pill.showsIdleBar());
    EXPECT_TRUE(pill.isDragEnabled());

    pill.click();
    EXPECT_EQ(clicks, 1);
}

TEST_F(PillCoordinatorTest, IdleBarAndDraggingFollowOnboardingAndTheSetting) {
    struct Case {
        bool pillIdle;
        bool onboarded;
        int step;
        bool idleBar;
        bool drag;
    };
    const Case cases[] = {
        {true, true, 0, true, true},
        {false, true, 9, false, true},
        {true, false, 4, false, false},
        {true, false, 5, true, false},
        {false, false, 5, false, false},
        {true, false, 0, false, false},
    };
    for (const Case& c : cases) {
        test::PillPresentingFake freshPill;
        Settings s;
        s.pillIdle = c.pillIdle;
        s.onboarded = c.onboarded;
        s.onboardingStep = c.step;
        PillCoordinator fresh(freshPill, tap, [] { return devices; }, s);
        fresh.start();
        EXPECT_EQ(freshPill.showsIdleBar(), c.idleBar) << c.pillIdle << c.onboarded << c.step;
        EXPECT_EQ(freshPill.isDragEnabled(), c.drag) << c.pillIdle << c.onboarded << c.step;
        // Applying again changes nothing that is already so.
        const auto calls = freshPill.log.calls().size();
        fresh.apply();
        EXPECT_EQ(freshPill.log.calls().size(), calls);
    }
}

TEST_F(PillCoordinatorTest, HideForAnHourCountsTimeAsleep) {
    start();
    pill.chooseMenu(PillMenuAction::hideForAnHour());
    EXPECT_FALSE(pill.showsIdleBar());
    EXPECT_EQ(log.count("Pill menu: hide for an hour"), 1);

    world.advance(600);
    world.suspendSystem(2900); // the lid was shut for most of the hour
    world.runReady();
    EXPECT_FALSE(pill.showsIdleBar());
    world.advance(99.9);
    EXPECT_FALSE(pill.showsIdleBar());
    world.advance(0.2);
    EXPECT_TRUE(pill.showsIdleBar());
    EXPECT_EQ(log.count("Pill: the idle bar is back after the hour"), 1);
}

// A wake ends a hide whose hour ran out during the sleep, once; an earlier wake changes nothing.
TEST_F(PillCoordinatorTest, AWakeAfterTheHourEndsTheHideOnce) {
    start();
    coordinator->hideForAWhile();
    world.suspendSystem(1800);
    coordinator->didWake();
    EXPECT_FALSE(pill.showsIdleBar());
    world.suspendSystem(1800.5);
    coordinator->didWake();
    EXPECT_TRUE(pill.showsIdleBar());
    coordinator->didWake();
    world.advance(7200);
    EXPECT_EQ(log.count("Pill: the idle bar is back after the hour"), 1);
    EXPECT_FALSE(coordinator->isHiddenForAWhile());
}

TEST_F(PillCoordinatorTest, ASecondHideRestartsTheHour) {
    start();
    coordinator->hideForAWhile();
    world.advance(1800);
    coordinator->hideForAWhile();
    world.advance(1800.1);
    EXPECT_FALSE(pill.showsIdleBar());
    world.advance(1800);
    EXPECT_TRUE(pill.showsIdleBar());
    EXPECT_EQ(log.count("Pill: the idle bar is back after the hour"), 1);
}

TEST_F(PillCoordinatorTest, TurningTheIdleBarOffAndOnEndsTheHide) {
    start();
    coordinator->hideForAWhile();
    change([](Settings& s) { s.pillIdle = false; });
    EXPECT_TRUE(coordinator->isHiddenForAWhile());
    change([](Settings& s) { s.pillIdle = true; });
    EXPECT_TRUE(pill.showsIdleBar());
    EXPECT_FALSE(coordinator->isHiddenForAWhile());

    // The hour's end then changes nothing, even after the bar was turned off once more.
    change([](Settings& s) { s.pillIdle = false; });
    world.runUntilIdle();
    EXPECT_FALSE(pill.showsIdleBar());
    EXPECT_EQ(log.count("Pill: the idle bar is back after the hour"), 0);
}

TEST_F(PillCoordinatorTest, ADropStoresTheSpotAndTheChangeMovesThePillWithAnimation) {
    start();
    ASSERT_TRUE(pill.beginDrag());
    EXPECT_TRUE(tap.watchesEscape());
    ASSERT_TRUE(pill.dropOn(PillSpot::topLeft));
    EXPECT_FALSE(tap.watchesEscape());
    EXPECT_EQ(log.count("Pill: moved to tl"), 1);
    ASSERT_EQ(patches.size(), 1u);
    EXPECT_EQ(patches[0].pillSpot, PillSpot::topLeft);
    EXPECT_FALSE(patches[0].microphoneID);

    change([](Settings& s) { s.pillSpot = PillSpot::topLeft; });
    EXPECT_EQ(pill.log.last("setSpot")->args, "tl animated");
}

TEST_F(PillCoordinatorTest, EscapeDuringADragPutsThePillBackAndIsNotWatchedOtherwise) {
    start();
    EXPECT_FALSE(tap.sendEscapeWatched());
    ASSERT_TRUE(pill.beginDrag());
    ASSERT_TRUE(tap.sendEscapeWatched());
    world.runReady();
    EXPECT_EQ(pill.log.count("cancelDrag"), 1u);
    EXPECT_FALSE(pill.isDragging());
    EXPECT_FALSE(tap.watchesEscape());
    EXPECT_TRUE(patches.empty());
}

TEST_F(PillCoordinatorTest, MenuChoicesBecomePatchesAndShellCalls) {
    settings.microphoneID = "usb-1";
    start();
    pill.chooseMenu(PillMenuAction::microphone(std::nullopt));
    pill.chooseMenu(PillMenuAction::microphone("builtin"));
    pill.chooseMenu(PillMenuAction::resetSpot());
    pill.chooseMenu(PillMenuAction::openSettings());
    ASSERT_EQ(patches.size(), 3u);
    // Automatic is stored as a cleared device, not as a patch that leaves the device alone.
    ASSERT_TRUE(patches[0].microphoneID.has_value());
    EXPECT_FALSE(patches[0].microphoneID->has_value());
    EXPECT_EQ(patches[1].microphoneID, std::optional<std::optional<std::string>>("builtin"));
    EXPECT_EQ(patches[2].pillSpot, PillSpot::bottomCenter);
    EXPECT_EQ(settingsOpened, 1);
    EXPECT_EQ(log.starting("Pill menu:"),
              (std::vector<std::string>{"Pill menu: microphone (automatic)",
                                        "Pill menu: microphone (a device)",
                                        "Pill menu: back to bottom centre", "Pill menu: settings"}));
    for (const auto& line : log.lines())
        EXPECT_EQ(line.find("builtin"), std::string::npos) << line;

    // The stored automatic choice reaches the menu, which keeps its devices.
    const Settings before = settings;
    settings.apply(patches[0]);
    EXPECT_EQ(settings.microphoneID, std::nullopt);
    coordinator->settingsChanged(settings, before);
    EXPECT_EQ(pill.microphoneMenu(), (PillMicrophoneMenu{devices, std::nullopt}));
}

TEST_F(PillCoordinatorTest, CallbacksOfAGoneCoordinatorDoNothing) {
    start();
    coordinator->hideForAWhile();
    coordinator.reset();
    pill.click();
    pill.chooseMenu(PillMenuAction::resetSpot());
    world.runUntilIdle();
    EXPECT_EQ(clicks, 0);
    EXPECT_TRUE(patches.empty());
}

} // namespace
} // namespace talverin
