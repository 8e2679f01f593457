#include "Talverin/App/linux/KeyboardSettingsLinux.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace talverin {
namespace {

const std::string gnome = "gnome-control-center:keyboard";
const std::string kde = "systemsettings:kcm_keyboard";
const std::string xfce = "xfce4-keyboard-settings:";

// The running desktop's own program comes first; the others stay as a fallback.
TEST(KeyboardSettingsLinux, TheRunningDesktopsProgramIsTriedFirst) {
    struct Case {
        std::string currentDesktop;
        std::vector<std::string> order;
    };
    const std::vector<Case> cases = {
        {"", {gnome, kde, xfce}},           {"KDE", {kde, gnome, xfce}},
        {"XFCE", {xfce, gnome, kde}},       {"ubuntu:GNOME", {gnome, kde, xfce}},
        {"X-Cinnamon", {gnome, kde, xfce}}, {"XFCE:KDE:XFCE", {xfce, kde, gnome}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KeyboardSettingsLinux::addresses(c.currentDesktop), c.order) << c.currentDesktop;
}

// The first program that starts is the one the user sees; the rest are not tried.
TEST(KeyboardSettingsLinux, TriesTheProgramsInTurnUntilOneStarts) {
    struct Case {
        std::set<std::string> starting;
        std::vector<std::string> tried;
        bool opened;
    };
    const std::vector<Case> cases = {
        {{kde, xfce}, {kde}, true},
        {{gnome}, {kde, gnome}, true},
        {{xfce}, {kde, gnome, xfce}, true},
        {{}, {kde, gnome, xfce}, false},
    };
    for (const Case& c : cases) {
        std::vector<std::string> tried;
        KeyboardSettingsLinux settings(
            [&](const std::string& address) {
                tried.push_back(address);
                return c.starting.contains(address);
            },
            "KDE");
        EXPECT_EQ(settings.open(), c.opened);
        EXPECT_EQ(tried, c.tried);
    }
}

// A desktop whose settings programs are scripts that note how they were started.
class KeyboardSettingsOnPath : public ::testing::Test {
protected:
    KeyboardSettingsOnPath() {
        if (const char* path = std::getenv("PATH"))
            m_savedPath = path;
        std::filesystem::create_directory(bin());
        ::setenv("PATH", bin().c_str(), 1);
    }
    ~KeyboardSettingsOnPath() override {
        if (m_savedPath)
            ::setenv("PATH", m_savedPath->c_str(), 1);
    }

    std::filesystem::path bin() const { return dir.path() / "bin"; }
    std::filesystem::path calls() const { return dir.path() / "calls"; }

    void install(const std::string& program) {
        const auto script = bin() / program;
        test::writeFile(script,
                        "#!/bin/sh\necho \"" + program + " [$*]\" >> '" + calls().string() + "'\n");
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    }

    // The program runs on its own: waits for its note, generously for a loaded machine.
    std::string waitForCall() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < end) {
            std::error_code error;
            if (std::filesystem::exists(calls(), error)) {
                const std::string text = test::readFile(calls());
                if (text.ends_with('\n'))
                    return text;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return {};
    }

    test::TempDir dir;
    std::optional<std::string> m_savedPath;
};

TEST_F(KeyboardSettingsOnPath, StartsTheInstalledProgramOnItsKeyboardPanel) {
    install("systemsettings");
    KeyboardSettingsLinux settings;
    EXPECT_EQ(settings.unavailableReason(), std::nullopt);
    EXPECT_TRUE(settings.open());
    EXPECT_EQ(waitForCall(), "systemsettings [kcm_keyboard]\n");
}

TEST_F(KeyboardSettingsOnPath, WithNoSettingsProgramNothingStartsAndTheReasonSaysSo) {
    install("gnome-calculator");
    KeyboardSettingsLinux settings;
    EXPECT_EQ(settings.unavailableReason(), "no keyboard settings program is installed");
    EXPECT_FALSE(settings.open());
}

} // namespace
} // namespace talverin
