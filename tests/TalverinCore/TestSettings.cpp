#include "TalverinCore/Settings.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace talverin {
namespace {

std::string repeated(std::string_view piece, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i)
        text += piece;
    return text;
}

// "e" + COMBINING ACUTE ACCENT: one character, two code points, three bytes.
const std::string decomposedE = "e\u0301";

std::vector<std::string> numbered(std::string_view prefix, int count) {
    std::vector<std::string> texts;
    for (int i = 0; i < count; ++i)
        texts.push_back(std::string(prefix) + std::to_string(i));
    return texts;
}

std::vector<Replacement> numberedRules(int count) {
    std::vector<Replacement> rules;
    for (int i = 0; i < count; ++i)
        rules.push_back({"from" + std::to_string(i), "to"});
    return rules;
}

// A record whose every field differs from the defaults, so that "unchanged" is visible.
Settings base() {
    Settings settings;
    settings.holdKey = HoldKey::f13;
    settings.languages = {"de"};
    settings.textMode = TextMode::verbatim;
    settings.words = {"Kubernetes"};
    settings.replacements = {{"teh", "the"}};
    settings.microphoneID = "usb-1";
    settings.sounds = false;
    settings.duckMusic = false;
    settings.theme = ThemeSetting::dark;
    settings.sendContext = false;
    settings.onboarded = true;
    settings.cloudConsent = true;
    settings.pillSpot = PillSpot::topLeft;
    settings.pillIdle = false;
    settings.onboardingStep = 3;
    return settings;
}

struct PatchCase {
    const char* name;
    Settings::Patch patch;
    std::function<void(Settings&)> expect; // what changes from base(); nothing when empty
};

TEST(Settings, ApplyMergesAndValidatesEachField) {
    const std::string word64 = repeated("a", 64);
    const std::string word65 = repeated("b", 65);
    const std::string rule200 = repeated(decomposedE, 200);
    const std::string rule201 = repeated("x", 201);

    const std::vector<PatchCase> cases = {
        {"empty patch", {}, {}},
        {"languages trimmed of blanks, lowered, deduplicated in order",
         {.languages = std::vector<std::string>{" EN", "ru", "en"}},
         [](Settings& s) {
             s.languages = {"en", "ru"};
         }},
        {"tab and no-break space are blanks",
         {.languages = std::vector<std::string>{"\tfr\u00A0"}},
         [](Settings& s) { s.languages = {"fr"}; }},
        {"a wholly invalid language list leaves the languages",
         {.languages = std::vector<std::string>{"english", "e1"}},
         {}},
        {"an empty language list leaves the languages",
         {.languages = std::vector<std::string>{}},
         {}},
        {"line breaks are not trimmed from languages, region tags are no tags",
         {.languages = std::vector<std::string>{"ru\n", "en-US", "x", "it"}},
         [](Settings& s) { s.languages = {"it"}; }},
        {"seven tags keep the first five",
         {.languages = std::vector<std::string>{"aa", "bb", "cc", "dd", "ee", "ff", "gg"}},
         [](Settings& s) {
             s.languages = {"aa", "bb", "cc", "dd", "ee"};
         }},
        {"duplicates do not count towards the five",
         {.languages = std::vector<std::string>{"aa", "AA", "bb", "cc", "dd", "ee"}},
         [](Settings& s) {
             s.languages = {"aa", "bb", "cc", "dd", "ee"};
         }},
        {"words trimmed, empty and overlong dropped, first casing kept",
         {.words = std::vector<std::string>{" Foo ", "foo", "", "\n", word65}},
         [](Settings& s) { s.words = {"Foo"}; }},
        {"a word of exactly 64 characters stays",
         {.words = std::vector<std::string>{word64}},
         [&](Settings& s) { s.words = {word64}; }},
        {"word length counts characters, not bytes",
         {.words = std::vector<std::string>{repeated(decomposedE, 64), repeated(decomposedE, 65)}},
         [](Settings& s) { s.words = {repeated(decomposedE, 64)}; }},
        {"words equal ignoring case under canonical equivalence are one word",
         {.words = std::vector<std::string>{"Caf\u00E9", "CAFE\u0301", "cafe"}},
         [](Settings& s) {
             s.words = {"Caf\u00E9", "cafe"};
         }},
        {"an empty word list empties the words",
         {.words = std::vector<std::string>{}},
         [](Settings& s) { s.words.clear(); }},
        {"600 words keep the first 500",
         {.words = numbered("w", 600)},
         [](Settings& s) { s.words = numbered("w", 500); }},
        {"a blank rule is dropped, spaces around a phrase are kept",
         {.replacements = std::vector<Replacement>{{"   ", "x"}, {" hi ", ""}}},
         [](Settings& s) {
             s.replacements = {{" hi ", ""}};
         }},
        {"a phrase of line breaks only is blank",
         {.replacements = std::vector<Replacement>{{"\n\u2028", "x"}}},
         [](Settings& s) { s.replacements.clear(); }},
        {"201 characters drop a rule, 200 characters counted as graphemes stay",
         {.replacements =
              std::vector<Replacement>{{rule201, "x"}, {"a", rule201}, {rule200, rule200}}},
         [&](Settings& s) {
             s.replacements = {{rule200, rule200}};
         }},
        {"duplicate rules are kept as they came",
         {.replacements = std::vector<Replacement>{{"Teh", "the"}, {"Teh", "the"}}},
         [](Settings& s) {
             s.replacements = {{"Teh", "the"}, {"Teh", "the"}};
         }},
        {"250 rules keep the first 200",
         {.replacements = numberedRules(250)},
         [](Settings& s) { s.replacements = numberedRules(200); }},
        {"microphoneID set",
         {.microphoneID = std::optional<std::string>("usb-2")},
         [](Settings& s) { s.microphoneID = "usb-2"; }},
        {"microphoneID cleared",
         {.microphoneID = std::optional<std::string>()},
         [](Settings& s) { s.microphoneID.reset(); }},
        {"microphoneID set to the empty string is cleared",
         {.microphoneID = std::optional<std::string>("")},
         [](Settings& s) { s.microphoneID.reset(); }},
        {"onboardingStep 6 is taken",
         {.onboardingStep = 6},
         [](Settings& s) { s.onboardingStep = 6; }},
        {"onboardingStep 0 is taken",
         {.onboardingStep = 0},
         [](Settings& s) { s.onboardingStep = 0; }},
        {"onboardingStep 7 is ignored", {.onboardingStep = 7}, {}},
        {"onboardingStep -1 is ignored", {.onboardingStep = -1}, {}},
        {"typed fields replace the setting",
         {.holdKey = HoldKey::fn,
          .textMode = TextMode::clean,
          .sounds = true,
          .duckMusic = true,
          .theme = ThemeSetting::light,
          .sendContext = true,
          .onboarded = false,
          .cloudConsent = false,
          .pillSpot = PillSpot::middleRight,
          .pillIdle = true},
         [](Settings& s) {
             s.holdKey = HoldKey::fn;
             s.textMode = TextMode::clean;
             s.sounds = s.duckMusic = s.sendContext = s.pillIdle = true;
             s.theme = ThemeSetting::light;
             s.onboarded = s.cloudConsent = false;
             s.pillSpot = PillSpot::middleRight;
         }},
        {"an invalid field does not stop the rest",
         {.languages = std::vector<std::string>{"??"},
          .pillSpot = PillSpot::bottomLeft,
          .onboardingStep = 99},
         [](Settings& s) { s.pillSpot = PillSpot::bottomLeft; }},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Settings expected = base();
        if (c.expect)
            c.expect(expected);
        Settings settings = base();
        settings.apply(c.patch);
        EXPECT_EQ(settings, expected);
        EXPECT_EQ(settings.languages, expected.languages);
        EXPECT_EQ(settings.words, expected.words);
        EXPECT_EQ(settings.microphoneID, expected.microphoneID);
        EXPECT_EQ(settings.onboardingStep, expected.onboardingStep);
    }
}

TEST(Settings, DefaultsAndLanguageTags) {
    const Settings settings;
    EXPECT_EQ(settings.holdKey, HoldKey::rightOption);
    EXPECT_EQ(settings.languages, (std::vector<std::string>{"ru", "en"}));
    EXPECT_EQ(settings.theme, ThemeSetting::automatic);
    EXPECT_EQ(toString(settings.theme), "auto");
    EXPECT_EQ(settings.pillSpot, PillSpot::bottomCenter);
    EXPECT_FALSE(settings.microphoneID);
    EXPECT_TRUE(settings.sounds && settings.duckMusic && settings.sendContext && settings.pillIdle);
    EXPECT_FALSE(settings.onboarded || settings.cloudConsent);
    EXPECT_EQ(settings.onboardingStep, 0);

    for (const char* tag : {"en", "ru", "haw"})
        EXPECT_TRUE(Settings::isLanguageTag(tag)) << tag;
    for (const char* text : {"", "e", "EN", "engl", "e1", "en-US", "en\n", "\u00E9n", " en"})
        EXPECT_FALSE(Settings::isLanguageTag(text)) << text;
}

TEST(Settings, EqualityComparesTextsUnderCanonicalEquivalence) {
    Settings composed;
    composed.words = {"caf\u00E9"};
    composed.microphoneID = "Mic\u00E9";
    Settings decomposed;
    decomposed.words = {"cafe\u0301"};
    decomposed.microphoneID = "Mice\u0301";
    EXPECT_EQ(composed, decomposed);

    decomposed.words = {"Caf\u00E9"};
    EXPECT_NE(composed, decomposed) << "case still counts";
    Settings other;
    other.microphoneID = "";
    EXPECT_NE(Settings{}, other) << "no microphone differs from any microphone";

    EXPECT_EQ((Settings::Patch{.words = std::vector<std::string>{"caf\u00E9"}}),
              (Settings::Patch{.words = std::vector<std::string>{"cafe\u0301"}}));
    EXPECT_NE(Settings::Patch{}, (Settings::Patch{.microphoneID = std::optional<std::string>()}))
        << "clearing the microphone is not leaving it";
    EXPECT_NE((Settings::Patch{.microphoneID = std::optional<std::string>()}),
              (Settings::Patch{.microphoneID = std::optional<std::string>("")}));
}

} // namespace
} // namespace talverin
