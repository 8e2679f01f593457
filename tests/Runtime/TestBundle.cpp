#include "Runtime/Bundle.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace talverin {
namespace {

TEST(BundleTest, FoundInTheNearestShareTalverinAboveTheProgram) {
    test::TempDir dir;
    const auto root = dir.path();
    std::filesystem::create_directories(root / "share/talverin");
    std::filesystem::create_directories(root / "src/Talverin/App");
    std::filesystem::create_directories(root / "bin");
    EXPECT_EQ(Bundle::locate(root / "bin/talverin"), std::nullopt);
    test::writeFile(root / "share/talverin/Info.json", "{}");
    // An installed binary in bin/, and a program deep in the build tree.
    EXPECT_EQ(Bundle::locate(root / "bin/talverin"), root / "share/talverin");
    EXPECT_EQ(Bundle::locate(root / "src/Talverin/App/talverin"), root / "share/talverin");
}

TEST(BundleTest, LoadsOnlyAJsonObject) {
    test::TempDir dir;
    EXPECT_EQ(Bundle::load(dir.path()).error(), BundleError::NotFound);
    test::writeFile(dir.path() / "Info.json", "[1]");
    EXPECT_EQ(Bundle::load(dir.path()).error(), BundleError::InvalidJson);
    test::writeFile(dir.path() / "Info.json", "{\"CFBundleIdentifier\": ");
    EXPECT_EQ(Bundle::load(dir.path()).error(), BundleError::InvalidJson);
    test::writeFile(dir.path() / "Info.json",
                    R"({"CFBundleIdentifier":"app.example","CFBundleShortVersionString":2,)"
                    R"("LSUIElement":true,"Flag":"true","Zero":0})");
    auto bundle = Bundle::load(dir.path());
    ASSERT_TRUE(bundle.ok());
    EXPECT_EQ(bundle->identifier(), "app.example");
    EXPECT_EQ(bundle->shortVersion(), std::nullopt);
    // Only a JSON Boolean is a Boolean: no string or number stands in for one.
    EXPECT_EQ(bundle->boolean("LSUIElement"), true);
    EXPECT_EQ(bundle->boolean("Flag"), std::nullopt);
    EXPECT_EQ(bundle->boolean("Zero"), std::nullopt);
    EXPECT_EQ(bundle->boolean("Absent"), std::nullopt);
    EXPECT_EQ(bundle->resource("sounds/a.wav"), dir.path() / "sounds/a.wav");
    EXPECT_EQ(Bundle().identifier(), Bundle::fallbackIdentifier);
}

// The build writes this program's bundle from the build options.
TEST(BundleTest, TheBuildTreeHasTheApplicationsBundle) {
    const auto& bundle = Bundle::main();
    EXPECT_EQ(bundle.identifier(), "app.talverin.Talverin");
    EXPECT_TRUE(bundle.shortVersion().has_value());
    EXPECT_TRUE(bundle.string("TLSupabaseURL").has_value());
    EXPECT_TRUE(bundle.string("TLSupabaseKey").has_value());
    EXPECT_EQ(bundle.boolean("LSUIElement"), true);
    EXPECT_EQ(bundle.string("CFBundleIconFile"), "AppIcon");
}

} // namespace
} // namespace talverin
