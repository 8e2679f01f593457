#include "Talverin/Dictation/DictationLog.h"

#include <gtest/gtest.h>

#include <string>

namespace talverin::test {
namespace {

// The two lines every reader of the log knows, byte for byte. The first one's timings come
// from different runs, so only a hand-built record gives it.
TEST(DictationLog, WritesTheKnownLinesByteForByte) {
    DictationLog inserted;
    inserted.outcome = "inserted";
    inserted.mode = DictationMode::clean;
    inserted.holdMs = 1840;
    inserted.firstAudioMs = 42;
    inserted.pillMs = 131;
    inserted.contextMs = 38;
    inserted.clipMs = 1990;
    inserted.endMs = 162;
    inserted.cloud = "ok";
    inserted.cloudMs = 820;
    inserted.serverMs = 610;
    inserted.flushMs = 14;
    inserted.releaseToTextMs = 850;
    inserted.insertMs = 71;
    inserted.words = 12;
    inserted.chars = 64;
    EXPECT_EQ(inserted.text(),
              "Dictation: inserted, mode clean, hold 1840 ms, first audio 42 ms, pill 131 ms, "
              "context 38 ms, clip 1990 ms, end 162 ms, cloud ok 820 ms (server 610 ms), "
              "flush 14 ms, release\xE2\x86\x92text 850 ms, insert 71 ms, 12 words, 64 chars");

    DictationLog tap;
    tap.outcome = "tap";
    tap.holdMs = 500;
    tap.firstAudioMs = 40;
    tap.pillMs = 131;
    tap.contextMs = 35;
    tap.clipMs = 500;
    tap.endMs = 6;
    EXPECT_EQ(tap.text(), "Dictation: tap, hold 500 ms, first audio 40 ms, pill 131 ms, "
                          "context 35 ms, clip 500 ms, end 6 ms");
}

// Each optional part stands or falls alone, and the parts that hold two values need both.
TEST(DictationLog, LeavesOutEveryAbsentPartAndKeepsTheOrder) {
    DictationLog log;
    log.outcome = "refused(editFailed)";
    log.mode = DictationMode::edit;
    log.handsFree = true;
    log.holdMs = 3000;
    log.clipMs = 3150;
    log.endMs = 160;
    log.cloud = "none";
    log.draftMs = 420;
    log.releaseToTextMs = 600;
    log.words = 3; // without chars the counts are not written
    EXPECT_EQ(log.text(), "Dictation: refused(editFailed), mode edit, hands-free, hold 3000 ms, "
                          "clip 3150 ms, end 160 ms, cloud none, draft 420 ms, "
                          "release\xE2\x86\x92text 600 ms");

    // A cloud failure with its time but no server time; no cloud note at all leaves out the
    // times too.
    log.cloud = "server 503";
    log.cloudMs = 90;
    EXPECT_NE(log.text().find(", cloud server 503 90 ms, draft 420 ms"), std::string::npos)
        << log.text();
    log.cloud.clear();
    EXPECT_EQ(log.text().find("cloud"), std::string::npos) << log.text();
}

TEST(DictationLog, NamesARefusalWithItsReasonAndEveryOtherStateByItsKind) {
    struct Row {
        PillState state;
        const char* name;
    };
    const Row rows[] = {
        {PillState::refused(RefuseReason::editFailed), "refused(editFailed)"},
        {PillState::refused(RefuseReason::noSpeechRecognition), "refused(noSpeechRecognition)"},
        {PillState::limit(), "limit"},
        {PillState::offline(), "offline"},
        {PillState::inserted("Notes"), "inserted"},
        {PillState::listening("words", 0.5f), "listening"},
        {PillState::handsFree(3, ""), "handsFree"},
        {PillState::voiceEdit(2), "voiceEdit"},
        {PillState::learned("word"), "learned"},
        {PillState::hidden(), "hidden"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(logName(row.state), row.name);
}

} // namespace
} // namespace talverin::test
