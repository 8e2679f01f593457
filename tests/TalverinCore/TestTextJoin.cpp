#include "TalverinCore/TextJoin.h"

#include <gtest/gtest.h>

#include <string>

namespace talverin {
namespace {

struct Case {
    const char* name;
    std::string before;
    std::string text;
    std::string expected;
};

TEST(TextJoin, SpaceGoesInFrontOnlyWhereTheTextsWouldRunTogether) {
    const Case cases[] = {
        {"after a word", "Hello", "world", " world"},
        {"after a space", "Hello ", "world", "world"},
        {"after a line break", "Hello\n", "world", "world"},
        {"after a no-break space", "Hello\u00A0", "world", "world"},
        {"text starts with a space", "Hello", " world", " world"},
        {"text starts with a line break", "Hello", "\nworld", "\nworld"},
        {"nothing before the caret", "", "world", "world"},
        {"empty text", "Hello", "", ""},
        {"after a full stop", "Hello.", "World", " World"},
        {"after an opening parenthesis", "see (", "page", "page"},
        {"text starts with a comma", "Hello", ", world", ", world"},
        {"text starts with an ellipsis", "Hello", "… world", "… world"},
        {"Russian after a guillemet", "Он сказал «", "привет", "привет"},
        {"Russian before a closing guillemet", "«привет", "»", "»"},
        {"Russian words", "Привет", "мир", " мир"},
        {"between CJK characters", "東京", "大学", "大学"},
        {"CJK then Latin", "東京", "Tokyo", " Tokyo"},
        {"Latin then CJK", "Tokyo", "東京", " 東京"},
        {"kana", "ひらがな", "カタカナ", "カタカナ"},
        {"Hangul syllables", "한국", "어", "어"},
        {"CJK punctuation before Latin", "東京。", "Hello", " Hello"},
        {"CJK punctuation before CJK", "東京。", "大学", "大学"},
        {"full-width form", "ＡＢ", "東京", "東京"},
        {"after an emoji", "nice 🙂", "thanks", " thanks"},
        {"opening mark with an accent is another character", "(\u0301", "x", " x"},
        {"closing mark with an accent is another character", "a", ".\u0301", " .\u0301"},
        {"CR LF before the caret", "line\r\n", "next", "next"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TextJoin::joined(c.text, c.before), c.expected);
    }
}

TEST(TextJoin, NoSpaceAfterAnyOpeningOrBeforeAnyClosingCharacter) {
    const char* const opening[] = {"(", "[", "{", "«", "„", "“", "‘", "\"",
                                   "'", "/", "-", "–", "—", "@", "#"};
    for (const char* mark : opening)
        EXPECT_EQ(TextJoin::joined("word", std::string("x") + mark), "word") << mark;
    const char* const closing[] = {".", ",", ";", ":", "!", "?", "…",
                                   ")", "]", "}", "»", "”", "’", "%"};
    for (const char* mark : closing)
        EXPECT_EQ(TextJoin::joined(std::string(mark) + "x", "word"), std::string(mark) + "x")
            << mark;
    // The sets are one-sided: a closing character before the caret still takes a space.
    EXPECT_EQ(TextJoin::joined("word", "x)"), " word");
    EXPECT_EQ(TextJoin::joined("(x", "word"), " (x");
}

} // namespace
} // namespace talverin
