// labels: x11 dbus pulse
// resource-lock: pulse-server
#include "Talverin/App/linux/AppProcess.h"
#include "TalverinInput/linux/FakeBus.h"
#include "support/LinuxTestSupport.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <regex>
#include <fcntl.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace talverin {
namespace {

// The X keycode of the default hold key, the right Alt key.
constexpr unsigned rightAlt = 108;

// The standard output of a command line, or none when it failed.
std::optional<std::string> output(const std::string& command) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return std::nullopt;
    std::string text;
    char buffer[1024];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        text.append(buffer, n);
    return ::pclose(pipe) == 0 ? std::optional(text) : std::nullopt;
}

// The default sink's volume in the sound server's units (65536 is 100 %), first channel.
std::optional<long> sinkVolume() {
    const auto text = output("pactl get-sink-volume @DEFAULT_SINK@ 2>/dev/null");
    std::smatch match;
    if (!text || !std::regex_search(*text, match, std::regex(R"(:\s*(\d+)\s*/)")))
        return std::nullopt;
    return std::stol(match[1]);
}

bool setSinkVolume(long volume) {
    return output("pactl set-sink-volume @DEFAULT_SINK@ " + std::to_string(volume) + " 2>/dev/null")
        .has_value();
}

// Polls `done` until it holds or `limit` seconds have passed.
template <typename Done> bool eventually(Done done, double limit = 90) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(limit);
    while (std::chrono::steady_clock::now() < end) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

// Another program playing into the default sink, as music would: silence, for as long as it
// lives.
class OtherPlayback {
public:
    OtherPlayback() {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/zero", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const char* argv[] = {"pacat", "--playback", "--client-name=other-player", nullptr};
        if (posix_spawnp(&m_pid, "pacat", &actions, nullptr, const_cast<char**>(argv), environ) !=
            0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~OtherPlayback() {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
    OtherPlayback(const OtherPlayback&) = delete;
    OtherPlayback& operator=(const OtherPlayback&) = delete;

    // The sound server lists its stream.
    bool plays() const {
        const auto inputs = output("pactl list sink-inputs 2>/dev/null");
        return m_pid > 0 && inputs && inputs->find("other-player") != std::string::npos;
    }

private:
    pid_t m_pid = -1;
};

// The application as a user runs it, on an X server, a session bus and a system bus of the
// test's own: the accessibility status is on, so its key tap starts, and logind is a fake the
// test speaks for. The test holds the hold key through XTest.
class DesktopApplicationHold : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(xserver.display().empty()) << "no Xvfb";
        ASSERT_FALSE(session.address().empty());
        ASSERT_FALSE(system.address().empty());
        accessibility = std::make_unique<test::FakeAccessibilityBus>(session.address(), true);
        logind = std::make_unique<test::FakeLogind>(system.address());
        keys = XOpenDisplay(xserver.display().c_str());
        ASSERT_NE(keys, nullptr);
        app = std::make_unique<test::AppProcess>(
            home, std::map<std::string, std::optional<std::string>>{
                      {"DISPLAY", xserver.display()},
                      {"DBUS_SESSION_BUS_ADDRESS", session.address()},
                      {"DBUS_SYSTEM_BUS_ADDRESS", system.address()}});
        // The tap listens once it says it has started.
        ASSERT_TRUE(app->waitForLog("KeyTap: started (rightOption)")) << app->log();
    }
    void TearDown() override {
        if (keys) {
            hold(false);
            XCloseDisplay(keys);
        }
    }

    void hold(bool down) {
        XTestFakeKeyEvent(keys, rightAlt, down ? True : False, CurrentTime);
        XSync(keys, False);
    }

    // The log's lines that begin with `prefix`.
    std::vector<std::string> lines(const std::string& prefix) const {
        std::vector<std::string> found;
        std::istringstream in(app->log());
        for (std::string line; std::getline(in, line);) {
            const auto at = line.find(prefix);
            if (at != std::string::npos)
                found.push_back(line.substr(at));
        }
        return found;
    }

    test::PrivateXServer xserver;
    test::PrivateBus session;
    test::PrivateBus system;
    test::TempDir home;
    std::unique_ptr<test::FakeAccessibilityBus> accessibility;
    std::unique_ptr<test::FakeLogind> logind;
    Display* keys = nullptr;
    std::unique_ptr<test::AppProcess> app;
};

// The machine going to sleep takes the dictation the user holds away: it is dropped, and
// releasing the key afterwards puts nothing anywhere.
TEST_F(DesktopApplicationHold, ASleepDropsAHeldDictation) {
    hold(true);
    // The ducker is asked once the dictation's pill shows: the dictation is under way.
    ASSERT_TRUE(app->waitForLog("ducker: ")) << app->log();
    logind->prepareForSleep(true);
    ASSERT_TRUE(app->waitForLog("Dictation: cancelled (sleep) after ")) << app->log();
    hold(false);

    app->signal(SIGTERM);
    EXPECT_EQ(app->waitForExit(), 0);
    ASSERT_TRUE(app->logHas(" Talverin quit\n")) << app->log();
    const auto dictation = lines("Dictation: ");
    ASSERT_EQ(dictation.size(), 1u) << app->log();
    EXPECT_TRUE(dictation[0].starts_with("Dictation: cancelled (sleep) after ")) << app->log();
}

// Quitting in the middle of a dictation that lowered the music gives the music its volume back
// before the process ends.
TEST_F(DesktopApplicationHold, TerminationRestoresTheVolumeTheDictationLowered) {
    const auto previous = sinkVolume();
    ASSERT_TRUE(previous) << "no sound server";
    // The sink goes back to where the session had it, whatever the test finds.
    std::shared_ptr<void> putBack(nullptr, [&](void*) { setSinkVolume(*previous); });
    const long before = 52429; // 80 %
    ASSERT_TRUE(setSinkVolume(before));
    OtherPlayback music;
    ASSERT_TRUE(eventually([&] { return music.plays(); })) << "pacat did not play";

    hold(true);
    ASSERT_TRUE(eventually([before] { return sinkVolume().value_or(before) < before / 2; }))
        << app->log();
    app->signal(SIGTERM);
    EXPECT_EQ(app->waitForExit(), 0);
    EXPECT_TRUE(app->logHas(" Talverin quit\n")) << app->log();
    const auto after = sinkVolume();
    ASSERT_TRUE(after);
    // The ducker counts volumes within 2 % as the same.
    EXPECT_NEAR(*after, before, 1311) << app->log();
}

} // namespace
} // namespace talverin
