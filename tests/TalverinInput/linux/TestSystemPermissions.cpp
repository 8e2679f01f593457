// labels: x11 dbus pulse
#include "TalverinInput/linux/SystemPermissions.h"

#include "../TapTestSupport.h"
#include "FakeBus.h"
#include "support/LinuxTestSupport.h"
#include "TalverinInput/PermissionsMonitor.h"
#include "TalverinInput/linux/AccessibilityStatusWatcher.h"
#include "TalverinInput/linux/MicrophoneAccessPulse.h"
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

// A PulseAudio server of the test's own on a loopback port: one that wants a cookie the client
// does not have refuses it with an access error, one that is stopped (SIGSTOP) still takes the
// connection into the kernel's backlog but never answers.
class PrivateSoundServer {
public:
    enum class Access { cookie, anyone };

    explicit PrivateSoundServer(Access access) {
        m_port = freePort();
        if (m_port == 0)
            return;
        const std::string base = m_dir.path().string();
        std::vector<std::string> environment = {
            "HOME=" + base + "/server-home", "XDG_RUNTIME_DIR=" + base + "/server-xdg",
            "XDG_CONFIG_HOME=" + base + "/server-config", "PULSE_RUNTIME_PATH=" + base + "/run",
            std::string("PATH=") + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin")};
        const std::string module =
            "module-native-protocol-tcp listen=127.0.0.1 port=" + std::to_string(m_port) +
            (access == Access::anyone ? " auth-anonymous=1"
                                      : " auth-anonymous=0 auth-cookie=" + base + "/cookie");
        std::vector<std::string> arguments = {"pulseaudio",
                                              "-n",
                                              "--daemonize=no",
                                              "--exit-idle-time=-1",
                                              "--disallow-exit",
                                              "--use-pid-file=no",
                                              "--log-target=file:" + base + "/pa.log",
                                              "--load=" + module};
        std::vector<char*> argv;
        for (auto& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& variable : environment)
            envp.push_back(variable.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&m_pid, "pulseaudio", &actions, nullptr, argv.data(), envp.data()) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~PrivateSoundServer() { stop(); }
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    bool started() const { return m_pid > 0; }
    std::string address() const { return "tcp:127.0.0.1:" + std::to_string(m_port); }
    // Waits until the server answers a connection, whatever it answers.
    bool waitUntilListening(double seconds = 30) {
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::milliseconds(static_cast<int>(seconds * 1000));
        while (std::chrono::steady_clock::now() < deadline) {
            if (MicrophoneAccessPulse::probe(5.0) != PermissionState::notDetermined)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    void pause() { ::kill(m_pid, SIGSTOP); }
    void resume() { ::kill(m_pid, SIGCONT); }
    void stop() {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    static int freePort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        int port = 0;
        if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        if (fd >= 0)
            ::close(fd);
        return port;
    }

    test::TempDir m_dir;
    int m_port = 0;
    pid_t m_pid = -1;
};

TEST(MicrophoneAccessPulse, GrantedWhenTheSoundServerTakesUsNotDeterminedWithoutOne) {
    EXPECT_EQ(MicrophoneAccessPulse::probe(1.0), PermissionState::granted);
    {
        // Nothing listens at the address: the connection is refused, which refuses no
        // permission.
        ScopedVariable noServer("PULSE_SERVER", "unix:/nonexistent/talverin-pulse");
        EXPECT_EQ(MicrophoneAccessPulse::probe(1.0), PermissionState::notDetermined);
    }
    test::RealTimeLoop loop;
    MicrophoneAccessPulse microphone;
    // The first answer waits for a check; the next ones come from it at once.
    EXPECT_EQ(microphone.state(), PermissionState::granted);
    EXPECT_EQ(microphone.state(), PermissionState::granted);
}

// Only the server refusing us is a denied microphone; a server that is stopped, gone or not
// there at all has decided nothing.
TEST(MicrophoneAccessPulse, DeniedOnlyWhenTheServerRefusesUs) {
    PrivateSoundServer server(PrivateSoundServer::Access::cookie);
    if (!server.started())
        GTEST_SKIP() << "no pulseaudio";
    test::TempDir client;
    test::writeFile(client.path() / "wrong-cookie", std::string(256, 'x'));
    ScopedVariable address("PULSE_SERVER", server.address().c_str());
    ScopedVariable cookie("PULSE_COOKIE", (client.path() / "wrong-cookie").c_str());
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

// A server that appears is checked again at the next question, well before the usual two
// seconds, and the change is announced so that the permissions are read at once.
TEST(MicrophoneAccessPulse, AServerThatAppearsIsSeenAtTheNextQuestion) {
    test::RealTimeLoop loop;
    PrivateSoundServer server(PrivateSoundServer::Access::anyone);
    if (!server.started())
        GTEST_SKIP() << "no pulseaudio";
    ScopedVariable address("PULSE_SERVER", server.address().c_str());
    auto center = std::make_shared<NotificationCenter>();
    int notices = 0;
    center->addObserver(PermissionsMonitor::microphoneNotification, [&] { ++notices; });
    MicrophoneAccessPulse microphone(center);
    server.pause();
    EXPECT_EQ(microphone.state(), PermissionState::notDetermined);

    server.resume();
    ASSERT_TRUE(server.waitUntilListening());
    // The polls go on as they would; one of them finds the server.
    ASSERT_TRUE(loop.runUntil(
        [&] {
            microphone.state();
            return notices > 0;
        },
        30));
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
