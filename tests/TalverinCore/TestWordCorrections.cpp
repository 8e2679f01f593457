#include "TalverinCore/WordCorrections.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace talverin {
namespace {

struct Case {
    const char* name;
    std::string original;
    std::string edited;
    std::optional<Replacement> expected;
};

TEST(WordCorrections, OneChangedWordAndNothingElseIsLearned) {
    const std::string letters64(64, 'a');
    const std::string letters65(65, 'a');
    const Case cases[] = {
        {"capital", "see you in paris", "see you in Paris", Replacement{"paris", "Paris"}},
        {"apostrophe joins a word", "its fine", "it's fine", Replacement{"its", "it's"}},
        {"typographic apostrophe", "its fine", "it’s fine", Replacement{"its", "it’s"}},
        {"hyphen joins a word", "an email", "an e-mail", Replacement{"email", "e-mail"}},
        {"first word", "Their here", "They're here", Replacement{"Their", "They're"}},
        {"Russian", "привет мир", "привет Мир", Replacement{"мир", "Мир"}},
        {"CJK run is one word", "東京に行く。", "大阪に行く。",
         Replacement{"東京に行く", "大阪に行く"}},
        {"underscore is part of a word", "call my_func", "call my_fn",
         Replacement{"my_func", "my_fn"}},
        {"64 characters", "x " + letters64, "x b" + letters64.substr(1),
         Replacement{letters64, "b" + letters64.substr(1)}},
        {"equal texts", "see you", "see you", std::nullopt},
        {"a word and a comma", "see you in paris", "see you, in Paris", std::nullopt},
        {"two words", "see you in paris", "see them in Paris", std::nullopt},
        {"a word inserted", "see you", "see you soon", std::nullopt},
        {"a word deleted", "see you soon", "see you", std::nullopt},
        {"only punctuation", "ok.", "ok!", std::nullopt},
        {"only spacing", "see you", "see  you", std::nullopt},
        {"65 characters", "x " + letters65, "x b" + letters65.substr(1), std::nullopt},
        {"number without letters", "wait 10 minutes", "wait 12 minutes", std::nullopt},
        {"underscores without letters", "a __ b", "a _ b", std::nullopt},
        {"word count kept but a second change", "a b, c", "a x c", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<Replacement> learned =
            WordCorrections::replacement(c.original, c.edited);
        ASSERT_EQ(learned.has_value(), c.expected.has_value());
        if (learned) {
            EXPECT_EQ(learned->from, c.expected->from);
            EXPECT_EQ(learned->to, c.expected->to);
        }
    }
}

// A field may hand back decomposed text: an unchanged word must not be learned as a change,
// and a real correction is learned in composed form.
TEST(WordCorrections, DecomposedTextComparesByItsCharacters) {
    EXPECT_EQ(WordCorrections::replacement("café au lait", "cafe\u0301 au lait"), std::nullopt);
    EXPECT_EQ(WordCorrections::replacement("cafe\u0301 au lait", "café au lait"), std::nullopt);
    EXPECT_EQ(WordCorrections::replacement("café au lait", "cafe\u0301, au lait"), std::nullopt);

    const auto learned = WordCorrections::replacement("the cafe is open", "the cafe\u0301 is open");
    ASSERT_TRUE(learned.has_value());
    EXPECT_EQ(learned->from, "cafe");
    EXPECT_EQ(learned->to, "café") << "the composed spelling, byte for byte";

    const auto recased =
        WordCorrections::replacement("the cafe\u0301 is open", "the Cafe\u0301 is open");
    ASSERT_TRUE(recased.has_value());
    EXPECT_EQ(recased->from, "café");
    EXPECT_EQ(recased->to, "Café");
}

} // namespace
} // namespace talverin
