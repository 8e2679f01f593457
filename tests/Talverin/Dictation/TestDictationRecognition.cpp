#include "Talverin/Dictation/DictationController.h"

#include "DictationRig.h"
#include "Talverin/Dictation/ContextReadingNull.h"
#include "Talverin/Dictation/DictatingNull.h"
#include "Talverin/Dictation/LanguageRecognizingNull.h"
#include "Talverin/Dictation/TextInsertingNull.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace talverin::test {
namespace {

using Kind = DictationPhase::Kind;
using Lines = std::vector<std::string>;
constexpr double T0 = DictationRig::T0;

// One dictation on a fixed clock: pressed at T0, its first block stamped T0 + 0.04, the
// context read in 0.02 s, the pill at 0.13 s, released at T0 + 1, the clip (1150 ms, speech)
// in hand 0.05 s later. Recognition then starts at T0 + 1.05: the encoder takes 0.01 s, the
// cloud 0.4 s, the draft 0.6 s, and the inserter 0.07 s.
struct Dictation {
    DictationRig rig;
    DictationContext context;
    double draftLatency = 0.6;

    explicit Dictation(bool edit, const std::function<void(Services&)>& prepare = {})
        : rig(prepare) {
        context.appName = "Notes";
        if (edit)
            context.selection = "some selected words";
        rig.mic->endAnswers.push(CapturedClip(std::vector<float>(16000, 0.2f), true, 1150), 0.05);
        rig.mic->deliverAfter(0.04, DictationRig::block(T0 + 0.04));
        rig.liveDraft->finishCap = std::numeric_limits<double>::infinity();
        rig.cloud->configured = true;
        rig.recognizer->answers = {{"Where are you?", "en"}, {"Где ты?", "ru"}, {"Где ты", "ru"}};
        rig.flushLatency = 0.01;
        rig.inserter->answers.push(InsertOutcome::inserted(), 0.07);
        rig.permissions->set({Wire::PermissionState::granted, Wire::PermissionState::granted,
                              Wire::PermissionState::granted});
    }

    void run() {
        rig.reader->answers.push(context, 0.02);
        rig.liveDraft->finishAnswers.push("draft words here", draftLatency);
        rig.pressAt(T0);
        rig.releaseAt(T0 + 1);
        rig.runTo(T0 + 2);
    }
};

// What the user ends up with in one mode.
struct Outcome {
    std::string cloud;                   // the log's cloud note
    std::optional<std::string> inserted; // the text handed to the inserter, none: nothing
    std::string raw;                     // the history's raw text
    bool offline = false;                // the try-it record: the text is the draft's
    PillState pill;                      // the result shown
};

struct CauseCase {
    const char* name;
    bool configured;
    bool encoders;
    std::optional<DictateReply> reply; // none: no request may be made
    std::vector<std::string> languages;
    std::optional<std::string> confident; // the draft's confident final text
    bool waitsForDraft;
    Outcome plain; // clean mode
    Outcome edit;  // a voice edit
};

void PrintTo(const CauseCase& c, std::ostream* out) {
    *out << c.name;
}

const DictateResult kAnswer{"Where are you?", "where are you", 300, "en"};
const DictateResult kRussianRaw{"Where are you?", "Где ты?", 300, std::nullopt};
const DictateResult kServiceHeardRussian{"Where are you?", "where are you", 300, "ru"};
const std::vector<std::string> kEnglish = {"en"};
const std::vector<std::string> kRussian = {"ru", "en"};
const PillState kInserted = PillState::inserted("Notes");
const PillState kEditFailed = PillState::refused(RefuseReason::editFailed);

Outcome answered(const char* cloud, const char* text, const char* raw, bool offline = false) {
    return {cloud, text, raw, offline, kInserted};
}
Outcome draftWith(const std::string& cloud, PillState note) {
    return {cloud, "draft words here", "draft words here", true, note};
}
Outcome failed(const std::string& cloud, PillState pill) {
    return {cloud, std::nullopt, "", false, pill};
}

const CauseCase kCauses[] = {
    {"answer", true, true, kAnswer, kEnglish, std::nullopt, false,
     answered("ok", "Where are you?", "where are you"),
     answered("ok", "Where are you?", "where are you")},
    {"answerGuardedNoRecovery", true, true, kAnswer, kRussian, std::nullopt, false,
     answered("ok", "Where are you?", "where are you"),
     answered("ok", "Where are you?", "where are you")},
    {"answerGuardRaw", true, true, kRussianRaw, kRussian, std::nullopt, false,
     answered("ok (language guard: raw)", "Где ты?", "Где ты?"),
     answered("ok", "Where are you?", "Где ты?")},
    {"answerGuardLocal", true, true, kServiceHeardRussian, kRussian, "Где ты", false,
     answered("ok (language guard: local)", "Где ты", "where are you", true),
     answered("ok", "Where are you?", "where are you")},
    {"rejected", true, true, DictateError::rejected("400 bad-audio"), kEnglish, std::nullopt, true,
     draftWith("rejected 400 bad-audio", PillState::offline()),
     failed("rejected 400 bad-audio", kEditFailed)},
    {"server", true, true, DictateError::server(503), kEnglish, std::nullopt, true,
     draftWith("server 503", PillState::offline()), failed("server 503", kEditFailed)},
    {"noConsent", true, true, DictateError::notConfigured(), kEnglish, std::nullopt, true,
     draftWith("no consent", kInserted), failed("no consent", kEditFailed)},
    {"offline", true, true, DictateError::offline(), kEnglish, std::nullopt, true,
     draftWith("offline", PillState::offline()), failed("offline", kEditFailed)},
    {"timeout", true, true, DictateError::timeout(), kEnglish, std::nullopt, true,
     draftWith("timeout", PillState::offline()), failed("timeout", kEditFailed)},
    {"limit", true, true, DictateError::limit(), kEnglish, std::nullopt, true,
     draftWith("limit", PillState::limit()), failed("limit", PillState::limit())},
    {"editFailed", true, true, DictateError::editFailed(), kEnglish, std::nullopt, false,
     failed("edit failed", kEditFailed), failed("edit failed", kEditFailed)},
    // A cancellation, or anything else the client does not map, is neither a success nor one
    // of the service's errors.
    {"otherError", true, true, DictateOtherError{"cancelled"}, kEnglish, std::nullopt, true,
     draftWith("error", PillState::offline()), failed("error", kEditFailed)},
    {"noBackend", false, true, std::nullopt, kEnglish, std::nullopt, true,
     draftWith("none", kInserted), failed("none", kEditFailed)},
    {"noEncoder", true, false, std::nullopt, kEnglish, std::nullopt, true,
     draftWith("none", kInserted), failed("none", kEditFailed)},
};

const std::map<std::string, std::string> kCounts = {
    {"Where are you?", "3 words, 14 chars"},
    {"Где ты?", "2 words, 7 chars"},
    {"Где ты", "2 words, 6 chars"},
    {"draft words here", "3 words, 16 chars"},
};

// The whole line the timeline above implies.
std::string expectedLine(const CauseCase& c, const Outcome& o, bool edit) {
    const bool cloud = c.reply.has_value();
    const bool answered = cloud && std::holds_alternative<DictateResult>(*c.reply);
    std::string outcome = o.inserted ? "inserted" : logName(o.pill);
    std::string line = "Dictation: " + outcome + ", mode " + (edit ? "edit" : "clean") +
                       ", hold 1000 ms, first audio 40 ms, pill 130 ms, context 20 ms, "
                       "clip 1150 ms, end 50 ms, cloud " +
                       o.cloud;
    if (cloud)
        line += std::string(" 400 ms") + (answered ? " (server 300 ms)" : "") + ", flush 10 ms";
    if (c.waitsForDraft)
        line += ", draft 600 ms";
    // The text is known when the draft is (1.65), or when the cloud answers (1.46).
    line += std::string(", release\u2192text ") + (c.waitsForDraft ? "650" : "460") + " ms";
    if (o.inserted)
        line += ", insert 70 ms, " + kCounts.at(*o.inserted);
    return line;
}

class RecognitionCause : public ::testing::TestWithParam<std::tuple<CauseCase, bool>> {};

TEST_P(RecognitionCause, DecidesTheTextItsSourceAndTheLineInEachMode) {
    const auto& [c, edit] = GetParam();
    const Outcome& o = edit ? c.edit : c.plain;
    Dictation d(edit);
    auto& rig = d.rig;
    rig.settings.languages = c.languages;
    rig.cloud->configured = c.configured;
    rig.handOutEncoders = c.encoders;
    if (c.reply)
        rig.cloud->answers.push(*c.reply, 0.4);
    if (c.confident)
        rig.at(T0 + 0.5, [&rig, &c] { rig.liveDraft->setConfidentFinal(c.confident); });
    d.run();

    EXPECT_EQ(rig.phase(), Kind::idle);
    EXPECT_EQ(rig.cloud->requests().size(), c.reply ? 1u : 0u);
    EXPECT_EQ(rig.logLines().back(), expectedLine(c, o, edit));
    EXPECT_EQ(rig.pill->shown().back().state, o.pill);
    if (!o.inserted) {
        EXPECT_TRUE(rig.inserter->insertions().empty());
        EXPECT_TRUE(rig.dictated.empty());
        return;
    }
    ASSERT_EQ(rig.inserter->insertions().size(), 1u);
    EXPECT_EQ(rig.inserter->insertions()[0].text, *o.inserted);
    ASSERT_EQ(rig.dictated.size(), 1u);
    EXPECT_EQ(rig.dictated[0].item.clean, *o.inserted);
    EXPECT_EQ(rig.dictated[0].item.raw, o.raw);
    EXPECT_EQ(rig.dictated[0].tryResult.offline, o.offline);
    // A draft that was not waited for was cancelled instead, as soon as the answer came.
    if (!c.waitsForDraft)
        EXPECT_NEAR(rig.liveDraft->log.last("cancel")->time - T0, 1.46, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Causes, RecognitionCause,
                         ::testing::Combine(::testing::ValuesIn(kCauses), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "_edit" : "_clean");
                         });

// --- The request ---

struct RequestCase {
    const char* name;
    bool sendContext;
    TextMode textMode;
    bool selection;
    DictationMode mode;
    bool contextSent;
};

void PrintTo(const RequestCase& c, std::ostream* out) {
    *out << c.name;
}

class CloudRequest : public ::testing::TestWithParam<RequestCase> {};

// The settings of the completion decide, not those of the key-down: they are changed in
// between. The selection is the voice edit's subject and always goes.
TEST_P(CloudRequest, CarriesTheFieldOnlyWithLeaveAndTheSelectionOnlyInAVoiceEdit) {
    const RequestCase& c = GetParam();
    Dictation d(c.selection);
    auto& rig = d.rig;
    d.context.before = "Dear Ann,";
    d.context.after = " Best";
    rig.cloud->answers.push(kAnswer, 0.4);
    rig.mic->deliverAfter(0.05, DictationRig::block(T0 + 0.05));
    rig.mic->deliverAfter(0.06, DictationRig::block(T0 + 0.06));
    rig.settings.sendContext = !c.sendContext;
    rig.settings.textMode = c.textMode == TextMode::clean ? TextMode::verbatim : TextMode::clean;
    rig.at(T0 + 0.9, [&rig, &c] {
        rig.settings.sendContext = c.sendContext;
        rig.settings.textMode = c.textMode;
        rig.settings.languages = {"ru", "en"};
        rig.settings.words = {"Talverin", "XTest"};
    });
    d.run();

    ASSERT_EQ(rig.cloud->requests().size(), 1u);
    const DictateRequest& sent = rig.cloud->requests()[0];
    DictateRequest expected;
    expected.clip = std::vector<std::uint8_t>(3, 0x4f); // one byte per block of the fake
    expected.languages = {"ru", "en"};
    expected.mode = c.mode;
    if (c.contextSent) {
        expected.appName = "Notes";
        expected.before = "Dear Ann,";
        expected.after = " Best";
    }
    if (c.selection)
        expected.selection = "some selected words";
    expected.words = {"Talverin", "XTest"};
    EXPECT_EQ(sent, expected);
}

const RequestCase kRequests[] = {
    {"withContext", true, TextMode::clean, false, DictationMode::clean, true},
    {"withoutContextVerbatim", false, TextMode::verbatim, false, DictationMode::verbatim, false},
    {"voiceEditWithoutContext", false, TextMode::verbatim, true, DictationMode::edit, false},
    {"voiceEditWithContext", true, TextMode::clean, true, DictationMode::edit, true},
};

INSTANTIATE_TEST_SUITE_P(Settings, CloudRequest, ::testing::ValuesIn(kRequests),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Running side by side ---

// The draft starts before the flush and finishes while the flush and the cloud call run, so a
// failed call finds it ready: the wait is the longest of the two roads, not their sum.
TEST(Recognition, TheDraftRunsAlongsideTheFlushAndTheCloudCall) {
    Dictation d(false);
    auto& rig = d.rig;
    d.draftLatency = 0.3;
    rig.flushLatency = 0.2;
    rig.cloud->answers.push(DictateError::offline(), 0.2);
    std::size_t draftsAtFlush = 0;
    rig.onFlush = [&rig, &draftsAtFlush] { draftsAtFlush = rig.liveDraft->log.count("finish"); };
    d.run();

    EXPECT_EQ(draftsAtFlush, 1u) << "the draft is asked for before the encoder is finished";
    EXPECT_NEAR(rig.cloud->log.times("dictate")[0] - T0, 1.25, 1e-9);
    EXPECT_EQ(rig.logLines().back(),
              "Dictation: inserted, mode clean, hold 1000 ms, first audio 40 ms, pill 130 ms, "
              "context 20 ms, clip 1150 ms, end 50 ms, cloud offline 200 ms, flush 200 ms, "
              "draft 400 ms, release\u2192text 450 ms, insert 70 ms, 3 words, 16 chars");
}

// The bundle may hold the Null recogniser when none can run. The guard then never speaks up:
// an English answer to Russian speech goes in as the cloud wrote it, where a recogniser that
// calls its raw transcript Russian would have taken that instead.
TEST(Recognition, WithTheNullRecognizerTheGuardLetsTheCloudAnswerStand) {
    Dictation d(false, [](Services& services) {
        services.languageRecognizer = std::make_shared<LanguageRecognizingNull>("no model");
    });
    auto& rig = d.rig;
    rig.settings.languages = {"ru", "en"};
    rig.cloud->answers.push(DictateResult{"Where are you?", "Где ты?", 300, "en"}, 0.4);
    d.run();

    ASSERT_EQ(rig.inserter->insertions().size(), 1u);
    EXPECT_EQ(rig.inserter->insertions()[0].text, "Where are you?");
    EXPECT_NE(rig.logLines().back().find(", cloud ok 400 ms (server 300 ms), "), std::string::npos)
        << rig.logLines().back();
}

// A desktop that cannot be read or written and a run without a cloud client: the dictation
// still ends, the cloud is never asked, and the text is refused, never reported as inserted.
TEST(Recognition, WithNullReaderInserterAndCloudTheDictationEndsRefused) {
    Dictation d(false, [](Services& services) {
        services.context = std::make_shared<ContextReadingNull>("no accessibility bus");
        services.inserter = std::make_shared<TextInsertingNull>("no display");
        services.dictate = std::make_shared<DictatingNull>("no HTTP library");
    });
    auto& rig = d.rig;
    d.run();

    EXPECT_EQ(rig.cloud->log.count("dictate"), 0u);
    EXPECT_TRUE(rig.inserter->insertions().empty());
    ASSERT_FALSE(rig.pill->shown().empty());
    EXPECT_EQ(rig.pill->shown().back().state, PillState::refused(RefuseReason::noAccessibility));
    const auto last = rig.logLines().back();
    EXPECT_EQ(last.rfind("Dictation: refused(noAccessibility), ", 0), 0u) << last;
    EXPECT_NE(last.find(", cloud none, "), std::string::npos) << last;
}

} // namespace
} // namespace talverin::test
