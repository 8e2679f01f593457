#include "TalverinPill/PillCopy.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace talverin {
namespace {

TEST(PillLang, TheFirstPreferredLanguageDecidesAndOnlyRussianGivesRussian) {
    struct Row {
        std::vector<std::string> languages;
        PillLang expected;
    };
    const Row rows[] = {
        {{"ru-RU", "en"}, PillLang::ru},
        {{"en-RU", "ru"}, PillLang::en},
        {{"RU"}, PillLang::ru},
        {{"Ru-ua"}, PillLang::ru},
        {{}, PillLang::en},
        {{"r"}, PillLang::en},
        {{""}, PillLang::en},
        {{"uk", "ru"}, PillLang::en},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.languages.empty() ? "(none)" : row.languages.front());
        EXPECT_EQ(pillLangFrom(row.languages), row.expected);
    }
    EXPECT_EQ(fromString<PillLang>("ru"), PillLang::ru);
    EXPECT_EQ(fromString<PillLang>("RU"), std::nullopt);
    EXPECT_EQ(allCases<PillLang>(), (std::array{PillLang::en, PillLang::ru}));
}

// The language follows the environment as it is at each call, not as it was at the first.
TEST(PillLang, CurrentReadsThePreferredLanguagesOnEveryCall) {
    const char* saved = std::getenv("LANGUAGE");
    const std::string savedValue = saved ? saved : "";
    ::setenv("LANGUAGE", "ru_RU.UTF-8:en", 1);
    EXPECT_EQ(currentPillLang(), PillLang::ru);
    ::setenv("LANGUAGE", "en_GB:ru", 1);
    EXPECT_EQ(currentPillLang(), PillLang::en);
    if (saved)
        ::setenv("LANGUAGE", savedValue.c_str(), 1);
    else
        ::unsetenv("LANGUAGE");
}

// Every fixed text in both languages. The typographic characters are spelled as escapes, so
// an ASCII stand-in in the product's texts cannot pass by looking the same.
TEST(PillCopy, FixedTextsInBothLanguages) {
    struct Row {
        const char* name;
        std::string_view (PillCopy::*text)() const;
        const char* en;
        const char* ru;
    };
    const Row rows[] = {
        {"listening", &PillCopy::listening, "Listening\u2026", "Слушаю\u2026"},
        {"polishing", &PillCopy::polishing, "Polishing\u2026", "Шлифую текст\u2026"},
        {"inserted", &PillCopy::inserted, "Inserted", "Вставлено"},
        {"undoHint", &PillCopy::undoHint, "Ctrl+Z \u2013 undo", "Ctrl+Z \u2013 отменить"},
        {"voiceEdit", &PillCopy::voiceEdit, "What to change?", "Что изменить?"},
        {"copied", &PillCopy::copied, "Copied", "Скопировано"},
        {"pasteHint", &PillCopy::pasteHint, "Ctrl+V \u2013 paste", "Ctrl+V \u2013 вставить"},
        {"learned", &PillCopy::learned, "Added to words", "Добавлено в слова"},
        {"offline", &PillCopy::offline, "Offline", "Нет сети"},
        {"offlineDetail", &PillCopy::offlineDetail, "recognised on this computer",
         "распознано на этом компьютере"},
        {"silence", &PillCopy::silence, "Can\u2019t hear you", "Вас не слышно"},
        {"silenceNoMic", &PillCopy::silenceNoMic, "check the microphone", "проверьте микрофон"},
        {"limit", &PillCopy::limit, "Today\u2019s limit reached", "Лимит на сегодня исчерпан"},
        {"notInserted", &PillCopy::notInserted, "Not inserted", "Не вставлено"},
        {"stop", &PillCopy::stop, "Stop", "Остановить"},
        {"handsFree", &PillCopy::handsFree, "Hands-free", "Без рук"},
        {"hoverLead", &PillCopy::hoverLead, "Hold", "Держите"},
        {"micButton", &PillCopy::micButton, "Hands-free dictation", "Диктовка без рук"},
        {"menuMicrophone", &PillCopy::menuMicrophone, "Microphone", "Микрофон"},
        {"menuAutomatic", &PillCopy::menuAutomatic, "Automatic", "Авто"},
        {"menuHideForAnHour", &PillCopy::menuHideForAnHour, "Hide for an hour", "Скрыть на час"},
        {"menuResetSpot", &PillCopy::menuResetSpot, "Back to bottom centre",
         "Вернуть вниз по центру"},
        {"menuSettings", &PillCopy::menuSettings, "Settings\u2026", "Настройки\u2026"},
    };
    const PillCopy en(PillLang::en), ru(PillLang::ru);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ((en.*row.text)(), row.en);
        EXPECT_EQ((ru.*row.text)(), row.ru);
    }
}

// The hold keys by the names the settings pages give them, side first in both languages.
TEST(PillCopy, KeyNamesAreThisDesktopsKeyNamesWithTheSideFirst) {
    struct Row {
        HoldKey key;
        const char* en;
        const char* ru;
    };
    const Row rows[] = {
        {HoldKey::rightOption, "right Alt", "правый Alt"},
        {HoldKey::leftOption, "left Alt", "левый Alt"},
        {HoldKey::rightCommand, "right Super", "правый Super"},
        {HoldKey::leftCommand, "left Super", "левый Super"},
        {HoldKey::rightControl, "right Ctrl", "правый Ctrl"},
        {HoldKey::leftControl, "left Ctrl", "левый Ctrl"},
        {HoldKey::rightShift, "right Shift", "правый Shift"},
        {HoldKey::leftShift, "left Shift", "левый Shift"},
        {HoldKey::fn, "fn", "fn"},
        {HoldKey::f13, "F13", "F13"},
        {HoldKey::f20, "F20", "F20"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(toString(row.key));
        EXPECT_EQ(PillCopy::keyName(row.key, PillLang::en), row.en);
        EXPECT_EQ(PillCopy::keyName(row.key, PillLang::ru), row.ru);
        EXPECT_EQ(PillCopy(PillLang::ru).hoverKey(row.key), row.ru);
    }
}

TEST(PillCopy, RussianPluralReadsTheLastTwoDigitsOfAnyNumber) {
    struct Row {
        std::int64_t n;
        const char* form;
    };
    constexpr auto smallest = std::numeric_limits<std::int64_t>::min();
    constexpr auto largest = std::numeric_limits<std::int64_t>::max();
    const Row rows[] = {
        {1, "one"},
        {21, "one"},
        {101, "one"},
        {1001, "one"},
        {-1, "one"},
        {-21, "one"},
        {2, "few"},
        {3, "few"},
        {4, "few"},
        {22, "few"},
        {104, "few"},
        {-3, "few"},
        {0, "many"},
        {5, "many"},
        {11, "many"},
        {12, "many"},
        {13, "many"},
        {14, "many"},
        {25, "many"},
        {111, "many"},
        {112, "many"},
        {-11, "many"},
        {-14, "many"},
        {smallest, "many"},    // ...808
        {smallest + 7, "one"}, // ...801
        {largest, "many"},     // ...807
        {largest - 5, "few"},  // ...802
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.n);
        EXPECT_EQ(PillCopy::russianPlural(row.n, "one", "few", "many"), row.form);
    }
}

TEST(PillCopy, SelectedWordsNeedAtLeastOneAndAgreeWithTheCount) {
    const PillCopy en(PillLang::en), ru(PillLang::ru);
    for (std::int64_t none :
         {std::int64_t{0}, std::int64_t{-3}, std::numeric_limits<std::int64_t>::min()}) {
        EXPECT_EQ(en.selected(none), std::nullopt);
        EXPECT_EQ(ru.selected(none), std::nullopt);
    }
    EXPECT_EQ(en.selected(1), "1 word selected");
    EXPECT_EQ(en.selected(2), "2 words selected");
    EXPECT_EQ(en.selected(21), "21 words selected");
    EXPECT_EQ(ru.selected(1), "выделено 1 слово");
    EXPECT_EQ(ru.selected(11), "выделено 11 слов");
    EXPECT_EQ(ru.selected(21), "выделено 21 слово");
    EXPECT_EQ(ru.selected(22), "выделено 22 слова");
}

TEST(PillCopy, TimerFloorsAndClampsEveryDouble) {
    struct Row {
        double seconds;
        const char* text;
    };
    constexpr double inf = std::numeric_limits<double>::infinity();
    const Row rows[] = {
        {0, "0:00"},
        {59.9, "0:59"},
        {60, "1:00"},
        {3599, "59:59"},
        {3599.999, "59:59"},
        {3600, "1:00:00"},
        {36061, "10:01:01"},
        {-5, "0:00"},
        {-1e300, "0:00"},
        {std::nan(""), "0:00"},
        {inf, "0:00"},
        {-inf, "0:00"},
        {1e300, "596523:14:07"},
        {2147483647.0, "596523:14:07"},
        {std::numeric_limits<double>::max(), "596523:14:07"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.seconds);
        EXPECT_EQ(PillCopy::timer(row.seconds), row.text);
    }
}

TEST(PillCopy, SilenceDetailNamesTheTrimmedMicrophoneOrAsksToCheckIt) {
    const PillCopy en(PillLang::en), ru(PillLang::ru);
    EXPECT_EQ(en.silenceDetail(std::string(" \t Studio Mic\n")), "Studio Mic");
    EXPECT_EQ(en.silenceDetail(std::string("   ")), "check the microphone");
    EXPECT_EQ(en.silenceDetail(std::string("\u2028\u00A0")), "check the microphone");
    EXPECT_EQ(ru.silenceDetail(std::nullopt), "проверьте микрофон");
}

TEST(PillCopy, RefusalsHaveTheirTitlesAndDetails) {
    struct Row {
        RefuseReason reason;
        PillCopy::Refusal en;
        PillCopy::Refusal ru;
    };
    const Row rows[] = {
        {RefuseReason::secureField,
         {"Not inserted", "password field"},
         {"Не вставлено", "поле пароля"}},
        {RefuseReason::elementChanged,
         {"Not inserted", "the field changed"},
         {"Не вставлено", "поле сменилось"}},
        {RefuseReason::noAccessibility,
         {"Not inserted", "allow Accessibility"},
         {"Не вставлено", "нужен Универсальный доступ"}},
        {RefuseReason::editFailed,
         {"Couldn\u2019t change it", "selection kept"},
         {"Не удалось изменить", "выделение не тронуто"}},
        {RefuseReason::empty,
         {"Nothing to insert", std::nullopt},
         {"Нечего вставить", std::nullopt}},
        {RefuseReason::noSpeechRecognition,
         {"Not inserted", "allow Speech Recognition"},
         {"Не вставлено", "нужно Распознавание речи"}},
    };
    ASSERT_EQ(std::size(rows), allCases<RefuseReason>().size());
    for (const Row& row : rows) {
        SCOPED_TRACE(toString(row.reason));
        EXPECT_EQ(PillCopy(PillLang::en).refused(row.reason), row.en);
        EXPECT_EQ(PillCopy(PillLang::ru).refused(row.reason), row.ru);
    }
}

TEST(PillCopy, EveryStateAnnouncesInBothLanguages) {
    struct Row {
        PillState state;
        std::optional<std::string> en;
        std::optional<std::string> ru;
    };
    const std::optional<std::string> none;
    const Row rows[] = {
        {PillState::hidden(), none, none},
        {PillState::listening("hello", 0.4f), none, none},
        {PillState::polishing(), "Polishing\u2026", "Шлифую текст\u2026"},
        {PillState::inserted(" Notes\n"), "Inserted in Notes", "Вставлено в Notes"},
        {PillState::inserted(" \n "), "Inserted", "Вставлено"},
        {PillState::handsFree(12, "hello"), none, none},
        {PillState::voiceEdit(3), none, none},
        {PillState::copied(), "Copied. Ctrl+V \u2013 paste", "Скопировано. Ctrl+V \u2013 вставить"},
        {PillState::learned("Talverin"), "Added to words: Talverin", "Добавлено в слова: Talverin"},
        {PillState::offline(), "Offline \u2013 recognised on this computer",
         "Нет сети \u2013 распознано на этом компьютере"},
        {PillState::silence(), "Can\u2019t hear you \u2013 Desk Mic",
         "Вас не слышно \u2013 Desk Mic"},
        {PillState::refused(RefuseReason::secureField), "Not inserted \u2013 password field",
         "Не вставлено \u2013 поле пароля"},
        {PillState::refused(RefuseReason::empty), "Nothing to insert", "Нечего вставить"},
        {PillState::limit(), "Today\u2019s limit reached", "Лимит на сегодня исчерпан"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(toString(row.state.kind()));
        EXPECT_EQ(PillCopy(PillLang::en).announcement(row.state, " Desk Mic "), row.en);
        EXPECT_EQ(PillCopy(PillLang::ru).announcement(row.state, " Desk Mic "), row.ru);
    }
    EXPECT_EQ(PillCopy(PillLang::en).announcement(PillState::silence(), std::nullopt),
              "Can\u2019t hear you \u2013 check the microphone");
}

} // namespace
} // namespace talverin
