// labels: x11 dbus
#include "TalverinInput/linux/AccessibilityTrust.h"

#include "../TapTestSupport.h"
#include "FakeBus.h"
#include "support/LinuxTestSupport.h"
#include "TalverinInput/AccessibilityStatusNull.h"
#include "TalverinInput/KeyTap.h"
#include "TalverinInput/PermissionsMonitor.h"
#include "TalverinInput/linux/AccessibilityStatusWatcher.h"
#include "TalverinInput/linux/KeySourceX11.h"
#include "Runtime/linux/XErrorTrap.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace talverin {
namespace {

using BusStatus = AccessibilityStatusWatcher::BusStatus;

class AccessibilityTrustTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (server.display().empty() || bus.address().empty())
            GTEST_SKIP() << "no Xvfb or no dbus-daemon";
    }

    // A watcher on the private bus, once its first read has ended.
    std::shared_ptr<AccessibilityStatusWatcher> watch(std::string address = {}) {
        auto watcher = std::make_shared<AccessibilityStatusWatcher>(
            center, address.empty() ? bus.address() : address);
        bool read = false;
        watcher->whenFirstRead([&read] { read = true; });
        EXPECT_TRUE(loop.runUntil([&read] { return read; }, 10));
        return watcher;
    }

    test::RealTimeLoop loop;
    test::LogLines log;
    test::PrivateXServer server;
    test::PrivateBus bus;
    std::shared_ptr<NotificationCenter> center = std::make_shared<NotificationCenter>();
};

TEST_F(AccessibilityTrustTest, GrantedOnlyWithTheAccessibilityBusOnAndXInputAtTheServer) {
    test::FakeAccessibilityBus status(bus.address(), false);
    auto watcher = watch();
    AccessibilityTrust trust(watcher, server.display());
    EXPECT_TRUE(trust.hasXInput());
    EXPECT_FALSE(trust.isGranted());

    EXPECT_TRUE(trust.requestEnable().ok());
    EXPECT_TRUE(status.enabled());
    EXPECT_TRUE(trust.isGranted());

    AccessibilityTrust withoutServer(watcher, ":4242");
    EXPECT_FALSE(withoutServer.isGranted()) << "no X server, no key tap";
}

TEST_F(AccessibilityTrustTest, WithoutTheAccessibilityBusNothingIsGranted) {
    // The bus runs, but nobody owns org.a11y.Bus.
    AccessibilityTrust trust(watch(), server.display());
    EXPECT_FALSE(trust.isGranted());
    const auto refused = trust.requestEnable();
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error(), AccessibilityEnableError::refused);
    EXPECT_FALSE(refused.message().empty()) << "the bus's own text";

    AccessibilityTrust noBus(watch("unix:path=/nonexistent/talverin-bus"), server.display());
    EXPECT_FALSE(noBus.isGranted());
    const auto absent = noBus.requestEnable();
    ASSERT_FALSE(absent.ok());
    EXPECT_EQ(absent.error(), AccessibilityEnableError::unavailable);
    EXPECT_EQ(absent.message(), "no session bus");

    AccessibilityTrust nullStatus(std::make_shared<AccessibilityStatusNull>("no accessibility"),
                                  server.display());
    EXPECT_FALSE(nullStatus.isGranted());
    const auto none = nullStatus.requestEnable();
    ASSERT_FALSE(none.ok());
    EXPECT_EQ(none.error(), AccessibilityEnableError::unavailable);
    EXPECT_EQ(none.message(), "no accessibility");
}

TEST_F(AccessibilityTrustTest, TheWatcherPostsEachChangeOfTheStatus) {
    test::FakeAccessibilityBus status(bus.address(), false);
    auto watcher = watch();
    ASSERT_TRUE(watcher->isWatching());
    EXPECT_EQ(watcher->status(), BusStatus::notEnabled);
    int notices = 0;
    center->addObserver(PermissionsMonitor::accessibilityNotification, [&] { ++notices; });

    status.setEnabled(true);
    ASSERT_TRUE(loop.runUntil([&] { return notices == 1; }));
    EXPECT_EQ(watcher->status(), BusStatus::enabled);
    status.setEnabled(false);
    ASSERT_TRUE(loop.runUntil([&] { return notices == 2; }));
    EXPECT_EQ(watcher->status(), BusStatus::notEnabled);
}

// The launch starts the key tap before its main loop has run: the watcher knows the status as
// soon as it is made. A bus that does not answer within its timeout leaves it unknown.
TEST_F(AccessibilityTrustTest, TheStatusIsKnownAsSoonAsTheWatcherIsMade) {
    test::FakeAccessibilityBus status(bus.address(), true);
    auto answered = std::make_shared<AccessibilityStatusWatcher>(center, bus.address());
    EXPECT_EQ(answered->status(), BusStatus::enabled);
    EXPECT_TRUE(AccessibilityTrust(answered, server.display()).isGranted());

    status.freeze();
    auto silent = std::make_shared<AccessibilityStatusWatcher>(center, bus.address());
    EXPECT_EQ(silent->status(), BusStatus::unknown);
    EXPECT_FALSE(AccessibilityTrust(silent, server.display()).isGranted());
    EXPECT_EQ(log.starting("Permissions: the accessibility bus did not answer").size(), 1u);
    bool read = false;
    silent->whenFirstRead([&read] { read = true; });
    EXPECT_TRUE(read);
}

// A launcher that does not answer in time (busy, stopped) keeps the status it last gave, and
// reading it never waits; only the bus saying "not enabled" takes the permission back.
TEST_F(AccessibilityTrustTest, ABusThatDoesNotAnswerKeepsTheLastStatus) {
    test::FakeAccessibilityBus status(bus.address(), true);
    auto watcher = watch();
    AccessibilityTrust trust(watcher, server.display());
    ASSERT_TRUE(trust.isGranted());

    status.freeze();
    const int asked = status.questions();
    trust.refresh();
    ASSERT_TRUE(loop.runUntil([&] { return status.questions() > asked; }, 10));
    EXPECT_TRUE(trust.isGranted()) << "read while the question is held";
    ASSERT_TRUE(loop.runUntil(
        [&] { return !log.starting("Permissions: the accessibility bus did not answer").empty(); },
        30));
    EXPECT_TRUE(trust.isGranted()) << "a question without an answer";

    status.thaw();
    status.setEnabled(false);
    EXPECT_TRUE(loop.runUntil([&] { return !trust.isGranted(); }));
}

constexpr int xRightAlt = 108;

// The key tap on a real X server with its trust read from a frozen accessibility bus: the
// tap's trust checks and the permission polls go on, a hold is still heard, and nothing
// says that Accessibility was lost.
TEST_F(AccessibilityTrustTest, AFrozenBusNeitherRemovesTheKeyTapNorSilencesIt) {
    test::FakeAccessibilityBus status(bus.address(), true);
    auto watcher = watch();
    auto trust = std::make_shared<AccessibilityTrust>(watcher, server.display());
    auto checks = std::make_shared<std::atomic<int>>(0);
    KeyTap::System system{
        [trust, checks] {
            ++*checks;
            return trust->isGranted();
        },
        [display = server.display()]() -> std::unique_ptr<KeySource> {
            return std::make_unique<KeySourceX11>(nullptr, display);
        },
        KeySourceX11::canSee, nullptr};
    auto tap = std::make_unique<KeyTap>(HoldKey::rightOption, system);
    std::vector<std::string> heard;
    tap->onPress = [&](double) { heard.push_back("press"); };
    tap->onRelease = [&](double) { heard.push_back("release"); };
    tap->onCancel = [&](KeyCancelReason reason, double) {
        heard.push_back("cancel(" + std::string(toString(reason)) + ")");
    };
    ASSERT_TRUE(tap->start());

    Display* driver = XOpenDisplay(server.display().c_str());
    ASSERT_NE(driver, nullptr);
    auto key = [driver](bool down) {
        XTestFakeKeyEvent(driver, xRightAlt, down ? True : False, 0);
        XSync(driver, False);
    };

    status.freeze();
    key(true);
    ASSERT_TRUE(loop.runUntil([&] { return heard.size() == 1; }, 10));
    // A poll's read goes unanswered while the tap checks its trust at least once more.
    trust->refresh();
    const int checked = *checks;
    ASSERT_TRUE(loop.runUntil(
        [&] {
            return *checks > checked &&
                   !log.starting("Permissions: the accessibility bus did not answer").empty();
        },
        30));
    key(false);
    ASSERT_TRUE(loop.runUntil([&] { return heard.size() == 2; }, 10));
    EXPECT_EQ(heard, (std::vector<std::string>{"press", "release"}));
    EXPECT_TRUE(tap->isRunning());
    EXPECT_EQ(log.count("KeyTap: Accessibility lost, the tap is removed"), 0);

    // The user switching Accessibility off is still a loss.
    status.thaw();
    status.setEnabled(false);
    EXPECT_TRUE(loop.runUntil(
        [&] { return log.contains("KeyTap: Accessibility lost, the tap is removed"); }, 30));
    EXPECT_FALSE(tap->isRunning());

    tap.reset();
    XCloseDisplay(driver);
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
