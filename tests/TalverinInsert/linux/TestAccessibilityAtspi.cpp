// labels: x11 atspi
// links: TalverinInputLinux
#include "TalverinInsert/linux/AccessibilityAtspi.h"

#include "AccessibleDesktopTest.h"
#include "TalverinInsert/AXContext.h"
#include "TalverinInsert/SecureInput.h"
#include "support/LogLines.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include <X11/Xlib.h>

namespace talverin {
namespace {

class AccessibilityAtspiTest : public test::AccessibleDesktopTest {
protected:
    // A read of a live fixture, with a timeout no idle or loaded machine comes near.
    DictationContext read(int timeoutMs = 1000) {
        AXContext reader(*backend, secureInput);
        return reader.read(timeoutMs);
    }
    // One read, whatever it finds.
    DictationContext readOnce(int timeoutMs) {
        AXContext reader(*backend, secureInput);
        return reader.read(timeoutMs);
    }

    SecureInputNone secureInput;
    test::LogLines log;

    // Every line logged since the backend started that begins with `prefix`.
    std::vector<std::string> allStarting(const std::string& prefix) const {
        return log.starting(prefix);
    }
};

// The window's frame as the fixture saw it, turned into the program's coordinates.
std::optional<Rect> frameShown(const test::TextFixture& fixture, double displayHeight) {
    for (const auto& line : fixture.lines()) {
        X11Rect frame;
        if (std::sscanf(line.c_str(), "frame: %lf %lf %lf %lf", &frame.x, &frame.y, &frame.width,
                        &frame.height) == 4)
            return fromX11Root(frame, X11Rect{0, 0, 0, displayHeight});
    }
    return std::nullopt;
}

struct ContextCase {
    const char* name;
    const char* focus;
    const char* text;
    // In characters, as the fixture selects.
    const char* selection;
    const char* before;
    const char* selected;
    const char* after;
    const char* role;
};

// Offsets cross a character outside the Basic Multilingual Plane, which is one character to
// the toolkit and two units to the reader.
const ContextCase contextCases[] = {
    {"caret in an entry", "entry", "h\u00e9llo \U0001F600 world", "7:7", "h\u00e9llo \U0001F600",
     "", " world", "AXTextField"},
    {"selection in an entry", "entry", "h\u00e9llo \U0001F600 world", "6:7", "h\u00e9llo ",
     "\U0001F600", " world", "AXTextField"},
    {"selection in a text view", "view", "line one\nline \U0001F600 two", "9:16", "line one\n",
     "line \U0001F600 ", "two", "AXTextArea"},
};

TEST_F(AccessibilityAtspiTest, TheContextReadMatchesWhatTheFixtureShows) {
    for (const auto& c : contextCases) {
        SCOPED_TRACE(c.name);
        auto fixture = start(c.focus, c.text, c.selection);
        const auto context = read();
        EXPECT_EQ(context.before, c.before);
        EXPECT_EQ(context.selection, c.selected);
        EXPECT_EQ(context.after, c.after);
        EXPECT_TRUE(context.isEditable);
        EXPECT_FALSE(context.isSecure);
        EXPECT_EQ(context.appName, "TalverinTextFixture");
        EXPECT_EQ(context.windowFrame, frameShown(*fixture, backend->mainDisplayHeight()));
        const auto lines = log.starting("AXContext: ");
        ASSERT_FALSE(lines.empty());
        EXPECT_NE(lines.back().find(std::string("role=") + c.role + " "), std::string::npos)
            << lines.back();
    }
}

// The usual case: the editor had the focus before Talverin started, so no focus event ever
// named its field. The field is still found, by the application's own search, and the read is
// complete. (How fast: bench/BenchContextRead.)
TEST_F(AccessibilityAtspiTest, AFieldFocusedBeforeLaunchIsRead) {
    auto fixture = start("view", "Dear team, ", "11:11");
    AccessibilityAtspi late([trust = trust] { return trust->isGranted(); }, server.display(),
                            ownIdentity);
    AXContext reader(late, secureInput);
    const auto context = reader.read(1000);
    const auto lines = log.starting("AXContext: ");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].find(" hung"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[0].find(" expired"), std::string::npos) << lines[0];
    EXPECT_EQ(context.before, "Dear team, ") << lines[0];
    EXPECT_TRUE(context.isEditable) << lines[0];
    ASSERT_TRUE(context.elementToken);
}

// Readings on different threads do not wait for each other: while one thread is inside a long
// call to a stopped application (as the correction watch may be, after an insertion), a
// dictation's read of the field in front is answered, never queued behind it.
TEST_F(AccessibilityAtspiTest, AReadingOfAStoppedApplicationDoesNotDelayAnotherRead) {
    auto stopped = start("entry", "frozen");
    const AXElement frozenApp = backend->applicationElement(stopped->pid());
    ASSERT_TRUE(frozenApp);
    auto fixture = start("entry", "hello");
    ASSERT_EQ(::kill(stopped->pid(), SIGSTOP), 0);
    std::atomic<bool> stalledOnce{false};
    std::thread watch([&] {
        // A short call finds the application stopped; the thread then goes straight into a
        // call far longer than the read's whole budget.
        backend->setMessagingTimeout(frozenApp, 0.5f);
        while (backend->copy(frozenApp, "AXTitle").error != AXError::cannotComplete) {
        }
        backend->setMessagingTimeout(frozenApp, 30.0f);
        stalledOnce = true;
        backend->copy(frozenApp, "AXTitle");
    });
    while (!stalledOnce)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto context = read(1000);
    ::kill(stopped->pid(), SIGCONT);
    watch.join();
    const auto lines = log.starting("AXContext: ");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].find(" hung"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[0].find(" expired"), std::string::npos) << lines[0];
    EXPECT_EQ(context.before, "hello") << lines[0];
}

// Our own windows are known by the identifier the clipboard keeper writes as its source.
TEST_F(AccessibilityAtspiTest, OurOwnProcessReportsTheClipboardKeepersSource) {
    const auto own = backend->runningApplication(::getpid());
    ASSERT_TRUE(own);
    EXPECT_EQ(own->bundleID, ownIdentity);
    auto fixture = start("entry");
    const auto other = backend->runningApplication(fixture->pid());
    ASSERT_TRUE(other);
    EXPECT_EQ(other->localizedName, "TalverinTextFixture");
    EXPECT_EQ(other->bundleID, std::nullopt);
}

// A window that calls itself a Chromium browser is one to the web-engine rules. The request
// that would wake its accessibility tree does not exist here: that is said once, and nothing is
// logged as requested.
TEST_F(AccessibilityAtspiTest, ABrowsersTreeIsNotRequestedHere) {
    auto fixture = start("entry", "hello", "5:5", "Google-chrome");
    const auto running = backend->runningApplication(fixture->pid());
    ASSERT_TRUE(running);
    EXPECT_EQ(running->bundleID, "com.google.Chrome");
    for (int i = 0; i < 2; ++i) {
        const auto context = read();
        EXPECT_EQ(context.before, "hello");
        EXPECT_NE(log.lines().back().find(" engine=chromium "), std::string::npos)
            << log.lines().back();
    }
    // Every line since the backend started: the request is not repeated and never claimed.
    EXPECT_EQ(allStarting("AXContext: accessibility tree request not available here "),
              (std::vector<std::string>{
                  "AXContext: accessibility tree request not available here (chromium)"}));
    EXPECT_TRUE(allStarting("AXContext: accessibility tree requested").empty());
}

// A password field is recognised by its role and its text is not read.
TEST_F(AccessibilityAtspiTest, ThePasswordEntryIsASecureField) {
    auto fixture = start("password", "secret");
    const auto context = read();
    EXPECT_TRUE(context.isSecure);
    EXPECT_EQ(context.before, "");
    EXPECT_EQ(context.after, "");
    const auto lines = log.starting("AXContext: ");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].starts_with("AXContext: secure field ")) << lines[0];
}

// A stopped application answers nothing; libatspi then hands back empty answers rather than
// errors. The read must end as hung, within the session's budget, not as an empty field.
TEST_F(AccessibilityAtspiTest, AStoppedApplicationMakesTheReadEndAsHung) {
    auto fixture = start("entry", "hello");
    ASSERT_EQ(::kill(fixture->pid(), SIGSTOP), 0);
    const int timeoutMs = 250;
    const double budget = timeoutMs / 1000.0 * 4;
    const double started = test::monotonicNow();
    const auto context = readOnce(timeoutMs);
    const double took = test::monotonicNow() - started;
    EXPECT_FALSE(context.isEditable);
    const auto lines = log.starting("AXContext: ");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].find(" hung ") != std::string::npos ||
                lines[0].find(" expired ") != std::string::npos)
        << lines[0];
    // One call may run past the deadline by its own timeout; the rest is slack for a loaded
    // machine.
    EXPECT_LT(took, budget + 2 * timeoutMs / 1000.0 + 3) << lines[0];
}

} // namespace
} // namespace talverin
