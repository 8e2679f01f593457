#include "Talverin/App/ProcessEntry.h"

#include "Runtime/Bundle.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sstream>

namespace talverin {
namespace {

using ProcessEntry::Mode;

TEST(ProcessEntryTest, ChoosesTheModeFromTheArguments) {
    const std::filesystem::path here = "/work/here";
    struct Case {
        std::vector<std::string> arguments;
        ProcessEntry::Choice expected;
    };
    const Case cases[] = {
        {{}, {Mode::normal, {}, {}}},
        {{"--pill-states", "--selftest"}, {Mode::selfTest, {}, {}}},
        {{"--menu-icon", "icon.png", "--selftest"}, {Mode::selfTest, {}, {}}},
        {{"--pill-states"}, {Mode::pillStates, here / "pill-states", {}}},
        {{"--pill-states", "--foo"}, {Mode::pillStates, here / "pill-states", {}}},
        {{"--pill-states", "out"}, {Mode::pillStates, here / "out", {}}},
        {{"--pill-states", "/tmp/out"}, {Mode::pillStates, "/tmp/out", {}}},
        {{"--pill-states", "a", "--pill-states", "b"}, {Mode::pillStates, here / "a", {}}},
        {{"--pill-states", "--menu-icon", "icon.png"}, {Mode::pillStates, here / "pill-states", {}}},
        {{"--menu-icon", "icon.png"}, {Mode::menuIcon, here / "icon.png", {}}},
        {{"--menu-icon"}, {Mode::normal, {}, {}}},
        // Another option in the path's place is no path, as for the pill images' folder.
        {{"--menu-icon", "--verbose"}, {Mode::normal, {}, {}}},
        {{"--SELFTEST", "-selftest", "selftest"}, {Mode::normal, {}, {}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        const auto choice = ProcessEntry::choose(c.arguments, here);
        EXPECT_EQ(choice.mode, c.expected.mode);
        EXPECT_EQ(choice.path, c.expected.path);
    }
}

// The icon's line names the file as the user typed it, though it is written where the
// current folder makes it.
TEST(ProcessEntryTest, TheMenuIconLineNamesThePathAsGiven) {
    test::TempDir dir;
    const auto choice = ProcessEntry::choose({"--menu-icon", "./icon.png"}, dir.path());
    ASSERT_EQ(choice.mode, Mode::menuIcon);
    SelfTest::Probes probes;
    probes.menuIconPNG = [] { return std::optional<std::string>(std::string(200, 'x')); };
    std::ostringstream out;
    EXPECT_EQ(ProcessEntry::run(choice, Bundle(), probes, out), 0);
    EXPECT_EQ(out.str(), "menu icon: ./icon.png\n");
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "icon.png"));
}

} // namespace
} // namespace talverin
