// labels: tsan
#include "TalverinCore/Replacements.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace talverin {
namespace {

struct Case {
    const char* name;
    std::vector<Replacement> rules;
    std::string text;
    std::string expected;
};

void check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Replacements::apply(c.rules, c.text), c.expected);
    }
}

const Replacement btw{"btw", "by the way"};
const Replacement um{"um", ""};

TEST(Replacements, PhrasesMatchWholeWordsIgnoringCaseAndWhitespaceRuns) {
    const Replacement newYork{"new york", "NYC"};
    const Replacement spc{"спс", "спасибо"};
    const Replacement tokyo{"東京", "Tokyo"};
    check({
        {"capital and comma kept", {btw}, "Btw, ok", "By the way, ok"},
        {"inside other words", {btw}, "abtw btwx btw_ 1btw", "abtw btwx by the way_ 1btw"},
        {"several matches", {btw}, "btw. BTW! btw", "by the way. By the way! by the way"},
        {"three spaces", {newYork}, "New   York", "NYC"},
        {"line break", {newYork}, "in new\nyork today", "in NYC today"},
        {"tab and CR LF", {newYork}, "new\t\r\nyork", "NYC"},
        {"no-break space", {newYork}, "new\u00A0york", "NYC"},
        {"no whitespace is no match", {newYork}, "newyork", "newyork"},
        {"phrase with a whitespace run", {{"new \n  york", "NYC"}}, "new york", "NYC"},
        {"phrase trimmed", {{" \tbtw\n", "by the way"}}, "btw", "by the way"},
        {"Russian", {spc}, "Спс, друг. спсибо спс", "Спасибо, друг. спсибо спасибо"},
        {"Russian phrase", {{"добрый день", "привет"}}, "Добрый  день!", "Привет!"},
        {"CJK phrase beside punctuation", {tokyo}, "「東京」。", "「Tokyo」。"},
        {"CJK phrase inside a run of letters", {tokyo}, "我在東京住", "我在東京住"},
        {"punctuation edge needs no boundary",
         {{"c++", "C plus plus"}},
         "c++11 c++",
         "C plus plus11 C plus plus"},
        {"metacharacters match literally", {{"a.b (x)", "ok"}}, "axb (x) a.b (x)", "axb (x) ok"},
        {"question mark and star", {{"why?*", "because"}}, "why?* why", "because why"},
    });
}

// A combining mark belongs to the letter before it: a phrase that ends or starts next to one
// would take part of a word, and leave the mark on the replacement.
TEST(Replacements, PhraseDoesNotEndOrStartBesideACombiningMark) {
    check({
        {"mark after the phrase", {{"x", "y"}}, "x\u0301 x", "x\u0301 y"},
        {"enclosing mark after a deletion", {um}, "so um\u20DD yes", "so um\u20DD yes"},
        {"Devanagari vowel sign after", {{"क", "ka"}}, "का क", "का ka"},
        {"Devanagari vowel sign before", {{"म", "ma"}}, "काम म", "काम ma"},
        {"Thai tone mark", {{"น", "x"}}, "น้ำ น", "น้ำ x"},
        {"phrase ending in a mark, another mark after",
         {{"x\u0301", "y"}},
         "x\u0301\u0302 x\u0301",
         "x\u0301\u0302 y"},
        {"punctuation edge still needs no boundary", {{"c++", "C"}}, "c++\u0301", "C\u0301"},
    });
}

TEST(Replacements, CapitalCarriesOverOnlyToLowerCasePhrasesAndWords) {
    check({
        {"lower-case phrase", {btw}, "Btw", "By the way"},
        {"whole match in capitals", {btw}, "BTW", "By the way"},
        {"lower-case single word", {{"ok", "okay"}}, "Ok OK ok", "Okay Okay okay"},
        {"brand name kept", {{"iphone", "iPhone"}}, "Iphone", "iPhone"},
        {"rule phrase starts with a capital", {{"Btw", "by the way"}}, "Btw", "by the way"},
        {"replacement starts with a capital", {{"btw", "By the way"}}, "btw", "By the way"},
        {"replacement starts with a digit", {{"two", "2 things"}}, "Two", "2 things"},
        {"one character becomes two", {{"sz", "ßz"}}, "Sz", "SSz"},
        {"Russian", {{"спс", "спасибо"}}, "Спс", "Спасибо"},
        {"Russian brand kept", {{"вк", "вКонтакте"}}, "Вк", "вКонтакте"},
        {"decomposed capital", {{"école", "école normale"}}, "E\u0301cole", "École normale"},
    });
}

TEST(Replacements, LongestPhraseWinsAndTheFirstOfEqualPhrasesStays) {
    const Replacement shortRule{"new", "old"};
    const Replacement longRule{"new york", "NYC"};
    check({
        {"short rule first", {shortRule, longRule}, "new york is new", "NYC is old"},
        {"long rule first", {longRule, shortRule}, "new york is new", "NYC is old"},
        // Five characters in eight UTF-16 units against six in six: characters decide.
        {"length in characters",
         {{"ж\r\n\r\n\r\nж", "units"}, {"ж    ж", "characters"}},
         "ж ж",
         "characters"},
        {"duplicate in other case",
         {{"Btw", "first"}, {"btw", "second"}},
         "btw BTW Btw",
         "first first first"},
        {"duplicate after trimming", {{"btw ", "first"}, {" BTW", "second"}}, "btw", "first"},
        {"equal length keeps list order", {{"ab", "1"}, {"AB", "2"}, {"cd", "3"}}, "ab cd", "1 3"},
    });
}

TEST(Replacements, DeletionTakesOneNeighbouringBlank) {
    check({
        {"blank after goes", {um}, "so um yes", "so yes"},
        {"blank before goes", {um}, "so um.", "so."},
        {"at the end", {um}, "so um", "so"},
        {"at the start, nothing to take", {um}, "um, so", ", so"},
        {"at the start, blank after", {um}, "um so", "so"},
        {"only the word", {um}, "um", ""},
        {"tab", {um}, "so\tum\tyes", "so\tyes"},
        {"no-break space", {um}, "so\u00A0um.", "so."},
        {"line break is no blank", {um}, "so\num.", "so\n."},
        {"not after a blank", {um}, "(um) so", "() so"},
        {"emoji after keeps the blank before", {um}, "so um😀", "so 😀"},
        {"CJK punctuation after", {um}, "so um。", "so。"},
        {"Russian", {{"ну", ""}}, "да ну нет", "да нет"},
        {"phrase", {{"you know", ""}}, "it you  know works", "it works"},
        {"phrase before a comma", {{"you know", ""}}, "it, you know, works", "it,, works"},
        {"next to a replacement", {um, btw}, "um btw", "by the way"},
    });
}

// Written naively, the second "um" grows left over the blank the first one already took and
// is then skipped whole, leaving a word the user asked to delete.
TEST(Replacements, RepeatedDeletedWordGoesWhole) {
    check({
        {"twice at the end", {um}, "so um um", "so"},
        {"twice before a full stop", {um}, "um um.", "."},
        {"twice before a comma", {um}, "so um um, ok", "so, ok"},
        {"three times alone", {um}, "um um um", ""},
        {"three times after a word", {um}, "so um um um", "so"},
        {"twice in the middle", {um}, "so um um yes", "so yes"},
    });
}

TEST(Replacements, ReplacementTextIsInsertedLiterally) {
    check({
        {"dollar and digit", {{"price", "$1"}}, "the price", "the $1"},
        {"backslashes", {{"path", "C:\\temp\\$0 \\1"}}, "path", "C:\\temp\\$0 \\1"},
        {"ampersand", {{"and", "&"}}, "you and me", "you & me"},
    });
}

TEST(Replacements, TextIsUnchangedWhenNoRuleApplies) {
    check({
        {"no rules", {}, "so um yes", "so um yes"},
        {"only blank phrases", {{"  ", "x"}, {"\n", "y"}, {"", "z"}}, "so um", "so um"},
        {"empty text", {btw}, "", ""},
        {"no match", {btw}, "nothing here", "nothing here"},
        {"no match in decomposed text", {btw}, "cafe\u0301", "cafe\u0301"},
    });
}

TEST(Replacements, ComposedAndDecomposedSpellingsMatchEachOther) {
    check({
        {"decomposed text", {{"café", "coffee"}}, "cafe\u0301 au lait", "coffee au lait"},
        {"decomposed phrase", {{"cafe\u0301", "coffee"}}, "café au lait", "coffee au lait"},
        {"decomposed duplicate", {{"café", "first"}, {"CAFE\u0301", "second"}}, "Café", "First"},
    });
}

// The compiled expression is kept between calls; a changed list, even one that differs only in
// bytes, must never be answered with the previous list's rules.
TEST(Replacements, ChangedRuleListIsAppliedAtOnce) {
    const std::vector<Replacement> first{{"btw", "by the way"}};
    const std::vector<Replacement> changed{{"btw", "between"}};
    const std::vector<Replacement> decomposedTo{{"btw", "cafe\u0301"}};
    const std::vector<Replacement> composedTo{{"btw", "café"}};
    EXPECT_EQ(Replacements::apply(first, "btw"), "by the way");
    EXPECT_EQ(Replacements::apply(changed, "btw"), "between");
    EXPECT_EQ(Replacements::apply({}, "btw"), "btw");
    EXPECT_EQ(Replacements::apply(first, "btw"), "by the way");
    EXPECT_EQ(Replacements::apply(decomposedTo, "btw"), "cafe\u0301");
    EXPECT_EQ(Replacements::apply(composedTo, "btw"), "café");
}

TEST(Replacements, ThreadsApplyingDifferentListsEachGetTheirOwnRules) {
    const std::vector<Replacement> lists[2] = {{{"btw", "by the way"}, {"um", ""}},
                                               {{"btw", "between"}, {"so", "thus"}}};
    const std::string expected[2] = {"By the way, so yes", "Between, thus um yes"};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                const int which = (t + i) % 2;
                if (Replacements::apply(lists[which], "Btw, so um yes") != expected[which])
                    ++wrong;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
} // namespace talverin
