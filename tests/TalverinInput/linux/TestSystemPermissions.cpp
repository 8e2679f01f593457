// labels: x11 dbus pulse
#include "TalverinInput/linux/SystemPermissions.h"

#include "../TapTestSupport.h"
#include "FakeBus.h"
#include "LinuxTestSupport.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace talverin {
namespace {

using Wire::PermissionKind;
using Wire::PermissionState;

// Sets an environment variable for the life of the object.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        ::setenv(name, value, 1);
    }
    ~ScopedVariable() {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST(MicrophoneAccessPulse, GrantedWhenTheSoundServerTakesUsRestrictedWithoutOne) {
    EXPECT_EQ(MicrophoneAccessPulse::probe(1.0), PermissionState::granted);
    {
        ScopedVariable noServer("PULSE_SERVER", "unix:/nonexistent/talverin-pulse");
        EXPECT_EQ(MicrophoneAccessPulse::probe(1.0), PermissionState::restricted);
    }
    test::RealTimeLoop loop;
    MicrophoneAccessPulse microphone;
    // The first answer waits for a check; the next ones come from it at once.
    EXPECT_EQ(microphone.state(), PermissionState::granted);
    EXPECT_EQ(microphone.state(), PermissionState::granted);
}

class SystemPermissionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (server.display().empty() || bus.address().empty())
            GTEST_SKIP() << "no Xvfb or no dbus-daemon";
        status.emplace(bus.address(), false);
        auto watcher = std::make_shared<AccessibilityStatusWatcher>(
            std::make_shared<NotificationCenter>(), bus.address());
        bool read = false;
        watcher->whenFirstRead([&read] { read = true; });
        ASSERT_TRUE(loop.runUntil([&read] { return read; }, 10));
        permissions.emplace(std::make_shared<AccessibilityTrust>(watcher, server.display()),
                            std::make_shared<MicrophoneAccessPulse>(), model.path());
    }

    PermissionState request(PermissionKind kind) {
        std::optional<PermissionState> answer;
        permissions->request(kind).then([&](const PermissionState& s) { answer = s; });
        EXPECT_TRUE(loop.runUntil([&] { return answer.has_value(); }));
        return answer.value_or(PermissionState::notDetermined);
    }

    test::RealTimeLoop loop;
    test::LogLines log;
    test::PrivateXServer server;
    test::PrivateBus bus;
    test::TempDir model;
    std::optional<test::FakeAccessibilityBus> status;
    std::optional<SystemPermissions> permissions;
};

TEST_F(SystemPermissionsTest, AskingForAccessibilitySwitchesTheBusOnOnlyWhenItIsOff) {
    EXPECT_EQ(permissions->state(PermissionKind::accessibility), PermissionState::denied);
    EXPECT_EQ(request(PermissionKind::accessibility), PermissionState::granted);
    EXPECT_TRUE(status->enabled());
    EXPECT_EQ(request(PermissionKind::accessibility), PermissionState::granted);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"Permissions: asking for Accessibility",
                                                     "Permissions: accessibility granted",
                                                     "Permissions: accessibility granted"}));
}

TEST_F(SystemPermissionsTest, SpeechRecognitionIsTheInstalledModel) {
    EXPECT_EQ(permissions->state(PermissionKind::speech), PermissionState::restricted);
    EXPECT_EQ(request(PermissionKind::speech), PermissionState::restricted);
    std::filesystem::create_directory(model.path() / "en-us");
    test::writeFile(model.path() / "en-us.lm.bin", "lm");
    test::writeFile(model.path() / "cmudict-en-us.dict", "dict");
    EXPECT_EQ(permissions->state(PermissionKind::speech), PermissionState::granted);
    EXPECT_EQ(request(PermissionKind::microphone), PermissionState::granted);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"Permissions: speech restricted",
                                                     "Permissions: microphone granted"}));
}

} // namespace
} // namespace talverin
