#include "Talverin/Dictation/DictationLanguage.h"

#include "Runtime/VirtualWorld.h"
#include "fakes/LanguageRecognizingFake.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <ostream>
#include <string>

namespace talverin::test {
namespace {

using Recovery = DictationLanguage::Recovery;

struct GuardCase {
    const char* name;
    std::string text; // the cloud's answer
    std::string raw;  // the service's raw transcript
    std::optional<std::string> language;
    std::optional<std::string> local; // the draft's confident final text
    std::optional<Recovery> verdict;
};

void PrintTo(const GuardCase& c, std::ostream* out) {
    *out << c.name;
}

// The recogniser knows these texts; anything else it cannot tell.
const std::map<std::string, std::optional<std::string>> kLanguages = {
    {"Where are you?", "en"},
    {"Где ты?", "ru"},
    {"Где ты", "ru"},
    {"Thanks.", "en"},
    {"Good morning everybody", "en"},
    {"Доброе утро всем", "ru"},
    {"Привет мир", "ru"},
    {"Где ты, скажи", "bg"},
    {"Où es-tu maintenant", "fr"},
    {"Let's go now", "en"},
    {"Давай пойдём", "ru"},
    {"Дава\u0438\u0306 пойдём", "ru"},
    {"Where now", "en"},
    {"Where are you now my friend", "en"},
    {"Where are you now my dear friend", "en"},
    {"Где ты сейчас мой дорогой друг", "ru"},
    {"Где ты сейчас мой милый дорогой друг", "ru"},
    {"Привет", "ru"},
    {"e\u0301 e\u0301 e\u0301", "en"},
    {"Where are you е\u0301", "en"},
};

const GuardCase kCases[] = {
    // What is never replaced.
    {"cyrillicInTheAnswer", "Где are you", "Где ты?", std::nullopt, std::nullopt, std::nullopt},
    {"noLatinLetters", "123, 456?!", "Где ты?", std::nullopt, std::nullopt, std::nullopt},
    {"oneEnglishWord", "Thanks.", "Спасибо", "ru", "Спасибо", std::nullopt},
    {"answerNotEnglish", "Où es-tu maintenant", "Где ты?", std::nullopt, std::nullopt,
     std::nullopt},
    // The raw transcript is Russian.
    {"rawWithACue", "Where are you?", "Где ты?", std::nullopt, std::nullopt, Recovery::fromRaw()},
    {"rawNotRecognisedAsRussian", "Where are you?", "Где ты, скажи", std::nullopt, std::nullopt,
     std::nullopt},
    {"rawWithoutACue", "Where are you?", "Привет мир", "ru", std::nullopt, std::nullopt},
    {"apostropheGivesTheCueWord", "Let's go now", "Давай пойдём", std::nullopt, std::nullopt,
     Recovery::fromRaw()},
    // Words are compared as the user reads them: "й" spelt with a combining breve is still "й".
    {"decomposedCueWord", "Let's go now", "Дава\u0438\u0306 пойдём", std::nullopt, std::nullopt,
     Recovery::fromRaw()},
    // The raw transcript is English too: only a confident Russian draft can stand in.
    {"noDraft", "Where are you?", "where are you", "ru", std::nullopt, std::nullopt},
    {"draftAndServiceHeardRussian", "Good morning everybody", "good morning everybody", "ru",
     "Доброе утро всем", Recovery::fromLocal("Доброе утро всем")},
    {"draftWithACue", "Where are you?", "where are you", std::nullopt, "Где ты",
     Recovery::fromLocal("Где ты")},
    {"draftWithoutACue", "Good morning everybody", "good morning everybody", "en",
     "Доброе утро всем", std::nullopt},
    {"draftOfOneWord", "Where are you?", "where are you", "ru", "Привет", std::nullopt},
    {"draftWithLatinLetters", "Where are you?", "where are you", "ru", "Где ты ok", std::nullopt},
    {"rawEmpty", "Where are you?", "", "ru", "Где ты", std::nullopt},
    {"rawWithoutLatinLetters", "Where are you?", "42", "ru", "Где ты", std::nullopt},
    // At most three times as many words either way, equality allowed.
    {"draftThreeTimesAsLong", "Where now", "where now", "ru", "Где ты сейчас мой дорогой друг",
     Recovery::fromLocal("Где ты сейчас мой дорогой друг")},
    {"draftMoreThanThreeTimesAsLong", "Where now", "where now", "ru",
     "Где ты сейчас мой милый дорогой друг", std::nullopt},
    {"answerThreeTimesAsLong", "Where are you now my friend", "where are you now my friend", "ru",
     "Где ты", Recovery::fromLocal("Где ты")},
    {"answerMoreThanThreeTimesAsLong", "Where are you now my dear friend",
     "where are you now my dear friend", "ru", "Где ты", std::nullopt},
    // Letters are judged as the user sees them: an "e" with a combining accent is one
    // character that is not ASCII, while a Russian letter is found even under a stress mark.
    {"accentedLatinIsNotAscii", "e\u0301 e\u0301 e\u0301", "where are you", "ru", "Где ты",
     std::nullopt},
    {"stressedRussianLetterCounts", "Where are you е\u0301", "Где ты?", std::nullopt, std::nullopt,
     std::nullopt},
};

class LanguageGuard : public ::testing::TestWithParam<GuardCase> {};

TEST_P(LanguageGuard, RecoversTheRussianWordsOnlyWhenEverythingPointsToThem) {
    const GuardCase& c = GetParam();
    VirtualWorld world; // the recogniser's log stamps its calls
    LanguageRecognizingFake recognizer;
    recognizer.answers = kLanguages;
    DictateResult answer{c.text, c.raw, 420, c.language};
    EXPECT_EQ(DictationLanguage::recovery(answer, c.local, recognizer), c.verdict);
    EXPECT_LE(recognizer.log.count("dominantLanguage"), 2u)
        << "the recogniser is asked twice at most";
}

INSTANTIATE_TEST_SUITE_P(Answers, LanguageGuard, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The character scans and token counts settle the plain cases without the recogniser.
TEST(LanguageGuard, AsksTheRecogniserOnlyOnceTheCheapChecksHavePassed) {
    VirtualWorld world;
    LanguageRecognizingFake recognizer;
    recognizer.fallback = "en";
    for (const char* text : {"Где are you", "123 456", "Thanks."}) {
        DictateResult answer{text, "Где ты?", 0, std::nullopt};
        EXPECT_EQ(DictationLanguage::recovery(answer, std::nullopt, recognizer), std::nullopt);
    }
    EXPECT_EQ(recognizer.log.count("dominantLanguage"), 0u);
}

} // namespace
} // namespace talverin::test
