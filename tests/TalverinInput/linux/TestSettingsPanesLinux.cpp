#include "TalverinInput/linux/SettingsPanesLinux.h"

#include "../TapTestSupport.h"
#include "TalverinInput/Permissions.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

namespace talverin {
namespace {

// A desktop whose only settings program is a script that notes how it was started.
class SettingsPanesLinuxTest : public ::testing::Test {
protected:
    SettingsPanesLinuxTest() {
        if (const char* path = std::getenv("PATH"))
            m_savedPath = path;
        const auto bin = dir.path() / "bin";
        std::filesystem::create_directory(bin);
        const auto script = bin / "gnome-control-center";
        test::writeFile(script, "#!/bin/sh\necho \"[$*]\" >> '" + calls().string() + "'\n");
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        ::setenv("PATH", bin.c_str(), 1);
    }
    ~SettingsPanesLinuxTest() override {
        if (m_savedPath)
            ::setenv("PATH", m_savedPath->c_str(), 1);
    }

    std::filesystem::path calls() const { return dir.path() / "calls"; }

    // The program runs on its own; wait for its note.
    std::string waitForCalls(std::size_t lines) {
        for (int i = 0; i < 500; ++i) {
            std::error_code error;
            if (std::filesystem::exists(calls(), error)) {
                const std::string text = test::readFile(calls());
                if (static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) >= lines)
                    return text;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return {};
    }

    test::TempDir dir;
    std::optional<std::string> m_savedPath;
};

TEST_F(SettingsPanesLinuxTest, StartsTheInstalledSettingsProgramOnThePanel) {
    EXPECT_TRUE(SettingsPanesLinux::open("gnome-control-center:sound?Privacy_Microphone"));
    EXPECT_EQ(waitForCalls(1), "[sound]\n");
    EXPECT_FALSE(SettingsPanesLinux::open("systemsettings:kcm_access?Privacy_Accessibility"))
        << "not installed";
    EXPECT_FALSE(SettingsPanesLinux::open("gnome-control-center:?Privacy_SpeechRecognition"))
        << "no panel for it";
    EXPECT_FALSE(SettingsPanesLinux::open("nonsense"));
}

TEST_F(SettingsPanesLinuxTest, APermissionWithoutAPanelOpensTheSettingsThemselves) {
    test::LogLines log;
    Permissions::openPane(Wire::PermissionKind::speech, SettingsPanesLinux::open);
    EXPECT_EQ(waitForCalls(1), "[]\n");
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Permissions: could not open the speech pane"});
}

} // namespace
} // namespace talverin
