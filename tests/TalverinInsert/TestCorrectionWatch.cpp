#include "TalverinInsert/CorrectionWatch.h"

#include "Runtime/Unicode.h"
#include "Runtime/VirtualWorld.h"
#include "TalverinInsert/AXElementBox.h"
#include "fakes/AccessibilityBackendFake.h"
#include "fakes/SecureInputFake.h"

#include <gtest/gtest.h>

namespace talverin {
namespace {

using test::AccessibilityBackendFake;
using test::SecureInputFake;

constexpr std::int32_t ownPid = 7;
const std::string before = "Dear team, ";
const std::string inserted = "the meeting is on Tuesday";

// A text field of the application "Notes" (pid 42) into which `inserted` was just pasted after
// `before`, and the watch following it on the virtual clock.
class CorrectionWatchTest : public ::testing::Test {
protected:
    CorrectionWatchTest() {
        fake.focusApplication({.pid = 42, .localizedName = "Notes"});
        fake.focusElement(42, "field");
        fake.attribute("field", "AXRole", std::string("AXTextArea"));
        fake.parameterized = [this](const std::string&, const std::string& name, AXRange r) {
            if (name != "AXStringForRange" || r.location + r.length > std::ssize(value))
                return AXReply<AXAttributeValue>{AXError::attributeUnsupported, {}};
            return AXReply<AXAttributeValue>{AXError::success,
                                             Unicode::toUtf8(value.substr(r.location, r.length))};
        };
        show(before + inserted);
    }

    // The field holds `text` with the caret at the end of the text before `after`.
    void show(const std::string& text, const std::string& after = "") {
        value = Unicode::toUtf16(text + after);
        const auto caret = static_cast<std::int64_t>(Unicode::toUtf16(text).size());
        fake.attribute("field", "AXNumberOfCharacters", static_cast<std::int64_t>(value.size()));
        fake.attribute("field", "AXSelectedTextRange", AXRange{caret, 0});
    }

    DictationContext context() const {
        DictationContext c;
        c.isEditable = true;
        c.elementToken = ElementToken(std::make_shared<AXElementBox>(
            AccessibilityBackendFake::element("field"), 42, std::string("AXTextArea"),
            Editability::editable, static_cast<std::int64_t>(Unicode::toUtf16(before).size()),
            false));
        return c;
    }

    void start(const std::string& text = inserted) {
        watch.watch(text, context(), [this](std::optional<Replacement> r) {
            reports.push_back({world.uptime(), r});
        });
    }
    // A fresh watch that has seen "Tuesday" become "Thursday" and stay so for a second, and
    // has not read the field since.
    void settleCorrection() {
        show(before + inserted);
        start();
        run(1);
        show(before + "the meeting is on Thursday");
        run(1.35);
        ASSERT_TRUE(reports.empty());
    }
    // Lets the watch read the field for that long.
    void run(double seconds) { world.runUntil(world.uptime() + seconds); }

    struct Report {
        double at;
        std::optional<Replacement> correction;
    };

    VirtualWorld world;
    AccessibilityBackendFake fake;
    SecureInputFake secure;
    CorrectionWatch watch{fake, secure, [] { return true; }, ownPid,
                          Ticking{[this] { return world.uptime(); }, [](double) {}}};
    std::u16string value;
    std::vector<Report> reports;
};

TEST_F(CorrectionWatchTest, AWordReplacedAndLeftIsReportedAboutASecondAfterTheEdit) {
    start();
    run(1);
    show(before + "the meeting is on Thursday");
    const double edited = world.uptime();
    run(3);

    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].correction, (Replacement{"Tuesday", "Thursday"}));
    EXPECT_GE(reports[0].at - edited, 1.0);
    EXPECT_LE(reports[0].at - edited, 1.7);
}

TEST_F(CorrectionWatchTest, AWordChangedBackIsWithdrawnOnceItWasReported) {
    start();
    run(1);
    show(before + "the meeting is on Thursday");
    run(2);
    show(before + inserted);
    run(2);

    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(reports[0].correction);
    EXPECT_FALSE(reports[1].correction);
}

// A stop (a new press, a focus change) hands on only a word that has stood unchanged for a
// second: a word seen once, or twice within that second, may still be half typed.
TEST_F(CorrectionWatchTest, AStopReportsOnlyAWordThatHasSettled) {
    const struct {
        const char* name;
        const char* typed;
        double readFor;
    } halfTyped[] = {
        {"seen once", "Thu", 0.31},
        {"seen in two readings 0.3 s apart", "Thu", 0.61},
        {"a whole word, not yet a second old", "Thursday", 0.91},
    };
    for (const auto& c : halfTyped) {
        SCOPED_TRACE(c.name);
        show(before + inserted);
        start();
        run(1);
        show(before + "the meeting is on " + c.typed);
        run(c.readFor);
        watch.stop();
        EXPECT_TRUE(reports.empty());
    }

    settleCorrection();
    watch.stop();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].correction, (Replacement{"Tuesday", "Thursday"}));
}

TEST_F(CorrectionWatchTest, AFocusChangeAfterASettledWordStillReportsIt) {
    settleCorrection();
    fake.focusElement(42, "other");
    run(1);

    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].correction, (Replacement{"Tuesday", "Thursday"}));
    const int reads = fake.callCount("copyMultiple");
    run(5);
    EXPECT_EQ(fake.callCount("copyMultiple"), reads);
}

// An application that stops answering for a while (busy, or a loaded machine) has not shown
// that the user left the field: its readings are waited out, and a word seen only once before
// is not lost.
TEST_F(CorrectionWatchTest, AFieldTooSlowToAnswerForAWhileIsWaitedOut) {
    start();
    run(1);
    show(before + "the meeting is on Thursday");
    run(0.31);
    fake.hangAfterCalls = static_cast<int>(fake.calls.size());
    run(3);
    EXPECT_TRUE(reports.empty());
    fake.hangAfterCalls.reset();
    run(0.31);

    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].correction, (Replacement{"Tuesday", "Thursday"}));
    // And the watch still follows the field: going on typing after the word ends it.
    show(before + "the meeting is on Thursday. Bring");
    run(0.31);
    const int reads = fake.callCount("copyMultiple");
    run(5);
    EXPECT_EQ(fake.callCount("copyMultiple"), reads);
}

// Edits that are not a correction of the span end the watch with nothing reported.
TEST_F(CorrectionWatchTest, EditsOutsideTheSpanEndTheWatch) {
    struct Case {
        const char* name;
        std::vector<std::string> edits;
    } cases[] = {
        {"typed before the span", {"Dear team: " + inserted}},
        {"went on typing after a correction",
         {before + "the meeting is on Thursday", before + "the meeting is on Thursday. See"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reports.clear();
        show(before + inserted);
        start();
        run(1);
        for (const auto& edit : c.edits) {
            show(edit);
            run(0.31);
        }
        run(2);
        const int reads = fake.callCount("copyMultiple");
        run(5);
        EXPECT_EQ(fake.callCount("copyMultiple"), reads);
        EXPECT_TRUE(reports.empty());
        watch.stop();
    }
}

TEST_F(CorrectionWatchTest, APasteThatHasNotLandedIsWaitedForOneSecond) {
    show(before);
    start();
    run(0.5);
    show(before + inserted);
    run(1);
    EXPECT_GE(fake.callCount("copyMultiple"), 8);
    show(before + "the meeting is on Thursday");
    run(3);
    ASSERT_EQ(reports.size(), 1u);

    reports.clear();
    show(before);
    start();
    run(5);
    EXPECT_LE(fake.callCount("copyMultiple"), 8 + 14 + 14);
    EXPECT_TRUE(reports.empty());
}

TEST_F(CorrectionWatchTest, ContextsThatCannotBeWatchedStartNoWatchAndStopTheRunningOne) {
    struct Case {
        const char* name;
        std::function<void(DictationContext&, std::string&)> change;
    } cases[] = {
        {"secure", [](DictationContext& c, std::string&) { c.isSecure = true; }},
        {"not editable", [](DictationContext& c, std::string&) { c.isEditable = false; }},
        {"selection", [](DictationContext& c, std::string&) { c.selection = "x"; }},
        {"no element", [](DictationContext& c, std::string&) { c.elementToken.reset(); }},
        {"no caret",
         [](DictationContext& c, std::string&) {
             c.elementToken = ElementToken(std::make_shared<AXElementBox>(
                 AccessibilityBackendFake::element("field"), 42, std::nullopt,
                 Editability::editable, std::nullopt, false));
         }},
        {"own process",
         [](DictationContext& c, std::string&) {
             c.elementToken = ElementToken(
                 std::make_shared<AXElementBox>(AccessibilityBackendFake::element("field"), ownPid,
                                                std::nullopt, Editability::editable, 11, false));
         }},
        {"too long", [](DictationContext&, std::string& t) { t = std::string(2049, 'a'); }},
        {"empty", [](DictationContext&, std::string& t) { t.clear(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reports.clear();
        settleCorrection();
        DictationContext other = context();
        std::string text = inserted;
        c.change(other, text);
        const int reads = fake.callCount("copyMultiple");
        watch.watch(text, other, [](std::optional<Replacement>) { ADD_FAILURE(); });
        run(5);
        EXPECT_EQ(fake.callCount("copyMultiple"), reads);
        // The running watch was stopped and handed on its settled correction.
        EXPECT_EQ(reports.size(), 1u);
    }
}

// The reading itself refuses whatever it must not read or cannot place.
TEST_F(CorrectionWatchTest, ASampleRefusesFieldsItMustNotReadOrCannotPlace) {
    const auto start = static_cast<std::int64_t>(Unicode::toUtf16(before).size());
    const auto length = static_cast<std::int64_t>(Unicode::toUtf16(inserted).size());
    const auto token = context().elementToken;
    auto sampled = watch.sample(token, start, length, std::nullopt);
    ASSERT_TRUE(sampled);
    EXPECT_EQ(sampled->text, inserted);
    EXPECT_EQ(sampled->prefix, before);
    EXPECT_EQ(sampled->suffix, "");
    EXPECT_EQ(sampled->tailLength, 0);

    struct Case {
        const char* name;
        std::function<void()> change;
    } cases[] = {
        {"password",
         [&] { fake.attribute("field", "AXSubrole", std::string("AXSecureTextField")); }},
        {"secure input", [&] { secure.on = true; }},
        {"other focus", [&] { fake.focusElement(42, "other"); }},
        {"caret inside",
         [&] {
             fake.attribute("field", "AXSelectedTextRange", AXRange{start, 0});
         }},
        {"short field", [&] { show("the meeting"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.change();
        EXPECT_FALSE(watch.sample(token, start, length, std::nullopt));
        fake.nodes["field"].attributes.erase("AXSubrole");
        secure.on = false;
        fake.focusElement(42, "field");
        show(before + inserted);
    }
}

} // namespace
} // namespace talverin
