#include "Runtime/Paths.h"

#include "support/TempDir.h"

#include <cstdlib>
#include <functional>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace talverin {
namespace {

using test::TempDir;

struct BaseCase {
    const char* variable;
    std::filesystem::path (*base)();
    std::filesystem::path (*appDir)();
    const char* belowHome;
};

// Readable case names in test listings, instead of the bytes of each case.
void PrintTo(const BaseCase& c, std::ostream* os) {
    *os << c.variable;
}

const BaseCase baseCases[] = {
    {"XDG_CONFIG_HOME", &Paths::configHome, &Paths::appConfigDir, ".config"},
    {"XDG_DATA_HOME", &Paths::dataHome, &Paths::appDataDir, ".local/share"},
    {"XDG_STATE_HOME", &Paths::stateHome, &Paths::appStateDir, ".local/state"},
};

class PathsBase : public testing::TestWithParam<BaseCase> {
protected:
    TempDir temp;
};

TEST_P(PathsBase, UsesAnAbsoluteVariable) {
    const auto& c = GetParam();
    ::setenv(c.variable, "/somewhere/else", 1);
    EXPECT_EQ(c.base(), "/somewhere/else");
    EXPECT_EQ(c.appDir(), "/somewhere/else/Talverin");
}

TEST_P(PathsBase, FallsBackBelowHomeWhenTheVariableIsUnusable) {
    const auto& c = GetParam();
    const std::filesystem::path expected = temp.home() / c.belowHome;
    // The XDG rules say a relative path is invalid and must be ignored, as must an empty one.
    for (const char* value : {"", "relative/dir", "./dot"}) {
        ::setenv(c.variable, value, 1);
        EXPECT_EQ(c.base(), expected) << "value '" << value << "'";
    }
    ::unsetenv(c.variable);
    EXPECT_EQ(c.base(), expected);
    EXPECT_EQ(c.appDir(), expected / "Talverin");
}

TEST_P(PathsBase, WithoutHomeStillAnswersAnAbsolutePath) {
    const auto& c = GetParam();
    ::unsetenv(c.variable);
    ::unsetenv("HOME");
    EXPECT_TRUE(c.base().is_absolute()) << c.base();
}

INSTANTIATE_TEST_SUITE_P(All, PathsBase, testing::ValuesIn(baseCases),
                         [](const auto& info) { return std::string(info.param.variable); });

class EnsurePrivateDir : public testing::Test {
protected:
    void SetUp() override { m_umask = ::umask(0); }
    void TearDown() override { ::umask(m_umask); }

    TempDir temp;
    mode_t m_umask = 0;
};

TEST_F(EnsurePrivateDir, CreatesTheWholeChainAsPrivateFolders) {
    // With umask 0 a plain create_directories would give 0777.
    const auto dir = temp.path() / "a" / "b" / "Talverin";
    auto made = Paths::ensurePrivateDir(dir);
    ASSERT_TRUE(made.ok()) << made.message();
    EXPECT_EQ(test::permissions(dir), 0700u);
    EXPECT_EQ(test::permissions(temp.path() / "a"), 0700u);
    EXPECT_EQ(test::permissions(temp.path() / "a" / "b"), 0700u);
}

TEST_F(EnsurePrivateDir, NarrowsAnExistingFolderAndLeavesItsParentsAlone) {
    const auto dir = temp.path() / "open" / "Talverin";
    std::filesystem::create_directories(dir);
    ::chmod(dir.c_str(), 0755);
    ::chmod(dir.parent_path().c_str(), 0755);
    ASSERT_TRUE(Paths::ensurePrivateDir(dir).ok());
    EXPECT_EQ(test::permissions(dir), 0700u);
    EXPECT_EQ(test::permissions(dir.parent_path()), 0755u);
}

TEST_F(EnsurePrivateDir, AcceptsTrailingSeparatorsAndDotSegments) {
    const auto dir = temp.path() / "x" / "." / "y" / "";
    ASSERT_TRUE(Paths::ensurePrivateDir(dir).ok());
    EXPECT_EQ(test::permissions(temp.path() / "x" / "y"), 0700u);
}

TEST_F(EnsurePrivateDir, ReportsAFileInTheWay) {
    struct Case {
        const char* file;  // created as a regular file
        const char* asked; // the folder asked for
    };
    for (const Case& c : {Case{"Talverin", "Talverin"}, Case{"parent", "parent/Talverin"}}) {
        test::writeFile(temp.path() / c.file, "x");
        auto made = Paths::ensurePrivateDir(temp.path() / c.asked);
        ASSERT_FALSE(made.ok()) << c.asked;
        EXPECT_EQ(made.error(), PathError::NotADirectory) << c.asked;
        EXPECT_NE(made.message().find(c.file), std::string::npos) << made.message();
        std::filesystem::remove(temp.path() / c.file);
    }
}

} // namespace
} // namespace talverin
