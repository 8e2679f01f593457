// labels: x11 dbus pulse
// links: TalverinAudioLinux
#include "TalverinInput/linux/SystemPermissions.h"

#include "../TapTestSupport.h"
#include "FakeBus.h"
#include "support/LinuxTestSupport.h"
#include "TalverinInput/PermissionsMonitor.h"
#include "TalverinInput/linux/AccessibilityStatusWatcher.h"
#include "TalverinInput/linux/MicrophoneAccessPulse.h"
#include "SoundServerSupport.h"
#include "Runtime/VirtualWorld.h"
#include "fakes/AccessibilityStatusReadingFake.h"
#include "fakes/MicrophoneAccessFake.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace talverin {
namespace {

using Wire::PermissionKind;
using Wire::PermissionState;

TEST(MicrophoneAccessPulse, GrantedWhenTheSoundServerTakesUsNotDeterminedWithoutOne) {
    EXPECT_EQ(MicrophoneAccessPulse::probe(1.0), PermissionState::granted);
    {
        // Nothing listens at the address: the connection is refused, which refuses no
        // permission.
        test::ScopedVariable noServer("PULSE_SERVER", "unix:/nonexistent/talverin-pulse");
        EXPECT_EQ(MicrophoneAccessPulse::probe(1.0), PermissionState::notDetermined);
    }
}

// Only the server refusing us is a denied microphone; a server that is stopped, gone or not
// there at all has decided nothing.
TEST(MicrophoneAccessPulse, DeniedOnlyWhenTheServerRefusesUs) {
    test::PrivateSoundServer server(test::PrivateSoundServer::Access::cookie);
    if (!server.started())
        GTEST_SKIP() << "no pulseaudio";
    test::TempDir client;
    test::writeFile(client.path() / "wrong-cookie", std::string(256, 'x'));
    test::ScopedVariable address("PULSE_SERVER", server.address().c_str());
    test::ScopedVariable cookie("PULSE_COOKIE", (client.path() / "wrong-cookie").c_str());
    ASSERT_TRUE(server.waitUntilListening());
    EXPECT_EQ(MicrophoneAccessPulse::probe(5.0), PermissionState::denied);

    server.pause();
    EXPECT_EQ(MicrophoneAccessPulse::probe(0.5), PermissionState::notDetermined)
        << "a stopped server";
    server.resume();
    EXPECT_EQ(MicrophoneAccessPulse::probe(5.0), PermissionState::denied);

    server.stop();
    EXPECT_EQ(MicrophoneAccessPulse::probe(1.0), PermissionState::notDetermined)
        << "a server that went away";
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
                            std::make_shared<MicrophoneAccessPulse>(
                                test::linkOf(std::make_shared<PulseConnection>())),
                            model.path());
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

// Asking goes to the system only when there is something to ask: the microphone while it is
// undecided, Accessibility while it is off. A refusal to switch it on is an answer, not a
// grant.
struct AskCase {
    const char* name;
    PermissionKind kind;
    PermissionState microphone;
    std::optional<PermissionState> microphoneFound;
    std::optional<Failure<AccessibilityEnableError>> enableFailure;
    PermissionState answer;
    int checks;
    int enableRequests;
    std::vector<std::string> lines;
};

class SystemPermissionsAsking : public ::testing::TestWithParam<AskCase> {};

TEST_P(SystemPermissionsAsking, AsksOnlyWhenUndecidedAndAnswersTheStateAfter) {
    const auto& c = GetParam();
    VirtualWorld world;
    test::LogLines log;
    test::TempDir model;
    auto microphone = std::make_shared<test::MicrophoneAccessFake>(c.microphone);
    microphone->answerChecksWith(c.microphoneFound);
    auto status = std::make_shared<test::AccessibilityStatusReadingFake>(
        AccessibilityStatusReading::BusStatus::notEnabled);
    status->failEnableWith(c.enableFailure);
    // No X server answers there, so Accessibility is never granted.
    SystemPermissions permissions(std::make_shared<AccessibilityTrust>(status, ":4242"),
                                  microphone, model.path());

    std::optional<PermissionState> answer;
    permissions.request(c.kind).then([&](const PermissionState& s) { answer = s; });
    world.runUntilIdle();
    EXPECT_EQ(answer, c.answer);
    EXPECT_EQ(microphone->checks(), c.checks);
    EXPECT_EQ(status->enableRequests(), c.enableRequests);
    EXPECT_EQ(log.lines(), c.lines);
}

const Failure<AccessibilityEnableError> refusal{AccessibilityEnableError::refused, "no"};

INSTANTIATE_TEST_SUITE_P(
    , SystemPermissionsAsking,
    ::testing::Values(
        AskCase{"UndecidedMicrophoneIsChecked",
                PermissionKind::microphone,
                PermissionState::notDetermined,
                PermissionState::granted,
                std::nullopt,
                PermissionState::granted,
                1,
                0,
                {"Permissions: asking for the microphone", "Permissions: microphone granted"}},
        AskCase{"DecidedMicrophoneIsNotAskedAgain",
                PermissionKind::microphone,
                PermissionState::denied,
                PermissionState::granted,
                std::nullopt,
                PermissionState::denied,
                0,
                0,
                {"Permissions: microphone denied"}},
        AskCase{"RefusedAccessibilityStaysDenied",
                PermissionKind::accessibility,
                PermissionState::granted,
                std::nullopt,
                refusal,
                PermissionState::denied,
                0,
                1,
                {"Permissions: asking for Accessibility", "Permissions: accessibility denied"}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace talverin
