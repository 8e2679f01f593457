#include "TalverinInsert/AppIdentity.h"

#include "TalverinInsert/ContextRules.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace talverin {
namespace {

TEST(AppIdentity, DesktopFileIdsAndWindowClassesNameTheRulesIdentifiers) {
    const struct {
        const char* name;
        AppClues clues;
        std::optional<std::string> identifier;
    } cases[] = {
        {"package desktop file", {"google-chrome.desktop", {}, {}}, "com.google.Chrome"},
        {"desktop file by path",
         {"/usr/share/applications/brave-browser.desktop", {}, {}},
         "com.brave.Browser"},
        {"flatpak id", {"com.microsoft.Edge", {}, {}}, "com.microsoft.edgemac"},
        {"window class only", {{}, "chromium", "Chromium"}, "org.chromium.Chromium"},
        {"class with its case", {{}, "vivaldi-stable", "Vivaldi-stable"}, "com.vivaldi.Vivaldi"},
        {"instance when the class is unknown", {{}, "opera", "Unknown"}, "com.operasoftware.Opera"},
        {"editor with spaces in its class",
         {{}, "code - insiders", "Code - Insiders"},
         "com.microsoft.VSCodeInsiders"},
        {"editor", {{}, "code", "Code"}, "com.microsoft.VSCode"},
        {"VSCodium", {"codium.desktop", {}, {}}, "com.vscodium"},
        // The desktop file decides over a window class that says otherwise.
        {"desktop file first", {"codium.desktop", "code", "Code"}, "com.vscodium"},
        // An unknown desktop file leaves the window to decide.
        {"unknown desktop file",
         {"my-launcher.desktop", "cursor", "Cursor"},
         "com.todesktop.230313mzl4w4u92"},
        {"nothing known",
         {"org.gnome.TextEditor", "gnome-text-editor", "Gnome-text-editor"},
         std::nullopt},
        {"no clues", {}, std::nullopt},
        // A name that merely contains a known one is another program.
        {"no partial match", {"google-chrome-helper.desktop", "codex", "Codex"}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(AppIdentity::identify(c.clues), c.identifier);
    }
}

// Every identifier the table hands out is one the rules act on: a Chromium prefix or an
// editor that is never asked for its tree.
TEST(AppIdentity, EveryKnownIdentifierIsOneTheRulesKnow) {
    for (const auto& app : AppIdentity::knownApps) {
        const std::string identifier(app.identifier);
        SCOPED_TRACE(identifier);
        EXPECT_TRUE(WebEngines::classify(identifier, std::nullopt) == WebEngine::chromium ||
                    WebEngines::isManualAccessibilitySkipped(identifier));
    }
}

// Electron keeps the application's code beside its executable, as an archive or a folder; the
// web-engine rules see it there.
TEST(AppIdentity, ElectronIsKnownByItsResourcesBesideTheExecutable) {
    test::TempDir dir;
    const auto archive = dir.path() / "archive";
    std::filesystem::create_directories(archive / "resources");
    std::ofstream(archive / "resources" / "app.asar") << "asar";
    const auto folder = dir.path() / "folder";
    std::filesystem::create_directories(folder / "resources" / "app");
    const auto plain = dir.path() / "plain";
    std::filesystem::create_directories(plain / "resources");
    // A file where the folder belongs is not an application's code.
    const auto stray = dir.path() / "stray";
    std::filesystem::create_directories(stray / "resources");
    std::ofstream(stray / "resources" / "app") << "";
    const struct {
        std::filesystem::path folder;
        WebEngine engine;
    } cases[] = {
        {archive, WebEngine::electron},
        {folder, WebEngine::electron},
        {plain, WebEngine::none},
        {stray, WebEngine::none},
        {dir.path() / "missing", WebEngine::none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder.string());
        EXPECT_EQ(WebEngines::classify(std::nullopt, c.folder.string()), c.engine);
    }
}

} // namespace
} // namespace talverin
