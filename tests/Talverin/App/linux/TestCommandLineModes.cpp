// The installed program's command-line modes, run the way a packager or CI would: from an
// installed prefix, with no display, no session bus and no sound server.
#include "Runtime/Bundle.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace talverin {
namespace {

namespace fs = std::filesystem;

struct Ran {
    int code = -1;
    std::string out;
};

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs a shell command line and collects its standard output.
Ran shell(const std::string& command) {
    Ran ran;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return ran;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        ran.out.append(buffer, n);
    const int status = ::pclose(pipe);
    ran.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return ran;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The build tree is the folder above the share/talverin this test program finds as its bundle.
class CommandLineModes : public testing::Test {
protected:
    static void SetUpTestSuite() {
        prefix = new test::TempDir;
        const fs::path build = Bundle::main().folder().parent_path().parent_path();
        const Ran install = shell("cmake --install " + quoted(build.string()) + " --prefix " +
                                  quoted(prefix->path().string()) + " >/dev/null 2>&1");
        installed = install.code == 0;
    }
    static void TearDownTestSuite() {
        delete prefix;
        prefix = nullptr;
    }

    // The installed program in a bare environment: no display, bus or sound server, and a
    // HOME of its own.
    Ran talverin(const std::string& arguments) {
        std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS "
                              "-u PULSE_SERVER -u PULSE_RUNTIME_PATH -u XDG_RUNTIME_DIR "
                              "-u XDG_STATE_HOME -u XDG_CONFIG_HOME -u XDG_DATA_HOME";
        command += " HOME=" + quoted(home.path().string());
#ifdef TALVERIN_LSAN_SUPPRESSIONS
        command += " LSAN_OPTIONS=suppressions=" + quoted(TALVERIN_LSAN_SUPPRESSIONS);
#endif
        command += " " + quoted((prefix->path() / "bin/talverin").string()) + " " + arguments;
        command += " 2>" + quoted((home.path() / "stderr.txt").string());
        return shell(command);
    }
    void expectNoLogFolder() {
        EXPECT_FALSE(fs::exists(home.path() / ".local/state/Talverin"))
            << "a command-line mode wrote log files";
    }

    static inline test::TempDir* prefix = nullptr;
    static inline bool installed = false;
    test::TempDir home;
};

TEST_F(CommandLineModes, TheSelfTestPassesOnTheInstalledBundle) {
    ASSERT_TRUE(installed);
    const Ran ran = talverin("--selftest");
    const auto lines = linesOf(ran.out);
    EXPECT_EQ(ran.code, 0) << ran.out;
    ASSERT_EQ(lines.size(), 3u) << ran.out;
    EXPECT_EQ(lines[0].rfind("selftest: Talverin ", 0), 0u);
    EXPECT_NE(lines[0].find(", missing [], usage strings missing [], app icon true"),
              std::string::npos)
        << lines[0];
    EXPECT_EQ(lines[1].rfind("selftest: pill fonts 4/4 loaded true, pill snapshot ", 0), 0u)
        << lines[1];
    EXPECT_EQ(lines[2], "selftest: history true, replacements true, menu icon true");
    expectNoLogFolder();
}

TEST_F(CommandLineModes, TheMenuIconIsA176By72Png) {
    ASSERT_TRUE(installed);
    const fs::path icon = home.path() / "icon.png";
    const Ran ran = talverin("--menu-icon " + quoted(icon.string()));
    EXPECT_EQ(ran.code, 0);
    EXPECT_EQ(ran.out, "menu icon: " + icon.string() + "\n");
    const std::string png = test::readFile(icon);
    ASSERT_GE(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    auto bigEndian = [&](std::size_t at) {
        return (std::uint32_t(std::uint8_t(png[at])) << 24) |
               (std::uint32_t(std::uint8_t(png[at + 1])) << 16) |
               (std::uint32_t(std::uint8_t(png[at + 2])) << 8) | std::uint8_t(png[at + 3]);
    };
    EXPECT_EQ(bigEndian(16), 176u);
    EXPECT_EQ(bigEndian(20), 72u);
    const Ran unwritable = talverin("--menu-icon " + quoted((home.path() / "no/such/icon.png").string()));
    EXPECT_EQ(unwritable.code, 1);
    EXPECT_EQ(unwritable.out, "menu icon: failed\n");
    expectNoLogFolder();
}

TEST_F(CommandLineModes, ThePillStatesAreWrittenAsEightyEightFiles) {
    ASSERT_TRUE(installed);
    const fs::path folder = home.path() / "states";
    const Ran ran = talverin("--pill-states " + quoted(folder.string()));
    EXPECT_EQ(ran.code, 0);
    EXPECT_EQ(ran.out, "pill states: 88 files in " + folder.string() + "\n");
    std::size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 88u);
    expectNoLogFolder();
}

} // namespace
} // namespace talverin
