#include "TalverinCore/PillState.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace talverin {
namespace {

using Kind = PillState::Kind;

struct StateRow {
    PillState state;
    Kind kind;
    const char* kindName;
    bool transient;
};

// One state of every case, in declaration order, with what the table of kinds says of it.
std::vector<StateRow> everyState() {
    return {
        {PillState::hidden(), Kind::hidden, "hidden", false},
        {PillState::listening("hello", 0.5f), Kind::listening, "listening", false},
        {PillState::polishing(), Kind::polishing, "polishing", false},
        {PillState::inserted("Notes"), Kind::inserted, "inserted", true},
        {PillState::handsFree(12.5, "hello"), Kind::handsFree, "handsFree", false},
        {PillState::voiceEdit(3), Kind::voiceEdit, "voiceEdit", false},
        {PillState::copied(), Kind::copied, "copied", true},
        {PillState::learned("Talverin"), Kind::learned, "learned", true},
        {PillState::offline(), Kind::offline, "offline", true},
        {PillState::silence(), Kind::silence, "silence", true},
        {PillState::refused(RefuseReason::empty), Kind::refused, "refused", true},
        {PillState::limit(), Kind::limit, "limit", true},
    };
}

TEST(PillState, EveryStateHasTheKindOfItsNameAndItsTransience) {
    auto rows = everyState();
    auto kinds = allCases<Kind>();
    ASSERT_EQ(kinds.size(), 12u);
    ASSERT_EQ(rows.size(), kinds.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& row = rows[i];
        SCOPED_TRACE(row.kindName);
        EXPECT_EQ(kinds[i], row.kind) << "the kinds are listed in declaration order";
        EXPECT_EQ(row.state.kind(), row.kind);
        EXPECT_EQ(toString(row.state.kind()), row.kindName);
        EXPECT_EQ(row.state.isTransient(), row.transient);
    }
}

TEST(PillState, AStateEqualsItsCopyAndNoStateOfAnotherCase) {
    auto rows = everyState();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        PillState copy = rows[i].state;
        EXPECT_EQ(rows[i].state, copy) << rows[i].kindName;
        for (std::size_t j = 0; j < rows.size(); ++j)
            if (i != j)
                EXPECT_NE(rows[i].state, rows[j].state)
                    << rows[i].kindName << " vs " << rows[j].kindName;
    }
    EXPECT_EQ(PillState(), PillState::hidden());
}

TEST(PillState, PayloadsTakePartInEquality) {
    struct Pair {
        PillState a;
        PillState b;
        bool equal;
        const char* what;
    };
    const Pair pairs[] = {
        {PillState::listening("hi", 0.5f), PillState::listening("hi", 0.5f), true, "same"},
        {PillState::listening("hi", 0.5f), PillState::listening("hi", 0.6f), false, "level"},
        {PillState::listening("hi", 0.5f), PillState::listening("ho", 0.5f), false, "text"},
        {PillState::handsFree(1.0, "hi"), PillState::handsFree(1.5, "hi"), false, "elapsed"},
        {PillState::handsFree(1.0, "hi"), PillState::handsFree(1.0, "ho"), false, "text"},
        {PillState::inserted("A"), PillState::inserted("B"), false, "app"},
        {PillState::learned("x"), PillState::learned("y"), false, "word"},
        {PillState::voiceEdit(1), PillState::voiceEdit(2), false, "words"},
        {PillState::refused(RefuseReason::empty),
         PillState::refused(RefuseReason::noSpeechRecognition), false, "reason"},
        {PillState::inserted("x"), PillState::learned("x"), false, "same text, other case"},
    };
    for (const auto& pair : pairs)
        EXPECT_EQ(pair.a == pair.b, pair.equal) << pair.what;

    auto empty = PillState::refused(RefuseReason::empty);
    auto noSpeech = PillState::refused(RefuseReason::noSpeechRecognition);
    EXPECT_EQ(empty.kind(), noSpeech.kind());
    EXPECT_EQ(empty.reason(), RefuseReason::empty);
    EXPECT_EQ(PillState::listening("hi", 0.5f).reason(), std::nullopt);
}

// A level that is not a number would make the state unequal to itself, and the controller and
// the pill would then see a change on every comparison.
TEST(PillState, LevelsAreKeptWithinZeroAndOneAndANaNReadsAsZero) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Row {
        float given;
        float kept;
    };
    const Row rows[] = {{nan, 0.0f},
                        {-0.25f, 0.0f},
                        {1.5f, 1.0f},
                        {std::numeric_limits<float>::infinity(), 1.0f},
                        {0.25f, 0.25f}};
    for (const auto& row : rows) {
        auto state = PillState::listening("hi", row.given);
        EXPECT_EQ(state.level(), row.kept) << row.given;
        EXPECT_EQ(state, PillState::listening("hi", row.given));
    }

    auto handsFree = PillState::handsFree(std::numeric_limits<double>::quiet_NaN(), "hi");
    EXPECT_EQ(handsFree.elapsed(), 0.0);
    EXPECT_EQ(handsFree, handsFree);
}

} // namespace
} // namespace talverin
