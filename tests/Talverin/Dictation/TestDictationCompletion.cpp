#include "Talverin/Dictation/DictationController.h"

#include "DictationRig.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace talverin::test {
namespace {

using Kind = DictationPhase::Kind;
using Lines = std::vector<std::string>;
constexpr double T0 = DictationRig::T0;

const Wire::Permissions kAllGranted{Wire::PermissionState::granted, Wire::PermissionState::granted,
                                    Wire::PermissionState::granted};

CapturedClip clip(bool speech, std::int64_t ms = 1000) {
    return CapturedClip(std::vector<float>(1600, speech ? 0.3f : 0.0f), speech, ms);
}

DictationContext field(const std::string& before = "Hello", const std::string& selection = "") {
    DictationContext context;
    context.appName = "Notes";
    context.before = before;
    context.selection = selection;
    context.isEditable = true;
    return context;
}

// --- Every way a dictation can end ---

struct OutcomeCase {
    const char* name;
    double release; // when the key goes up, after the press at T0
    bool speech;
    DictationContext context;
    double contextLatency = 0; // from the key-down read
    bool blind = false;        // secure input was on at key-down
    bool popover = false;      // the popover was open at key-down: the pill waits 0.45 s
    std::string draft = "hello world";
    std::vector<Replacement> rules = {};
    bool speechGranted = true;
    std::optional<DictateReply> cloud = std::nullopt;
    std::optional<InsertOutcome> insertAnswer = std::nullopt;
    // Expected.
    const char* outcome = "";
    PillState pill = PillState(); // on screen once the dictation has ended
    std::optional<std::string> inserted = std::nullopt;
    std::optional<bool> recordInserted = std::nullopt; // none: no onDictated
    Lines ticks = {};
    Lines learned = {};
};

void PrintTo(const OutcomeCase& c, std::ostream* out) {
    *out << c.name;
}

const DictationContext kSecure = DictationRig::secureContext();

OutcomeCase row(const char* name, double release, bool speech, const char* outcome,
                PillState pill) {
    OutcomeCase c{name, release, speech, field()};
    c.outcome = outcome;
    c.pill = std::move(pill);
    return c;
}

std::vector<OutcomeCase> outcomeCases() {
    std::vector<OutcomeCase> cases;
    // No speech.
    auto c = row("silence", 1.0, false, "silence", PillState::silence());
    c.ticks = {"play start", "play stop"};
    cases.push_back(c);
    c = row("silenceBeforeThePill", 0.3, false, "silence", PillState::silence());
    c.popover = true;
    cases.push_back(c); // no pill was shown: no stop tick
    c = row("tap", 0.1, false, "tap", PillState::hidden());
    c.ticks = {"play start"};
    cases.push_back(c);
    c = row("secureInput", 1.0, false, "no speech (secure input)", PillState::hidden());
    c.blind = true;
    c.ticks = {"play start"};
    cases.push_back(c);
    // A secure field found while finishing.
    c = row("secureField", 1.0, true, "refused(secureField)",
            PillState::refused(RefuseReason::secureField));
    c.context = kSecure;
    c.contextLatency = 1.1;
    c.ticks = {"play start", "play stop"};
    cases.push_back(c);
    c = row("secureFieldTap", 0.1, true, "tap (secureField)", PillState::hidden());
    c.context = kSecure;
    c.contextLatency = 0.6;
    c.ticks = {"play start", "play stop"};
    cases.push_back(c);
    // Nothing left after the text rules.
    c = row("emptyAfterRules", 1.0, true, "refused(empty)",
            PillState::refused(RefuseReason::empty));
    c.draft = "um";
    c.rules = {{"um", ""}};
    c.ticks = {"play start", "play stop"};
    cases.push_back(c);
    c = row("emptyWithoutSpeechRecognition", 1.0, true, "refused(noSpeechRecognition)",
            PillState::refused(RefuseReason::noSpeechRecognition));
    c.draft = " \n ";
    c.speechGranted = false;
    c.ticks = {"play start", "play stop"};
    cases.push_back(c);
    // The inserter's answers: each is recorded.
    c = row("inserted", 1.0, true, "inserted", PillState::inserted("Notes"));
    c.inserted = " hello world";
    c.recordInserted = true;
    c.ticks = {"play start", "play stop", "play inserted"};
    c.learned = {" hello world"};
    cases.push_back(c);
    c = row("insertedWithoutThePill", 0.3, true, "inserted", PillState::inserted("Notes"));
    c.popover = true;
    c.inserted = " hello world";
    c.recordInserted = true;
    c.ticks = {"play inserted"};
    c.learned = {" hello world"};
    cases.push_back(c);
    c = row("copied", 1.0, true, "copied", PillState::copied());
    c.insertAnswer = InsertOutcome::copiedOnly();
    c.inserted = " hello world";
    c.recordInserted = false;
    c.ticks = {"play start", "play stop"};
    cases.push_back(c);
    c = row("refusedByTheInserter", 1.0, true, "refused(elementChanged)",
            PillState::refused(RefuseReason::elementChanged));
    c.insertAnswer = InsertOutcome::refused(RefuseReason::elementChanged);
    c.inserted = " hello world";
    c.recordInserted = false;
    c.ticks = {"play start", "play stop"};
    cases.push_back(c);
    // A voice edit replaces the selection: neither joined nor learned from.
    c = row("voiceEdit", 1.0, true, "inserted", PillState::inserted("Notes"));
    c.context = field("Hello", "old words");
    c.cloud = DictateResult{"New words", "new words", 90, "en"};
    c.inserted = "New words";
    c.recordInserted = true;
    c.ticks = {"play start", "play stop", "play inserted"};
    cases.push_back(c);
    return cases;
}

class Completion : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(Completion, EndsEachWayWithItsPillItsRecordsItsTicksAndItsLine) {
    const OutcomeCase& c = GetParam();
    DictationRig rig([&c](Services& services) { services.secureInput = [&c] { return c.blind; }; });
    rig.popoverOpen = c.popover;
    rig.settings.replacements = c.rules;
    rig.permissions->set(c.speechGranted ? kAllGranted : Wire::Permissions{});
    rig.reader->answers.push(c.context, c.contextLatency);
    rig.mic->endAnswers.push(clip(c.speech));
    rig.liveDraft->finishAnswers.push(c.draft);
    if (c.cloud) {
        rig.cloud->configured = true;
        rig.cloud->answers.push(*c.cloud);
    }
    if (c.insertAnswer)
        rig.inserter->answers.push(*c.insertAnswer);
    rig.pressAt(T0);
    rig.releaseAt(T0 + c.release);
    // Every ending is over by T0 + 1.2, and no result pill has reached its hold time yet.
    rig.runTo(T0 + 1.2);

    EXPECT_EQ(rig.phase(), Kind::idle);
    Lines lines = rig.logLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("Dictation: " + std::string(c.outcome) + ", ", 0), 0u)
        << lines.back();
    EXPECT_EQ(rig.pill->current(), c.pill);
    if (c.pill == PillState::silence())
        EXPECT_EQ(rig.pill->microphoneName(), "Fake Microphone");
    Lines inserted;
    for (const auto& insertion : rig.inserter->insertions())
        inserted.push_back(insertion.text);
    EXPECT_EQ(inserted, c.inserted ? Lines{*c.inserted} : Lines{});
    if (c.recordInserted) {
        ASSERT_EQ(rig.dictated.size(), 1u);
        EXPECT_EQ(rig.dictated[0].item.inserted, *c.recordInserted);
        EXPECT_EQ(rig.dictated[0].item.mode,
                  c.context.selection.empty() ? DictationMode::clean : DictationMode::edit);
    } else {
        EXPECT_TRUE(rig.dictated.empty());
    }
    EXPECT_EQ(DictationRig::callsIn(rig.sounds->log, 0, T0 + 10), c.ticks);
    Lines learned;
    for (const auto& call : rig.shell.calls())
        if (call.name == "onInsertedForLearning")
            learned.push_back(call.args);
    EXPECT_EQ(learned, c.learned);
    EXPECT_EQ(DictationRig::callsIn(rig.shell, 0, T0 + 10).back(), "onActive false");
}

INSTANTIATE_TEST_SUITE_P(Outcomes, Completion, ::testing::ValuesIn(outcomeCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// --- The records handed to the shell ---

TEST(Completion, RecordsTheTextBeforeJoiningWithItsRawTextAndItsTimings) {
    DictationRig rig;
    std::vector<WallTime> recordedAt;
    rig.controller->onDictated = [&rig, &recordedAt](const DictationController::Dictated& d) {
        rig.dictated.push_back(d);
        recordedAt.push_back(Clock::now());
    };
    rig.settings.textMode = TextMode::verbatim;
    rig.settings.replacements = {{"world", "World"}};
    DictationContext context = field("Hello");
    context.bundleID = "org.gnome.TextEditor";
    rig.reader->answers.push(context);
    rig.mic->endAnswers.push(clip(true, 2400));
    rig.cloud->configured = true;
    // An empty raw transcript: the history keeps the text instead.
    rig.cloud->answers.push(DictateResult{"  one two three four five six World \n", "", 80, {}},
                            0.3);
    rig.pressAt(T0);
    rig.releaseAt(T0 + 2);
    rig.runTo(T0 + 3);

    ASSERT_EQ(rig.dictated.size(), 1u);
    const auto& record = rig.dictated[0];
    EXPECT_EQ(record.item.id.size(), 36u);
    EXPECT_EQ(record.item.id, Unicode::lower(record.item.id));
    EXPECT_EQ(record.item.date, Wire::Date(recordedAt[0]));
    EXPECT_EQ(record.item.appName, "Notes");
    EXPECT_EQ(record.item.bundleID, "org.gnome.TextEditor");
    EXPECT_EQ(record.item.clean, "one two three four five six World");
    EXPECT_EQ(record.item.raw, "one two three four five six World");
    EXPECT_TRUE(record.item.inserted);
    EXPECT_EQ(record.item.mode, DictationMode::verbatim);
    EXPECT_EQ(record.tryResult,
              (Wire::TryDictationResult{"one two three four five six World",
                                        "one two three four five six World", 300, false, 175}));
    EXPECT_EQ(rig.inserter->insertions().at(0).text, " one two three four five six World");

    // A field that names no application identifier is recorded with an empty one; a short
    // clip has no rate, and the draft's text marks the record offline.
    rig.reader->answers.push(field(""));
    rig.mic->endAnswers.push(clip(true, 900));
    rig.cloud->configured = false;
    rig.liveDraft->finishAnswers.push("draft text");
    rig.pressAt(T0 + 4);
    rig.releaseAt(T0 + 5);
    rig.runTo(T0 + 6);
    ASSERT_EQ(rig.dictated.size(), 2u);
    EXPECT_EQ(rig.dictated[1].item.bundleID, "");
    EXPECT_EQ(rig.dictated[1].item.raw, "draft text");
    EXPECT_TRUE(rig.dictated[1].tryResult.offline);
    EXPECT_EQ(rig.dictated[1].tryResult.wordsPerMinute, std::nullopt);
}

// --- Waiting for the context ---

struct ContextCase {
    const char* name;
    bool popover; // open at key-down; the target never comes back, so the read starts late
    double release;
    double readLatency;
    bool known;      // the insertion has the field, not the unknown context
    double insertAt; // from the press
};

void PrintTo(const ContextCase& c, std::ostream* out) {
    *out << c.name;
}

class ContextWait : public ::testing::TestWithParam<ContextCase> {};

// Once the clip is in, the context is waited for 0.6 s; when its read had not even begun (the
// popover was open and the target is slow to come back), 1.1 s.
TEST_P(ContextWait, GivesUpAfterItsTimeAndGoesOnWithoutTheField) {
    const ContextCase& c = GetParam();
    DictationRig rig;
    rig.popoverOpen = c.popover;
    rig.targetIsReady = !c.popover;
    rig.reader->answers.push(field(), c.readLatency);
    rig.mic->endAnswers.push(clip(true));
    rig.liveDraft->finishAnswers.push("hello world");
    rig.pressAt(T0);
    rig.releaseAt(T0 + c.release);
    rig.runTo(T0 + 3);

    ASSERT_EQ(rig.inserter->insertions().size(), 1u);
    const auto& insertion = rig.inserter->insertions()[0];
    // The target's polls may end one period later than the exact sum of their steps.
    EXPECT_NEAR(insertion.time - T0, c.insertAt, 0.021);
    EXPECT_EQ(insertion.context, c.known ? field() : DictationContext::unknown());
    // Without the field nothing is known of the text before the caret: no space in front.
    EXPECT_EQ(insertion.text, c.known ? " hello world" : "hello world");
}

const ContextCase kContexts[] = {
    {"readInTime", false, 1.0, 1.5, true, 1.5},
    {"readTooLate", false, 1.0, 2.0, false, 1.6},
    // Released at 0.3 s, before the cautious pill: the completion closes the popover, waits
    // 0.5 s for the target in vain, and reads from 0.8 s.
    {"lateReadInTime", true, 0.3, 0.5, true, 1.3},
    {"lateReadTooLate", true, 0.3, 0.7, false, 1.4},
};

INSTANTIATE_TEST_SUITE_P(Reads, ContextWait, ::testing::ValuesIn(kContexts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Session, SettlesItsContextOnceAndResumesItsWaitersInOrder) {
    VirtualWorld world;
    DictationSession session(1, T0, Settings());
    Lines order;
    for (const char* name : {"first", "second", "third"}) {
        Promise<DictationContext> waiter;
        session.waiters.push_back(waiter);
        waiter.future().then([&order, name](const DictationContext& context) {
            order.push_back(std::string(name) + " " + context.appName);
        });
    }
    session.setContext(field());
    session.setContext(std::nullopt); // too late: the answer stands
    world.runUntilIdle();
    EXPECT_EQ(order, (Lines{"first Notes", "second Notes", "third Notes"}));
    EXPECT_TRUE(session.waiters.empty());
    EXPECT_EQ(session.context, field());
}

// --- The target after the popover was opened during the finish ---

struct TargetCase {
    const char* name;
    bool openPopover;                 // the user opens the popover while the text is made
    std::optional<double> targetBack; // when the target is frontmost again
    double insertAt;
};

void PrintTo(const TargetCase& c, std::ostream* out) {
    *out << c.name;
}

class TargetWait : public ::testing::TestWithParam<TargetCase> {};

TEST_P(TargetWait, TheInsertionWaitsForTheTargetAtMostHalfASecond) {
    const TargetCase& c = GetParam();
    DictationRig rig;
    rig.reader->answers.push(field());
    rig.mic->endAnswers.push(clip(true));
    rig.cloud->configured = true;
    rig.cloud->answers.push(DictateResult{"Hello there", "hello there", 200, "en"}, 0.4);
    if (c.openPopover) {
        rig.at(T0 + 1.2, [&rig] {
            rig.popoverOpen = true;
            rig.targetIsReady = false;
        });
    }
    if (c.targetBack)
        rig.at(T0 + *c.targetBack, [&rig] { rig.targetIsReady = true; });
    rig.pressAt(T0);
    rig.releaseAt(T0 + 1);
    rig.runTo(T0 + 3);

    ASSERT_EQ(rig.inserter->insertions().size(), 1u);
    // The polls come every 0.02 s from the answer at T0 + 1.4; the last may come one period
    // later than the exact sum of their steps.
    EXPECT_NEAR(rig.inserter->insertions()[0].time - T0, c.insertAt, 0.021);
    EXPECT_EQ(rig.shell.count("closePopover"), c.openPopover ? 1u : 0u);
}

const TargetCase kTargets[] = {
    {"popoverStaysClosed", false, std::nullopt, 1.4},
    {"targetComesBack", true, 1.55, 1.56},
    {"targetNeverComesBack", true, std::nullopt, 1.9},
};

INSTANTIATE_TEST_SUITE_P(Targets, TargetWait, ::testing::ValuesIn(kTargets),
                         [](const auto& info) { return std::string(info.param.name); });

// --- The result pill ---

TEST(ResultPill, OutlivesItsDictationUntilItsHoldUnlessANewerStateCame) {
    DictationRig rig;
    for (int k = 0; k < 2; ++k) {
        rig.reader->answers.push(field());
        rig.mic->endAnswers.push(clip(true));
        rig.liveDraft->finishAnswers.push("hello world");
    }
    rig.pressAt(T0);
    rig.releaseAt(T0 + 1);
    rig.runTo(T0 + 2.09);
    EXPECT_EQ(rig.pill->current(), PillState::inserted("Notes"));
    rig.runTo(T0 + 2.11);
    EXPECT_EQ(rig.pill->current(), PillState::hidden()) << "inserted stays 1.1 s";

    // A press while the next result shows: its listening pill replaces the result, and the
    // result's hide does nothing to it.
    rig.pressAt(T0 + 4);
    rig.releaseAt(T0 + 5);
    rig.pressAt(T0 + 5.5);
    rig.runTo(T0 + 7);
    EXPECT_EQ(rig.pill->current().kind(), PillState::Kind::listening);
    EXPECT_EQ(rig.pill->log.count("hide"), 1u);
}

// --- The log line of a simulated dictation ---

// The same shapes as the known lines, with the timings the world implies.
TEST(DictationLine, ASimulatedTapAndHoldGiveTheTimingsOfTheirClock) {
    DictationRig rig;
    DictationContext context = field("");
    rig.reader->answers.push(context, 0.035);
    rig.mic->endAnswers.push(clip(false, 500), 0.006);
    rig.mic->deliverAfter(0.04, DictationRig::block(T0 + 0.04));
    rig.pressAt(T0);
    rig.releaseAt(T0 + 0.12); // a tap: it finishes when the double-tap wait ends, at 0.5 s
    rig.runTo(T0 + 1);
    EXPECT_EQ(rig.logLines().back(), "Dictation: tap, hold 500 ms, first audio 40 ms, pill 130 ms, "
                                     "context 35 ms, clip 500 ms, end 6 ms");

    const double t = T0 + 10;
    rig.cloud->configured = true;
    rig.flushLatency = 0.014;
    rig.reader->answers.push(context, 0.038);
    rig.mic->endAnswers.push(clip(true, 1990), 0.162);
    rig.mic->deliverAfter(t + 0.042 - Clock::uptime(), DictationRig::block(t + 0.042));
    rig.cloud->answers.push(
        DictateResult{"The quick brown fox jumped over the lazy dogs sleeping on grass.", "", 610,
                      "en"},
        0.82);
    rig.inserter->answers.push(InsertOutcome::inserted(), 0.071);
    rig.pressAt(t);
    rig.releaseAt(t + 1.84);
    rig.runTo(t + 5);
    EXPECT_EQ(rig.logLines().back(),
              "Dictation: inserted, mode clean, hold 1840 ms, first audio 42 ms, pill 130 ms, "
              "context 38 ms, clip 1990 ms, end 162 ms, cloud ok 820 ms (server 610 ms), "
              "flush 14 ms, release\u2192text 996 ms, insert 71 ms, 12 words, 64 chars");
}

// --- Inserting again ---

struct AgainCase {
    const char* name;
    InsertOutcome outcome;
    PillState pill;
    const char* line;
    Lines ticks;
};

void PrintTo(const AgainCase& c, std::ostream* out) {
    *out << c.name;
}

class InsertAgain : public ::testing::TestWithParam<AgainCase> {};

// The text goes in as it stands, joined to the text before the caret even where text is
// selected; the dictation's machinery is left alone.
TEST_P(InsertAgain, InsertsTheTextAsItStandsAndSaysHowItWent) {
    const AgainCase& c = GetParam();
    DictationRig rig;
    rig.settings.replacements = {{"again", "AGAIN"}};
    rig.reader->answers.push(field("Hello", "selected"), 0.05);
    rig.inserter->answers.push(c.outcome, 0.1);
    std::optional<Future<InsertOutcome>> answer;
    rig.at(T0, [&rig, &answer] { answer = rig.dictation().insertAgain("text again"); });
    rig.runTo(T0 + 1);

    ASSERT_TRUE(answer && answer->isReady());
    EXPECT_EQ(*answer->peek(), c.outcome);
    EXPECT_EQ(rig.logLines(), Lines{c.line});
    ASSERT_EQ(rig.inserter->insertions().size(), 1u);
    EXPECT_EQ(rig.inserter->insertions()[0].text, " text again");
    EXPECT_EQ(rig.inserter->log.count("prepare"), 0u);
    EXPECT_EQ(rig.shownKinds(), Lines{std::string(toString(c.pill.kind()))});
    EXPECT_EQ(rig.pill->current(), c.pill);
    EXPECT_EQ(DictationRig::callsIn(rig.sounds->log, 0, T0 + 10), c.ticks);
    EXPECT_EQ(rig.phase(), Kind::idle);
    EXPECT_EQ(rig.shell.calls().size(),
              rig.shell.count("targetReady") + rig.shell.count("closePopover"))
        << "no busy, no record, no learning";
}

const AgainCase kAgain[] = {
    {"inserted",
     InsertOutcome::inserted(),
     PillState::inserted("Notes"),
     "Dictation: insert again \u2192 inserted",
     {"play inserted"}},
    {"copiedOnly",
     InsertOutcome::copiedOnly(),
     PillState::copied(),
     "Dictation: insert again \u2192 copiedOnly",
     {}},
    {"refused",
     InsertOutcome::refused(RefuseReason::elementChanged),
     PillState::refused(RefuseReason::elementChanged),
     "Dictation: insert again \u2192 refused(TalverinCore.RefuseReason.elementChanged)",
     {}},
    {"refusedNoAccessibility",
     InsertOutcome::refused(RefuseReason::noAccessibility),
     PillState::refused(RefuseReason::noAccessibility),
     "Dictation: insert again \u2192 refused(TalverinCore.RefuseReason.noAccessibility)",
     {}},
};

INSTANTIATE_TEST_SUITE_P(Outcomes, InsertAgain, ::testing::ValuesIn(kAgain),
                         [](const auto& info) { return std::string(info.param.name); });

// With the popover open, the text waits until the target is back before its field is read.
TEST(InsertAgain, ClosesThePopoverAndReadsTheFieldOnceTheTargetIsBack) {
    DictationRig rig;
    rig.popoverOpen = true;
    rig.targetIsReady = false;
    rig.reader->answers.push(field());
    rig.at(T0 + 0.09, [&rig] { rig.targetIsReady = true; }); // seen by the poll at 0.1 s
    rig.at(T0, [&rig] { (void)rig.dictation().insertAgain("text"); });
    rig.runTo(T0 + 1);
    EXPECT_EQ(rig.shell.count("closePopover"), 1u);
    ASSERT_EQ(rig.reader->log.count("read"), 1u);
    EXPECT_NEAR(rig.reader->log.times("read")[0] - T0, 0.1, 1e-6);
    EXPECT_EQ(rig.inserter->insertions().at(0).text, " text");
}

} // namespace
} // namespace talverin::test
