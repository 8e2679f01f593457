#include "Talverin/App/KeyCaptureCoordinator.h"

#include "Runtime/VirtualWorld.h"
#include "fakes/KeyTappingFake.h"
#include "support/LogLines.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace talverin {
namespace {

using Role = Bridge::ViewRole;
using Sent = std::pair<Role, KeyCaptureResult>;

struct KeyCaptureTest : ::testing::Test {
    VirtualWorld world;
    test::LogLines log;
    test::KeyTappingFake tap;
    KeyCaptureCoordinator capture{tap};
    std::vector<Sent> sent;
    bool dictating = false;

    KeyCaptureTest() {
        capture.send = [this](const Wire::Event& event, Role role) {
            ASSERT_EQ(event.kind(), Wire::Event::Kind::keyCapture);
            sent.emplace_back(role, event.capture());
        };
        capture.isDictating = [this] { return dictating; };
        capture.start();
        tap.start();
    }
};

const KeyCaptureResult cancelled = KeyCaptureResult::cancelled();

TEST_F(KeyCaptureTest, AnotherPageTakesTheCaptureOverAndOnlyTheOwnerCanTurnItOff) {
    EXPECT_EQ(capture.set(true, Role::main), KeyCaptureAnswer::on);
    EXPECT_EQ(capture.set(true, Role::onboarding), KeyCaptureAnswer::on);
    EXPECT_EQ(sent, (std::vector<Sent>{{Role::main, cancelled}}));
    EXPECT_EQ(capture.role(), Role::onboarding);

    EXPECT_EQ(capture.set(false, Role::main), KeyCaptureAnswer::off);
    EXPECT_EQ(capture.role(), Role::onboarding);
    EXPECT_TRUE(tap.isCapturing());

    ASSERT_TRUE(tap.sendCapture(KeyCaptureResult::accepted(HoldKey::f13)));
    world.runReady();
    EXPECT_EQ(sent.back(), (Sent{Role::onboarding, KeyCaptureResult::accepted(HoldKey::f13)}));
    EXPECT_FALSE(capture.role());
    EXPECT_EQ(log.starting("Key capture:"),
              (std::vector<std::string>{"Key capture: on (main)", "Key capture: on (onboarding)"}));

    // Off with nothing running changes nothing and says nothing.
    EXPECT_EQ(capture.set(false, Role::onboarding), KeyCaptureAnswer::off);
    EXPECT_EQ(tap.log.count("endCapture"), 0u);

    EXPECT_EQ(capture.set(true, Role::main), KeyCaptureAnswer::on);
    EXPECT_EQ(capture.set(false, Role::main), KeyCaptureAnswer::off);
    EXPECT_FALSE(tap.isCapturing());
    EXPECT_EQ(log.starting("Key capture:").back(), "Key capture: off (main)");
}

TEST_F(KeyCaptureTest, NoKeyInTenSecondsCancelsAndARejectedKeyGivesTheTimeAgain) {
    capture.set(true, Role::main);
    world.advance(6);
    ASSERT_TRUE(tap.sendCapture(KeyCaptureResult::rejected(KeyRejectReason::typing)));
    world.advance(9.9);
    EXPECT_EQ(sent, (std::vector<Sent>{{Role::main, KeyCaptureResult::rejected(KeyRejectReason::typing)}}));
    EXPECT_EQ(capture.role(), Role::main);

    world.advance(0.2);
    EXPECT_EQ(sent.back(), (Sent{Role::main, cancelled}));
    EXPECT_FALSE(capture.role());
    EXPECT_FALSE(tap.isCapturing());
    EXPECT_EQ(log.count("Key capture: no key in 10 s, cancelled"), 1);
    world.runUntilIdle();
    EXPECT_EQ(sent.size(), 2u);
}

TEST_F(KeyCaptureTest, EscapeGivesExactlyOneCancelAndNoTimeoutLater) {
    capture.set(true, Role::onboarding);
    world.advance(3);
    ASSERT_TRUE(tap.sendCapture(KeyCaptureResult::cancelled()));
    world.runUntilIdle();
    EXPECT_EQ(sent, (std::vector<Sent>{{Role::onboarding, cancelled}}));
    EXPECT_FALSE(capture.role());
    EXPECT_TRUE(log.starting("Key capture: no key").empty());
    // A later capture is a fresh one.
    EXPECT_EQ(capture.set(true, Role::main), KeyCaptureAnswer::on);
    EXPECT_EQ(sent.size(), 1u);
}

TEST_F(KeyCaptureTest, ADictationCancelsTheCaptureAndRefusesNewOnes) {
    capture.set(true, Role::main);
    dictating = true;
    capture.dictationBegan();
    EXPECT_EQ(sent, (std::vector<Sent>{{Role::main, cancelled}}));
    EXPECT_FALSE(tap.isCapturing());
    EXPECT_EQ(log.count("Key capture: cancelled, a dictation began"), 1);

    EXPECT_EQ(capture.set(true, Role::onboarding), KeyCaptureAnswer::busy);
    EXPECT_EQ(log.count("Key capture: refused, a dictation is on"), 1);
    capture.dictationBegan(); // nothing runs: nothing to say
    world.runUntilIdle();
    EXPECT_EQ(sent.size(), 1u);
}

TEST_F(KeyCaptureTest, WithoutAKeyTapNoCaptureStartsAndTheOldOneIsCancelled) {
    capture.set(true, Role::main);
    tap.stop();
    EXPECT_EQ(capture.set(true, Role::onboarding), KeyCaptureAnswer::noKeyTap);
    EXPECT_EQ(sent, (std::vector<Sent>{{Role::main, cancelled}}));
    EXPECT_FALSE(capture.role());
    world.runUntilIdle();
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_TRUE(log.starting("Key capture: no key").empty());
}

TEST_F(KeyCaptureTest, ResultsWithoutACaptureAndAfterTheCoordinatorIsGoneAreDropped) {
    auto owned = std::make_unique<KeyCaptureCoordinator>(tap);
    int delivered = 0;
    owned->send = [&](const Wire::Event&, Role) { ++delivered; };
    owned->start();
    ASSERT_TRUE(tap.beginCapture());
    ASSERT_TRUE(tap.sendCapture(KeyCaptureResult::accepted(HoldKey::f13)));
    world.runReady();
    EXPECT_EQ(delivered, 0);

    owned->set(true, Role::main);
    ASSERT_TRUE(tap.sendCapture(KeyCaptureResult::cancelled()));
    owned.reset();
    world.runUntilIdle();
    EXPECT_EQ(delivered, 0);
}

} // namespace
} // namespace talverin
