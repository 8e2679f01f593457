// labels: unit tsan
#include "Talverin/App/Log.h"
#include "Talverin/App/LogFile.h"
#include "Talverin/App/LogOutputs.h"

#include "TalverinCore/CoreLog.h"
#include "fakes/LogJournalFake.h"
#include "support/LogLines.h"
#include "support/StderrCapture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace talverin {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::system_clock;

std::vector<std::string> linesOf(const fs::path& file) {
    std::istringstream in(test::readFile(file));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// One launch of the application, as far as its log sees it: a LogFile over the folder that
// writes its lines and is gone again.
void launch(const fs::path& folder, const std::vector<std::string>& lines) {
    LogFile log(folder);
    for (const auto& line : lines)
        log.write(line, system_clock::now());
    log.flush();
}

std::string messageOf(const std::string& fileLine) {
    static const std::regex stamped(R"(^\d\d:\d\d:\d\d\.\d\d\d (.*)$)");
    std::smatch match;
    return std::regex_match(fileLine, match, stamped) ? match[1].str() : "<unstamped> " + fileLine;
}

TEST(LogFile, EachLaunchStartsAFileAndKeepsExactlyOnePreviousGeneration) {
    test::TempDir temp;
    const fs::path folder = temp.stateHome() / "Talverin";
    const fs::path current = folder / "Talverin.log";
    const fs::path previous = folder / "Talverin.previous.log";

    // Nothing is touched before the first line.
    { LogFile idle(folder); }
    EXPECT_FALSE(fs::exists(temp.stateHome()));

    launch(folder, {"Launch: first"});
    EXPECT_EQ(test::permissions(folder), 0700u);
    EXPECT_EQ(test::permissions(current), 0600u);
    EXPECT_FALSE(fs::exists(previous));
    ASSERT_EQ(linesOf(current).size(), 1u);
    EXPECT_EQ(messageOf(linesOf(current)[0]), "Launch: first");

    launch(folder, {"Launch: second", "mic: on"});
    launch(folder, {"Launch: third"});
    ASSERT_EQ(linesOf(previous).size(), 2u);
    EXPECT_EQ(messageOf(linesOf(previous)[0]), "Launch: second");
    EXPECT_EQ(messageOf(linesOf(previous)[1]), "mic: on");
    ASSERT_EQ(linesOf(current).size(), 1u);
    EXPECT_EQ(messageOf(linesOf(current)[0]), "Launch: third");
    EXPECT_EQ(test::permissions(current), 0600u);
}

TEST(LogFile, AFileThatCannotBeOpenedDropsTheLinesOfTheLaunch) {
    test::TempDir temp;
    const fs::path folder = temp.stateHome() / "Talverin";
    // Folders where both files should be: the old log cannot be moved aside, nor a file opened.
    fs::create_directories(folder / "Talverin.log" / "inside");
    fs::create_directories(folder / "Talverin.previous.log" / "inside");
    LogFile log(folder);
    log.write("Launch: lost", system_clock::now());
    log.write("Launch: lost too", system_clock::now());
    log.flush();
    EXPECT_TRUE(fs::is_directory(folder / "Talverin.log"));
}

TEST(LogFile, LinesOfManyThreadsStayWholeAndInTheOrderOfEachThread) {
    test::TempDir temp;
    const fs::path folder = temp.stateHome() / "Talverin";
    constexpr int threads = 6;
    constexpr int perThread = 400;
    {
        LogFile log(folder);
        std::vector<std::thread> writers;
        for (int t = 0; t < threads; ++t)
            writers.emplace_back([&log, t] {
                // Long lines make a torn write visible.
                const std::string padding(300, static_cast<char>('a' + t));
                for (int i = 0; i < perThread; ++i)
                    log.write("T" + std::to_string(t) + " " + std::to_string(i) + " " + padding,
                              system_clock::now());
            });
        for (auto& writer : writers)
            writer.join();
    }
    std::map<int, int> next;
    const auto lines = linesOf(folder / "Talverin.log");
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(threads * perThread));
    static const std::regex shape(R"(^T(\d) (\d+) [a-z]+$)");
    for (const auto& line : lines) {
        std::smatch match;
        const std::string message = messageOf(line);
        ASSERT_TRUE(std::regex_match(message, match, shape)) << line.substr(0, 80);
        const int t = std::stoi(match[1].str());
        EXPECT_EQ(message.back(), static_cast<char>('a' + t));
        EXPECT_EQ(message.size(), match[1].length() + match[2].length() + 3 + 300);
        EXPECT_EQ(std::stoi(match[2].str()), next[t]++) << "thread " << t;
    }
}

class LocalTime : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        if (tz)
            m_saved = tz;
        m_hadTz = tz != nullptr;
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    void TearDown() override {
        if (m_hadTz)
            ::setenv("TZ", m_saved.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    bool m_hadTz = false;
    std::string m_saved;
};

TEST_F(LocalTime, TheStampIsHoursMinutesSecondsAndMilliseconds) {
    struct Case {
        long long millisSinceEpoch;
        const char* stamp;
    };
    const Case cases[] = {
        {0, "00:00:00.000"},
        {(9 * 3600 + 5 * 60 + 7) * 1000LL + 42, "09:05:07.042"},
        {86'400'000LL - 1, "23:59:59.999"},
        // Before 1970 the milliseconds still count up within their second.
        {-1, "23:59:59.999"},
        {-1001, "23:59:58.999"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LogFile::stamp(system_clock::time_point(milliseconds(c.millisSinceEpoch))),
                  c.stamp)
            << c.millisSinceEpoch;
}

// The first lines of a launch, logged before it may touch the file, reach the journal and the
// file once it opens, first, in order and stamped with the time they were logged.
TEST(LogOutputs, LinesBeforeTheOpenAreKeptAndGoFirstOnceItOpens) {
    test::TempDir temp;
    const fs::path folder = temp.stateHome() / "Talverin";
    fs::create_directories(folder);
    test::writeFile(folder / "Talverin.log", "12:00:00.000 the run before\n");
    auto journal = std::make_shared<test::LogJournalFake>();
    const auto early = system_clock::now() - std::chrono::seconds(5);
    {
        LogOutputs outputs(folder);
        test::StderrCapture capture;
        outputs.write("Defaults: could not read defaults.json (the file is empty): set aside as "
                      "defaults.corrupt-20261211T124500Z.json",
                      early);
        outputs.write("Launch: second", early + milliseconds(1));
        outputs.setJournal(journal);
        outputs.flush();
        // Nothing reached the file or the journal: the log of the run before is untouched.
        EXPECT_EQ(test::readFile(folder / "Talverin.log"), "12:00:00.000 the run before\n");
        EXPECT_TRUE(journal->lines().empty());
        EXPECT_EQ(capture.text(), "Defaults: could not read defaults.json (the file is empty): "
                                  "set aside as defaults.corrupt-20261211T124500Z.json\n"
                                  "Launch: second\n");

        outputs.open();
        outputs.write("Launch: after the open", system_clock::now());
        outputs.open();
        outputs.flush();
        EXPECT_EQ(capture.text().find("after the open"), std::string::npos);
    }
    const std::vector<std::string> expected = {
        "Defaults: could not read defaults.json (the file is empty): set aside as "
        "defaults.corrupt-20261211T124500Z.json",
        "Launch: second", "Launch: after the open"};
    EXPECT_EQ(journal->lines(), expected);
    const auto written = linesOf(folder / "Talverin.log");
    ASSERT_EQ(written.size(), 3u);
    for (std::size_t i = 0; i < written.size(); ++i)
        EXPECT_EQ(messageOf(written[i]), expected[i]);
    EXPECT_EQ(written[0].substr(0, 12), LogFile::stamp(early));
    EXPECT_EQ(test::readFile(folder / "Talverin.previous.log"), "12:00:00.000 the run before\n");
}

// Lines from many threads around the open: none is lost or doubled, and each thread's lines
// keep their order across it.
TEST(LogOutputs, AnOpenAmongWritersKeepsEveryLineOnceAndInOrder) {
    test::TempDir temp;
    const fs::path folder = temp.stateHome() / "Talverin";
    constexpr int threads = 4;
    constexpr int perThread = 200; // below maxKeptLines together: every line is kept
    {
        LogOutputs outputs(folder);
        test::StderrCapture capture;
        std::vector<std::thread> writers;
        for (int t = 0; t < threads; ++t)
            writers.emplace_back([&outputs, t] {
                for (int i = 0; i < perThread; ++i)
                    outputs.write("T" + std::to_string(t) + " " + std::to_string(i),
                                  system_clock::now());
            });
        outputs.open();
        for (auto& writer : writers)
            writer.join();
        outputs.flush();
    }
    std::map<int, int> next;
    const auto lines = linesOf(folder / "Talverin.log");
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(threads * perThread));
    for (const auto& line : lines) {
        std::istringstream in(messageOf(line));
        char letter = 0;
        int t = 0;
        int i = 0;
        in >> letter >> t >> i;
        EXPECT_EQ(i, next[t]++) << "thread " << t;
    }
}

// A launch that logs a flood before it opens keeps the first lines and says how many more
// there were.
TEST(LogOutputs, KeptLinesAreCappedAndTheRestCounted) {
    test::TempDir temp;
    const fs::path folder = temp.stateHome() / "Talverin";
    {
        LogOutputs outputs(folder);
        test::StderrCapture capture;
        for (std::size_t i = 0; i < LogOutputs::maxKeptLines + 5; ++i)
            outputs.write("line " + std::to_string(i), system_clock::now());
        outputs.open();
        outputs.flush();
    }
    const auto lines = linesOf(folder / "Talverin.log");
    ASSERT_EQ(lines.size(), LogOutputs::maxKeptLines + 1);
    EXPECT_EQ(messageOf(lines[LogOutputs::maxKeptLines - 1]),
              "line " + std::to_string(LogOutputs::maxKeptLines - 1));
    EXPECT_EQ(messageOf(lines.back()),
              "Log: 5 lines before the log opened are only on standard error");
}

// The process-wide log; these tests leave it in the standard-error mode they found it in.
class ProcessLog : public ::testing::Test {
protected:
    void TearDown() override {
        CoreLog::setSink({});
        tlLogSetJournal(nullptr);
        tlLogToStderr = true;
    }
};

TEST_F(ProcessLog, ATestProgramStartsInTheStandardErrorModeAndWritesNoFile) {
    ASSERT_TRUE(tlLogToStderr.load());
    test::TempDir temp;
    fs::create_directories(temp.stateHome() / "Talverin");
    test::writeFile(temp.stateHome() / "Talverin" / "Talverin.log", "old\n");
    CoreLog::setSink(tlLog);

    ::testing::internal::CaptureStderr();
    tlLog("Key tap: on\r\nLaunch: forged");
    CoreLog::write("KeyTap: from a module");
    tlLogFlush();
    const std::string written = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(written, "Key tap: on\\r\\nLaunch: forged\nKeyTap: from a module\n");
    EXPECT_EQ(test::readFile(temp.stateHome() / "Talverin" / "Talverin.log"), "old\n");
    EXPECT_FALSE(fs::exists(temp.stateHome() / "Talverin" / "Talverin.previous.log"));
}

TEST_F(ProcessLog, ATestCollectsTheShellsLinesEscapedLikeTheModules) {
    test::LogLines lines;
    tlLog("Mic test: on\nforged");
    EXPECT_EQ(lines.lines(), std::vector<std::string>{"Mic test: on\\nforged"});
}

TEST_F(ProcessLog, OutsideTheStandardErrorModeLinesGoToTheJournalAndTheStampedFile) {
    test::TempDir temp;
    const fs::path folder = temp.stateHome() / "Talverin";
    fs::create_directories(folder);
    test::writeFile(folder / "Talverin.log", "12:00:00.000 Launch: the run before\n");
    auto journal = std::make_shared<test::LogJournalFake>();
    tlLogSetJournal(journal);
    CoreLog::setSink(tlLog);
    tlLogToStderr = false;

    {
        test::StderrCapture capture;
        CoreLog::write("Defaults: before the open");
        EXPECT_FALSE(fs::exists(folder / "Talverin.previous.log"));
    }
    tlLogOpen();
    tlLog("Launch: one\tline");
    CoreLog::write("mic: from a module");
    tlLogFlush();

    const std::vector<std::string> expected = {"Defaults: before the open", "Launch: one\\tline",
                                               "mic: from a module"};
    EXPECT_EQ(journal->lines(), expected);
    const auto written = linesOf(folder / "Talverin.log");
    ASSERT_EQ(written.size(), 3u);
    for (std::size_t i = 0; i < written.size(); ++i)
        EXPECT_EQ(messageOf(written[i]), expected[i]);
    EXPECT_EQ(test::readFile(folder / "Talverin.previous.log"),
              "12:00:00.000 Launch: the run before\n");
}

} // namespace
} // namespace talverin
