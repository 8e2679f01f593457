// labels: pulse
// links: TalverinAudioLinux
#include "TalverinInput/linux/MicrophoneAccessPulse.h"

#include "SoundServerSupport.h"
#include "TalverinAudio/linux/PulseConnection.h"
#include "support/LogLines.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <pulse/introspect.h>

namespace talverin {
namespace {

using Wire::PermissionState;

// How long a test waits for something that comes at once on an idle machine.
constexpr double patience = 30;

bool waitFor(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() +
                       std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                           std::chrono::duration<double>(patience));
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The highest client index the server has handed out so far: pactl's own connection, which
// comes last. Every connection anyone opens raises it by one.
int lastClientIndex(const std::string& server) {
    int last = -1;
    const std::string command = "pactl -s " + server + " list short clients 2>/dev/null";
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, pipe))
            last = std::max(last, std::atoi(line));
        pclose(pipe);
    }
    return last;
}

// A server of the test's own, and the application's kind of connection to it.
class HeldConnection : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server.started())
            GTEST_SKIP() << "no pulseaudio";
        ASSERT_TRUE(server.waitUntilListening());
        connection = std::make_shared<PulseConnection>();
        ASSERT_TRUE(connection->waitReady(PulseConnection::deadlineIn(patience)));
        microphone.emplace(test::linkOf(connection));
    }

    // Asks the server something with a short limit, as a dictation's request to a stopped
    // server would, so that the connection learns it does not answer.
    void askWithShortLimit() {
        PulseConnection::Call call(*connection);
        const int status = connection->perform(
            call,
            [&call](pa_context* context) {
                return pa_context_get_server_info(
                    context,
                    [](pa_context*, const pa_server_info*, void* data) {
                        static_cast<PulseConnection::Call*>(data)->finish();
                    },
                    &call);
            },
            0.3);
        EXPECT_NE(status, 0) << "the stopped server answered";
    }

    test::PrivateSoundServer server{test::PrivateSoundServer::Access::anyone};
    test::ScopedVariable address{"PULSE_SERVER", server.address().c_str()};
    std::shared_ptr<PulseConnection> connection;
    std::optional<MicrophoneAccessPulse> microphone;
};

TEST_F(HeldConnection, PollingOpensNoConnectionOfItsOwn) {
    const int before = lastClientIndex(server.address());
    ASSERT_GE(before, 0);
    for (int poll = 0; poll < 20; ++poll)
        EXPECT_EQ(microphone->state(), PermissionState::granted);
    EXPECT_EQ(microphone->check(), PermissionState::granted);
    // Only the next pactl has connected since.
    EXPECT_EQ(lastClientIndex(server.address()), before + 1);
}

// A server that is frozen, and then one that is gone, leave a granted microphone granted, each
// with one line; a user who was onboarded is never sent back to grant it.
TEST_F(HeldConnection, AServerThatStopsAnsweringOrGoesAwayLeavesTheLastStateStanding) {
    test::LogLines log;
    EXPECT_EQ(microphone->state(), PermissionState::granted);

    server.pause();
    askWithShortLimit();
    ASSERT_TRUE(connection->status().unanswered);
    for (int poll = 0; poll < 3; ++poll)
        EXPECT_EQ(microphone->state(), PermissionState::granted);
    EXPECT_EQ(log.take(),
              std::vector<std::string>{
                  "mic: the sound server does not answer: the microphone stays granted"});

    server.resume();
    ASSERT_TRUE(waitFor([&] { return !connection->status().unanswered; }));
    EXPECT_EQ(microphone->state(), PermissionState::granted);
    EXPECT_EQ(log.take(), std::vector<std::string>{"mic: the sound server answers again"});

    server.stop();
    ASSERT_TRUE(waitFor([&] { return !connection->status().ready; }));
    for (int poll = 0; poll < 3; ++poll)
        EXPECT_EQ(microphone->state(), PermissionState::granted);
    const auto lines = log.take();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].starts_with("mic: the sound server is gone (")) << lines[0];
    EXPECT_TRUE(lines[0].ends_with("): the microphone stays granted")) << lines[0];
}

// Only the server refusing the application's connection is a refusal.
TEST(MicrophoneAccessPulseRefused, TheServerRefusingTheConnectionIsDenied) {
    test::PrivateSoundServer server(test::PrivateSoundServer::Access::cookie);
    if (!server.started())
        GTEST_SKIP() << "no pulseaudio";
    test::TempDir client;
    test::writeFile(client.path() / "wrong-cookie", std::string(256, 'x'));
    test::ScopedVariable address("PULSE_SERVER", server.address().c_str());
    test::ScopedVariable cookie("PULSE_COOKIE", (client.path() / "wrong-cookie").c_str());
    ASSERT_TRUE(server.waitUntilListening());
    auto connection = std::make_shared<PulseConnection>();
    ASSERT_TRUE(waitFor([&] { return connection->status().error != 0; }));
    MicrophoneAccessPulse microphone(test::linkOf(connection));
    EXPECT_EQ(microphone.state(), PermissionState::denied);
}

} // namespace
} // namespace talverin
