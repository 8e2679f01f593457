// labels: x11 atspi
// links: TalverinInputLinux
// timeout: 300
// gtest first: Xlib's macros (None ...) would break its headers.
#include <gtest/gtest.h>

#include "TalverinInsert/CorrectionWatch.h"

#include "AccessibleDesktopTest.h"
#include "Runtime/VirtualWorld.h"
#include "TalverinInsert/AXContext.h"
#include "TalverinInsert/AXElementBox.h"
#include "TalverinInsert/linux/KeyPostingXTest.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <signal.h>
#include <unistd.h>

namespace talverin {
namespace {

// The real backend, counting the watch's readings: each one asks for the focused application
// first, and one that finds the span ends by reading its text. The watch writes no log, so
// these tell the test when it has looked at the field.
class ReadCounter final : public AccessibilityBackend {
public:
    explicit ReadCounter(AccessibilityBackend& real) : m_real(real) {}

    std::atomic<int> readings{0};
    std::atomic<int> spansRead{0};

    bool isProcessTrusted() override { return m_real.isProcessTrusted(); }
    AXElement systemWide() override {
        ++readings;
        return m_real.systemWide();
    }
    AXElement applicationElement(std::int32_t pid) override {
        return m_real.applicationElement(pid);
    }
    std::optional<RunningApplication> frontmostApplication() override {
        return m_real.frontmostApplication();
    }
    std::optional<RunningApplication> runningApplication(std::int32_t pid) override {
        return m_real.runningApplication(pid);
    }
    void setMessagingTimeout(const AXElement& element, float seconds) override {
        m_real.setMessagingTimeout(element, seconds);
    }
    AXReply<std::int32_t> pid(const AXElement& element) override { return m_real.pid(element); }
    AXReply<AXAttributeValue> copy(const AXElement& element, const std::string& name) override {
        return m_real.copy(element, name);
    }
    AXReply<std::optional<std::vector<AXAttributeValue>>>
    copyMultiple(const AXElement& element, const std::vector<std::string>& names) override {
        return m_real.copyMultiple(element, names);
    }
    AXReply<AXAttributeValue> copyParameterized(const AXElement& element, const std::string& name,
                                                const AXAttributeValue& parameter) override {
        auto reply = m_real.copyParameterized(element, name, parameter);
        if (name == "AXStringForRange" && reply.ok())
            ++spansRead;
        return reply;
    }
    AXReply<bool> isSettable(const AXElement& element, const std::string& name) override {
        return m_real.isSettable(element, name);
    }
    int set(const AXElement& element, const std::string& name,
            const AXAttributeValue& value) override {
        return m_real.set(element, name, value);
    }
    double mainDisplayHeight() override { return m_real.mainDisplayHeight(); }

private:
    AccessibilityBackend& m_real;
};

// Around the dictated text: a character outside the Basic Multilingual Plane on each side,
// one character to the toolkit and two units to the watch.
const std::string before = "Hi \U0001F600 team, ";
const std::string after = ". Bye \U0001F600";
const std::string inserted = "the meeting is on Tuesday";

// The watch follows a text dictated into the fixture's entry through the real accessibility
// backend, while the user's keys go through XTest. The watch's own clock is virtual: it reads
// the field only when the test lets its time run, and the test lets it run only once the
// fixture has printed that the keys landed. A reading still meets the real field, and a loaded
// machine can make the field too slow for one; the test counts the readings the field answered
// instead of assuming any.
class CorrectionWatchAtspiTest : public test::AccessibleDesktopTest {
protected:
    void SetUp() override {
        AccessibleDesktopTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        counter = std::make_unique<ReadCounter>(*backend);
        auto made = KeyPostingXTest::create(std::make_shared<SyntheticInput>(), server.display());
        ASSERT_TRUE(made);
        keys = std::move(made).value();
        driver = XOpenDisplay(server.display().c_str());
        ASSERT_TRUE(driver);
    }
    void TearDown() override {
        watch.reset();
        world.reset();
        if (driver)
            XCloseDisplay(driver);
    }

    // The fixture shows `before` and `after` with the caret between them; the dictation reads
    // the context there, the watch starts, and the text lands a little later, as a paste does.
    // The watch has seen the text once this returns.
    void dictate() {
        // The fixture places the caret in characters; the watch counts units.
        fixture = start("entry", before + after, "11:11");
        const DictationContext context = readContext();
        const auto* box = context.elementToken ? context.elementToken->as<AXElementBox>() : nullptr;
        ASSERT_TRUE(box && box->insertionOffset) << "no caret read";
        ASSERT_EQ(*box->insertionOffset, 12);

        world = std::make_unique<VirtualWorld>();
        const Ticking realTime{[] { return test::monotonicNow(); },
                               [](double seconds) {
                                   std::this_thread::sleep_for(
                                       std::chrono::duration<double>(seconds));
                               }};
        watch = std::make_unique<CorrectionWatch>(
            *counter, secureInput, [trust = trust] { return trust->isGranted(); }, ::getpid(),
            realTime);
        watch->watch(inserted, context, [this](std::optional<Replacement> r) {
            reports.push_back({world->uptime(), r});
        });
        // Readings of the field before the text is in it find no span and are waited out.
        const int readings = counter->readings;
        const int spansRead = counter->spansRead;
        ASSERT_TRUE(runWatchUntil([&] { return counter->readings >= readings + 2; }, 0.5));
        ASSERT_EQ(counter->spansRead, spansRead);
        ASSERT_TRUE(keys->typeText(inserted));
        ASSERT_TRUE(fixture->waitFor("entry: " + before + inserted + after));
        ASSERT_TRUE(runAnswered(1)) << "the watch never found the text it follows";
    }

    // The user erases the last word and types `word` instead; true once the fixture shows it.
    bool correctLastWord(const std::string& word) {
        const KeyCode backspace = XKeysymToKeycode(driver, XK_BackSpace);
        for (int i = 0; i < 7; ++i) {
            XTestFakeKeyEvent(driver, backspace, True, CurrentTime);
            XTestFakeKeyEvent(driver, backspace, False, CurrentTime);
        }
        XSync(driver, False);
        return fixture->waitFor("entry: " + before + "the meeting is on " + after) &&
               keys->typeText(word) &&
               fixture->waitFor("entry: " + before + "the meeting is on " + word + after);
    }

    // A read of the live fixture. A loaded machine can make the fixture too slow for one, which
    // then finds no caret; such a read is made again, a few times.
    DictationContext readContext() {
        DictationContext context;
        for (int attempt = 0; attempt < 5; ++attempt) {
            AXContext reader(*backend, secureInput);
            context = reader.read(1000);
            const auto* box =
                context.elementToken ? context.elementToken->as<AXElementBox>() : nullptr;
            if (box && box->insertionOffset)
                break;
        }
        return context;
    }

    // Lets the watch's time run, one job at a time, until `done` holds and the watch has taken
    // in what it read; false when the watch stopped reading or `seconds` of its time passed
    // first.
    bool runWatchUntil(const std::function<bool()>& done, double seconds) {
        const double limit = world->uptime() + seconds;
        while (!done()) {
            const auto due = world->nextDue();
            if (!due || *due > limit)
                return false;
            world->stepNext();
        }
        world->runReady();
        return true;
    }
    // Lets the watch take readings until the field has answered `count` more of them.
    bool runAnswered(int count) {
        const int target = counter->spansRead + count;
        return runWatchUntil([&] { return counter->spansRead >= target; }, 30);
    }

    struct Report {
        double at;
        std::optional<Replacement> correction;
    };

    SecureInputNone secureInput;
    std::unique_ptr<ReadCounter> counter;
    std::unique_ptr<KeyPostingXTest> keys;
    Display* driver = nullptr;
    std::unique_ptr<test::TextFixture> fixture;
    std::unique_ptr<VirtualWorld> world;
    std::unique_ptr<CorrectionWatch> watch;
    std::vector<Report> reports;
};

// The user replaces the misheard word and leaves it: about a second later the watch hands on
// the correction, and it has changed nothing in the field.
TEST_F(CorrectionWatchAtspiTest, AWordCorrectedWithTheKeysIsReportedAboutASecondLater) {
    ASSERT_NO_FATAL_FAILURE(dictate());
    ASSERT_TRUE(correctLastWord("Thursday"));
    const double edited = world->uptime();
    const int readingsBefore = counter->readings;
    const int answeredBefore = counter->spansRead;
    ASSERT_TRUE(runWatchUntil([&] { return !reports.empty(); }, 30)) << "nothing reported";

    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].correction, (Replacement{"Tuesday", "Thursday"}));
    // The first reading after the edit comes within one interval, the word is confirmed one
    // second after that reading, on the next reading due; each reading the field was too slow
    // to answer puts the report off by one interval.
    const int unanswered =
        (counter->readings - readingsBefore) - (counter->spansRead - answeredBefore);
    EXPECT_GE(reports[0].at - edited, CorrectionWatch::settle);
    EXPECT_LE(reports[0].at - edited, CorrectionWatch::settle +
                                          (2 + unanswered) * CorrectionWatch::interval + 0.01)
        << unanswered << " readings unanswered";
    EXPECT_EQ(fixture->lines().back(), "entry: " + before + "the meeting is on Thursday" + after);
}

// A new dictation's press stops the watch. A word that has not stood unchanged for a second
// may be half typed and is dropped, however many readings saw it; a settled word is handed on.
TEST_F(CorrectionWatchAtspiTest, AStopHandsOnOnlyASettledWord) {
    const struct {
        const char* name;
        const char* word;
        int readings;
        std::optional<Replacement> reported;
    } cases[] = {
        {"half typed, read once", "Thu", 1, std::nullopt},
        {"half typed, read twice 0.3 s apart", "Thu", 2, std::nullopt},
        {"finished, unchanged for over a second", "Thursday", 5,
         Replacement{"Tuesday", "Thursday"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reports.clear();
        ASSERT_NO_FATAL_FAILURE(dictate());
        ASSERT_TRUE(correctLastWord(c.word));
        ASSERT_TRUE(runAnswered(c.readings));
        watch->stop();
        if (c.reported) {
            ASSERT_EQ(reports.size(), 1u);
            EXPECT_EQ(reports[0].correction, c.reported);
        } else {
            EXPECT_TRUE(reports.empty());
        }
        // Stopped is stopped: no reading and no report comes later.
        const int readings = counter->readings;
        world->advance(5);
        EXPECT_EQ(counter->readings, readings);
        EXPECT_EQ(reports.size(), c.reported ? 1u : 0u);
        watch.reset();
        world.reset();
        fixture.reset();
    }
}

// An application that stops answering for a while has not shown that the user left: the word
// the watch read once before is still reported once the field answers again.
TEST_F(CorrectionWatchAtspiTest, AFieldThatStopsAnsweringForAWhileKeepsItsCorrection) {
    ASSERT_NO_FATAL_FAILURE(dictate());
    ASSERT_TRUE(correctLastWord("Thursday"));
    ASSERT_TRUE(runAnswered(1));
    ASSERT_EQ(::kill(fixture->pid(), SIGSTOP), 0);
    const int readings = counter->readings;
    const int answered = counter->spansRead;
    ASSERT_TRUE(runWatchUntil([&] { return counter->readings >= readings + 4; }, 30))
        << "the watch stopped reading a field that did not answer";
    EXPECT_EQ(counter->spansRead, answered);
    EXPECT_TRUE(reports.empty());
    ASSERT_EQ(::kill(fixture->pid(), SIGCONT), 0);

    ASSERT_TRUE(runWatchUntil([&] { return !reports.empty(); }, 30)) << "the correction was lost";
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].correction, (Replacement{"Tuesday", "Thursday"}));
}

} // namespace
} // namespace talverin
