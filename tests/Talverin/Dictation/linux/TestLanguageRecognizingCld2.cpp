#include "Talverin/Dictation/linux/LanguageRecognizingCld2.h"

#include "Talverin/Dictation/DictationLanguage.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace talverin::test {
namespace {

// Short phrases are the whole point: CLD2's plain detection calls all of these English.
TEST(LanguageRecognizingCld2, NamesShortRussianAndEnglishPhrasesAndNothingForNoLetters) {
    struct Row {
        std::string text;
        std::optional<std::string> language;
    };
    const Row rows[] = {
        {"Где ты?", "ru"},
        {"Что это", "ru"},
        {"Давай пойдём", "ru"},
        {"Where are you?", "en"},
        {"Good morning everybody", "en"},
        {"", std::nullopt},
        {"12345, 678!", std::nullopt},
        // Ill-formed UTF-8 is repaired, not given up on.
        {"\xff\xfe Где ты", "ru"},
    };
    LanguageRecognizingCld2 recognizer;
    for (const Row& row : rows)
        EXPECT_EQ(recognizer.dominantLanguage(row.text), row.language) << row.text;
}

// The guard's own edge cases with the real recogniser behind them.
TEST(LanguageRecognizingCld2, DrivesTheLanguageGuard) {
    struct Row {
        DictateResult answer;
        std::optional<std::string> local;
        std::optional<DictationLanguage::Recovery> verdict;
    };
    using Recovery = DictationLanguage::Recovery;
    const Row rows[] = {
        {{"Where are you?", "Где ты?", 0, std::nullopt}, std::nullopt, Recovery::fromRaw()},
        {{"Let's go now", "Давай пойдём", 0, std::nullopt}, std::nullopt, Recovery::fromRaw()},
        {{"Good morning everybody", "good morning everybody", 0, "ru"},
         "Доброе утро всем",
         Recovery::fromLocal("Доброе утро всем")},
        {{"Good morning everybody", "good morning everybody", 0, "en"},
         "Доброе утро всем",
         std::nullopt},
        {{"Thanks.", "Спасибо", 0, "ru"}, "Спасибо", std::nullopt},
    };
    LanguageRecognizingCld2 recognizer;
    for (const Row& row : rows)
        EXPECT_EQ(DictationLanguage::recovery(row.answer, row.local, recognizer), row.verdict)
            << row.answer.text;
}

} // namespace
} // namespace talverin::test
