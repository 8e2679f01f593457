// labels: x11 dbus pulse webkit
// resource-lock: pulse-server
// timeout: 300
#include "Talverin/App/linux/AppProcess.h"
#include "TalverinInput/linux/FakeBus.h"
#include "support/LinuxTestSupport.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

// Xlib's macros come after gtest's headers.
#include "Talverin/App/linux/Screen.h"

namespace talverin {
namespace {

// The installed program on an X server of the test's own, with and without a window manager:
// a second launch opens the popover of the one that runs, and the screen shows its page.
class DesktopApplicationPopover : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        ASSERT_FALSE(xserver.display().empty()) << "no Xvfb";
        ASSERT_FALSE(bus.address().empty());
        screen = std::make_unique<test::Screen>(xserver.display());
        ASSERT_TRUE(screen->isOpen());
        if (GetParam()) {
            windowManager = std::make_unique<test::Program>(
                xserver.display(), std::initializer_list<const char*>{"openbox", "--sm-disable"});
            ASSERT_TRUE(waitUntil([&] { return screen->hasWindowManager(); }))
                << "openbox did not start";
        }
        // A user who has finished the onboarding, on a desktop with Accessibility on: nothing
        // but the popover opens.
        std::filesystem::create_directories(dir.configHome() / "Talverin");
        test::writeFile(dir.configHome() / "Talverin" / "defaults.json",
                        R"({"settings": {"onboarded": true}, "TLCloudConsentAsked": true})");
    }

    template <typename Done> static bool waitUntil(Done done, double seconds = 90) {
        const double end = test::monotonicNow() + seconds;
        while (test::monotonicNow() < end) {
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return done();
    }
    std::map<std::string, std::optional<std::string>> environment() const {
        return {{"DBUS_SESSION_BUS_ADDRESS", bus.address()}, {"DISPLAY", xserver.display()}};
    }

    test::TempDir dir;
    test::PrivateXServer xserver;
    test::PrivateBus bus;
    test::FakeAccessibilityBus accessibility{bus.address(), true};
    std::unique_ptr<test::Screen> screen;
    std::unique_ptr<test::Program> windowManager;
};

TEST_P(DesktopApplicationPopover, ASecondLaunchShowsThePopoverWithItsPageAndItStays) {
    test::AppProcess app(dir, environment());
    ASSERT_TRUE(app.waitForLog("Launch: ")) << app.log();
    EXPECT_FALSE(app.logHas("Onboarding: opened")) << app.log();

    test::AppProcess second(dir, environment());
    EXPECT_EQ(second.waitForExit(), 0);
    constexpr int drawnColours = 30;
    auto drawn = [&] {
        auto rect = screen->viewableWindow("Talverin", 400);
        return rect && screen->colours(*rect) > drawnColours;
    };
    ASSERT_TRUE(waitUntil(drawn)) << "the popover never showed its page\n" << app.log();
    // The focus handed over settles; the popover is still there.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(drawn()) << "the popover closed itself\n" << app.log();

    app.signal(SIGTERM);
    EXPECT_EQ(app.waitForExit(), 0);
}

INSTANTIATE_TEST_SUITE_P(WindowManager, DesktopApplicationPopover, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "openbox" : "none"; });

} // namespace
} // namespace talverin
