// labels: webkit x11 dbus
// links: TalverinInput TalverinInputLinux
// Turning Accessibility on from the pages, through the real permission reader, against an
// accessibility bus on a private session bus.
#include "Talverin/Web/linux/PagesHarness.h"
#include "TalverinInput/MicrophoneAccessNull.h"
#include "TalverinInput/PermissionsMonitor.h"
#include "TalverinInput/linux/AccessibilityStatusWatcher.h"
#include "TalverinInput/linux/AccessibilityTrust.h"
#include "TalverinInput/linux/FakeBus.h"
#include "TalverinInput/linux/SystemPermissions.h"

namespace talverin {
namespace {

constexpr const char* accessibilityState =
    "document.querySelector('[data-kind=accessibility]').dataset.state";

class PagesAccessibilitySwitch : public test::PagesHarness {
protected:
    void SetUp() override {
        PagesHarness::SetUp();
        if (bus.address().empty())
            GTEST_SKIP() << "no dbus-daemon";
    }
    void TearDown() override {
        PagesHarness::TearDown();
        monitor.reset();
    }

    // The Bridge asks the monitor the shell uses, over the accessibility bus's status as the
    // desktop keeps it; every change the monitor sees is pushed to the pages, as the shell does.
    void wireRealPermissions() {
        auto watcher = std::make_shared<AccessibilityStatusWatcher>(center, bus.address());
        auto trust = std::make_shared<AccessibilityTrust>(watcher, xserver.display());
        auto reader = std::make_shared<SystemPermissions>(
            trust, std::make_shared<MicrophoneAccessNull>("no sound server in this test"));
        monitor = std::make_shared<PermissionsMonitor>(
            reader, PermissionsMonitor::fastPoll, PermissionsMonitor::slowPoll, center, nullptr,
            nullptr, [] { return Clock::uptime(); }, [this](const std::string& address) {
                openedPanes.push_back(address);
                return false;
            });
        monitor->onChange = [this](const Wire::Permissions& now, const Wire::Permissions&) {
            if (now.accessibility == Wire::PermissionState::granted)
                ++accessibilityGranted;
            bridge->send(Wire::Event::permissions(now));
        };
        monitor->start();
        Bridge& b = makeBridge();
        b.permissions = [this] { return monitor->refresh(); };
        b.requestPermission = [this](Wire::PermissionKind kind) { return monitor->request(kind); };
        b.openPane = [this](Wire::PermissionKind kind) { monitor->openPane(kind); };
    }

    test::PrivateBus bus;
    std::shared_ptr<NotificationCenter> center = std::make_shared<NotificationCenter>();
    std::shared_ptr<PermissionsMonitor> monitor;
    std::vector<std::string> openedPanes;
    int accessibilityGranted = 0;
};

TEST_F(PagesAccessibilitySwitch, TheButtonSwitchesTheBusOnAndTheBadgeTurnsToAllowed) {
    test::FakeAccessibilityBus status(bus.address(), false);
    wireRealPermissions();
    show("onboarding?step=2", Bridge::ViewRole::onboarding);
    ASSERT_EQ(waitForText(accessibilityState, "denied"), "denied");

    click("[data-ask=accessibility]");
    EXPECT_EQ(waitForText(accessibilityState, "granted"), "granted");
    EXPECT_TRUE(status.enabled()) << "the desktop's own switch is on";
    EXPECT_EQ(text("[data-kind=accessibility] .badge"), "Allowed");
    // What the shell starts the key tap on.
    EXPECT_TRUE(waitForNative([&] { return accessibilityGranted == 1; }));
    EXPECT_EQ(monitor->current().accessibility, Wire::PermissionState::granted);
    EXPECT_TRUE(openedPanes.empty()) << "no settings pane is needed";
    EXPECT_EQ(run("return String(!!document.querySelector('[data-help]:not(.quiet)'));"), "false");
}

// Nobody owns the accessibility bus: switching it on fails, and the page says what to do, in the
// user's language, until the permission arrives from outside.
struct Language {
    const char* name;
    const char* help;    // a part of the help text
    const char* allowed; // the badge once granted
};

void PrintTo(const Language& language, std::ostream* out) {
    *out << language.name;
}

class PagesAccessibilityRefused : public PagesAccessibilitySwitch,
                                  public testing::WithParamInterface<Language> {};

TEST_P(PagesAccessibilityRefused, ThePageSaysWhatToDo) {
    setenv("LANGUAGE", GetParam().name, 1);
    wireRealPermissions();
    show("popover");
    click("[data-tab=access]");
    ASSERT_EQ(waitForText(accessibilityState, "denied"), "denied");

    click("[data-ask=accessibility]");
    ASSERT_TRUE(waitFor("document.querySelector('[data-help=accessibility]:not(.quiet)')"));
    EXPECT_NE(text("[data-help=accessibility]").find(GetParam().help), std::string::npos)
        << text("[data-help=accessibility]");
    EXPECT_EQ(run(std::string("return ") + accessibilityState + ";"), "denied");

    // The bus comes up switched on, as when the user follows the help.
    test::FakeAccessibilityBus status(bus.address(), true);
    center->post(PermissionsMonitor::accessibilityNotification);
    EXPECT_EQ(waitForText(accessibilityState, "granted"), "granted");
    EXPECT_EQ(text("[data-kind=accessibility] .badge"), GetParam().allowed);
    EXPECT_EQ(run("return String(!!document.querySelector('[data-help]:not(.quiet)'));"), "false");
}

INSTANTIATE_TEST_SUITE_P(Languages, PagesAccessibilityRefused,
                         testing::Values(Language{"en", "desktop’s accessibility settings", "Allowed"},
                                         Language{"ru", "настройках специальных возможностей",
                                                  "Разрешено"}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace talverin
