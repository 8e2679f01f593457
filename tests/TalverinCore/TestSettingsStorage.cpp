#include "TalverinCore/Settings.h"
#include "TalverinCore/SettingsCoding.h"

#include "Runtime/DefaultsStore.h"
#include "Runtime/VirtualWorld.h"
#include "support/LogLines.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace talverin {
namespace {

using nlohmann::json;
using Patch = Settings::Patch;

std::vector<std::string> strings(std::initializer_list<const char*> items) {
    return std::vector<std::string>(items.begin(), items.end());
}

struct LooseCase {
    const char* dictionary;
    Patch expected;
};

TEST(SettingsStorage, LooseDictionaryReadsOnlyTheAcceptedForms) {
    const std::vector<LooseCase> cases = {
        {R"({})", {}},
        {R"([1, 2])", {}},
        {R"({"sounds": true, "pillIdle": false})", {.sounds = true, .pillIdle = false}},
        {R"({"sounds": 0, "duckMusic": 1, "onboarded": "true", "cloudConsent": null})", {}},
        {R"({"onboardingStep": 3.0})", {.onboardingStep = 3}},
        {R"({"onboardingStep": -0.0})", {.onboardingStep = 0}},
        {R"({"onboardingStep": 3.5})", {}},
        {R"({"onboardingStep": true})", {}},
        {R"({"onboardingStep": "3"})", {}},
        {R"({"onboardingStep": 9})", {.onboardingStep = 9}},
        {R"({"onboardingStep": 2147483647})", {.onboardingStep = 2147483647}},
        {R"({"onboardingStep": -2147483647.0})", {.onboardingStep = -2147483647}},
        {R"({"onboardingStep": 2147483648})", {}},
        {R"({"onboardingStep": 4294967299})", {}},
        {R"({"onboardingStep": 18446744073709551615})", {}},
        {R"({"onboardingStep": 1e300})", {}},
        {R"({"pillSpot": "bottomCenter", "holdKey": "RightOption", "theme": 1})", {}},
        {R"({"pillSpot": "tr", "holdKey": "f20", "theme": "auto", "textMode": "verbatim"})",
         {.holdKey = HoldKey::f20,
          .textMode = TextMode::verbatim,
          .theme = ThemeSetting::automatic,
          .pillSpot = PillSpot::topRight}},
        {R"({"languages": ["en", 1, null, "de"], "words": "solo"})",
         {.languages = strings({"en", "de"})}},
        {R"({"replacements": [{"from": "a"}, {"from": "b", "to": 3}, {"to": "x"}, "str",
                              {"from": 4, "to": "y"}, {"from": "c", "to": "d", "extra": 1}]})",
         {.replacements = std::vector<Replacement>{{"a", ""}, {"b", ""}, {"c", "d"}}}},
        {R"({"replacements": {"from": "a", "to": "b"}})", {}},
        {R"({"microphoneID": null})", {.microphoneID = std::optional<std::string>()}},
        {R"({"microphoneID": "usb-2"})", {.microphoneID = std::optional<std::string>("usb-2")}},
        {R"({"microphoneID": 5})", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dictionary);
        EXPECT_EQ(Patch::fromDictionary(json::parse(c.dictionary)), c.expected);
    }
}

TEST(SettingsStorage, LooseValuesNeverConvertNonFiniteOrHugeNumbers) {
    EXPECT_EQ(Patch::intValue(json(std::numeric_limits<double>::quiet_NaN())), std::nullopt);
    EXPECT_EQ(Patch::intValue(json(std::numeric_limits<double>::infinity())), std::nullopt);
    EXPECT_EQ(Patch::intValue(json(-1e300)), std::nullopt);
    EXPECT_EQ(Patch::intValue(json(-2147483648.0)), std::nullopt);
    EXPECT_EQ(Patch::intValue(json(7)), 7);
    EXPECT_EQ(Patch::boolValue(json(false)), false);
    EXPECT_EQ(Patch::boolValue(json(0)), std::nullopt);
}

struct JsonPatchCase {
    const char* text;
    Patch expected;
};

TEST(SettingsStorage, JsonPatchDropsWhatDoesNotReadAndKeepsTheRest) {
    const std::vector<JsonPatchCase> cases = {
        {R"({})", {}},
        {R"({"sounds": 1, "duckMusic": null, "pillIdle": "true"})", {}},
        {R"({"sounds": false})", {.sounds = false}},
        {R"({"languages": ["en", 1, "de"]})", {.languages = strings({"en", "de"})}},
        {R"({"words": ["a", {"b": 1}, ["c"], "d"]})", {.words = strings({"a", "d"})}},
        {R"({"replacements": [{"from": "a"}, {"from": "b", "to": "c"}, {"from": 1, "to": "x"},
                              {"from": "d", "to": null}, "e"]})",
         {.replacements = std::vector<Replacement>{{"b", "c"}}}},
        {R"({"onboardingStep": 3})", {.onboardingStep = 3}},
        {R"({"onboardingStep": 3.0})", {}},
        {R"({"onboardingStep": 1e2})", {}},
        {R"({"onboardingStep": 4294967297})", {}},
        {R"({"microphoneID": null})", {.microphoneID = std::optional<std::string>()}},
        {R"({"microphoneID": "usb-2"})", {.microphoneID = std::optional<std::string>("usb-2")}},
        {R"({"microphoneID": false})", {}},
        {R"({"theme": "auto", "textMode": "Clean", "pillSpot": "bc", "unknown": [1]})",
         {.theme = ThemeSetting::automatic, .pillSpot = PillSpot::bottomCenter}},
        {R"({"holdKey": null, "languages": null, "replacements": "x"})", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto patch = Wire::decoder().decode<Patch>(c.text);
        ASSERT_TRUE(patch.ok()) << patch.message();
        EXPECT_EQ(*patch, c.expected);
    }

    for (const char* notAnObject : {"[]", "[{}]", "null", "\"sounds\"", "3", "{", ""}) {
        SCOPED_TRACE(notAnObject);
        EXPECT_FALSE(Wire::decoder().decode<Patch>(notAnObject).ok());
        EXPECT_FALSE(Wire::decoder().decode<Settings>(notAnObject).ok());
    }
}

TEST(SettingsStorage, LooseAndJsonReadersDifferOnlyWhereTheStoredFormIsMoreForgiving) {
    const char* text = R"({"replacements": [{"from": "um"}], "onboardingStep": 3.0})";
    Settings stored;
    stored.apply(json::parse(text));
    EXPECT_EQ(stored.replacements, (std::vector<Replacement>{{"um", ""}}));
    EXPECT_EQ(stored.onboardingStep, 3);

    auto fromPage = Wire::decoder().decode<Settings>(text);
    ASSERT_TRUE(fromPage.ok());
    EXPECT_TRUE(fromPage->replacements.empty());
    EXPECT_EQ(fromPage->onboardingStep, 0);
}

TEST(SettingsStorage, JsonFormsAreWrittenWithEveryKeyOrOnlyThePresentOnes) {
    EXPECT_EQ(*Wire::encoder().encode(Settings{}),
              R"({"cloudConsent":false,"duckMusic":true,"holdKey":"rightOption",)"
              R"("languages":["ru","en"],"microphoneID":null,"onboarded":false,)"
              R"("onboardingStep":0,"pillIdle":true,"pillSpot":"bc","replacements":[],)"
              R"("sendContext":true,"sounds":true,"textMode":"clean","theme":"auto","words":[]})");

    EXPECT_EQ(*Wire::encoder().encode(Patch{}), "{}");
    EXPECT_EQ(*Wire::encoder().encode(Patch{.microphoneID = std::optional<std::string>()}),
              R"({"microphoneID":null})");

    const Patch full{.holdKey = HoldKey::leftShift,
                     .languages = strings({"en"}),
                     .textMode = TextMode::verbatim,
                     .words = strings({"Foo/Bar"}),
                     .replacements = std::vector<Replacement>{{"a", "b"}},
                     .microphoneID = std::optional<std::string>("usb"),
                     .sounds = false,
                     .duckMusic = true,
                     .theme = ThemeSetting::dark,
                     .sendContext = false,
                     .onboarded = true,
                     .cloudConsent = true,
                     .pillSpot = PillSpot::middleLeft,
                     .pillIdle = false,
                     .onboardingStep = 5};
    auto text = Wire::encoder().encode(full);
    ASSERT_TRUE(text.ok());
    EXPECT_NE(text->find(R"("words":["Foo\/Bar"])"), std::string::npos) << *text;
    auto back = Wire::decoder().decode<Patch>(*text);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(*back, full);

    Settings settings;
    settings.apply(full);
    auto record = Wire::decoder().decode<Settings>(*Wire::encoder().encode(settings));
    ASSERT_TRUE(record.ok());
    EXPECT_EQ(*record, settings);
}

TEST(SettingsStorage, PlistLeavesOutAnAbsentMicrophoneAndJsonCarriesNull) {
    Settings settings;
    EXPECT_EQ(settings.plist().size(), 14u);
    EXPECT_FALSE(settings.plist().contains("microphoneID"));
    EXPECT_EQ(settings.json().size(), 15u);
    EXPECT_TRUE(settings.json().at("microphoneID").is_null());

    settings.microphoneID = "usb-1";
    EXPECT_EQ(settings.plist().size(), 15u);
    EXPECT_EQ(settings.plist().at("microphoneID"), "usb-1");
    EXPECT_EQ(settings.plist().at("pillSpot"), "bc");
    EXPECT_EQ(settings.plist().at("replacements"), json::array());
}

TEST(SettingsStorage, LoadGivesTheBaseWhenNothingUsableIsStored) {
    Settings base;
    base.pillSpot = PillSpot::topCenter;
    for (const json& stored : {json("settings"), json::array({1}), json(nullptr), json(3)}) {
        SCOPED_TRACE(stored.dump());
        DefaultsStoreMemory store;
        store.set("settings", stored);
        EXPECT_EQ(Settings::load(store, base), base);
    }
    DefaultsStoreMemory empty;
    EXPECT_EQ(Settings::load(empty, base), base);

    DefaultsStoreMemory partial;
    partial.set("settings", json{{"sounds", 0}, {"words", {"Foo"}}, {"onboardingStep", 9}});
    Settings expected = base;
    expected.words = {"Foo"};
    EXPECT_EQ(Settings::load(partial, base), expected);
}

TEST(SettingsStorage, SavedRecordsComeBackEqualThroughTheFileStore) {
    test::TempDir dir;
    const auto file = dir.configHome() / "Talverin" / "defaults.json";

    Settings withMicrophone;
    withMicrophone.apply(
        Patch{.holdKey = HoldKey::f16,
              .languages = strings({"en", "de", "ru"}),
              .words = strings({"cafe\u0301", "Zürich", "a/b"}),
              .replacements = std::vector<Replacement>{{" teh ", "the"}, {"um", ""}},
              .microphoneID = std::optional<std::string>("alsa_input.usb-1"),
              .theme = ThemeSetting::light,
              .pillSpot = PillSpot::bottomRight,
              .onboardingStep = 6});
    Settings withoutMicrophone = withMicrophone;
    withoutMicrophone.microphoneID.reset();
    withoutMicrophone.sounds = false;

    for (const Settings& saved : {withMicrophone, withoutMicrophone}) {
        {
            DefaultsStoreFile store(file);
            saved.save(store);
        }
        // A new store reads the file again, as the next launch does.
        DefaultsStoreFile reopened(file);
        const Settings loaded = Settings::load(reopened, Settings{});
        EXPECT_EQ(loaded, saved);
        EXPECT_EQ(loaded.words, saved.words) << "stored byte for byte";
        EXPECT_EQ(reopened.get("settings")->contains("microphoneID"),
                  saved.microphoneID.has_value());
    }
}

// A stored record that loses any value on the way in is treated like a file that does not
// read: its original is kept beside it under a name of its own, one line names what was lost,
// and every value that did read stays.
struct IllTypedCase {
    const char* name;
    const char* settings; // the stored record, as JSON
    const char* said;     // what the log line says was dropped and kept
    std::function<void(Settings&)> kept;
};

void PrintTo(const IllTypedCase& c, std::ostream* os) {
    *os << c.name;
}

class IllTypedRecord : public testing::TestWithParam<IllTypedCase> {
protected:
    void SetUp() override { std::filesystem::create_directories(file().parent_path()); }

    std::filesystem::path file() const { return dir.configHome() / "Talverin" / "defaults.json"; }
    std::filesystem::path copy() const {
        return dir.configHome() / "Talverin" / "defaults.corrupt-20260610T232805Z.json";
    }

    test::TempDir dir;
    VirtualWorld world;
};

const IllTypedCase illTypedCases[] = {
    {"WrongScalars", R"({"onboarded": "yes", "holdKey": 5, "sounds": false, "pillSpot": "tl"})",
     "(holdKey, onboarded); every other value is kept",
     [](Settings& s) {
         s.sounds = false;
         s.pillSpot = PillSpot::topLeft;
     }},
    {"ListInPlaceOfTheRecord", R"([{"onboarded": true}])",
     "(the whole record: array, not a dictionary)", [](Settings&) {}},
    {"ElementsOfAList", R"({"onboarded": true, "words": ["Foo", 3, "Bar"], "languages": "en"})",
     "(languages, words); every other value is kept",
     [](Settings& s) {
         s.onboarded = true;
         s.words = {"Foo", "Bar"};
     }},
    {"RuleWithAnIllTypedTarget",
     R"({"onboarded": true, "replacements": [{"from": "um", "to": 5}, {"from": "er"}]})",
     "(replacements); every other value is kept",
     [](Settings& s) {
         s.onboarded = true;
         s.replacements = {{"um", ""}, {"er", ""}};
     }},
    {"UnknownKeyAndStepAsText", R"({"onboarded": true, "onboardingStep": "3", "laterKey": 1})",
     "(onboardingStep, laterKey); every other value is kept",
     [](Settings& s) { s.onboarded = true; }},
};

TEST_P(IllTypedRecord, KeepsTheOriginalNamesTheDroppedKeysAndEveryValidValue) {
    const IllTypedCase& c = GetParam();
    world.setWallClock(WallTime(std::chrono::seconds(1'781'134'085))); // 2026-06-10 23:28:05 UTC
    const std::string original =
        std::string(R"({"other": [1, 2], "settings": )") + c.settings + "}";
    test::writeFile(file(), original);
    Settings expected;
    c.kept(expected);

    test::LogLines log;
    {
        DefaultsStoreFile store(file());
        EXPECT_EQ(Settings::load(store, Settings{}), expected);
    }
    EXPECT_EQ(log.take(),
              std::vector<std::string>{"Defaults: dropped stored settings that do not read " +
                                       std::string(c.said) +
                                       "; the original is set aside as "
                                       "defaults.corrupt-20260610T232805Z.json"});
    EXPECT_EQ(test::readFile(copy()), original);

    // The record was written back as read, with the other keys of the file: the next launch
    // loads the same settings without a word and makes no second copy.
    DefaultsStoreFile reopened(file());
    EXPECT_EQ(reopened.get("other"), json({1, 2}));
    EXPECT_EQ(Settings::load(reopened, Settings{}), expected);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file().parent_path()),
                            std::filesystem::directory_iterator()),
              2);
}

INSTANTIATE_TEST_SUITE_P(All, IllTypedRecord, testing::ValuesIn(illTypedCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(IllTypedRecord, AWellTypedRecordLeavesTheFileAsItIs) {
    const std::string original =
        R"({"settings": {"onboarded": true, "onboardingStep": 3.0, "microphoneID": null, "words": []}})";
    test::writeFile(file(), original);
    test::LogLines log;
    DefaultsStoreFile store(file());
    EXPECT_TRUE(Settings::load(store, Settings{}).onboarded);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(test::readFile(file()), original);
    EXPECT_FALSE(std::filesystem::exists(copy()));
}

// With every name for the copy taken, the file is all that holds the dropped values: no save
// of this run may replace it.
TEST_F(IllTypedRecord, AnOriginalThatCannotBeKeptIsNeverWrittenOver) {
    world.setWallClock(WallTime(std::chrono::seconds(1'781'134'085)));
    test::writeFile(copy(), "taken");
    for (int n = 2; n <= 1000; ++n)
        test::writeFile(file().parent_path() /
                            ("defaults.corrupt-20260610T232805Z-" + std::to_string(n) + ".json"),
                        "taken");
    const std::string original = R"({"settings": {"onboarded": "yes", "sounds": false}})";
    test::writeFile(file(), original);

    test::LogLines log;
    DefaultsStoreFile store(file());
    Settings loaded = Settings::load(store, Settings{});
    EXPECT_FALSE(loaded.sounds);
    loaded.apply(Settings::Patch{.onboarded = true});
    loaded.save(store);
    EXPECT_EQ(log.lines(), std::vector<std::string>{
                               "Defaults: dropped stored settings that do not read (onboarded); "
                               "every other value is kept; the original could not be kept (File "
                               "exists): changes will not be saved"});
    EXPECT_EQ(test::readFile(file()), original);
}

} // namespace
} // namespace talverin
