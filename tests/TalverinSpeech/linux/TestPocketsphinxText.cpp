#include "TalverinSpeech/linux/PocketsphinxText.h"

#include "TalverinSpeech/linux/SpeechRecognizersPocketsphinx.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace talverin {
namespace {

TEST(PocketsphinxText, HypothesesLoseFillersAndPronunciationSuffixes) {
    struct Case {
        const char* hypothesis;
        std::string text;
    };
    const Case cases[] = {
        {nullptr, ""},
        {"", ""},
        {"hello world", "hello world"},
        {"<s> read(2) the <sil> book(12) </s>", "read the book"},
        {"[NOISE] [SPEECH]", ""},
        // Only a whole "(digits)" at the end is a suffix.
        {"f(x) (2) a(b2)", "f(x) (2) a(b2)"},
        {"  two   spaces\tand a tab ", "two spaces and a tab"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PocketsphinxText::text(c.hypothesis), c.text)
            << (c.hypothesis ? c.hypothesis : "null");
}

TEST(PocketsphinxText, ModelFolderNamesAreLocaleIds) {
    struct Case {
        const char* folder;
        std::optional<std::string> id;
    };
    const Case cases[] = {
        {"en-us", "en-US"},   {"fr_FR", "fr-FR"},       {"de", "de"},
        {"yue-hk", "yue-HK"}, {"README", std::nullopt}, {"en-us-phone", std::nullopt},
        {"e", std::nullopt},  {"en-", std::nullopt},    {"12-us", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PocketsphinxText::localeId(c.folder), c.id) << c.folder;
}

// A model counts only with all three parts; a missing root has none.
TEST(PocketsphinxModels, AFolderIsALocaleOnlyWithAcousticModelLanguageModelAndDictionary) {
    test::TempDir dir;
    auto make = [&](const std::string& name, bool acoustic, bool lm, bool dict) {
        auto folder = dir.path() / "models" / name;
        std::filesystem::create_directories(folder / name);
        if (acoustic)
            test::writeFile(folder / name / "mdef", "x");
        if (lm)
            test::writeFile(folder / (name + ".lm.bin"), "x");
        if (dict)
            test::writeFile(folder / ("cmudict-" + name + ".dict"), "x");
    };
    make("en-us", true, true, true);
    make("fr-fr", true, true, false);
    make("de-de", false, true, true);
    make("es-es", true, false, true);
    make("notalocale", true, true, true);
    test::writeFile(dir.path() / "models" / "README", "x");

    SpeechRecognizersPocketsphinx recognizers(dir.path() / "models");
    EXPECT_EQ(recognizers.supportedLocales(), std::vector<std::string>{"en-US"});
    EXPECT_EQ(recognizers.authorizationStatus(), SpeechRecognizers::authorized);
    EXPECT_EQ(recognizers.recognizer("fr-FR"), nullptr);
    // One recogniser, and so one decoder, per locale.
    auto english = recognizers.recognizer("en-US");
    ASSERT_NE(english, nullptr);
    EXPECT_EQ(recognizers.recognizer("en-US"), english);
    EXPECT_EQ(english->utteranceRestarts(), UtteranceRestarts::never);
    EXPECT_EQ(english->nativeFormat(),
              (DraftAudioFormat{16000, 1, DraftSampleFormat::int16, false}));

    SpeechRecognizersPocketsphinx none(dir.path() / "nowhere");
    EXPECT_TRUE(none.supportedLocales().empty());
    EXPECT_EQ(none.recognizer("en-US"), nullptr);
}

} // namespace
} // namespace talverin
