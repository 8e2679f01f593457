#include "Talverin/App/LoginItem.h"

#include "support/LogLines.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace talverin {
namespace {

namespace fs = std::filesystem;

// An installed layout (prefix/bin/talverin beside prefix/share/talverin) and a build tree.
class LoginItemTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir.path() / "prefix" / "bin");
        fs::create_directories(bundle());
        test::writeFile(dir.path() / "prefix" / "bin" / "talverin", "");
        test::writeFile(bundle() / "app.talverin.Talverin.desktop",
                        "[Desktop Entry]\nName=Talverin\nName[ru]=Талверин\nExec=talverin\n"
                        "TryExec=talverin\n");
    }
    fs::path bundle() const { return dir.path() / "prefix" / "share" / "talverin"; }
    LoginItem::Places installed() const {
        return {bundle(), dir.path() / "prefix" / "bin" / "talverin", dir.path() / "autostart",
                "app.talverin.Talverin"};
    }
    fs::path entry() const { return dir.path() / "autostart" / "app.talverin.Talverin.desktop"; }

    test::TempDir dir;
    test::LogLines logs;
};

// The entry starts the program where it is installed: a prefix that is not on the session's
// PATH still starts at login.
TEST_F(LoginItemTest, AnInstalledApplicationWritesItsEntryOnceWithTheProgramsAbsolutePath) {
    LoginItem::registerIfInstalled(installed());
    ASSERT_TRUE(fs::exists(entry()));
    EXPECT_EQ(test::readFile(entry()), "[Desktop Entry]\nName=Talverin\nName[ru]=Талверин\nExec=" +
                                           installed().executable.string() +
                                           "\nTryExec=talverin\n");
    // Enabled already: nothing more, not even a line.
    LoginItem::registerIfInstalled(installed());
    EXPECT_EQ(logs.lines(), std::vector<std::string>{"Login item: registered"});
}

TEST_F(LoginItemTest, ABuildTreeOrAForeignBundleIsNeverRegistered) {
    struct Case {
        const char* name;
        LoginItem::Places places;
    };
    auto buildTree = installed();
    buildTree.executable = dir.path() / "build" / "src" / "talverin";
    auto noBundle = installed();
    noBundle.bundleFolder.clear();
    for (const Case& c : {Case{"build tree", buildTree}, Case{"no bundle", noBundle}}) {
        SCOPED_TRACE(c.name);
        logs.take();
        LoginItem::registerIfInstalled(c.places);
        EXPECT_EQ(logs.lines(),
                  std::vector<std::string>{"Login item: not registered (not installed)"});
        EXPECT_FALSE(fs::exists(entry()));
    }
}

// A folder name with a space or a quote is quoted as the desktop entry's command expects.
TEST_F(LoginItemTest, AnAwkwardInstallFolderIsQuotedInTheCommand) {
    const fs::path prefix = dir.path() / "my \"apps\"";
    fs::create_directories(prefix / "bin");
    fs::create_directories(prefix / "share" / "talverin");
    test::writeFile(prefix / "bin" / "talverin", "");
    test::writeFile(prefix / "share" / "talverin" / "app.talverin.Talverin.desktop",
                    "[Desktop Entry]\nExec=talverin --quiet\n");
    LoginItem::registerIfInstalled(
        {prefix / "share" / "talverin", prefix / "bin" / "talverin", dir.path() / "autostart",
         "app.talverin.Talverin"});
    EXPECT_EQ(test::readFile(entry()), "[Desktop Entry]\nExec=\"" + dir.path().string() +
                                           "/my \\\\\"apps\\\\\"/bin/talverin\" --quiet\n");
}

TEST_F(LoginItemTest, AFailedCopyIsLoggedWithItsReason) {
    auto places = installed();
    // The autostart folder's place is taken by a file.
    test::writeFile(dir.path() / "blocked", "");
    places.autostartFolder = dir.path() / "blocked" / "autostart";
    LoginItem::registerIfInstalled(places);
    ASSERT_EQ(logs.lines().size(), 1u);
    EXPECT_TRUE(logs.lines()[0].starts_with("Login item: not registered (")) << logs.lines()[0];
}

} // namespace
} // namespace talverin
