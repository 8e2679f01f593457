#include "TalverinPill/PillFace.h"

#include "TalverinPill/PillCopy.h"
#include "TalverinPill/PillLayout.h"
#include "fakes/PillMeasureFake.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace talverin {
namespace {

using Mark = PillFace::Mark;
using Text = PillFace::Text;
using Tone = PillFace::Tone;
using Kind = PillState::Kind;

struct Row {
    PillState state;
    const char* key;
    Mark mark;
    Text::Kind text;
    const char* labelEn; // the accessibility label
    const char* labelRu;
    std::optional<std::string> announcementEn;
};

const std::optional<std::string> none;

std::vector<Row> everyVisibleState() {
    return {
        {PillState::listening("hello there", 0.5f), "listening", Mark::bars(), Text::Kind::live,
         "Listening\u2026", "Слушаю\u2026", none},
        {PillState::polishing(), "polishing", Mark::dots(), Text::Kind::label, "Polishing\u2026",
         "Шлифую текст\u2026", "Polishing\u2026"},
        {PillState::inserted("Notes"), "inserted", Mark::check(), Text::Kind::label,
         "Inserted, Ctrl+Z \u2013 undo", "Вставлено, Ctrl+Z \u2013 отменить", "Inserted in Notes"},
        {PillState::handsFree(75.5, "hi"), "handsFree", Mark::recording(), Text::Kind::live,
         "Hands-free, 1:15", "Без рук, 1:15", none},
        {PillState::voiceEdit(3), "voiceEdit.3", Mark::symbol("pencil", Tone::accent),
         Text::Kind::label, "What to change?, 3 words selected", "Что изменить?, выделено 3 слова",
         none},
        {PillState::copied(), "copied", Mark::symbol("doc.on.clipboard", Tone::neutral),
         Text::Kind::label, "Copied, Ctrl+V \u2013 paste", "Скопировано, Ctrl+V \u2013 вставить",
         "Copied. Ctrl+V \u2013 paste"},
        {PillState::learned("Talverin"), "learned.Talverin", Mark::symbol("sparkles", Tone::accent),
         Text::Kind::label, "Added to words, Talverin", "Добавлено в слова, Talverin",
         "Added to words: Talverin"},
        {PillState::offline(), "offline", Mark::symbol("wifi.slash", Tone::neutral),
         Text::Kind::label, "Offline, recognised on this computer",
         "Нет сети, распознано на этом компьютере", "Offline \u2013 recognised on this computer"},
        {PillState::silence(), "silence.Desk Mic", Mark::symbol("mic.slash", Tone::warn),
         Text::Kind::label, "Can\u2019t hear you, Desk Mic", "Вас не слышно, Desk Mic",
         "Can\u2019t hear you \u2013 Desk Mic"},
        {PillState::refused(RefuseReason::secureField), "refused.secureField",
         Mark::symbol("lock", Tone::warn), Text::Kind::label, "Not inserted, password field",
         "Не вставлено, поле пароля", "Not inserted \u2013 password field"},
        {PillState::limit(), "limit", Mark::symbol("hourglass", Tone::warn), Text::Kind::label,
         "Today\u2019s limit reached", "Лимит на сегодня исчерпан", "Today\u2019s limit reached"},
    };
}

TEST(PillFace, EveryStateInBothLanguages) {
    test::PillMeasureFake fonts;
    const auto rows = everyVisibleState();
    ASSERT_EQ(rows.size() + 1, allCases<Kind>().size()) << "every kind but hidden";
    for (PillLang lang : allCases<PillLang>()) {
        EXPECT_EQ(PillFace::make(PillState::hidden(), lang, " Desk Mic ", fonts.measure()),
                  std::nullopt);
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(toString(row.state.kind())) + " " +
                         std::string(toString(lang)));
            const auto face = PillFace::make(row.state, lang, " Desk Mic ", fonts.measure());
            ASSERT_TRUE(face);
            EXPECT_EQ(face->kind, row.state.kind());
            EXPECT_EQ(face->key, row.key) << "the key does not depend on the language";
            EXPECT_EQ(face->mark, row.mark);
            EXPECT_EQ(face->text.kind(), row.text);
            EXPECT_EQ(face->accessibilityLabel, lang == PillLang::en ? row.labelEn : row.labelRu);
            if (lang == PillLang::en)
                EXPECT_EQ(face->announcement, row.announcementEn);
            else if (row.announcementEn)
                EXPECT_EQ(face->announcement,
                          PillCopy(lang).announcement(row.state, std::string(" Desk Mic ")));
            else
                EXPECT_EQ(face->announcement, std::nullopt);
            EXPECT_GE(face->width, 132);
            EXPECT_LE(face->width, 420);
            EXPECT_EQ(std::fmod(face->width, 2), 0) << face->width;
            const bool handsFree = row.state.kind() == Kind::handsFree;
            EXPECT_EQ(face->stop(), handsFree);
            EXPECT_EQ(face->timer.has_value(), handsFree);
            EXPECT_EQ(face->text.kind() == Text::Kind::label && face->text.accentDetail(),
                      row.state.kind() == Kind::learned);
        }
    }
}

TEST(PillFace, LiveFacesCarryTheWordsTimerAndStop) {
    test::PillMeasureFake fonts;
    const auto listening =
        PillFace::make(PillState::listening("hello", 1), PillLang::ru, none, fonts.measure());
    EXPECT_EQ(listening->text, Text::live("hello", "Слушаю\u2026"));
    EXPECT_EQ(listening->width, 340);
    const auto handsFree = PillFace::make(PillState::handsFree(3600, "hi"), PillLang::ru,
                                          std::string("Mic"), fonts.measure());
    EXPECT_EQ(handsFree->text, Text::live("hi", "Слушаю\u2026"));
    EXPECT_EQ(handsFree->timer, "1:00:00");
    EXPECT_EQ(handsFree->stopLabel, "Остановить");
    EXPECT_EQ(handsFree->width, 380);
    // A ticking timer keeps the key, so the pill updates in place.
    const auto later = PillFace::make(PillState::handsFree(3601, "hi there"), PillLang::ru,
                                      std::string("Mic"), fonts.measure());
    EXPECT_EQ(later->key, handsFree->key);
    EXPECT_NE(*later, *handsFree);
}

TEST(PillFace, LabelDetailsFollowTheirPayloads) {
    test::PillMeasureFake fonts;
    auto make = [&](const PillState& state, std::optional<std::string> microphone = none) {
        return *PillFace::make(state, PillLang::en, microphone, fonts.measure());
    };
    const PillFace noWords = make(PillState::voiceEdit(0));
    EXPECT_EQ(noWords.key, "voiceEdit.0");
    EXPECT_EQ(noWords.text, Text::label("What to change?", none, false));
    EXPECT_EQ(noWords.accessibilityLabel, "What to change?");
    EXPECT_EQ(make(PillState::voiceEdit(-4)).key, "voiceEdit.-4");

    const PillFace blankWord = make(PillState::learned(" \n\t "));
    EXPECT_EQ(blankWord.key, "learned.");
    EXPECT_EQ(blankWord.text, Text::label("Added to words", none, true));
    EXPECT_EQ(blankWord.accessibilityLabel, "Added to words");
    const PillFace paddedWord = make(PillState::learned("\u00A0Talverin\n"));
    EXPECT_EQ(paddedWord.key, "learned.Talverin");
    EXPECT_EQ(paddedWord.text, Text::label("Added to words", "Talverin", true));

    const PillFace noMic = make(PillState::silence(), std::string("   "));
    EXPECT_EQ(noMic.key, "silence.check the microphone");
    EXPECT_EQ(noMic.text, Text::label("Can\u2019t hear you", "check the microphone", false));

    const PillFace speech = make(PillState::refused(RefuseReason::noSpeechRecognition));
    EXPECT_EQ(speech.key, "refused.noSpeechRecognition");
    EXPECT_EQ(speech.mark, Mark::symbol("exclamationmark", Tone::warn));
    const PillFace empty = make(PillState::refused(RefuseReason::empty));
    EXPECT_EQ(empty.text, Text::label("Nothing to insert", none, false));
    EXPECT_EQ(empty.accessibilityLabel, "Nothing to insert");
    EXPECT_EQ(make(PillState::refused(RefuseReason::editFailed)).mark,
              Mark::symbol("exclamationmark", Tone::warn));

    // The application's name reaches the announcement only.
    EXPECT_EQ(make(PillState::inserted("Notes")), [&] {
        PillFace other = make(PillState::inserted("Mail"));
        other.announcement = "Inserted in Notes";
        return other;
    }());
}

TEST(PillFace, LabelWidthRoundsEachTextUpThenToEvenWithinTheBounds) {
    test::PillMeasureFake fonts;
    fonts.widths = {{"Inserted", 50.1}, {"Ctrl+Z \u2013 undo", 61.1}, {"wide", 380}};
    const auto measure = fonts.unrounded();
    // 48 + 51 + (62 + 8) + 18 = 187, up to 188.
    EXPECT_EQ(PillFace::labelWidth(Mark::check(), "Inserted", "Ctrl+Z \u2013 undo", measure), 188);
    EXPECT_EQ(PillFace::labelWidth(Mark::dots(), "", none, measure), 132);
    EXPECT_EQ(PillFace::labelWidth(Mark::check(), "Inserted", std::string(), measure), 132)
        << "an empty detail adds no gap";
    EXPECT_EQ(PillFace::labelWidth(Mark::check(), "wide", "Inserted", measure), 420);

    fonts.calls.clear();
    PillFace::labelWidth(Mark::check(), "Title", "detail", measure);
    ASSERT_EQ(fonts.calls.size(), 2u);
    EXPECT_EQ(fonts.calls[0].size, 13.5);
    EXPECT_EQ(fonts.calls[0].weight, 600);
    EXPECT_EQ(fonts.calls[1].weight, 500);
    EXPECT_FALSE(fonts.calls[0].tabular || fonts.calls[1].tabular);

    struct MarkRow {
        Mark mark;
        double markWidth;
        double lead;
    };
    const MarkRow marks[] = {
        {Mark::bars(), 39, 63},
        {Mark::dots(), 23, 47},
        {Mark::check(), 24, 48},
        {Mark::recording(), 16, 40},
        {Mark::symbol("lock", Tone::warn), 24, 48},
    };
    for (const MarkRow& row : marks) {
        EXPECT_EQ(PillFace::markWidth(row.mark), row.markWidth);
        EXPECT_EQ(PillFace::leadWidth(row.mark), row.lead);
    }
    EXPECT_EQ(PillLayout::pillWidth(131), 132);
    EXPECT_EQ(PillLayout::pillWidth(200.2), 202);
    EXPECT_EQ(PillLayout::pillWidth(201), 202);
    EXPECT_EQ(PillLayout::pillWidth(421), 420);
}

TEST(PillFace, LiveWidthIsWhatTheMarkTimerAndStopLeave) {
    test::PillMeasureFake fonts;
    fonts.widths = {{"00:00", 43.2}};
    const auto measure = fonts.unrounded();
    EXPECT_EQ(PillLayout::timerWidth(measure), 44);
    ASSERT_FALSE(fonts.calls.empty());
    EXPECT_TRUE(fonts.calls.back().tabular);
    EXPECT_EQ(fonts.calls.back().weight, 600);

    const auto listening = PillFace::make(PillState::listening("", 0), PillLang::en, none, measure);
    EXPECT_EQ(listening->liveWidth(measure), 340 - 63 - 18);
    const auto handsFree = PillFace::make(PillState::handsFree(5, ""), PillLang::en, none, measure);
    EXPECT_EQ(handsFree->liveWidth(measure), 380 - (40 + 44 + 10) - 48);
    const auto label = PillFace::make(PillState::polishing(), PillLang::en, none, measure);
    EXPECT_EQ(label->liveWidth(measure), std::nullopt);
    PillFace narrow = *handsFree;
    narrow.width = 50;
    EXPECT_EQ(narrow.liveWidth(measure), 0);
}

} // namespace
} // namespace talverin
