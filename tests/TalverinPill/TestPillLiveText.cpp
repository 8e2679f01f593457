#include "TalverinPill/PillLiveText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace talverin {
namespace {

using Pair = std::pair<std::string, std::string>;

TEST(PillLiveText, SplitKeepsTheLastWordWholeAndTheNewestWordsThatFit) {
    struct Row {
        const char* name;
        std::string text;
        int maxCharacters;
        Pair expected;
    };
    const std::string longWord(200, 'x');
    const Row rows[] = {
        {"empty", "", 160, {"", ""}},
        {"only white space", " \t\n\u2028 ", 160, {"", ""}},
        {"one word", "hello", 160, {"", "hello"}},
        {"runs of white space", "  one \t two\n\nthree  ", 160, {"one two ", "three"}},
        {"other white space", "one\u00A0two\u3000three", 160, {"one two ", "three"}},
        {"the oldest words go first", "aa bb cc dd", 8, {"bb cc ", "dd"}},
        {"a word that fits exactly", "aa bb cc dd", 9, {"bb cc ", "dd"}},
        {"the walk stops at the first word too long", "a bbbbbb c d", 6, {"c ", "d"}},
        {"a long last word leaves no budget", longWord, 160, {"", longWord}},
        {"a last word longer than the budget", "a " + longWord, 160, {"", longWord}},
        // Characters are grapheme clusters: each "e" + U+0301 and each flag counts once.
        {"clusters count as one",
         "e\u0301e\u0301 \U0001F1F7\U0001F1FA \U0001F1F7\U0001F1FA",
         6,
         {"e\u0301e\u0301 \U0001F1F7\U0001F1FA ", "\U0001F1F7\U0001F1FA"}},
        {"a negative limit", "a b", -5, {"", "b"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(PillLiveText::split(row.text, row.maxCharacters), row.expected);
    }
}

TEST(PillLiveText, IllFormedTextComesBackWellFormed) {
    const auto [head, last] = PillLiveText::split("ab\xC3 cd\xFF", 160);
    EXPECT_EQ(head, "ab\uFFFD ");
    EXPECT_EQ(last, "cd\uFFFD");
}

// Each character measures 10 points, the ellipsis included.
double tenPerCharacter(std::string_view text) {
    double width = 0;
    for (unsigned char byte : text)
        if ((byte & 0xC0) != 0x80)
            width += 10;
    return width;
}

TEST(PillLiveText, FitDropsTheOldestWordsBehindAnEllipsis) {
    struct Row {
        const char* name;
        std::string text;
        double width;
        Pair expected;
    };
    const Row rows[] = {
        {"everything fits", "one two three", 130, {"one two ", "three"}},
        {"one word dropped", "one two three", 120, {"\u2026 two ", "three"}},
        {"with the ellipsis it fits exactly", "one two three", 110, {"\u2026 two ", "three"}},
        {"every earlier word dropped", "one two three", 60, {"\u2026 ", "three"}},
        {"a last word wider than the pill",
         "one incomprehensibilities",
         30,
         {"\u2026 ", "incomprehensibilities"}},
        {"a single word is never cut", "incomprehensibilities", 30, {"", "incomprehensibilities"}},
        {"no width: nothing is fitted", "one two three", 0, {"one two ", "three"}},
        {"a broken width: nothing is fitted", "one two three", std::nan(""), {"one two ", "three"}},
        {"nothing to fit", "   ", 100, {"", ""}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(PillLiveText::fit(row.text, row.width, tenPerCharacter), row.expected);
    }
}

TEST(PillLiveText, FitMeasuresTheWholeLineAsItWouldBeDrawn) {
    std::vector<std::string> measured;
    auto measure = [&](std::string_view text) {
        measured.emplace_back(text);
        return tenPerCharacter(text);
    };
    PillLiveText::fit("one two three", 100, measure);
    EXPECT_EQ(measured, (std::vector<std::string>{"one two three", "\u2026 two three"}));
    // Past the character limit the oldest words are gone before anything is measured.
    std::string many;
    for (int i = 0; i < 100; ++i)
        many += "word ";
    measured.clear();
    const auto [head, last] = PillLiveText::fit(many, 1e9, measure);
    EXPECT_EQ(head.size() + last.size(), 159u);
    EXPECT_EQ(head.rfind("\u2026", 0), std::string::npos) << "split drops without an ellipsis";
}

} // namespace
} // namespace talverin
