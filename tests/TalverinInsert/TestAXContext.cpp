#include "TalverinInsert/AXContext.h"

#include "Runtime/Unicode.h"
#include "TalverinInsert/AXElementBox.h"
#include "fakes/AccessibilityBackendFake.h"
#include "fakes/SecureInputFake.h"
#include "support/LogLines.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace talverin {
namespace {

using test::AccessibilityBackendFake;
using test::SecureInputFake;

// Words of five letters and a space: six units each.
std::string words(int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "word" + std::to_string(i % 10) + " ";
    return text;
}

// A desktop with the application "Notes" (pid 42) in front, its text field focused in a
// 600 x 400 window at (100, 50) on a 1000-point-high display.
class AXContextTest : public ::testing::Test {
protected:
    AXContextTest() {
        fake.focusApplication(
            {.pid = 42, .localizedName = "Notes", .bundleID = "org.example.Notes"});
        fake.focusElement(42, "field");
        fake.attribute("field", "AXWindow", AccessibilityBackendFake::element("win"));
        fake.attribute("win", "AXPosition", Point{100, 50});
        fake.attribute("win", "AXSize", Size{600, 400});
        fake.parameterized = [this](const std::string&, const std::string& name, AXRange r) {
            rangeReads.push_back(r);
            if (name != "AXStringForRange")
                return AXReply<AXAttributeValue>{AXError::attributeUnsupported, {}};
            return AXReply<AXAttributeValue>{AXError::success,
                                             Unicode::toUtf8(value.substr(r.location, r.length))};
        };
    }

    // A field of that role holding `text`, with the selection given.
    void field(const std::string& role, const std::string& text, AXRange selection,
               bool wholeValue = true) {
        value = Unicode::toUtf16(text);
        fake.attribute("field", "AXRole", role);
        fake.attribute("field", "AXSelectedTextRange", selection);
        fake.attribute("field", "AXNumberOfCharacters", static_cast<std::int64_t>(value.size()));
        if (wholeValue)
            fake.attribute("field", "AXValue", text);
        fake.attribute("field", "AXSelectedText",
                       Unicode::toUtf8(value.substr(selection.location, selection.length)));
    }

    const AXElementBox* box(const DictationContext& context) {
        return context.elementToken ? context.elementToken->as<AXElementBox>() : nullptr;
    }

    DictationContext read(int timeoutMs = AXContext::defaultTimeoutMs) {
        return reader.read(timeoutMs);
    }

    double now = 100;
    Ticking ticking{[this] { return now; }, [this](double s) { now += s; }};
    AccessibilityBackendFake fake;
    SecureInputFake secure;
    AXContext reader{fake, secure, ticking};
    std::u16string value;
    std::vector<AXRange> rangeReads;
    test::LogLines log;
};

TEST_F(AXContextTest, UntrustedGivesTheFrontApplicationOnly) {
    fake.trusted = false;
    fake.frontmost = 42;
    secure.on = true;
    const auto context = read();
    EXPECT_EQ(context.appName, "Notes");
    EXPECT_EQ(context.bundleID, "org.example.Notes");
    EXPECT_TRUE(context.isSecure);
    EXPECT_FALSE(context.elementToken);
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_EQ(log.lines(),
              std::vector<std::string>{"AXContext: untrusted before=0 after=0 sel=0 secure=true "
                                       "frame=false ms=0"});
}

TEST_F(AXContextTest, AnEditableTextAreaWithTheCaretInside) {
    field("AXTextArea", "Dear Anna, thanks", {10, 0});
    const auto context = read();
    EXPECT_EQ(context.appName, "Notes");
    EXPECT_EQ(context.before, "Dear Anna,");
    EXPECT_EQ(context.after, " thanks");
    EXPECT_TRUE(context.isEditable);
    EXPECT_FALSE(context.isSecure);
    EXPECT_EQ(context.windowFrame, (Rect{{100, 1000 - 50 - 400}, {600, 400}}));
    ASSERT_TRUE(box(context));
    EXPECT_EQ(box(context)->insertionOffset, 10);
    EXPECT_EQ(box(context)->role, "AXTextArea");
    EXPECT_EQ(box(context)->pid, 42);
    EXPECT_EQ(log.lines(), std::vector<std::string>{
                               "AXContext: editable role=AXTextArea before=10 after=7 sel=0 "
                               "secure=false frame=true calls=5 ms=0"});
}

TEST_F(AXContextTest, APasswordFieldIsSecureAndNothingIsRead) {
    for (const auto& [role, subrole] :
         {std::pair<std::string, std::string>{"AXSecureTextField", ""},
          {"AXTextField", "AXSecureTextField"}}) {
        SCOPED_TRACE(role + "/" + subrole);
        field(role, "hunter2", {7, 0});
        if (!subrole.empty())
            fake.attribute("field", "AXSubrole", subrole);
        log.clear();
        const auto context = read();
        EXPECT_TRUE(context.isSecure);
        EXPECT_FALSE(context.isEditable);
        EXPECT_EQ(context.before, "");
        ASSERT_TRUE(box(context));
        EXPECT_EQ(box(context)->editability, Editability::editable);
        EXPECT_EQ(fake.callCount("copy field AXValue"), 0);
        EXPECT_EQ(log.lines(), std::vector<std::string>{
                                   "AXContext: secure field before=0 after=0 sel=0 secure=true "
                                   "frame=true calls=4 ms=0"});
    }
}

TEST_F(AXContextTest, ALongFieldIsReadByTwoRanges) {
    field("AXTextArea", words(25000 / 6 + 1), {10000, 0}, false); // 25,002 units
    const auto context = read();
    ASSERT_EQ(rangeReads.size(), 2u);
    EXPECT_EQ(rangeReads[0], (AXRange{9400, 600}));
    EXPECT_EQ(rangeReads[1], (AXRange{10000, 200}));
    const auto before = Unicode::toUtf16(context.before);
    EXPECT_LE(before.size(), 600u);
    EXPECT_TRUE(context.before.starts_with("word")); // the cut-off partial word is gone
    EXPECT_LE(Unicode::toUtf16(context.after).size(), 200u);
    EXPECT_EQ(fake.callCount("copy field AXValue"), 0);
    // Both ends were cut: "6 " goes at the start, the last space at the end.
    EXPECT_EQ(log.lines(), std::vector<std::string>{
                               "AXContext: editable role=AXTextArea before=598 after=199 sel=0 "
                               "secure=false frame=true calls=6 ms=0"});
}

TEST_F(AXContextTest, ACaretAtSixHundredReadsFromTheStartAndCutsNothingThere) {
    field("AXTextArea", "x" + words(4000), {600, 0}, false);
    const auto context = read();
    ASSERT_EQ(rangeReads.size(), 2u);
    EXPECT_EQ(rangeReads[0], (AXRange{0, 600}));
    EXPECT_EQ(Unicode::toUtf16(context.before), value.substr(0, 600));
}

TEST_F(AXContextTest, ASelectionIsReadAndTheTokenHasNoCaret) {
    field("AXTextArea", "one two three", {4, 5});
    const auto context = read();
    EXPECT_EQ(context.selection, "two t");
    EXPECT_EQ(context.before, "one ");
    EXPECT_EQ(context.after, "hree");
    ASSERT_TRUE(box(context));
    EXPECT_FALSE(box(context)->insertionOffset);
    EXPECT_EQ(log.lines().back(), "AXContext: editable role=AXTextArea before=4 after=4 sel=5 "
                                  "secure=false frame=true calls=5 ms=0");
}

TEST_F(AXContextTest, AHungApplicationStopsTheReadWithinItsBudget) {
    field("AXGroup", "", {0, 0});
    // The element's attributes come back; the next call times out.
    fake.hangAfterCalls = 3;
    fake.onCall = [this](const std::string& call) {
        if (fake.calls.size() > 3)
            now += 0.1;
        (void)call;
    };
    const auto context = read();
    EXPECT_FALSE(context.isEditable);
    ASSERT_TRUE(box(context));
    EXPECT_EQ(box(context)->editability, Editability::unknown); // hung: not "notEditable"
    EXPECT_EQ(log.lines(),
              std::vector<std::string>{"AXContext: unknown role=AXGroup before=0 after=0 sel=0 "
                                       "secure=false frame=false calls=4 hung ms=100"});
}

TEST_F(AXContextTest, AnExpiredBudgetIsLoggedAsExpired) {
    field("AXTextArea", "abc", {3, 0});
    // Every call takes 125 ms: the budget of 0.4 s allows four, the window's the last.
    fake.onCall = [this](const std::string&) { now += 0.125; };
    const auto context = read();
    EXPECT_EQ(log.lines(),
              std::vector<std::string>{"AXContext: editable role=AXTextArea before=0 after=0 sel=0 "
                                       "secure=false frame=true calls=4 expired ms=500"});
    EXPECT_TRUE(context.isEditable);
}

TEST_F(AXContextTest, TheBudgetIsFourTimeoutsAndAtLeastAQuarterSecond) {
    // Every call takes 0.125 s; a read that is never cut short makes ten calls.
    const struct {
        int timeoutMs;
        int callsMade;
    } cases[] = {{100, 4}, {0, 4}, {50, 2}, {20, 2}, {1000, 10}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.timeoutMs);
        AccessibilityBackendFake slow;
        slow.focusApplication({.pid = 9});
        slow.focusElement(9, "el");
        slow.attribute("el", "AXRole", std::string("AXTextArea"));
        slow.node("el").multiError = AXError::failure;
        slow.onCall = [&](const std::string&) { now += 0.125; };
        AXContext slowReader(slow, secure, ticking);
        slowReader.read(c.timeoutMs);
        EXPECT_EQ(static_cast<int>(slow.calls.size()), c.callsMade);
    }
}

TEST_F(AXContextTest, NoApplicationOrNoElement) {
    AccessibilityBackendFake empty;
    secure.on = true;
    AXContext emptyReader(empty, secure, ticking);
    const auto none = emptyReader.read(100);
    EXPECT_TRUE(none.isSecure);
    EXPECT_EQ(log.lines().back(),
              "AXContext: no app before=0 after=0 sel=0 secure=true frame=false calls=1 ms=0");

    fake.attribute("app:42", "AXFocusedUIElement", std::string("not an element"));
    fake.attribute("app:42", "AXFocusedWindow", AccessibilityBackendFake::element("win"));
    const auto noElement = read();
    EXPECT_EQ(noElement.appName, "Notes");
    EXPECT_TRUE(noElement.windowFrame);
    EXPECT_FALSE(noElement.elementToken);
    EXPECT_EQ(log.lines().back(), "AXContext: no element before=0 after=0 sel=0 secure=true "
                                  "frame=true calls=4 ms=0");
}

TEST_F(AXContextTest, SecureInputWithAndWithoutARole) {
    secure.on = true;
    field("AXTextField", "abc", {3, 0});
    EXPECT_FALSE(read().isSecure);
    fake.nodes["field"].attributes.erase("AXRole");
    const auto blind = read();
    EXPECT_TRUE(blind.isSecure);
    EXPECT_FALSE(blind.elementToken);
    EXPECT_TRUE(log.lines().back().starts_with("AXContext: secure input, no role before=0 "));
}

TEST_F(AXContextTest, EditabilityByRoleAndWhatTheElementAllows) {
    const struct {
        const char* name;
        std::optional<std::string> role;
        std::optional<std::string> subrole;
        bool settable;
        bool editableAncestor;
        Editability expected;
    } cases[] = {
        {"text role", "AXComboBox", std::nullopt, false, false, Editability::editable},
        {"search subrole", "AXGroup", "AXSearchField", false, false, Editability::editable},
        {"editable ancestor", "AXStaticText", std::nullopt, false, true, Editability::editable},
        {"settable value, any role", "AXStaticText", std::nullopt, true, false,
         Editability::editable},
        {"settable value, no role", std::nullopt, std::nullopt, true, false, Editability::editable},
        {"settable slider", "AXSlider", std::nullopt, true, false, Editability::notEditable},
        {"nothing, no role", std::nullopt, std::nullopt, false, false, Editability::unknown},
        {"blind role", "AXApplication", std::nullopt, false, false, Editability::unknown},
        {"a button", "AXButton", std::nullopt, false, false, Editability::notEditable},
        {"a terminal, even with a settable value", "AXTerminal", std::nullopt, true, false,
         Editability::notEditable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AccessibilityBackendFake desk;
        desk.focusApplication({.pid = 5});
        desk.focusElement(5, "el");
        if (c.role)
            desk.attribute("el", "AXRole", *c.role);
        if (c.subrole)
            desk.attribute("el", "AXSubrole", *c.subrole);
        if (c.settable)
            desk.node("el").settable.insert("AXValue");
        if (c.editableAncestor)
            desk.attribute("el", "AXEditableAncestor", AccessibilityBackendFake::element("p"));
        AXContext r(desk, secure, ticking);
        const auto context = r.read(100);
        ASSERT_TRUE(box(context));
        EXPECT_EQ(box(context)->editability, c.expected);
        EXPECT_EQ(context.isEditable, c.expected == Editability::editable);
    }
}

TEST_F(AXContextTest, AChromiumBrowserIsAskedForItsTreeOnce) {
    fake.apps[42].bundleID = "com.google.Chrome";
    field("AXWebArea", "", {0, 0});
    // Before the tree is built the focused element is a bare group.
    fake.attribute("field", "AXRole", std::string("AXStaticText"));
    const auto first = read();
    EXPECT_EQ(box(first)->editability, Editability::unknown);
    EXPECT_TRUE(box(first)->webEngine);
    ASSERT_EQ(fake.writes.size(), 1u);
    EXPECT_EQ(fake.writes[0].name, "AXManualAccessibility");
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "AXContext: accessibility tree requested (chromium, manual)",
                               "AXContext: unknown role=AXStaticText engine=chromium before=0 "
                               "after=0 sel=0 secure=false frame=true calls=7 ms=0"}));
    log.clear();
    const auto second = read();
    EXPECT_EQ(box(second)->editability, Editability::notEditable);
    EXPECT_EQ(fake.writes.size(), 1u);
    EXPECT_EQ(log.starting("AXContext: accessibility tree").size(), 0u);

    // A new process under the same pid is asked again; a refusal also sets the enhanced flag.
    fake.apps[42].bundleID = "com.google.Chrome.beta";
    fake.node("app:42").setAnswers["AXManualAccessibility"] = AXError::attributeUnsupported;
    read();
    ASSERT_EQ(fake.writes.size(), 3u);
    EXPECT_EQ(fake.writes[2].name, "AXEnhancedUserInterface");
    EXPECT_TRUE(log.contains("AXContext: accessibility tree requested (chromium, error -25205)"));
}

// A desktop that has no such request at all says so itself: nothing is logged as requested,
// no second flag is set, and the same process is not asked again.
TEST_F(AXContextTest, ATreeRequestTheDesktopLacksIsNotRequested) {
    fake.apps[42].bundleID = "com.google.Chrome";
    field("AXTextField", "abc", {3, 0});
    fake.node("app:42").setAnswers["AXManualAccessibility"] = AXError::notImplemented;
    const auto first = read();
    EXPECT_TRUE(first.isEditable);
    ASSERT_EQ(fake.writes.size(), 1u);
    EXPECT_EQ(fake.writes[0].name, "AXManualAccessibility");
    EXPECT_EQ(log.starting("AXContext: accessibility tree").size(), 0u);
    read();
    EXPECT_EQ(fake.writes.size(), 1u);
}

TEST_F(AXContextTest, ASkippedElectronEditorIsNeverAskedButStaysAWebEngine) {
    test::TempDir dir;
    std::filesystem::create_directories(dir.path() / "Code" /
                                        std::string(WebEngines::electronMarker));
    fake.apps[42].bundleID = "com.microsoft.VSCode";
    fake.apps[42].bundleLocation = (dir.path() / "Code").string();
    field("AXGroup", "", {0, 0});
    const auto context = read();
    EXPECT_TRUE(fake.writes.empty());
    EXPECT_EQ(box(context)->editability, Editability::unknown); // a generic role of a web engine
    EXPECT_TRUE(log.lines().back().find(" engine=electron ") != std::string::npos);
}

TEST_F(AXContextTest, AnEmptyWindowHasNoFrame) {
    fake.attribute("win", "AXSize", Size{0, 0});
    field("AXTextField", "x", {1, 0});
    const auto context = read();
    EXPECT_FALSE(context.windowFrame);
    EXPECT_TRUE(log.lines().back().find(" frame=false ") != std::string::npos);
}

TEST_F(AXContextTest, TheEngineCacheFollowsTheIdentityAndEmptiesPastItsLimit) {
    RunningApplication app{.pid = 1, .bundleID = "com.google.Chrome"};
    EXPECT_EQ(reader.engine(1, app), WebEngine::chromium);
    app.bundleID = "org.example.Plain";
    EXPECT_EQ(reader.engine(1, app), WebEngine::none); // same pid, another program
    for (std::int32_t pid = 2; pid <= 258; ++pid)
        reader.engine(pid, RunningApplication{.pid = pid, .bundleID = "com.brave.Browser"});
    // Past 256 entries the cache starts over; answers stay right.
    EXPECT_EQ(reader.engine(1, app), WebEngine::none);
    EXPECT_EQ(reader.engine(300, RunningApplication{.pid = 300}), WebEngine::none);
}

TEST_F(AXContextTest, TreeRequestsAreRememberedPerProcessUntilPastTheLimit) {
    AXSession session(fake, 100, std::nullopt, ticking);
    const auto app = AccessibilityBackendFake::element("app:42");
    const auto enable = [&](std::int32_t pid) {
        return reader.enableAccessibilityIfNeeded(app, pid, "com.google.Chrome",
                                                  WebEngine::chromium, session);
    };
    // A request that goes unanswered is not remembered: the next read asks again.
    fake.node("app:42").setAnswers["AXManualAccessibility"] = AXError::cannotComplete;
    EXPECT_FALSE(enable(1));
    EXPECT_TRUE(log.lines().empty());
    AXSession fresh(fake, 100, std::nullopt, ticking);
    fake.node("app:42").setAnswers.clear();
    EXPECT_TRUE(reader.enableAccessibilityIfNeeded(app, 1, "com.google.Chrome", WebEngine::chromium,
                                                   fresh));
    EXPECT_FALSE(reader.enableAccessibilityIfNeeded(app, 1, "com.google.Chrome",
                                                    WebEngine::chromium, fresh));
    for (std::int32_t pid = 2; pid <= 258; ++pid)
        reader.enableAccessibilityIfNeeded(app, pid, "com.google.Chrome", WebEngine::chromium,
                                           fresh);
    EXPECT_TRUE(reader.enableAccessibilityIfNeeded(app, 1, "com.google.Chrome", WebEngine::chromium,
                                                   fresh));
}

} // namespace
} // namespace talverin
