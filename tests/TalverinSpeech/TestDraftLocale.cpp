#include "TalverinSpeech/DraftLocale.h"

#include "Runtime/PreferredLanguages.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace talverin {
namespace {

using Strings = std::vector<std::string>;

TEST(DraftLocale, ParsesIdentifiersInEitherSpelling) {
    struct Case {
        std::string id;
        std::optional<DraftLocale::Parts> expected;
    };
    const Case cases[] = {
        {"en", DraftLocale::Parts{"en", std::nullopt, true}},
        {"en-GB", DraftLocale::Parts{"en", "GB", true}},
        {"en_us", DraftLocale::Parts{"en", "US", true}},
        {"EN-us", DraftLocale::Parts{"en", "US", true}},
        {"iw_IL", DraftLocale::Parts{"he", "IL", true}},
        {"es-419", DraftLocale::Parts{"es", "419", true}},
        {"zh-Hans-CN", DraftLocale::Parts{"zh", "CN", false}},
        {"en-GB-US", DraftLocale::Parts{"en", "GB", false}},
        {"sr__RS", DraftLocale::Parts{"sr", "RS", true}},
        {"de-1996", DraftLocale::Parts{"de", std::nullopt, false}},
        {"", std::nullopt},
        {"-_-", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DraftLocale::parts(c.id), c.expected) << c.id;
}

TEST(DraftLocale, RetiredCodesAndDefaultRegions) {
    EXPECT_EQ(DraftLocale::normalizedLanguage("no"), "nb");
    EXPECT_EQ(DraftLocale::normalizedLanguage("JI"), "yi");
    EXPECT_EQ(DraftLocale::normalizedLanguage(""), "");
    EXPECT_EQ(DraftLocale::defaultRegion("en"), "US");
    EXPECT_EQ(DraftLocale::defaultRegion("pt"), "BR");
    // Outside the table the likely subtags decide.
    EXPECT_EQ(DraftLocale::defaultRegion("ja"), "JP");
    EXPECT_EQ(DraftLocale::defaultRegion("ko"), "KR");
    EXPECT_EQ(DraftLocale::defaultRegion(""), std::nullopt);
}

// The region of a Linux locale name, as the provider reads it.
std::optional<std::string> regionOf(const std::string& localeName) {
    auto parsed = DraftLocale::parts(PreferredLanguages::tagOf(localeName));
    return parsed ? parsed->region : std::nullopt;
}

TEST(DraftLocale, RanksTheUsersRegionsFirstAndPlainIdentifiersBeforeOthers) {
    struct Case {
        std::string name;
        std::string language;
        Strings supported;
        Strings preferred;
        std::optional<std::string> region;
        int limit;
        Strings expected;
    };
    const Strings english = {"en-AU", "en-GB", "en-IN", "en-US"};
    const Case cases[] = {
        {"preferred region, then current, then default",
         "en",
         english,
         {"de-DE", "en-GB"},
         "DE",
         4,
         {"en-GB", "en-US", "en-AU", "en-IN"}},
        {"limit cuts the tail", "en", english, {"de-DE", "en-GB"}, "DE", 2, {"en-GB", "en-US"}},
        {"limit zero", "en", english, {}, std::nullopt, 0, {}},
        {"negative limit", "en", english, {}, std::nullopt, -3, {}},
        {"the setting's own region comes first",
         "en_IN",
         english,
         {"en-GB"},
         "GB",
         4,
         {"en-IN", "en-GB", "en-US", "en-AU"}},
        {"current region from LANG",
         "en",
         english,
         {},
         regionOf("en_AU.UTF-8"),
         4,
         {"en-AU", "en-US", "en-GB", "en-IN"}},
        {"C locale: no region, the default", "en", english, {}, regionOf("C"), 1, {"en-US"}},
        {"a modifier does not hide the region",
         "sr",
         {"sr-BA", "sr-RS"},
         {},
         regionOf("sr_RS@latin"),
         4,
         {"sr-RS", "sr-BA"}},
        {"Linux spelling of supported ids",
         "pt",
         {"pt_BR", "pt_PT"},
         {PreferredLanguages::tagOf("pt_PT.UTF-8")},
         std::nullopt,
         4,
         {"pt_PT", "pt_BR"}},
        {"retired code matches the current one",
         "no",
         {"da-DK", "nb-NO", "nn-NO"},
         {},
         std::nullopt,
         4,
         {"nb-NO"}},
        {"default region for Chinese",
         "zh",
         {"zh-CN", "zh-HK", "zh-TW"},
         {"de-DE"},
         "DE",
         4,
         {"zh-CN", "zh-HK", "zh-TW"}},
        {"a script piece never ranks before a plain id",
         "zh",
         {"zh-Hans-CN", "zh-TW"},
         {},
         "CN",
         4,
         {"zh-TW", "zh-Hans-CN"}},
        {"unknown language", "xx", english, {}, std::nullopt, 4, {}},
        {"empty language", "", english, {}, std::nullopt, 4, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DraftLocale::candidates(c.language, c.supported, c.preferred, c.region, c.limit),
                  c.expected)
            << c.name;
}

} // namespace
} // namespace talverin
