#include "Runtime/VirtualWorld.h"
#include "TalverinInput/KeySourceNull.h"
#include "TalverinInput/KeyTap.h"
#include "TalverinInput/KeyTappingNull.h"
#include "TalverinInput/PermissionReadingNull.h"
#include "TalverinInput/PermissionWatchingNull.h"
#include "TalverinInput/PermissionsMonitor.h"
#include "TalverinInput/TapSession.h"
#include "support/LogLines.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talverin {
namespace {

using Wire::PermissionKind;
using Wire::Permissions;
using Wire::PermissionState;

constexpr const char* noDisplay = "no display ($DISPLAY is not set)";

// The real key tap over the Null key source: a session cannot listen, says why, and the tap
// stays stopped with its usual line.
TEST(NullBackends, AKeyTapOverTheNullSourceDoesNotStartAndTheSessionSaysWhy) {
    VirtualWorld world;
    test::LogLines log;
    auto session = std::make_shared<TapSession>(
        1, HoldKeySpec::of(HoldKey::rightOption), 2.0, [] { return true; },
        std::make_shared<LockedFlag>(false), std::make_unique<KeySourceNull>(noDisplay),
        [](TapSession::Message) { ADD_FAILURE() << "a Null source hears nothing"; });
    const auto started = session->begin();
    ASSERT_FALSE(started.ok());
    EXPECT_EQ(started.error(), TapSession::StartError::sourceRefused);
    EXPECT_EQ(started.message(), std::string("unavailable: ") + noDisplay);
    EXPECT_TRUE(session->waitUntilEnded(30));

    KeyTap tap(HoldKey::rightOption,
               KeyTap::System{[] { return true; },
                              [] { return std::make_unique<KeySourceNull>(noDisplay); },
                              [](HoldKey) { return true; }, nullptr});
    EXPECT_FALSE(tap.start());
    EXPECT_FALSE(tap.isRunning());
    EXPECT_FALSE(tap.beginCapture());
    EXPECT_EQ(log.count("KeyTap: not started, the event tap could not be created"), 1);
}

TEST(NullBackends, TheNullKeyTapKeepsItsKeyButNeverRuns) {
    KeyTappingNull tap(HoldKey::rightOption, noDisplay);
    tap.setHoldKey(HoldKey::f13);
    EXPECT_EQ(tap.holdKey(), HoldKey::f13);
    EXPECT_FALSE(tap.start());
    EXPECT_FALSE(tap.isRunning());
    EXPECT_FALSE(tap.beginCapture());
    EXPECT_FALSE(tap.isCapturing());
    EXPECT_EQ(tap.reason(), noDisplay);
}

// Whatever is asked, a system that cannot give a permission answers restricted, and nothing
// ever changes: the monitor over the Null reader and the Null watch agree.
TEST(NullBackends, EveryPermissionIsRestrictedAndAskingChangesNothing) {
    VirtualWorld world;
    test::LogLines log;
    const Permissions restricted{PermissionState::restricted, PermissionState::restricted,
                                 PermissionState::restricted};
    auto reader = std::make_shared<PermissionReadingNull>("no session bus");
    PermissionsMonitor monitor(reader, PermissionsMonitor::fastPoll, PermissionsMonitor::slowPoll,
                               nullptr, nullptr, nullptr, [] { return Clock::uptime(); },
                               [](const std::string&) { return false; });
    PermissionWatchingNull watch("no session bus");
    int changes = 0;
    monitor.onChange = [&](const Permissions&, const Permissions&) { ++changes; };
    watch.onChange = [&](const Permissions&, const Permissions&) { ++changes; };
    monitor.start();
    watch.start();

    for (PermissionWatching* watching : std::vector<PermissionWatching*>{&monitor, &watch}) {
        EXPECT_EQ(watching->current(), restricted);
        for (PermissionKind kind : allCases<PermissionKind>()) {
            std::optional<PermissionState> answer;
            watching->request(kind).then([&](const PermissionState& s) { answer = s; });
            world.runUntil(Clock::uptime() + 1);
            EXPECT_EQ(answer, PermissionState::restricted) << toString(kind);
        }
        EXPECT_EQ(watching->refresh(), restricted);
    }
    world.runUntil(Clock::uptime() + 10);
    EXPECT_EQ(changes, 0);
    EXPECT_TRUE(log.starting("Permissions: ").empty()) << "no change to log";
}

} // namespace
} // namespace talverin
