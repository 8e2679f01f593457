#include "TalverinPill/PillSnapshot.h"

#include "TalverinPill/PillLayout.h"
#include "TalverinPill/PillView.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

namespace talverin {
namespace {

namespace fs = std::filesystem;
using PillSnapshot::Scene;

// The pixel size from a PNG's header.
std::pair<int, int> pngSize(const std::string& data) {
    auto word = [&](std::size_t at) {
        return (std::uint8_t(data[at]) << 24) | (std::uint8_t(data[at + 1]) << 16) |
               (std::uint8_t(data[at + 2]) << 8) | std::uint8_t(data[at + 3]);
    };
    EXPECT_GE(data.size(), 24u);
    EXPECT_EQ(data.substr(1, 3), "PNG");
    return {int(word(16)), int(word(20))};
}

std::vector<std::string> expectedNames(PillLang lang) {
    std::vector<std::string> names;
    for (const auto& sample : PillSnapshot::samples(lang))
        names.push_back(sample.name);
    for (auto scene : allCases<Scene>())
        names.push_back(PillSnapshot::fileName(scene));
    return names;
}

TEST(PillSnapshot, SamplesAndScenesAreNamedInExportOrder) {
    const auto names = expectedNames(PillLang::en);
    ASSERT_EQ(names.size(), 24u + 19u);
    EXPECT_EQ(names.front(), "listening-empty");
    EXPECT_EQ(names[16], "silence");
    EXPECT_EQ(names[17], "refused-secureField");
    EXPECT_EQ(names[22], "refused-noSpeechRecognition");
    EXPECT_EQ(names[23], "limit");
    EXPECT_EQ(names[24], "motion-idle");
    EXPECT_EQ(names[27], "motion-island-rest");
    EXPECT_EQ(names.back(), "motion-drag");
    EXPECT_EQ(PillSnapshot::samples(PillLang::en)[15].microphone, "MacBook Pro Microphone");
}

TEST(PillSnapshot, OnlyTheDragSceneRendersAtHalfScaleNeverBelowOne) {
    EXPECT_EQ(PillSnapshot::sceneScale(Scene::drag, 1), 1);
    EXPECT_EQ(PillSnapshot::sceneScale(Scene::drag, 2), 1);
    EXPECT_EQ(PillSnapshot::sceneScale(Scene::drag, 4), 2);
    EXPECT_EQ(PillSnapshot::sceneScale(Scene::hover, 2), 2);
    auto drag = PillSnapshot::scenePNG(Scene::drag, 2, PillLang::en);
    ASSERT_TRUE(drag);
    EXPECT_EQ(pngSize(*drag), (std::pair{1512, 982}));
}

TEST(PillSnapshot, ExportWritesEveryImageInOrderWithSheetsBesideTheLanguages) {
    test::TempDir dir;
    const fs::path out = dir.path() / "export";
    const double scale = 2;
    auto result = PillSnapshot::writeAll(out, scale, {PillLang::en, PillLang::ru});
    ASSERT_FALSE(result.failure) << result.failure->stem;

    std::vector<fs::path> expected;
    for (auto lang : {PillLang::en, PillLang::ru}) {
        const std::string code(toString(lang));
        for (const auto& name : expectedNames(lang))
            expected.push_back(out / code / (name + ".png"));
        expected.push_back(out / ("sheet-" + code + ".png"));
    }
    ASSERT_EQ(result.written.size(), 88u);
    EXPECT_EQ(result.written, expected);
    for (const auto& file : expected)
        EXPECT_TRUE(fs::is_regular_file(file)) << file;

    // Each sample is its pill plus an 8-point margin, at the scale.
    for (auto lang : {PillLang::en, PillLang::ru}) {
        for (const auto& sample : PillSnapshot::samples(lang)) {
            const auto body = PillView{sample.state, lang, sample.microphone}.body();
            ASSERT_TRUE(body);
            const auto size =
                pngSize(test::readFile(out / std::string(toString(lang)) / (sample.name + ".png")));
            EXPECT_EQ(size.first, std::lround((body->width() + 16) * scale)) << sample.name;
            EXPECT_EQ(size.second, std::lround((PillLayout::height + 16) * scale)) << sample.name;
        }
    }
    const auto sheet = PillSnapshot::sheetSize(24);
    EXPECT_EQ(
        pngSize(test::readFile(out / "sheet-ru.png")),
        (std::pair{int(std::lround(sheet.width * scale)), int(std::lround(sheet.height * scale))}));
    EXPECT_EQ(sheet.width, 16 + 170 + 16 + 452 + 16 + 452 + 16);
    EXPECT_EQ(sheet.height, 16 + 24 * 68 + 23 * 12 + 16);
}

TEST(PillSnapshot, AFailureStopsTheExportAndKeepsWhatWasWritten) {
    test::TempDir dir;
    const fs::path out = dir.path() / "export";
    fs::create_directories(out);
    // A file where the folder should go stops even a process that may write anywhere.
    test::writeFile(out / "ru", "in the way");
    auto result = PillSnapshot::writeAll(out, 1, {PillLang::en, PillLang::ru});
    ASSERT_TRUE(result.failure);
    EXPECT_EQ(result.failure->kind, PillSnapshot::SnapshotError::Kind::fileSystem);
    EXPECT_EQ(result.failure->stem, (out / "ru").string());
    EXPECT_NE(result.failure->error, 0);
    ASSERT_EQ(result.written.size(), 44u);
    EXPECT_EQ(result.written.back(), out / "sheet-en.png");
    for (const auto& file : result.written)
        EXPECT_TRUE(fs::is_regular_file(file)) << file;
    EXPECT_EQ(test::readFile(out / "ru"), "in the way");
}

TEST(PillSnapshot, NoLanguagesWriteNothing) {
    test::TempDir dir;
    auto result = PillSnapshot::writeAll(dir.path() / "export", 2, {});
    EXPECT_TRUE(result.written.empty());
    EXPECT_FALSE(result.failure);
    EXPECT_FALSE(fs::exists(dir.path() / "export"));
}

} // namespace
} // namespace talverin
