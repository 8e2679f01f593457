#include "TalverinInsert/CaretWindow.h"
#include "TalverinInsert/ContextRules.h"
#include "support/TempDir.h"

#include "Runtime/Unicode.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace talverin {
namespace {

std::u16string u(std::string_view text) {
    return Unicode::toUtf16(text);
}

// Plain words of five letters each: "word0 word1 word2 ...", six units per word.
std::u16string words(int count) {
    std::u16string text;
    for (int i = 0; i < count; ++i)
        text += u("word" + std::to_string(i % 10) + " ");
    return text;
}

TEST(ContextRules, SecureFieldsByRoleOrSubrole) {
    EXPECT_TRUE(ContextRules::isSecureField("AXSecureTextField", std::nullopt));
    EXPECT_TRUE(ContextRules::isSecureField("AXTextField", "AXSecureTextField"));
    EXPECT_FALSE(ContextRules::isSecureField("AXTextField", "AXSearchField"));
    EXPECT_FALSE(ContextRules::isSecureField(std::nullopt, std::nullopt));
}

TEST(ContextRules, WebEnginesByIdentifierPrefixAndElectronFolder) {
    test::TempDir dir;
    const auto electronApp = dir.path() / "Chat";
    std::filesystem::create_directories(electronApp / std::string(WebEngines::electronMarker));
    const struct {
        std::optional<std::string> bundleID;
        std::optional<std::string> location;
        WebEngine engine;
    } cases[] = {
        {"com.google.Chrome", std::nullopt, WebEngine::chromium},
        {"com.google.Chrome.canary", std::nullopt, WebEngine::chromium},
        {"company.thebrowser.Browser", std::nullopt, WebEngine::chromium},
        {"com.example.Chrome", std::nullopt, WebEngine::none},
        {std::nullopt, electronApp.string(), WebEngine::electron},
        {"com.microsoft.VSCode", electronApp.string(), WebEngine::electron},
        {"org.example.Editor", (dir.path() / "Plain").string(), WebEngine::none},
        {std::nullopt, std::nullopt, WebEngine::none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bundleID.value_or("(none)"));
        EXPECT_EQ(WebEngines::classify(c.bundleID, c.location), c.engine);
    }
    EXPECT_TRUE(WebEngines::isManualAccessibilitySkipped("com.microsoft.VSCode"));
    EXPECT_FALSE(WebEngines::isManualAccessibilitySkipped("com.microsoft.VSCode.helper"));
    EXPECT_FALSE(WebEngines::isManualAccessibilitySkipped(std::nullopt));
}

TEST(CaretWindow, PartialWordsAtTheEdgesUpToFortyUnits) {
    const std::u16string long45(45, u'x');
    const std::u16string long40(40, u'y');
    const struct {
        const char* name;
        std::u16string text, leading, trailing;
    } cases[] = {
        {"plain", u("ord two three"), u("two three"), u("ord two")},
        {"no separator", u("token"), u("token"), u("token")},
        {"45-unit run kept", long45 + u(" end"), long45 + u(" end"), long45},
        {"40-unit run dropped", long40 + u(" end"), u("end"), long40},
        {"other whitespace", u("ab\u2028cd\u00A0ef"), u("cd\u00A0ef"), u("ab\u2028cd")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CaretWindow::trimLeadingPartialWord(c.text), c.leading);
        EXPECT_EQ(CaretWindow::trimTrailingPartialWord(c.text), c.trailing);
    }
    // 41 units after the last separator, the separator counted, is still a partial word.
    EXPECT_EQ(CaretWindow::trimTrailingPartialWord(u("a ") + long40), u("a"));
    EXPECT_EQ(CaretWindow::trimTrailingPartialWord(u("a ") + long40 + u("z")),
              u("a ") + long40 + u("z"));
}

TEST(CaretWindow, SlicesAroundTheCaret) {
    const std::u16string text = words(200); // 1200 units
    const auto far = CaretWindow::slice(text, {1000, 0}, 600, 200);
    EXPECT_LE(far.before.size(), 600u);
    EXPECT_EQ(far.before.substr(0, 4), u("word")); // starts on a whole word
    const auto tail = CaretWindow::slice(text, {900, 0}, 600, 200);
    EXPECT_LE(tail.after.size(), 200u); // ends on a whole word
    EXPECT_EQ(tail.after.substr(tail.after.size() - 5, 4), u("word"));
    EXPECT_TRUE(far.selection.empty());

    for (std::int64_t caret : {600, 599, 10}) {
        SCOPED_TRACE(caret);
        EXPECT_EQ(CaretWindow::slice(text, {caret, 0}, 600, 200).before, text.substr(0, caret));
    }
    const auto selected = CaretWindow::slice(u("one two three"), {4, 3}, 600, 200);
    EXPECT_EQ(selected, (CaretWindow::Around{u("one "), u("two"), u(" three")}));
}

TEST(CaretWindow, ClampsTheSelectionToTheText) {
    EXPECT_EQ(CaretWindow::slice(u("hello world"), {6, 99}, 600, 200),
              (CaretWindow::Around{u("hello "), u("world"), u("")}));
    EXPECT_EQ(CaretWindow::slice(u("hello"), {-3, 2}, 600, 200),
              (CaretWindow::Around{u(""), u("he"), u("llo")}));
}

TEST(CaretWindow, AWordLongerThanFortyUnitsAtTheEdgeIsKept) {
    const std::u16string word45(45, u'z');
    const std::u16string text = u("intro ") + word45 + u(" tail");
    const std::int64_t caret = static_cast<std::int64_t>(text.size());
    // The window starts 2 units into the long word: 43 units of it are left.
    const auto around = CaretWindow::slice(text, {caret, 0}, caret - 8, 0);
    EXPECT_EQ(around.before, std::u16string(43, u'z') + u(" tail"));
}

TEST(CaretWindow, EdgesNeverSplitAnEmojiSequence) {
    const std::u16string family = u("\U0001F468\u200D\U0001F469\u200D\U0001F467"); // 8 units
    const std::u16string text = u("ab ") + family + u(" cd");
    const std::int64_t caret = static_cast<std::int64_t>(text.size());
    // A before edge in the middle of the family moves to its end, and the separator there
    // goes with the partial word.
    const auto before = CaretWindow::slice(text, {caret, 0}, 3 + 5, 0);
    EXPECT_EQ(before.before, u("cd"));
    // An after edge in the middle moves back to its start.
    const auto after = CaretWindow::slice(text, {0, 0}, 0, 3 + 4);
    EXPECT_EQ(after.after, u("ab"));
}

TEST(CaretWindow, PiecesReadByRangesLoseSplitHalvesOnTheirCutSide) {
    const auto [before, after] =
        CaretWindow::trimmed(u("\uFFFD\uFFFDrd one two"), true, u("three fo\uFFFD"), true);
    EXPECT_EQ(before, u("one two"));
    EXPECT_EQ(after, u("three"));
    const auto [uncutBefore, uncutAfter] =
        CaretWindow::trimmed(u("\uFFFDrd one"), false, u("two \uFFFD"), false);
    EXPECT_EQ(uncutBefore, u("\uFFFDrd one"));
    EXPECT_EQ(uncutAfter, u("two \uFFFD"));
}

} // namespace
} // namespace talverin
