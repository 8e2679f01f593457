#include "TalverinCore/DictationMode.h"
#include "TalverinCore/HoldKey.h"
#include "TalverinCore/KeyCancelReason.h"
#include "TalverinCore/KeyCaptureResult.h"
#include "TalverinCore/MicCheckReading.h"
#include "TalverinCore/PillSpot.h"
#include "TalverinCore/PillState.h"
#include "TalverinCore/RefuseReason.h"
#include "TalverinCore/SoundPlaying.h"
#include "TalverinCore/TextMode.h"
#include "TalverinCore/ThemeSetting.h"
#include "TalverinCore/WireCommand.h"
#include "TalverinCore/WireEvent.h"
#include "TalverinCore/WireFnAction.h"
#include "TalverinCore/WirePermissions.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <vector>

namespace talverin {
namespace {

// Every enumeration with raw strings, through its one table.
template <typename E> class RawStrings : public ::testing::Test {};
// A table that leaves a case out does not compile; this walks what the compiler cannot see:
// every raw string is distinct and reads back. Each table of the core is listed here.
using TabledEnums =
    ::testing::Types<KeyCancelReason, KeyRejectReason, KeyCaptureAnswer, MicSilenceReason,
                     DictationMode, RefuseReason, PillState::Kind, HoldKey, HoldKeyKind, KeyWarning,
                     PillSpot, TextMode, ThemeSetting, SoundTick, Wire::FnAction,
                     Wire::PermissionKind, Wire::PermissionState, Wire::CopyWhich,
                     Wire::Command::Kind, Wire::Event::Kind>;
TYPED_TEST_SUITE(RawStrings, TabledEnums);

TYPED_TEST(RawStrings, EveryCaseReadsBackFromItsOwnDistinctString) {
    std::set<std::string_view> seen;
    for (TypeParam value : allCases<TypeParam>()) {
        std::string_view raw = toString(value);
        EXPECT_FALSE(raw.empty());
        EXPECT_TRUE(seen.insert(raw).second) << raw << " names two cases";
        EXPECT_EQ(fromString<TypeParam>(raw), value) << raw;
    }
}

TYPED_TEST(RawStrings, AnUnknownOrDifferentlyCasedStringGivesNoValue) {
    EXPECT_EQ(fromString<TypeParam>(""), std::nullopt);
    EXPECT_EQ(fromString<TypeParam>("no such case"), std::nullopt);
    for (TypeParam value : allCases<TypeParam>()) {
        std::string raw(toString(value));
        std::string flipped = raw;
        flipped[0] = static_cast<char>(std::isupper(static_cast<unsigned char>(raw[0]))
                                           ? std::tolower(static_cast<unsigned char>(raw[0]))
                                           : std::toupper(static_cast<unsigned char>(raw[0])));
        EXPECT_EQ(fromString<TypeParam>(flipped), std::nullopt) << flipped;
        EXPECT_EQ(fromString<TypeParam>(raw + " "), std::nullopt) << raw;
    }
}

TEST(EnumTables, CasesAreListedInDeclarationOrder) {
    EXPECT_EQ(fromString<KeyCancelReason>("otherModifier"), KeyCancelReason::otherModifier);
    EXPECT_EQ(fromString<HoldKey>("RightOption"), std::nullopt);

    std::vector<std::string_view> reasons;
    for (auto reason : allCases<RefuseReason>())
        reasons.push_back(toString(reason));
    EXPECT_EQ(reasons,
              (std::vector<std::string_view>{"secureField", "elementChanged", "noAccessibility",
                                             "editFailed", "empty", "noSpeechRecognition"}));

    std::vector<std::string_view> modes;
    for (auto mode : allCases<DictationMode>())
        modes.push_back(toString(mode));
    EXPECT_EQ(modes, (std::vector<std::string_view>{"clean", "verbatim", "edit"}));

    std::vector<std::string_view> spots;
    for (auto spot : allCases<PillSpot>())
        spots.push_back(toString(spot));
    EXPECT_EQ(spots,
              (std::vector<std::string_view>{"tl", "tc", "tr", "ml", "mr", "bl", "bc", "br"}));
    EXPECT_EQ(allCases<HoldKey>().size(), 17u);
}

TEST(HoldKey, KindPresetsAndWarningsFollowTheKeyTable) {
    struct Row {
        HoldKey key;
        HoldKeyKind kind;
        std::optional<KeyWarning> warning;
    };
    const auto none = std::nullopt;
    const Row rows[] = {
        {HoldKey::rightOption, HoldKeyKind::modifier, none},
        {HoldKey::rightCommand, HoldKeyKind::modifier, none},
        {HoldKey::fn, HoldKeyKind::modifier, none},
        {HoldKey::leftOption, HoldKeyKind::modifier, KeyWarning::shortcuts},
        {HoldKey::leftCommand, HoldKeyKind::modifier, KeyWarning::shortcuts},
        {HoldKey::leftControl, HoldKeyKind::modifier, KeyWarning::shortcuts},
        {HoldKey::rightControl, HoldKeyKind::modifier, none},
        {HoldKey::leftShift, HoldKeyKind::modifier, KeyWarning::shortcuts},
        {HoldKey::rightShift, HoldKeyKind::modifier, KeyWarning::shortcuts},
        {HoldKey::f13, HoldKeyKind::key, KeyWarning::secureInput},
        {HoldKey::f14, HoldKeyKind::key, KeyWarning::brightness},
        {HoldKey::f15, HoldKeyKind::key, KeyWarning::brightness},
        {HoldKey::f16, HoldKeyKind::key, KeyWarning::secureInput},
        {HoldKey::f17, HoldKeyKind::key, KeyWarning::secureInput},
        {HoldKey::f18, HoldKeyKind::key, KeyWarning::secureInput},
        {HoldKey::f19, HoldKeyKind::key, KeyWarning::secureInput},
        {HoldKey::f20, HoldKeyKind::key, KeyWarning::secureInput},
    };
    auto keys = allCases<HoldKey>();
    ASSERT_EQ(std::size(rows), keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        SCOPED_TRACE(std::string(toString(rows[i].key)));
        EXPECT_EQ(keys[i], rows[i].key);
        EXPECT_EQ(kind(rows[i].key), rows[i].kind);
        EXPECT_EQ(warning(rows[i].key), rows[i].warning);
        bool preset = rows[i].key == HoldKey::fn || rows[i].key == HoldKey::rightOption ||
                      rows[i].key == HoldKey::rightCommand;
        EXPECT_EQ(isPreset(rows[i].key), preset);
    }
    EXPECT_EQ(holdKeyPresets,
              (std::array{HoldKey::fn, HoldKey::rightOption, HoldKey::rightCommand}));
}

TEST(PillSpot, EveryRowAndColumnButTheMiddleCentreHoldsExactlyOneSpot) {
    for (PillSpotRow r : allPillSpotRows) {
        for (PillSpotColumn c : allPillSpotColumns) {
            int matches = 0;
            for (PillSpot spot : allCases<PillSpot>())
                matches += row(spot) == r && column(spot) == c;
            auto spot = pillSpotAt(r, c);
            if (r == PillSpotRow::middle && c == PillSpotColumn::center) {
                EXPECT_EQ(matches, 0);
                EXPECT_EQ(spot, std::nullopt);
            } else {
                EXPECT_EQ(matches, 1);
                ASSERT_TRUE(spot.has_value());
                EXPECT_EQ(row(*spot), r);
                EXPECT_EQ(column(*spot), c);
            }
        }
    }
    EXPECT_EQ(pillSpotAt(PillSpotRow::top, PillSpotColumn::center), PillSpot::topCenter);
    EXPECT_EQ(pillSpotAt(PillSpotRow::middle, PillSpotColumn::right), PillSpot::middleRight);
}

} // namespace
} // namespace talverin
