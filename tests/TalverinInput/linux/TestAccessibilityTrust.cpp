// labels: x11 dbus
#include "TalverinInput/linux/AccessibilityTrust.h"

#include "../TapTestSupport.h"
#include "FakeBus.h"
#include "LinuxTestSupport.h"
#include "TalverinInput/PermissionsMonitor.h"
#include "TalverinInput/linux/AccessibilityStatusWatcher.h"
#include "TalverinInput/linux/XErrorTrap.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>

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

// Each of our X connections is released from the trap only after it was closed, and a
// connection opened meanwhile on another thread may get the freed Display. That late release
// must leave the new connection trapped, or losing the server would reach Xlib's own handlers.
TEST(XErrorTrap, ALateReleaseOfAClosedConnectionLeavesANewOneAtItsAddressTrapped) {
    test::PrivateXServer server;
    if (server.display().empty())
        GTEST_SKIP() << "no Xvfb";
    XErrorTrap::initThreads();
    Display* display = XOpenDisplay(server.display().c_str());
    ASSERT_NE(display, nullptr);
    int lost = 0;
    // The closed connection's adoption, then the new one's at the same address.
    XErrorTrap::adopt(display, nullptr, nullptr);
    XErrorTrap::adopt(display, [](void* count) { ++*static_cast<int*>(count); }, &lost);
    XErrorTrap::release(display);

    server.stop();
    XSync(display, False);
    EXPECT_EQ(lost, 1);
    XCloseDisplay(display);
    XErrorTrap::release(display);
}

} // namespace
} // namespace talverin
