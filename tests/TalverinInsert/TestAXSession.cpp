#include "TalverinInsert/AXSession.h"

#include "TalverinInsert/AXCast.h"
#include "TalverinInsert/AXElementBox.h"
#include "TalverinInsert/AccessibilityNull.h"
#include "fakes/AccessibilityBackendFake.h"

#include <gtest/gtest.h>

namespace talverin {
namespace {

using test::AccessibilityBackendFake;

// A clock that only moves when the test (or a slow fake target) moves it.
struct TestClock {
    double now = 500;
    Ticking ticking() {
        return {[this] { return now; }, [this](double s) { now += s; }};
    }
};

TEST(AXSession, ClampsTheMessagingTimeout) {
    const struct {
        int requestedMs;
        float seconds;
    } cases[] = {{0, 0.1f},    {-7, 0.1f},   {1, 0.01f},   {5, 0.01f},  {10, 0.01f},
                 {11, 0.011f}, {250, 0.25f}, {1000, 1.0f}, {5000, 1.0f}};
    AccessibilityBackendFake fake;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.requestedMs);
        AXSession session(fake, c.requestedMs, std::nullopt);
        EXPECT_FLOAT_EQ(session.timeout(), c.seconds);
        EXPECT_FALSE(session.deadline());
    }
}

TEST(AXSession, GivesEveryElementItTouchesItsTimeout) {
    AccessibilityBackendFake fake;
    fake.focusApplication({.pid = 42});
    fake.focusElement(42, "field");
    AXSession session(fake, 250, std::nullopt);
    auto app = session.focusedApplication();
    ASSERT_TRUE(app);
    EXPECT_EQ(app->pid, 42);
    EXPECT_TRUE(session.focusedElement(app->element));
    const std::vector<std::pair<std::string, float>> expected{
        {"system", 0.25f}, {"app:42", 0.25f}, {"field", 0.25f}};
    EXPECT_EQ(fake.timeouts, expected);
    EXPECT_EQ(session.calls(), 2);
}

TEST(AXSession, FallsBackToTheFrontApplicationOnlyWhenNothingIsFocused) {
    AccessibilityBackendFake fake;
    fake.apps[7] = {.pid = 7};
    fake.node("app:7").pid = 7;
    fake.frontmost = 7;
    {
        AXSession session(fake, 100, std::nullopt);
        auto app = session.focusedApplication();
        ASSERT_TRUE(app);
        EXPECT_EQ(app->pid, 7);
    }
    // A focused application whose pid cannot be read gives nothing, not the front one.
    fake.attribute("system", "AXFocusedApplication", AccessibilityBackendFake::element("ghost"));
    AXSession session(fake, 100, std::nullopt);
    EXPECT_FALSE(session.focusedApplication());
    // A hung desktop does not go on to ask the window manager.
    AccessibilityBackendFake hung;
    hung.frontmost = 7;
    hung.apps[7] = {.pid = 7};
    hung.failing("system", "AXFocusedApplication", AXError::cannotComplete);
    AXSession hungSession(hung, 100, std::nullopt);
    EXPECT_FALSE(hungSession.focusedApplication());
    EXPECT_TRUE(hungSession.hung());
}

TEST(AXSession, AnUnansweredCallStopsEveryLaterCall) {
    AccessibilityBackendFake fake;
    auto field = AccessibilityBackendFake::element("field");
    fake.attribute("field", "AXRole", std::string("AXTextField"));
    fake.failing("field", "AXValue", AXError::cannotComplete);
    AXSession session(fake, 100, std::nullopt);
    EXPECT_FALSE(session.copy(field, "AXValue"));
    EXPECT_TRUE(session.hung());
    EXPECT_FALSE(session.expired());
    EXPECT_FALSE(session.copy(field, "AXRole"));
    EXPECT_FALSE(session.isSettable(field, "AXValue"));
    EXPECT_EQ(session.set(field, "AXValue", std::string("x")), AXError::cannotComplete);
    EXPECT_TRUE(session.copyMany(field, {"AXRole"}).empty());
    EXPECT_EQ(session.calls(), 1);
    EXPECT_EQ(fake.calls.size(), 1u);
}

TEST(AXSession, OtherErrorsFailOnlyTheirCall) {
    AccessibilityBackendFake fake;
    auto field = AccessibilityBackendFake::element("field");
    fake.attribute("field", "AXRole", std::string("AXTextField"));
    fake.node("field").setAnswers["AXValue"] = AXError::attributeUnsupported;
    AXSession session(fake, 100, std::nullopt);
    EXPECT_FALSE(session.copy(field, "AXValue"));
    EXPECT_EQ(session.set(field, "AXValue", std::string("x")), AXError::attributeUnsupported);
    EXPECT_EQ(AXCast::string(session.copy(field, "AXRole")), "AXTextField");
    EXPECT_FALSE(session.hung());
    EXPECT_EQ(session.calls(), 3);
}

TEST(AXSession, ASpentBudgetMakesNoCallAtAll) {
    TestClock clock;
    AccessibilityBackendFake fake;
    AXSession session(fake, 100, 0.0, clock.ticking());
    EXPECT_FALSE(session.focusedApplication());
    EXPECT_TRUE(session.hung());
    EXPECT_TRUE(session.expired());
    EXPECT_EQ(session.calls(), 0);
    EXPECT_TRUE(fake.calls.empty());
}

TEST(AXSession, TheDeadlineStopsASlowSeriesMidway) {
    TestClock clock;
    AccessibilityBackendFake fake;
    auto field = AccessibilityBackendFake::element("field");
    for (const char* name : {"A", "B", "C", "D"})
        fake.attribute("field", name, std::string(name));
    fake.node("field").multiError = AXError::failure;
    // Every call costs the whole timeout: the budget of 0.25 s allows three.
    fake.onCall = [&](const std::string&) { clock.now += 0.1; };
    AXSession session(fake, 100, 0.25, clock.ticking());
    auto values = session.copyMany(field, {"A", "B", "C", "D"});
    EXPECT_EQ(values.size(), 2u); // the failed multi read, then A and B
    EXPECT_TRUE(values.contains("A"));
    EXPECT_TRUE(values.contains("B"));
    EXPECT_TRUE(session.expired());
    EXPECT_TRUE(session.hung());
    EXPECT_EQ(session.calls(), 3);
}

struct MultiCase {
    const char* name;
    std::optional<int> multiError;
    std::vector<std::string> expectedNames;
    int expectedCalls;
};

TEST(AXSession, MultiAttributeReadsAndTheirFallbacks) {
    const MultiCase cases[] = {
        {"answered, the unreadable one left out", std::nullopt, {"AXRole", "AXWindow"}, 1},
        {"refused, read one by one", AXError::failure, {"AXRole", "AXWindow"}, 4},
        {"invalid element, nothing", AXError::invalidUIElement, {}, 1},
        {"service disabled, nothing", AXError::apiDisabled, {}, 1},
        {"unanswered, nothing and hung", AXError::cannotComplete, {}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AccessibilityBackendFake fake;
        auto field = AccessibilityBackendFake::element("field");
        fake.attribute("field", "AXRole", std::string("AXTextArea"));
        fake.failing("field", "AXSubrole", AXError::noValue);
        fake.attribute("field", "AXWindow", AccessibilityBackendFake::element("window"));
        fake.node("field").multiError = c.multiError;
        AXSession session(fake, 100, std::nullopt);
        auto values = session.copyMany(field, {"AXRole", "AXSubrole", "AXWindow"});
        std::vector<std::string> names;
        for (const auto& [name, value] : values)
            names.push_back(name);
        EXPECT_EQ(names, c.expectedNames);
        EXPECT_EQ(session.calls(), c.expectedCalls);
        EXPECT_EQ(session.hung(), c.multiError == AXError::cannotComplete);
    }
}

TEST(AXSession, AHangDuringSingleReadsEndsThem) {
    AccessibilityBackendFake fake;
    auto field = AccessibilityBackendFake::element("field");
    fake.attribute("field", "A", std::string("a"));
    fake.failing("field", "B", AXError::cannotComplete);
    fake.attribute("field", "C", std::string("c"));
    fake.node("field").multiError = AXError::failure;
    AXSession session(fake, 100, std::nullopt);
    auto values = session.copyMany(field, {"A", "B", "C"});
    EXPECT_EQ(values.size(), 1u);
    EXPECT_TRUE(values.contains("A"));
    EXPECT_EQ(session.calls(), 3);
    EXPECT_TRUE(session.hung());
}

TEST(AXSession, UnpacksOnlyValuesOfTheirShape) {
    const std::optional<AXAttributeValue> point = Point{3, 4};
    const std::optional<AXAttributeValue> range = AXRange{5, 0};
    EXPECT_EQ(AXCast::point(point), (Point{3, 4}));
    EXPECT_FALSE(AXCast::size(point));
    EXPECT_EQ(AXCast::range(range), (AXRange{5, 0}));
    EXPECT_FALSE(AXCast::range(point));
    EXPECT_FALSE(AXCast::point(std::nullopt));
    EXPECT_FALSE(AXCast::size(AXAttributeValue(AXUnreadable{})));
}

TEST(AXElementBox, TheSameElementReadTwiceIsTheSameTokenWhateverElseDiffers) {
    auto first = std::make_shared<AXElementBox>(AccessibilityBackendFake::element("field"), 1,
                                                "AXTextArea", Editability::editable, 4, false);
    auto second =
        std::make_shared<AXElementBox>(AccessibilityBackendFake::element("field"), 1, std::nullopt,
                                       Editability::unknown, std::nullopt, true);
    auto other = std::make_shared<AXElementBox>(AccessibilityBackendFake::element("other"), 1,
                                                "AXTextArea", Editability::editable, 4, false);
    EXPECT_EQ(ElementToken(first), ElementToken(second));
    EXPECT_FALSE(ElementToken(first) == ElementToken(other));
    // A bare element is not a box, in either direction.
    EXPECT_FALSE(ElementToken(first) == test::FakeElement::token("field"));
    EXPECT_FALSE(test::FakeElement::token("field") == ElementToken(first));
}

TEST(AccessibilityNull, IsUntrustedAndAnswersNothing) {
    AccessibilityNull null("no accessibility bus");
    EXPECT_EQ(null.reason(), "no accessibility bus");
    EXPECT_FALSE(null.isProcessTrusted());
    AXSession session(null, 100, std::nullopt);
    EXPECT_FALSE(session.focusedApplication());
}

} // namespace
} // namespace talverin
