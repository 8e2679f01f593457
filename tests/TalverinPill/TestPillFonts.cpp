#include "TalverinPill/PillFonts.h"

#include "Runtime/Bundle.h"
#include "TalverinCore/ThemeTokens.h"
#include "support/LogLines.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include <pango/pangocairo.h>
#include <sys/wait.h>
#include <unistd.h>

namespace talverin {
namespace {

namespace fs = std::filesystem;

// In the build tree the bundle holds the shipped fonts.
TEST(PillFonts, TheShippedFontsGiveEveryFaceAndTheCascade) {
    EXPECT_TRUE(PillFonts::isLoaded());
    EXPECT_EQ(PillFonts::registerFonts(Bundle::main().folder()), 4);
    EXPECT_EQ(PillFonts::families(), "Urbanist,Manrope ExtraLight,Sans");
}

// The face that pango picks for the first character of a text.
std::string faceFamily(std::string_view text, double weight) {
    PangoContext* context = PillFonts::newContext();
    PangoLayout* layout = PillFonts::newLayout(context, text, PillFonts::font(13.5, weight, false));
    auto* run = static_cast<PangoLayoutRun*>(pango_layout_get_line_readonly(layout, 0)->runs->data);
    PangoFontDescription* described = pango_font_describe(run->item->analysis.font);
    std::string family = pango_font_description_get_family(described);
    pango_font_description_free(described);
    EXPECT_EQ(pango_layout_get_unknown_glyphs_count(layout), 0) << text;
    g_object_unref(layout);
    g_object_unref(context);
    return family;
}

TEST(PillFonts, EachScriptFindsItsFace) {
    ASSERT_TRUE(PillFonts::isLoaded());
    EXPECT_EQ(faceFamily("Listening", 500), "Urbanist");
    EXPECT_EQ(faceFamily("привет", 500), "Manrope ExtraLight");
    EXPECT_EQ(faceFamily("⌘⌥⌃⇧", 600), "DejaVu Sans");
}

TEST(PillFonts, TheWeightAxisWidensTheText) {
    EXPECT_LT(PillFonts::typographicWidth("Hands-free dictation", 13.5, 300, false),
              PillFonts::typographicWidth("Hands-free dictation", 13.5, 800, false));
}

TEST(PillFonts, WidthsAreUnroundedTypographicWidthsRoundedUp) {
    EXPECT_EQ(PillFonts::width("", 13.5, 500, false), 0);
    bool sawFraction = false;
    for (std::string text : {"Polishing", "let's meet", "Вставлено", "1:14"}) {
        double exact = PillFonts::typographicWidth(text, 13.5, 500, false);
        EXPECT_EQ(PillFonts::width(text, 13.5, 500, false), std::ceil(exact)) << text;
        EXPECT_GT(exact, 10) << text;
        sawFraction = sawFraction || exact != std::floor(exact);
    }
    // Hinted metrics or rounded glyph positions would land every width on a whole point.
    EXPECT_TRUE(sawFraction);
}

TEST(PillFonts, SystemWeightBands) {
    struct Case {
        double weight;
        PangoWeight expected;
    };
    const Case cases[] = {
        {1, PANGO_WEIGHT_THIN},          {100, PANGO_WEIGHT_THIN},
        {149.9, PANGO_WEIGHT_THIN},      {150, PANGO_WEIGHT_ULTRALIGHT},
        {200, PANGO_WEIGHT_ULTRALIGHT},  {249.9, PANGO_WEIGHT_ULTRALIGHT},
        {250, PANGO_WEIGHT_LIGHT},       {349.9, PANGO_WEIGHT_LIGHT},
        {350, PANGO_WEIGHT_NORMAL},      {474.9, PANGO_WEIGHT_NORMAL},
        {475, PANGO_WEIGHT_MEDIUM},      {550, PANGO_WEIGHT_SEMIBOLD},
        {675, PANGO_WEIGHT_BOLD},        {750, PANGO_WEIGHT_ULTRABOLD},
        {849.9, PANGO_WEIGHT_ULTRABOLD}, {850, PANGO_WEIGHT_HEAVY},
        {1000, PANGO_WEIGHT_HEAVY},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PillFonts::systemWeight(c.weight), c.expected) << c.weight;
    // A heavier numeric weight never draws lighter.
    for (double weight = 1; weight < 1000; weight += 0.5)
        ASSERT_LE(PillFonts::systemWeight(weight), PillFonts::systemWeight(weight + 0.5)) << weight;
}

// GTK sets the number locale from the environment, and a Russian one writes decimal commas.
TEST(PillFonts, TheWeightReachesPangoTheSameInEveryLocale) {
    ASSERT_TRUE(PillFonts::isLoaded());
    test::TempDir dir;
    const std::string build = "localedef -i ru_RU -f UTF-8 '" +
                              (dir.path() / "ru_RU.UTF-8").string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(build.c_str()), 0) << "the Russian locale could not be built";
    ::setenv("LOCPATH", dir.path().c_str(), 1);
    const std::string before = std::setlocale(LC_NUMERIC, nullptr);
    const bool russian = std::setlocale(LC_NUMERIC, "ru_RU.UTF-8") != nullptr;
    const std::string point = std::localeconv()->decimal_point;
    // A weight no other test asks for, so the font is made here and not found in the cache.
    const auto made = PillFonts::font(13.5, 512.5, false);
    std::setlocale(LC_NUMERIC, before.c_str());
    ::unsetenv("LOCPATH");
    ASSERT_TRUE(russian);
    ASSERT_EQ(point, ",");
    const char* variations = pango_font_description_get_variations(made.description.get());
    ASSERT_NE(variations, nullptr);
    EXPECT_STREQ(variations, "wght=512.5");
}

// Font state is set once per process, so each scenario of missing or broken files runs in a
// process of its own: a copy of this program in a folder outside the build tree, started from
// a working folder there, so neither the bundle nor a development tree is found.
constexpr const char* childVariable = "TALVERIN_PILL_FONTS_CHILD";

struct Scenario {
    const char* name;
};

void PrintTo(const Scenario& scenario, std::ostream* out) {
    *out << scenario.name;
}

void copyFaces(const fs::path& into, bool withPrimary) {
    fs::create_directories(into);
    const auto source = Bundle::main().resource("fonts");
    for (std::size_t i = withPrimary ? 0 : 1; i < ThemeTokens::Fonts::files.size(); ++i) {
        fs::path woff2 = source / ThemeTokens::Fonts::files[i];
        fs::copy_file(woff2, into / woff2.filename());
        fs::copy_file(fs::path(woff2).replace_extension(".ttf"),
                      into / fs::path(woff2.filename()).replace_extension(".ttf"));
    }
}

class PillFontsAlone : public ::testing::TestWithParam<Scenario> {};

TEST_P(PillFontsAlone, LogsItsLinesAndFallsBack) {
    test::TempDir dir;
    const auto root = dir.path();
    const std::string scenario = GetParam().name;
    if (scenario == "onlyPrimary") {
        copyFaces(root / "good" / "fonts", true);
        for (std::size_t i = 1; i < ThemeTokens::Fonts::files.size(); ++i) {
            fs::remove(root / "good" / "fonts" / ThemeTokens::Fonts::files[i]);
        }
    } else if (scenario == "corruptPrimary") {
        copyFaces(root / "good" / "fonts", false);
        fs::path primary = root / "good" / "fonts" / ThemeTokens::Fonts::files[0];
        test::writeFile(primary, "wOF2 this is not a font");
        test::writeFile(fs::path(primary).replace_extension(".ttf"), "nor is this");
    } else if (scenario == "badThenGood") {
        fs::create_directories(root / "bad");
        copyFaces(root / "good" / "fonts", true);
    } else if (scenario == "developmentTree") {
        // A checkout: the fonts in its resources folder, the program and its working folder
        // further down.
        copyFaces(root / "resources" / "fonts", true);
    }
    fs::create_directories(root / "bin");
    fs::create_directories(root / "work");
    const fs::path copy = root / "bin" / "pill-fonts-test";
    fs::copy_file(fs::read_symlink("/proc/self/exe"), copy);
    const fs::path output = root / "child.txt";

    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::chdir((root / "work").c_str()) != 0)
            ::_exit(90);
        ::setenv(childVariable, (scenario + ":" + root.string()).c_str(), 1);
        FILE* sink = ::freopen(output.c_str(), "w", stdout);
        if (sink == nullptr || ::dup2(::fileno(stdout), 2) < 0)
            ::_exit(91);
        std::string filter = "--gtest_filter=PillFontsChild.*";
        ::execl(copy.c_str(), copy.c_str(), filter.c_str(), static_cast<char*>(nullptr));
        ::_exit(92);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << test::readFile(output);
    // The child ran its checks rather than skipping them.
    EXPECT_NE(test::readFile(output).find("[  PASSED  ] 1 test"), std::string::npos)
        << test::readFile(output);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, PillFontsAlone,
                         ::testing::Values(Scenario{"noFiles"}, Scenario{"onlyPrimary"},
                                           Scenario{"corruptPrimary"}, Scenario{"badThenGood"},
                                           Scenario{"developmentTree"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Runs only inside the process that a PillFontsAlone case starts.
TEST(PillFontsChild, Scenario) {
    const char* value = std::getenv(childVariable);
    if (value == nullptr)
        GTEST_SKIP() << "runs only as the child of PillFontsAlone";
    std::string setting = value;
    const std::string scenario = setting.substr(0, setting.find(':'));
    const fs::path root = setting.substr(setting.find(':') + 1);
    ASSERT_TRUE(Bundle::main().folder().empty()) << Bundle::main().folder();
    test::LogLines log;

    if (scenario == "noFiles") {
        EXPECT_FALSE(PillFonts::isLoaded());
        EXPECT_EQ(PillFonts::registerFonts(std::nullopt), 0);
        EXPECT_EQ(log.lines(), std::vector<std::string>{
                                   "PillFonts: font files not found, using the system font"});
    } else if (scenario == "onlyPrimary") {
        EXPECT_EQ(PillFonts::registerFonts(root / "good"), 1);
        EXPECT_TRUE(PillFonts::isLoaded());
        EXPECT_EQ(PillFonts::families(), "Urbanist,Sans");
        EXPECT_EQ(log.lines(), std::vector<std::string>{"PillFonts: 3 of 4 font files missing"});
    } else if (scenario == "corruptPrimary") {
        EXPECT_EQ(PillFonts::registerFonts(root / "good"), 0);
        EXPECT_FALSE(PillFonts::isLoaded());
        EXPECT_EQ(log.lines(), (std::vector<std::string>{
                                   "PillFonts: 1 of 4 font files missing",
                                   "PillFonts: no primary font file, using the system font"}));
    } else if (scenario == "badThenGood") {
        EXPECT_EQ(PillFonts::registerFonts(root / "bad"), 0);
        EXPECT_EQ(PillFonts::registerFonts(root / "good"), 0);
        EXPECT_FALSE(PillFonts::isLoaded());
        EXPECT_EQ(log.lines(), std::vector<std::string>{
                                   "PillFonts: font files not found, using the system font"});
    } else if (scenario == "developmentTree") {
        const auto found = PillFonts::fontsDirectory(std::nullopt);
        ASSERT_TRUE(found);
        EXPECT_TRUE(fs::equivalent(*found, root / "resources" / "fonts")) << *found;
        EXPECT_EQ(PillFonts::registerFonts(std::nullopt), 4);
        EXPECT_TRUE(PillFonts::isLoaded());
        EXPECT_EQ(PillFonts::families(), "Urbanist,Manrope ExtraLight,Sans");
        EXPECT_TRUE(log.lines().empty());
    }
    if (!PillFonts::isLoaded()) {
        // Every font is then the system font of the matching weight band.
        for (auto [weight, expected] :
             {std::pair{474.9, PANGO_WEIGHT_NORMAL}, std::pair{600.0, PANGO_WEIGHT_SEMIBOLD}}) {
            auto made = PillFonts::font(13.5, weight, true);
            EXPECT_EQ(pango_font_description_get_family(made.description.get()),
                      std::string(PillFonts::systemFamily));
            EXPECT_EQ(pango_font_description_get_weight(made.description.get()), expected);
            EXPECT_TRUE(made.tabular);
        }
        EXPECT_GT(PillFonts::width("Polishing", 13.5, 500, false), 10);
    }
}

} // namespace
} // namespace talverin
