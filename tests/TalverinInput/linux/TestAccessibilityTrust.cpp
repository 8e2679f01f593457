// labels: x11 dbus
#include "TalverinInput/linux/AccessibilityTrust.h"

#include "../TapTestSupport.h"
#include "FakeBus.h"
#include "LinuxTestSupport.h"
#include "TalverinInput/PermissionsMonitor.h"
#include "TalverinInput/linux/AccessibilityStatusWatcher.h"

#include <gtest/gtest.h>

namespace talverin {
namespace {

class AccessibilityTrustTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (server.display().empty() || bus.address().empty())
            GTEST_SKIP() << "no Xvfb or no dbus-daemon";
    }

    test::RealTimeLoop loop;
    test::PrivateXServer server;
    test::PrivateBus bus;
};

TEST_F(AccessibilityTrustTest, GrantedOnlyWithTheAccessibilityBusOnAndXInputAtTheServer) {
    test::FakeAccessibilityBus status(bus.address(), false);
    AccessibilityTrust trust(server.display(), bus.address());
    EXPECT_TRUE(trust.hasXInput());
    EXPECT_FALSE(trust.isGranted());

    EXPECT_TRUE(trust.requestEnable());
    EXPECT_TRUE(status.enabled());
    EXPECT_TRUE(trust.isGranted());

    AccessibilityTrust withoutServer(":4242", bus.address());
    EXPECT_FALSE(withoutServer.isGranted()) << "no X server, no key tap";
}

TEST_F(AccessibilityTrustTest, WithoutTheAccessibilityBusNothingIsGranted) {
    // The bus runs, but nobody owns org.a11y.Bus.
    AccessibilityTrust trust(server.display(), bus.address());
    EXPECT_FALSE(trust.isGranted());
    EXPECT_FALSE(trust.requestEnable());

    AccessibilityTrust noBus(server.display(), "unix:path=/nonexistent/talverin-bus");
    EXPECT_FALSE(noBus.isGranted());
    EXPECT_FALSE(noBus.requestEnable());
}

TEST_F(AccessibilityTrustTest, TheWatcherPostsEachChangeOfTheStatus) {
    test::FakeAccessibilityBus status(bus.address(), false);
    auto center = std::make_shared<NotificationCenter>();
    int notices = 0;
    center->addObserver(PermissionsMonitor::accessibilityNotification, [&] { ++notices; });
    AccessibilityStatusWatcher watcher(center, bus.address());
    ASSERT_TRUE(watcher.isWatching());

    status.setEnabled(true);
    ASSERT_TRUE(loop.runUntil([&] { return notices == 1; }));
    status.setEnabled(false);
    ASSERT_TRUE(loop.runUntil([&] { return notices == 2; }));
}

} // namespace
} // namespace talverin
