// labels: pulse
// resource-lock: private-pulse-server
#include "TalverinAudio/DictationMic.h"

#include "PulseTestSupport.h"
#include "Runtime/MainQueue.h"
#include "TalverinAudio/linux/AudioSystemPulse.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <regex>
#include <string>

namespace talverin {
namespace {

using test::patience;
using test::shell;
using test::waitFor;

// A sound server of the test's own, in its own runtime folder, so that the test may kill it
// without disturbing any other test.
class PrivateServer {
public:
    PrivateServer() {
        char pattern[] = "/tmp/tlvpulse.XXXXXX";
        if (char* made = mkdtemp(pattern))
            m_folder = made;
        // Everything the test runs, the microphone included, talks to this server only.
        setenv("PULSE_SERVER", ("unix:" + m_folder + "/native").c_str(), 1);
    }

    ~PrivateServer() {
        kill(SIGTERM);
        shell("rm -rf '" + m_folder + "'");
    }

    bool start() {
        std::string command = "PULSE_RUNTIME_PATH='" + m_folder +
                              "' pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit "
                              "--use-pid-file=no --log-target=file:'" +
                              m_folder +
                              "/pa.log' "
                              "--load=module-native-protocol-unix "
                              "--load='module-null-sink sink_name=vspk rate=16000 channels=1' "
                              "--load='module-remap-source master=vspk.monitor source_name=vmic' "
                              ">/dev/null 2>&1 & echo $!";
        m_pid = std::atoi(test::shellLine(command).c_str());
        if (m_pid <= 0 || !waitFor([] { return test::serverRuns(); }, patience))
            return false;
        shell("pactl set-default-source vmic");
        // Keeps the null sink rendering in small blocks, so new recordings get data at once.
        m_keeper = std::atoi(test::shellLine("pacat --record -d vspk.monitor --latency-msec=20 "
                                             ">/dev/null 2>&1 & echo $!")
                                 .c_str());
        return true;
    }

    // Sends the server a signal and nothing else (SIGSTOP, SIGCONT).
    void signal(int signal) const {
        if (m_pid > 0)
            ::kill(m_pid, signal);
    }

    void kill(int signal) {
        if (m_keeper > 0)
            ::kill(m_keeper, SIGTERM);
        if (m_pid > 0) {
            ::kill(m_pid, signal);
            waitFor([this] { return ::kill(m_pid, 0) != 0; }, patience);
        }
        m_pid = m_keeper = 0;
    }

private:
    std::string m_folder;
    int m_pid = 0;
    int m_keeper = 0;
};

class DictationMicPulseRestart : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::haveProgram("pulseaudio") || !test::haveProgram("pactl"))
            GTEST_SKIP() << "no PulseAudio";
        mic = std::make_unique<DictationMic>(
            std::make_shared<AudioSystemPulse>(PulseConnection::shared()), [] { return true; });
        mic->setOnBuffer([this](const MicBuffer&) { ++buffers; });
    }

    void TearDown() override { mic.reset(); }

    bool hasLine(const std::string& pattern) {
        std::regex re(pattern);
        for (const auto& line : log.lines())
            if (std::regex_match(line, re))
                return true;
        return false;
    }

    void awaitLine(const std::string& pattern, double seconds) {
        if (waitFor([&] { return hasLine(pattern); }, seconds))
            return;
        std::string lines;
        for (const auto& line : log.lines())
            lines += "\n  " + line;
        ADD_FAILURE() << "no line like: " << pattern << "\nlines:" << lines;
    }

    PrivateServer server;
    test::ThreadEventLoop loop;
    test::LogLines log;
    std::atomic<int> buffers = 0;
    std::unique_ptr<DictationMic> mic;
};

TEST_F(DictationMicPulseRestart, TheMicSurvivesNoServerAndAServerThatDiesMidCapture) {
    // No server yet: the preparation fails at once, and the microphone prepares by itself
    // once a server appears.
    auto started = Clock::uptime();
    auto prewarmed = mic->prewarm();
    ASSERT_FALSE(prewarmed);
    EXPECT_EQ(prewarmed.error(), MicError::noInput());
    // Without a server nothing is waited for: far less than one wait of the server.
    EXPECT_LT(Clock::uptime() - started, PulseConnection::waitLimit);
    awaitLine("mic: prewarm: no input device", patience);
    ASSERT_TRUE(server.start());
    awaitLine("mic: devices: prepared virtual input \\(systemDefault\\), 16000 Hz, 1 ch, in "
              "\\d+ ms",
              PulseConnection::retryInterval + patience);
    log.clear();

    ASSERT_TRUE(mic->begin());
    ASSERT_TRUE(waitFor([&] { return buffers >= 5; }, patience));

    server.kill(SIGKILL);
    awaitLine("mic: engine configuration changed during a capture", patience);
    auto clip = mic->end(300);
    ASSERT_TRUE(waitFor([&] { return clip.isReady(); }, patience)) << "the clip never ended";
    EXPECT_GT(clip.peek()->durationMs(), 0);
    awaitLine("mic: clip \\d+ ms, speech no .*, ended by deadline \\d+ ms after release", patience);
    awaitLine("mic: after capture: no input device left", patience);
    // The line comes just before the engine is torn down.
    EXPECT_TRUE(waitFor([&] { return mic->deviceName() == std::nullopt; }, patience));

    // Without a server a dictation fails at once.
    started = Clock::uptime();
    auto begun = mic->begin();
    ASSERT_FALSE(begun);
    EXPECT_EQ(begun.error(), MicError::noInput());
    // Without a server nothing is waited for: far less than one wait of the server.
    EXPECT_LT(Clock::uptime() - started, PulseConnection::waitLimit);
    awaitLine("mic: begin: no input device", patience);

    // The server comes back: the connection finds it and the microphone prepares again.
    ASSERT_TRUE(server.start());
    awaitLine("mic: devices: prepared virtual input \\(systemDefault\\), 16000 Hz, 1 ch, in "
              "\\d+ ms",
              PulseConnection::retryInterval + patience);
    int before = buffers;
    ASSERT_TRUE(mic->begin());
    ASSERT_TRUE(waitFor([&] { return buffers >= before + 5; }, patience));
    auto again = mic->end(100);
    ASSERT_TRUE(waitFor([&] { return again.isReady(); }, patience));
    EXPECT_GT(again.peek()->durationMs(), 50);
    // A fresh server may deliver the post-roll late; either end is a working microphone.
    awaitLine("mic: clip \\d+ ms, .*, ended by (post-roll|deadline) \\d+ ms after release",
              patience);
}

// A server that stops answering (stopped, not gone: its socket stays open) costs a begin one
// budget, not a wait per request, and later begins fail at once until it answers again.
TEST_F(DictationMicPulseRestart, AStoppedServerCostsABeginOneBudget) {
    ASSERT_TRUE(server.start());
    // The connection finds the server at its next try.
    ASSERT_TRUE(waitFor([&] { return static_cast<bool>(mic->prewarm()); }, patience));
    ASSERT_TRUE(mic->begin());
    ASSERT_TRUE(waitFor([&] { return buffers >= 3; }, patience));
    auto clip = mic->end(100);
    ASSERT_TRUE(waitFor([&] { return clip.isReady(); }, patience));
    awaitLine("mic: clip .*", patience);

    server.signal(SIGSTOP);
    // Four waits of the server in a row, as a begin without a budget made, took 8 s; one
    // budget is far less than a single such wait.
    auto started = Clock::uptime();
    auto begun = mic->begin();
    ASSERT_FALSE(begun);
    EXPECT_EQ(begun.error(), MicError::engine(DictationMic::noAnswerText));
    EXPECT_LT(Clock::uptime() - started, PulseConnection::waitLimit);
    awaitLine("mic: begin: no answer from the sound server within 500 ms", patience);
    // Later begins do not wait again: three of them take less than two budgets.
    started = Clock::uptime();
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(mic->begin());
    EXPECT_LT(Clock::uptime() - started, 2 * DictationMic::waitBudget);

    server.signal(SIGCONT);
    // Once the server answers again the microphone records.
    ASSERT_TRUE(waitFor([&] { return static_cast<bool>(mic->begin()); }, patience));
    int before = buffers;
    ASSERT_TRUE(waitFor([&] { return buffers >= before + 3; }, patience));
    auto again = mic->end(100);
    ASSERT_TRUE(waitFor([&] { return again.isReady(); }, patience));
    EXPECT_GT(again.peek()->durationMs(), 0);
}

} // namespace
} // namespace talverin
