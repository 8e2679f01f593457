#include "TalverinSpeech/LiveText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talverin {
namespace {

using Strings = std::vector<std::string>;

TEST(LiveText, JoinsWithScriptAwareSpacing) {
    struct Case {
        std::string a, b, expected;
    };
    const Case cases[] = {
        {"Hello", "world", "Hello world"},
        {"  ", "world", "world"},
        {"Hello\n", "", "Hello"},
        {"", "", ""},
        {" Hello ", "\u2028world\n", "Hello world"},
        {"你好", "世界", "你好世界"},
        {"你好", "world", "你好 world"},
        {"hello", "世界", "hello 世界"},
        {"สวัสดี", "ครับ", "สวัสดีครับ"},
        {"日本語。", "テスト", "日本語。テスト"},
        {"𠀀", "𠀁", "𠀀𠀁"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LiveText::join(c.a, c.b), c.expected) << c.a << "|" << c.b;
}

TEST(LiveText, SpacelessScriptRangesAreInclusive) {
    for (char32_t c : {U'\u0E00', U'\u0EFF', U'\u3000', U'\u30FF', U'\u9FFF', U'\uFF01', U'\uFF9F',
                       U'\U00020000', U'\U0003FFFF'})
        EXPECT_TRUE(LiveText::isSpacelessScript(c)) << std::hex << static_cast<unsigned>(c);
    for (char32_t c : {U'a', U'\u0DFF', U'\u0F00', U'\u3100', U'\uFF00', U'\uFFA0', U'\U0001FFFF',
                       U'\U00040000'})
        EXPECT_FALSE(LiveText::isSpacelessScript(c)) << std::hex << static_cast<unsigned>(c);
}

TEST(LiveText, ComparableWordsDropCasePunctuationAndSymbols) {
    struct Case {
        std::string text;
        Strings expected;
    };
    const Case cases[] = {
        {"Hello, World!", {"hello", "world"}},
        {"  — ... $ \n", {}},
        {"Don't STOP\nnow", {"dont", "stop", "now"}},
        {"«Привет», мир", {"привет", "мир"}},
        {"5 + 3 = 8 €", {"5", "3", "8"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LiveText::comparableWords(c.text), c.expected) << c.text;
}

TEST(LiveText, TellsARestartedUtteranceFromARevision) {
    struct Case {
        std::string previous, next;
        bool restart;
    };
    const Case cases[] = {
        {"so I went to the store and", "then", true},
        {"hello world", "hello there", false},
        {"hello world", "hello", false},
        {"hello world", "there", true},
        {"one two three four", "one two", true}, // more than three words: a restart
        {"one two three", "one", false},         // same first word, three words: a revision
        {"one", "two", false},
        {"one two", "", false},
        {"Hello, world!", "HELLO", false},
        {"so, I went; there", "SO", true}, // four words
        {"so, I went", "SO", false},
        {"a b c", "x y", false}, // not twice as many words
    };
    for (const Case& c : cases)
        EXPECT_EQ(LiveText::isUtteranceRestart(c.previous, c.next), c.restart)
            << c.previous << " -> " << c.next;
}

TEST(LiveText, TailFitsWordAndCharacterLimits) {
    const std::string word60(60, 'x');
    const std::string longWord = "abcdefghij";
    struct Case {
        std::string text;
        int words, characters;
        std::string expected;
    };
    const Case cases[] = {
        {"one two three four five six seven eight", 7, 48, "…two three four five six seven eight"},
        {"one two three four five six", 7, 48, "one two three four five six"},
        {"", 7, 48, ""},
        {" \n ", 7, 48, ""},
        {word60, 7, 48, "…" + std::string(48, 'x')},
        // The cut falls inside "fghij": that partial word goes.
        {"abcde fghij klmno", 7, 8, "…klmno"},
        // The cut falls right after a space: the whole last words stay, trimmed.
        {"abcde fghij klmno", 7, 11, "…fghij klmno"},
        {"abcde fghij klmno", 7, 12, "…fghij klmno"},
        {"abcde fghij klmno", 7, 13, "…fghij klmno"},
        // Limits below one count as one.
        {"one two three", 0, 48, "…three"},
        {"one two three", 7, 0, "…e"},
        {"line\nbreaks\tand  spaces", 7, 48, "line breaks and spaces"},
        // Characters are grapheme clusters: a flag and an accented letter count once each.
        {"🇩🇪🇩🇪 e\u0301te", 7, 4, "…e\u0301te"},
        {"ab 🇩🇪🇩🇪", 7, 3, "…🇩🇪🇩🇪"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LiveText::tail(c.text, c.words, c.characters), c.expected)
            << c.text << " " << c.words << "/" << c.characters;
}

} // namespace
} // namespace talverin
