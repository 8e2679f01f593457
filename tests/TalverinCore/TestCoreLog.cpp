// labels: tsan
#include "TalverinCore/CoreLog.h"

#include "support/StderrCapture.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

namespace talverin {
namespace {

using test::StderrCapture;

// Every test starts and ends with lines going to standard error.
class CoreLogTest : public testing::Test {
protected:
    void SetUp() override { CoreLog::setSink({}); }
    void TearDown() override { CoreLog::setSink({}); }
};

struct Collector {
    std::mutex mutex;
    std::vector<std::string> lines;
    CoreLog::Sink sink() {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex);
            lines.push_back(line);
        };
    }
};

TEST_F(CoreLogTest, WithoutASinkWritesTheLineAndOneLineFeed) {
    const std::string lines[] = {"a", "", "mic: first block ünïcode", std::string(200000, 'x')};
    for (const auto& line : lines) {
        StderrCapture capture;
        CoreLog::write(line);
        EXPECT_EQ(capture.text(), line + "\n");
    }
}

TEST_F(CoreLogTest, SinkGetsTheLineAndStandardErrorNothing) {
    Collector collector;
    CoreLog::setSink(collector.sink());
    EXPECT_TRUE(static_cast<bool>(CoreLog::sink()));
    StderrCapture capture;
    CoreLog::write("KeyTap: started (x)");
    CoreLog::write("");
    EXPECT_EQ(collector.lines, (std::vector<std::string>{"KeyTap: started (x)", ""}));
    EXPECT_EQ(capture.text(), "");
}

// Outside text (a server's message, a device's name) must not be able to start what reads as
// a line of our own, on either path.
TEST_F(CoreLogTest, EveryCallIsExactlyOneLine) {
    const struct {
        std::string text;
        std::string written;
    } cases[] = {
        {"dictate: failed (bad)\nKeyTap: started", "dictate: failed (bad)\\nKeyTap: started"},
        {"a\r\nb\rc", "a\\r\\nb\\rc"},
        {"tab\there", "tab\\there"},
        {std::string("nul\0end", 7), "nul\\u0000end"},
        {"bell\a esc\x1b[2J del\x7f us\x1f", "bell\\u0007 esc\\u001b[2J del\\u007f us\\u001f"},
        // C1 controls (NEL among them) and the Unicode line and paragraph separators.
        {"nel\xc2\x85 csi\xc2\x9b ls\xe2\x80\xa8 ps\xe2\x80\xa9",
         "nel\\u0085 csi\\u009b ls\\u2028 ps\\u2029"},
        // Ordinary text, backslashes and neighbours of the escaped ranges stay as they are.
        {"C:\\path \\n ünïcode \xc2\xa0 \xe2\x80\xa6 \xe2\x80\xaa",
         "C:\\path \\n ünïcode \xc2\xa0 \xe2\x80\xa6 \xe2\x80\xaa"},
        // Bytes that are not UTF-8, and a sequence cut off at the end, pass through unchanged.
        {"\x85\x9b \xc2", "\x85\x9b \xc2"},
        {"end\n", "end\\n"},
    };
    for (const auto& c : cases) {
        {
            StderrCapture capture;
            CoreLog::write(c.text);
            EXPECT_EQ(capture.text(), c.written + "\n");
        }
        Collector collector;
        CoreLog::setSink(collector.sink());
        CoreLog::write(c.text);
        CoreLog::setSink({});
        EXPECT_EQ(collector.lines, std::vector<std::string>{c.written});
    }
}

TEST_F(CoreLogTest, ClearingTheSinkReturnsToStandardError) {
    Collector collector;
    CoreLog::setSink(collector.sink());
    CoreLog::setSink({});
    EXPECT_FALSE(static_cast<bool>(CoreLog::sink()));
    StderrCapture capture;
    CoreLog::write("History: save failed (x)");
    EXPECT_EQ(capture.text(), "History: save failed (x)\n");
    EXPECT_TRUE(collector.lines.empty());
}

TEST_F(CoreLogTest, SinkMayReadAndReplaceTheSinkWhileItRuns) {
    Collector next;
    std::vector<std::string> seen;
    CoreLog::setSink([&](const std::string& line) {
        seen.push_back(line);
        EXPECT_TRUE(static_cast<bool>(CoreLog::sink()));
        CoreLog::setSink(next.sink());
    });
    CoreLog::write("first");
    CoreLog::write("second");
    EXPECT_EQ(seen, std::vector<std::string>{"first"});
    EXPECT_EQ(next.lines, std::vector<std::string>{"second"});
}

// If the sink ran under CoreLog's lock, the second thread could never enter it and the first
// would give up waiting.
TEST_F(CoreLogTest, TwoThreadsCanBeInsideTheSinkAtOnce) {
    std::mutex mutex;
    std::condition_variable changed;
    int inside = 0;
    std::atomic<int> metTheOther{0};
    CoreLog::setSink([&](const std::string&) {
        std::unique_lock lock(mutex);
        ++inside;
        changed.notify_all();
        if (changed.wait_for(lock, std::chrono::seconds(10), [&] { return inside == 2; }))
            ++metTheOther;
    });
    std::thread a([] { CoreLog::write("a"); });
    std::thread b([] { CoreLog::write("b"); });
    a.join();
    b.join();
    EXPECT_EQ(metTheOther.load(), 2);
}

TEST_F(CoreLogTest, LinesFromManyThreadsArriveWhole) {
    constexpr int threads = 8;
    constexpr int linesPerThread = 300;
    StderrCapture capture;
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t)
        writers.emplace_back([t] {
            for (int i = 0; i < linesPerThread; ++i)
                CoreLog::write("thread " + std::to_string(t) + " line " + std::to_string(i) + " " +
                               std::string(100 + i, '.'));
        });
    for (auto& writer : writers)
        writer.join();

    std::set<std::string> expected;
    for (int t = 0; t < threads; ++t)
        for (int i = 0; i < linesPerThread; ++i)
            expected.insert("thread " + std::to_string(t) + " line " + std::to_string(i) + " " +
                            std::string(100 + i, '.'));
    std::multiset<std::string> got;
    std::istringstream in(capture.text());
    for (std::string line; std::getline(in, line);)
        got.insert(line);
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_EQ(std::set<std::string>(got.begin(), got.end()), expected);
}

// Nothing is dropped while the sink changes under the writers: every line reaches the sink
// that was installed when it was written, or standard error.
TEST_F(CoreLogTest, SwappingTheSinkUnderWritersLosesNoLine) {
    constexpr int threads = 6;
    constexpr int linesPerThread = 400;
    std::atomic<int> toA{0};
    std::atomic<int> toB{0};
    std::atomic<bool> writing{true};
    StderrCapture capture;
    std::thread swapper([&] {
        for (int i = 0; writing; ++i) {
            if (i % 3 == 0)
                CoreLog::setSink([&](const std::string&) { ++toA; });
            else if (i % 3 == 1)
                CoreLog::setSink([&](const std::string&) { ++toB; });
            else
                CoreLog::setSink({});
            std::this_thread::yield();
        }
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t)
        writers.emplace_back([] {
            for (int i = 0; i < linesPerThread; ++i)
                CoreLog::write("x");
        });
    for (auto& writer : writers)
        writer.join();
    writing = false;
    swapper.join();
    CoreLog::setSink({});

    const std::string text = capture.text();
    const int toStandardError = static_cast<int>(text.size() / 2);
    std::string whole;
    for (int i = 0; i < toStandardError; ++i)
        whole += "x\n";
    EXPECT_EQ(text, whole);
    EXPECT_EQ(toA + toB + toStandardError, threads * linesPerThread);
}

// A fresh process, so that the write below is CoreLog's first use: a standard error whose
// reader has gone must neither kill the process nor disturb the caller's errno.
TEST(CoreLogDeathTest, ClosedStandardErrorPipeDoesNotKillTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::signal(SIGPIPE, SIG_DFL);
            int ends[2];
            if (::pipe(ends) != 0)
                std::_Exit(2);
            ::close(ends[0]);
            ::dup2(ends[1], STDERR_FILENO);
            errno = EDOM;
            CoreLog::write("nobody reads this");
            CoreLog::write("nor this");
            std::_Exit(errno == EDOM ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace talverin
