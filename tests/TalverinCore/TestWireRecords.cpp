#include "TalverinCore/CoreRecordCoding.h"
#include "TalverinCore/SettingsCoding.h"
#include "TalverinCore/WireFnAction.h"
#include "TalverinCore/WireHistoryListArgs.h"
#include "TalverinCore/WireInsertReply.h"
#include "TalverinCore/WireNativeState.h"
#include "TalverinCore/WirePermissions.h"
#include "TalverinCore/WireTryDictationResult.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace talverin {
namespace {

using nlohmann::json;
using Wire::PermissionState;

template <typename T> std::string encoded(const T& value) {
    auto text = Wire::encoder().encode(value);
    EXPECT_TRUE(text.ok()) << text.message();
    return text.ok() ? *text : std::string();
}

// Encoding and decoding again gives the value back.
template <typename T> void expectRoundTrip(const T& value) {
    auto back = Wire::decoder().decode<T>(encoded(value));
    ASSERT_TRUE(back.ok()) << back.message();
    EXPECT_EQ(*back, value);
}

TEST(WirePermissions, GoldenFormIndexingAndAllGranted) {
    Wire::Permissions permissions{PermissionState::granted, PermissionState::granted,
                                  PermissionState::granted};
    EXPECT_EQ(encoded(permissions),
              R"({"accessibility":"granted","microphone":"granted","speech":"granted"})");
    EXPECT_TRUE(permissions.allGranted());

    permissions[Wire::PermissionKind::speech] = PermissionState::notDetermined;
    EXPECT_EQ(permissions.speech, PermissionState::notDetermined);
    EXPECT_FALSE(permissions.allGranted()) << "speech recognition counts";
    EXPECT_EQ(std::as_const(permissions)[Wire::PermissionKind::microphone],
              PermissionState::granted);
    expectRoundTrip(Wire::Permissions{PermissionState::denied, PermissionState::restricted,
                                      PermissionState::notDetermined});

    EXPECT_FALSE(Wire::decoder()
                     .decode<Wire::Permissions>(R"({"microphone":"granted","speech":"granted"})")
                     .ok());
}

TEST(KeyCaptureResultJson, GoldenFormsAndReading) {
    EXPECT_EQ(encoded(KeyCaptureResult::accepted(HoldKey::rightOption)),
              R"({"key":"rightOption","kind":"accepted","warn":null})");
    EXPECT_EQ(encoded(KeyCaptureResult::accepted(HoldKey::leftShift)),
              R"({"key":"leftShift","kind":"accepted","warn":"shortcuts"})");
    EXPECT_EQ(encoded(KeyCaptureResult::accepted(HoldKey::f14)),
              R"({"key":"f14","kind":"accepted","warn":"brightness"})");
    EXPECT_EQ(encoded(KeyCaptureResult::rejected(KeyRejectReason::combo)),
              R"({"kind":"rejected","reason":"combo"})");
    EXPECT_EQ(encoded(KeyCaptureResult::cancelled()), R"({"kind":"cancelled"})");

    struct Case {
        const char* text;
        std::optional<KeyCaptureResult> expected;
    };
    const std::vector<Case> cases = {
        {R"({"kind":"accepted","key":"f13"})", KeyCaptureResult::accepted(HoldKey::f13)},
        {R"({"kind":"accepted","key":"f13","warn":"brightness"})",
         KeyCaptureResult::accepted(HoldKey::f13)},
        {R"({"kind":"rejected","reason":"typing"})",
         KeyCaptureResult::rejected(KeyRejectReason::typing)},
        {R"({"kind":"cancelled","key":"nonsense"})", KeyCaptureResult::cancelled()},
        {R"({"kind":"rejected"})", std::nullopt},
        {R"({"kind":"accepted","key":"RightOption"})", std::nullopt},
        {R"({"key":"f13"})", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto read = Wire::decoder().decode<KeyCaptureResult>(c.text);
        ASSERT_EQ(read.ok(), c.expected.has_value());
        if (c.expected)
            EXPECT_EQ(*read, *c.expected);
    }

    auto unknown = Wire::decoder().decode<KeyCaptureResult>(R"({"kind":"Accepted","key":"fn"})");
    ASSERT_FALSE(unknown.ok());
    EXPECT_EQ(unknown.error(), Wire::CodingError::dataCorrupted);
    EXPECT_EQ(unknown.message(), "unknown capture result Accepted");
}

TEST(MicCheckReadingJson, GoldenFormsAndReading) {
    EXPECT_EQ(encoded(MicCheckReading{.level = 0.25f, .reason = MicSilenceReason::muted}),
              R"({"level":0.25,"reason":"muted"})");
    EXPECT_EQ(encoded(MicCheckReading{.level = 0.3f}), R"({"level":0.3})");
    expectRoundTrip(MicCheckReading{.level = 0.123456789f, .reason = MicSilenceReason::noInput});

    auto withoutReason = Wire::decoder().decode<MicCheckReading>(R"({"level":1})");
    ASSERT_TRUE(withoutReason.ok());
    EXPECT_EQ(*withoutReason, MicCheckReading{.level = 1.0f});
    EXPECT_FALSE(Wire::decoder().decode<MicCheckReading>(R"({"reason":"busy"})").ok());
    EXPECT_FALSE(Wire::decoder().decode<MicCheckReading>(R"({"level":0.5,"reason":"loud"})").ok());
}

TEST(WireMicrophoneJson, GoldenForm) {
    EXPECT_EQ(encoded(Wire::Microphone{"alsa_input.usb/1", "USB \"Mic\""}),
              R"({"id":"alsa_input.usb\/1","name":"USB \"Mic\""})");
    expectRoundTrip(Wire::Microphone{"id", "Микрофон"});
}

TEST(TryDictationResult, GoldenFormsAndTheWordsPerMinuteRule) {
    Wire::TryDictationResult result{.text = "Hello.", .raw = "hello", .ms = 812, .offline = false};
    EXPECT_EQ(encoded(result), R"({"ms":812,"offline":false,"raw":"hello","text":"Hello."})");
    result.wordsPerMinute = 175;
    result.offline = true;
    EXPECT_EQ(encoded(result),
              R"({"ms":812,"offline":true,"raw":"hello","text":"Hello.","wordsPerMinute":175})");
    expectRoundTrip(result);

    auto nullRate = Wire::decoder().decode<Wire::TryDictationResult>(
        R"({"ms":1,"offline":false,"raw":"","text":"","wordsPerMinute":null})");
    ASSERT_TRUE(nullRate.ok());
    EXPECT_FALSE(nullRate->wordsPerMinute);
    EXPECT_FALSE(
        Wire::decoder().decode<Wire::TryDictationResult>(R"({"ms":1,"raw":"","text":""})").ok());

    struct Case {
        std::int64_t words;
        std::int64_t clipMs;
        std::optional<std::int64_t> rate;
    };
    constexpr auto big = std::numeric_limits<std::int64_t>::max();
    for (const auto& c : std::vector<Case>{{0, 5000, std::nullopt},
                                           {-3, 5000, std::nullopt},
                                           {10, 999, std::nullopt},
                                           {10, 1000, 600},
                                           {1, 1600, 38},
                                           {7, 2400, 175},
                                           {1, 120000, 1},
                                           {1, 240000, 0},
                                           {big, 1000, std::nullopt},
                                           {big, big, 60000}}) {
        EXPECT_EQ(Wire::TryDictationResult::wordsPerMinuteFor(c.words, c.clipMs), c.rate)
            << c.words << " words in " << c.clipMs << " ms";
    }
}

TEST(InsertReply, GoldenForms) {
    EXPECT_EQ(encoded(Wire::InsertReply(InsertOutcome::inserted())), R"({"kind":"inserted"})");
    EXPECT_EQ(encoded(Wire::InsertReply(InsertOutcome::copiedOnly())), R"({"kind":"copiedOnly"})");
    EXPECT_EQ(encoded(Wire::InsertReply(InsertOutcome::refused(RefuseReason::secureField))),
              R"({"kind":"refused","reason":"secureField"})");
    expectRoundTrip(Wire::InsertReply(InsertOutcome::refused(RefuseReason::empty)));
}

TEST(HistoryListArgs, OptionalFieldsMayBeMissingOrNullButNotMistyped) {
    EXPECT_EQ(encoded(Wire::HistoryListArgs{}), "{}");
    EXPECT_EQ(encoded(Wire::HistoryListArgs{.query = "a/b", .limit = 50}),
              R"({"limit":50,"query":"a\/b"})");

    struct Case {
        const char* text;
        std::optional<Wire::HistoryListArgs> expected;
    };
    for (const auto& c : std::vector<Case>{
             {"{}", Wire::HistoryListArgs{}},
             {R"({"limit":null})", Wire::HistoryListArgs{}},
             {R"({"query":"hi","limit":20,"before":"2026-03-05T14:07:09.250Z"})",
              Wire::HistoryListArgs{"hi", 20, "2026-03-05T14:07:09.250Z"}},
             {R"({"limit":"20"})", std::nullopt},
             {R"({"limit":20.5})", std::nullopt},
             {R"({"query":5})", std::nullopt},
         }) {
        SCOPED_TRACE(c.text);
        auto read = Wire::decoder().decode<Wire::HistoryListArgs>(c.text);
        ASSERT_EQ(read.ok(), c.expected.has_value());
        if (c.expected)
            EXPECT_EQ(*read, *c.expected);
    }
}

TEST(NativeState, AllNineKeysAreWrittenAndRequired) {
    Wire::NativeState state{
        .settings = Settings{},
        .permissions = {PermissionState::granted, PermissionState::denied,
                        PermissionState::restricted},
        .version = "0.1.0",
        .lang = "ru",
        .cloudConfigured = true,
        .microphones = {{"usb-1", "USB"}, {"builtin", "Built-in"}},
        .wordsToday = 1234,
        .hasNotch = false,
        .fnAction = Wire::FnAction::unknown,
    };
    const std::string text = encoded(state);
    EXPECT_EQ(text.rfind(R"({"cloudConfigured":true,"fnAction":"unknown","hasNotch":false,)"
                         R"("lang":"ru","microphones":[{"id":"usb-1","name":"USB"},)",
                         0),
              0u)
        << text;
    expectRoundTrip(state);

    const json full = json::parse(text);
    for (const auto& [key, value] : full.items()) {
        SCOPED_TRACE(key);
        json missing = full;
        missing.erase(key);
        EXPECT_FALSE(Wire::decoder().decode<Wire::NativeState>(missing.dump()).ok());
        json null = full;
        null[key] = nullptr;
        EXPECT_FALSE(Wire::decoder().decode<Wire::NativeState>(null.dump()).ok());
    }
    EXPECT_EQ(full.size(), 9u);
}

TEST(FnAction, UsageTypeMapping) {
    struct Case {
        std::optional<json> usageType;
        Wire::FnAction expected;
    };
    for (const auto& c : std::vector<Case>{
             {std::nullopt, Wire::FnAction::unknown},
             {json(0), Wire::FnAction::none},
             {json(1), Wire::FnAction::inputSource},
             {json(2), Wire::FnAction::emoji},
             {json(3), Wire::FnAction::dictation},
             {json(2.0), Wire::FnAction::emoji},
             {json(7), Wire::FnAction::unknown},
             {json(-1), Wire::FnAction::unknown},
             {json(true), Wire::FnAction::unknown},
             {json("2"), Wire::FnAction::unknown},
             {json(1e300), Wire::FnAction::unknown},
             {json(std::numeric_limits<double>::quiet_NaN()), Wire::FnAction::unknown},
         }) {
        EXPECT_EQ(Wire::fnActionFromUsageType(c.usageType), c.expected)
            << (c.usageType ? c.usageType->dump() : "absent");
    }
    EXPECT_EQ(Wire::currentFnAction(), Wire::FnAction::unknown) << "X11 has no fn preference";
}

} // namespace
} // namespace talverin
