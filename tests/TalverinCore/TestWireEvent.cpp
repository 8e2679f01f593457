#include "TalverinCore/WireEvent.h"

#include "TalverinCore/SettingsCoding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace talverin::Wire {

void PrintTo(const Event& event, std::ostream* out) {
    auto text = encoder().encode(event);
    *out << (text.ok() ? *text : "<" + std::string(event.type()) + ">");
}

namespace {

const std::string prefix = "window.__tlvEmit && window.__tlvEmit(";

HistoryItem sampleItem() {
    return HistoryItem{
        .id = "1b4e28ba-2fa1-41d2-883f-0016d3cca427",
        .date = *date("2026-03-05T14:07:09.250Z"),
        .appName = "Notes",
        .bundleID = "org.example.notes",
        .clean = "Hi there.",
        .raw = "hi there",
        .inserted = true,
        .mode = DictationMode::verbatim,
    };
}

std::string settingsJson(const Settings& settings) {
    return *encoder().encode(settings);
}

struct Golden {
    Event event;
    std::string json;
};

std::vector<Golden> goldens() {
    Settings settings;
    settings.pillSpot = PillSpot::topLeft;
    return {
        {Event::settings(settings),
         R"({"settings":)" + settingsJson(settings) + R"(,"type":"settings"})"},
        {Event::historyAdded(sampleItem()),
         R"({"item":{"appName":"Notes","bundleID":"org.example.notes","clean":"Hi there.",)"
         R"("date":"2026-03-05T14:07:09.250Z","id":"1b4e28ba-2fa1-41d2-883f-0016d3cca427",)"
         R"("inserted":true,"mode":"verbatim","raw":"hi there"},"type":"historyAdded"})"},
        {Event::historyRemoved("a1"), R"({"id":"a1","type":"historyRemoved"})"},
        {Event::historyCleared(), R"({"type":"historyCleared"})"},
        {Event::permissions(
             {PermissionState::granted, PermissionState::denied, PermissionState::notDetermined}),
         R"({"permissions":{"accessibility":"denied","microphone":"granted",)"
         R"("speech":"notDetermined"},"type":"permissions"})"},
        {Event::tryDictation({.text = "Hello.",
                              .raw = "hello",
                              .ms = 1234,
                              .offline = true,
                              .wordsPerMinute = 175}),
         R"({"result":{"ms":1234,"offline":true,"raw":"hello","text":"Hello.",)"
         R"("wordsPerMinute":175},"type":"tryDictation"})"},
        {Event::microphones({{"alsa_input.usb-1", "USB/2 Mic"}}),
         R"({"microphones":[{"id":"alsa_input.usb-1","name":"USB\/2 Mic"}],"type":"microphones"})"},
        {Event::microphones({}), R"({"microphones":[],"type":"microphones"})"},
        {Event::shown(), R"({"type":"shown"})"},
        {Event::hidden(), R"({"type":"hidden"})"},
        {Event::holdKey(true), R"({"down":true,"type":"holdKey"})"},
        {Event::micLevel({0.25f, MicSilenceReason::muted}),
         R"({"level":0.25,"reason":"muted","type":"micLevel"})"},
        {Event::micLevel({0.3f, std::nullopt}), R"({"level":0.3,"type":"micLevel"})"},
        {Event::openSettings(), R"({"type":"openSettings"})"},
        {Event::openSettings("pill"), R"({"focus":"pill","type":"openSettings"})"},
        {Event::keyCapture(KeyCaptureResult::cancelled()),
         R"({"capture":{"kind":"cancelled"},"type":"keyCapture"})"},
        {Event::keyCapture(KeyCaptureResult::accepted(HoldKey::rightOption)),
         R"({"capture":{"key":"rightOption","kind":"accepted","warn":null},"type":"keyCapture"})"},
    };
}

TEST(WireEvent, GoldenEncodingsScriptsAndRoundTripsOfEveryEvent) {
    std::vector<bool> seen(EnumTable<Event::Kind>::entries.size());
    for (const auto& [event, json] : goldens()) {
        SCOPED_TRACE(json);
        seen[static_cast<std::size_t>(event.kind())] = true;
        auto encoded = encoder().encode(event);
        ASSERT_TRUE(encoded.ok()) << encoded.message();
        EXPECT_EQ(*encoded, json);
        auto script = event.script();
        ASSERT_TRUE(script.ok());
        EXPECT_EQ(*script, prefix + json + ")");
        auto decoded = decoder().decode<Event>(json);
        ASSERT_TRUE(decoded.ok()) << decoded.message();
        EXPECT_EQ(*decoded, event);
    }
    for (std::size_t kind = 0; kind < seen.size(); ++kind)
        EXPECT_TRUE(seen[kind]) << "no golden for " << EnumTable<Event::Kind>::entries[kind].second;
}

TEST(WireEvent, TheScriptIsExactlyTheGuardedCall) {
    EXPECT_EQ(*Event::historyCleared().script(),
              R"(window.__tlvEmit && window.__tlvEmit({"type":"historyCleared"}))");
    EXPECT_EQ(*Event::shown().script(),
              R"(window.__tlvEmit && window.__tlvEmit({"type":"shown"}))");
    // Text from outside cannot end the script or the element around it.
    auto item = sampleItem();
    item.clean = "</script><b>\"quoted\"\\\n";
    const std::string script = *Event::historyAdded(item).script();
    EXPECT_EQ(script.find("</"), std::string::npos) << script;
    EXPECT_NE(script.find(R"("clean":"<\/script><b>\"quoted\"\\\n")"), std::string::npos) << script;
}

TEST(WireEvent, ALevelThatIsNoFiniteNumberFailsInsteadOfWritingBadJson) {
    for (float level :
         {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
          -std::numeric_limits<float>::infinity()}) {
        SCOPED_TRACE(level);
        const Event event = Event::micLevel({level, MicSilenceReason::unknown});
        auto script = event.script();
        ASSERT_FALSE(script.ok()) << *script;
        EXPECT_EQ(script.error(), CodingError::invalidValue);
        EXPECT_FALSE(object(event).ok());
    }
}

TEST(WireEvent, Decoding) {
    struct Case {
        std::string json;
        std::optional<Event> expected; // none: the decoding fails
    };
    const Case cases[] = {
        {R"({"type":"shown","down":true})", Event::shown()},
        {R"({"type":"hidden","settings":5})", Event::hidden()},
        {R"({"type":"holdKey","down":false})", Event::holdKey(false)},
        {R"({"type":"holdKey"})", std::nullopt},
        {R"({"type":"holdKey","down":1})", std::nullopt},
        {R"({"type":"historyRemoved","id":null})", std::nullopt},
        {R"({"type":"micLevel","level":1,"reason":null})", Event::micLevel({1.0f, std::nullopt})},
        {R"({"type":"micLevel","reason":"busy"})", std::nullopt},
        {R"({"type":"micLevel","level":0.5,"reason":"loud"})", std::nullopt},
        {R"({"type":"openSettings","focus":null})", Event::openSettings()},
        {R"({"type":"openSettings","focus":"words"})", Event::openSettings("words")},
        {R"({"type":"keyCapture","capture":{"kind":"rejected","reason":"combo"}})",
         Event::keyCapture(KeyCaptureResult::rejected(KeyRejectReason::combo))},
        {R"({"type":"keyCapture"})", std::nullopt},
        {R"({"type":"microphones","microphones":[{"id":"a"}]})", std::nullopt},
        {R"({"type":"historyAdded","item":{"id":"x"}})", std::nullopt},
        {R"({"type":"Shown"})", std::nullopt},
        {R"({"down":true})", std::nullopt},
        {R"("shown")", std::nullopt},
    };
    for (const auto& [json, expected] : cases) {
        SCOPED_TRACE(json);
        auto decoded = decoder().decode<Event>(json);
        if (expected) {
            ASSERT_TRUE(decoded.ok()) << decoded.message();
            EXPECT_EQ(*decoded, *expected);
        } else {
            EXPECT_FALSE(decoded.ok()) << testing::PrintToString(*decoded);
        }
    }

    auto unknown = decoder().decode<Event>(R"({"type":"fireworks"})");
    ASSERT_FALSE(unknown.ok());
    EXPECT_EQ(unknown.error(), CodingError::dataCorrupted);
    EXPECT_EQ(unknown.message(), "unknown event fireworks");
}

TEST(WireEvent, EqualityAndAccessors) {
    EXPECT_EQ(Event::openSettings(), Event::openSettings(std::nullopt));
    EXPECT_NE(Event::openSettings(), Event::openSettings(""));
    EXPECT_NE(Event::shown(), Event::hidden());
    EXPECT_NE(Event::holdKey(true), Event::holdKey(false));
    EXPECT_EQ(Event::historyRemoved("a").id(), "a");
    EXPECT_EQ(Event::historyAdded(sampleItem()).item(), sampleItem());
    // An accessor of another event's payload gives an empty value, never a crash.
    EXPECT_EQ(Event::shown().id(), "");
    EXPECT_FALSE(Event::shown().down());
    EXPECT_EQ(Event::shown().capture(), KeyCaptureResult::cancelled());
    EXPECT_EQ(Event::holdKey(true).type(), "holdKey");
}

} // namespace
} // namespace talverin::Wire
