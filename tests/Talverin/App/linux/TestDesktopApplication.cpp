// labels: x11 dbus pulse
// resource-lock: pulse-server
#include "Talverin/App/linux/AppProcess.h"
#include "TalverinInput/linux/FakeBus.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace talverin {
namespace {

// Each test runs the application on a session bus of its own, so that instances of other
// tests are not taken for a running one.
class DesktopApplicationTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(bus.address().empty()); }

    test::TempDir dir;
    test::PrivateBus bus;
};

TEST_F(DesktopApplicationTest, EachTerminatingSignalEndsTheApplicationInOrder) {
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        test::TempDir home;
        test::AppProcess app(home, {{"DBUS_SESSION_BUS_ADDRESS", bus.address()}});
        ASSERT_TRUE(app.waitForLog("Launch: ")) << app.log();
        EXPECT_TRUE(app.logHas("Services: microphone PulseAudio")) << app.log();
        EXPECT_TRUE(app.logHas("Services: keychain Secret Service")) << app.log();
        app.signal(signal);
        EXPECT_EQ(app.waitForExit(), 0);
        EXPECT_TRUE(app.logHas(" Talverin quit\n")) << app.log();
    }
}

// Without a sound server and without a session bus the application still runs, on the Null
// backends of the services that need them, each named with its reason.
TEST_F(DesktopApplicationTest, MissingServicesAreNullBackendsWithTheirReasons) {
    struct Case {
        const char* name;
        std::map<std::string, std::optional<std::string>> environment;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"no sound server",
         {{"PULSE_SERVER", "unix:/nonexistent/pulse"}, {"DBUS_SESSION_BUS_ADDRESS", ""}},
         {"Services: microphone none (no sound server)", "Services: ducker none (no sound server)",
          "Services: sounds none (no sound server)", "microphone restricted"}},
        {"no session bus",
         {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"}},
         {"Services: accessibility none (no session bus)",
          "Services: keychain none (no session bus)"}},
    };
    for (Case c : cases) {
        SCOPED_TRACE(c.name);
        if (c.environment["DBUS_SESSION_BUS_ADDRESS"] == "")
            c.environment["DBUS_SESSION_BUS_ADDRESS"] = bus.address();
        test::TempDir home;
        test::AppProcess app(home, c.environment);
        ASSERT_TRUE(app.waitForLog("Launch: ")) << app.log();
        for (const auto& line : c.lines)
            EXPECT_TRUE(app.logHas(line)) << line << "\n" << app.log();
        app.signal(SIGTERM);
        EXPECT_EQ(app.waitForExit(), 0);
        EXPECT_TRUE(app.logHas("Talverin quit")) << app.log();
    }
}

// The launch decides whether the key tap runs, and so whether the onboarding must open,
// on what the accessibility bus answers: a desktop with Accessibility on and a user who has
// finished the onboarding gets a running key tap at once, not the onboarding.
TEST_F(DesktopApplicationTest, TheLaunchWaitsForTheAccessibilityStatusBeforeStartingTheKeyTap) {
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "no display";
    test::FakeAccessibilityBus status(bus.address(), true);
    std::filesystem::create_directories(dir.configHome() / "Talverin");
    test::writeFile(dir.configHome() / "Talverin" / "defaults.json",
                    R"({"settings": {"onboarded": true}, "TLCloudConsentAsked": true})");
    test::AppProcess app(dir, {{"DBUS_SESSION_BUS_ADDRESS", bus.address()}});
    ASSERT_TRUE(app.waitForLog("Launch: ")) << app.log();
    EXPECT_TRUE(app.logHas("Launch: key tap running")) << app.log();
    EXPECT_FALSE(app.logHas("Onboarding: opened")) << app.log();
    app.signal(SIGTERM);
    EXPECT_EQ(app.waitForExit(), 0);
}

// A second launch in the same session leaves the running one alone: it ends at once and
// writes nothing, so the running instance's log is neither rotated nor mixed.
TEST_F(DesktopApplicationTest, ASecondLaunchEndsWithoutTouchingTheRunningOnesLog) {
    test::AppProcess first(dir, {{"DBUS_SESSION_BUS_ADDRESS", bus.address()}});
    ASSERT_TRUE(first.waitForLog("Launch: ")) << first.log();
    const std::string before = first.log();

    test::AppProcess second(dir, {{"DBUS_SESSION_BUS_ADDRESS", bus.address()}});
    EXPECT_EQ(second.waitForExit(), 0);
    EXPECT_TRUE(first.log().starts_with(before));
    EXPECT_EQ(first.log().find(" launched ("), first.log().rfind(" launched ("));
    EXPECT_FALSE(std::filesystem::exists(dir.stateHome() / "Talverin" / "Talverin.previous.log"));

    first.signal(SIGTERM);
    EXPECT_EQ(first.waitForExit(), 0);
}

} // namespace
} // namespace talverin
