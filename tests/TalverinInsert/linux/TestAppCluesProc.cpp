#include "TalverinInsert/linux/AppCluesProc.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace talverin {
namespace {

// A process folder under a stand-in for /proc with the given environment block.
void writeEnvironment(const std::filesystem::path& root, int pid, const std::string& block) {
    const auto folder = root / std::to_string(pid);
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "environ", std::ios::binary) << block;
}

TEST(AppCluesProc, TheLaunchedDesktopFileNamesOnlyTheLaunchedProcess) {
    test::TempDir dir;
    using namespace std::string_literals;
    const std::string launched =
        "HOME=/root\0GIO_LAUNCHED_DESKTOP_FILE=/usr/share/applications/code.desktop\0"
        "GIO_LAUNCHED_DESKTOP_FILE_PID=41\0"s;
    writeEnvironment(dir.path(), 41, launched);
    // A shell started from the editor's terminal inherits the editor's variables.
    writeEnvironment(dir.path(), 77, launched);
    writeEnvironment(dir.path(), 52, "FLATPAK_ID=com.brave.Browser\0X=1\0"s);
    // A prefix of a variable's name is another variable.
    writeEnvironment(dir.path(), 63, "FLATPAK_ID_OLD=com.brave.Browser\0"s);
    const struct {
        int pid;
        std::optional<std::string> desktopFileId;
    } cases[] = {
        {41, "/usr/share/applications/code.desktop"},
        {77, std::nullopt},
        {52, "com.brave.Browser"},
        {63, std::nullopt},
        {99, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pid);
        EXPECT_EQ(AppCluesProc::read(c.pid, std::nullopt, dir.path().string()).desktopFileId,
                  c.desktopFileId);
    }
}

TEST(AppCluesProc, TheWindowClassComesOnlyFromTheProcesssOwnWindow) {
    test::TempDir dir;
    const FrontWindow front{7, 41, "code", "Code"};
    const auto own = AppCluesProc::read(41, front, dir.path().string());
    EXPECT_EQ(own.instanceName, "code");
    EXPECT_EQ(own.className, "Code");
    const auto other = AppCluesProc::read(42, front, dir.path().string());
    EXPECT_EQ(other.instanceName, std::nullopt);
    EXPECT_EQ(other.className, std::nullopt);
}

} // namespace
} // namespace talverin
