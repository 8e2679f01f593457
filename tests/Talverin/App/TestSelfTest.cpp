#include "Talverin/App/SelfTest.h"

#include "TalverinAudio/Sounds.h"
#include "TalverinCore/HistoryStore.h"
#include "TalverinCore/ThemeTokens.h"

#include "Runtime/Bundle.h"
#include "Runtime/VirtualWorld.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

namespace talverin {
namespace {

namespace fs = std::filesystem;

constexpr const char* ownIdentifier = "app.talverin.Talverin";

const nlohmann::json completeInfo = {
    {"CFBundleIdentifier", ownIdentifier},
    {"CFBundleShortVersionString", "1.2.3"},
    {"CFBundleIconFile", "AppIcon"},
    {"LSUIElement", true},
    {"NSMicrophoneUsageDescription", "to hear you"},
    {"NSSpeechRecognitionUsageDescription", "to read you"},
};

void put(const fs::path& file, std::string_view text) {
    fs::create_directories(file.parent_path());
    test::writeFile(file, text);
}

// A bundle with every file the application needs; the fonts are the real ones, so that they
// register whichever test runs first.
struct FixtureBundle {
    test::TempDir dir;

    FixtureBundle() {
        const fs::path root = dir.path();
        put(root / "web/index.html",
                        R"(<script type="module" src="./app.js?v=2"></script>)"
                        R"(<link rel="stylesheet" href="./style.css#dark">)"
                        R"(<a href="https://example.com/x.js"></a><img src="/abs.png">)");
        put(root / "web/app.js", "");
        put(root / "web/style.css", "");
        put(root / "ThirdPartyNotices.txt", "notices");
        put(root / (std::string(ownIdentifier) + ".desktop"),
                        "[Desktop Entry]\nName=Talverin\nName[ru]=Талверин\n");
        put(root / "AppIcon.svg", "<svg/>");
        fs::create_directories(root / "fonts");
        // Each web font with the TrueType face decoded from it beside it.
        for (std::string_view font : ThemeTokens::Fonts::files) {
            for (const char* extension : {".woff2", ".ttf"}) {
                const auto name = fs::path(font).replace_extension(extension);
                fs::create_symlink(Bundle::main().resource("fonts") / name, root / "fonts" / name);
            }
        }
        for (const std::string& sound : Sounds::bundledFiles())
            put(root / sound, "RIFF");
    }
    const fs::path& root() const { return dir.path(); }
    Bundle bundle(const nlohmann::json& info = completeInfo) const {
        return Bundle::withInfo(info, root());
    }
};

SelfTest::Probes passingProbes() {
    SelfTest::Probes probes;
    probes.ownIdentifier = ownIdentifier;
    probes.backendConfigured = [](const Bundle&) { return false; };
    probes.menuIconPNG = [] { return std::optional<std::string>(std::string(200, 'x')); };
    probes.history = [] { return true; };
    return probes;
}

struct Outcome {
    std::int32_t code;
    std::vector<std::string> lines;
};

Outcome runOn(const Bundle& bundle, const SelfTest::Probes& probes) {
    std::ostringstream out;
    const auto code = SelfTest::run(bundle, probes, out);
    std::vector<std::string> lines;
    std::istringstream in(out.str());
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return {code, lines};
}

TEST(SelfTestTest, ACompleteBundlePassesWithItsThreeLines) {
    FixtureBundle fixture;
    const Outcome outcome = runOn(fixture.bundle(), passingProbes());
    EXPECT_EQ(outcome.code, 0);
    ASSERT_EQ(outcome.lines.size(), 3u);
    EXPECT_EQ(outcome.lines[0], "selftest: Talverin 1.2.3, app.talverin.Talverin, menu-bar app "
                                "true, backend none (on this computer only), files 13, missing "
                                "[], usage strings missing [], app icon true");
    EXPECT_TRUE(std::regex_match(outcome.lines[1],
                                 std::regex(R"(selftest: pill fonts 4/4 loaded true, pill )"
                                            R"(snapshot [0-9]{4,} bytes)")))
        << outcome.lines[1];
    EXPECT_EQ(outcome.lines[2], "selftest: history true, replacements true, menu icon true");
}

TEST(SelfTestTest, EveryMissingPieceFailsTheRunAndIsNamedInOrder) {
    struct Case {
        const char* name;
        std::function<void(const fs::path& root)> damage;
        const char* missing;
    };
    const Case cases[] = {
        {"a font and a sound",
         [](const fs::path& root) {
             fs::remove(root / "fonts" / ThemeTokens::Fonts::files[1]);
             fs::remove(root / Sounds::bundledFiles()[2]);
         },
         "missing [\"fonts/urbanist-latin-ext-wght.woff2\", \"sounds/inserted.wav\"]"},
        {"a page's script",
         [](const fs::path& root) { fs::remove(root / "web/app.js"); },
         "missing [\"web/app.js\"]"},
        {"the desktop entry's Russian name",
         [](const fs::path& root) {
             put(root / "app.talverin.Talverin.desktop", "[Desktop Entry]\nName=T\n");
         },
         "missing [\"app.talverin.Talverin.desktop\"]"},
        {"the notices and the icon",
         [](const fs::path& root) {
             fs::remove(root / "ThirdPartyNotices.txt");
             fs::remove(root / "AppIcon.svg");
         },
         "missing [\"ThirdPartyNotices.txt\", \"AppIcon.svg\"]"},
        // A page that cannot be read is listed once, and requires no assets.
        {"an unreadable page",
         [](const fs::path& root) {
             fs::remove(root / "web/index.html");
             fs::create_directories(root / "web/index.html");
         },
         "files 11, missing [\"web/index.html\"]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FixtureBundle fixture;
        c.damage(fixture.root());
        const Outcome outcome = runOn(fixture.bundle(), passingProbes());
        EXPECT_EQ(outcome.code, 1);
        ASSERT_EQ(outcome.lines.size(), 3u);
        EXPECT_NE(outcome.lines[0].find(c.missing), std::string::npos) << outcome.lines[0];
    }
}

TEST(SelfTestTest, TheBundlesInformationAndEachCheckCount) {
    struct Case {
        const char* name;
        nlohmann::json info;
        std::function<void(SelfTest::Probes&)> probe;
        const char* expected; // a piece of the output
    };
    auto without2 = [](const char* key, const char* other) {
        nlohmann::json info = completeInfo;
        info.erase(key);
        info.erase(other);
        return info;
    };
    auto with = [](const char* key, nlohmann::json value) {
        nlohmann::json info = completeInfo;
        info[key] = std::move(value);
        return info;
    };
    const Case cases[] = {
        {"another identifier", with("CFBundleIdentifier", "app.other"), nullptr,
         "1.2.3, app.other, menu-bar app true"},
        {"no identifier or version", without2("CFBundleIdentifier", "CFBundleShortVersionString"),
         nullptr, "selftest: Talverin ?, ?, menu-bar app"},
        {"a string for the menu-bar flag", with("LSUIElement", "true"), nullptr,
         "menu-bar app false"},
        {"usage strings", with("NSMicrophoneUsageDescription", ""), nullptr,
         "usage strings missing [\"NSMicrophoneUsageDescription\"]"},
        {"usage strings of the wrong type", with("NSSpeechRecognitionUsageDescription", 1), nullptr,
         "usage strings missing [\"NSSpeechRecognitionUsageDescription\"]"},
        {"the icon", with("CFBundleIconFile", "Icon"), nullptr, "app icon false"},
        {"the history", completeInfo, [](SelfTest::Probes& p) { p.history = [] { return false; }; },
         "history false"},
        {"a small menu icon", completeInfo,
         [](SelfTest::Probes& p) {
             p.menuIconPNG = [] { return std::optional<std::string>(std::string(100, 'x')); };
         },
         "menu icon false"},
        {"no menu icon", completeInfo,
         [](SelfTest::Probes& p) { p.menuIconPNG = [] { return std::optional<std::string>(); }; },
         "menu icon false"},
    };
    FixtureBundle fixture;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SelfTest::Probes probes = passingProbes();
        if (c.probe)
            c.probe(probes);
        const Outcome outcome = runOn(fixture.bundle(c.info), probes);
        EXPECT_EQ(outcome.code, 1);
        ASSERT_EQ(outcome.lines.size(), 3u) << "no check stops the others";
        const std::string all = outcome.lines[0] + "\n" + outcome.lines[1] + "\n" + outcome.lines[2];
        EXPECT_NE(all.find(c.expected), std::string::npos) << all;
    }
    SelfTest::Probes configured = passingProbes();
    configured.backendConfigured = [](const Bundle&) { return true; };
    const Outcome outcome = runOn(fixture.bundle(), configured);
    EXPECT_EQ(outcome.code, 0);
    EXPECT_NE(outcome.lines[0].find("backend configured, files"), std::string::npos);
}

TEST(SelfTestTest, ThePagesOwnFilesAreTheDotSlashReferences) {
    struct Case {
        const char* html;
        std::vector<std::string> assets;
    };
    const Case cases[] = {
        {R"(<script src="./app.js"></script><link href="./css/style.css">)",
         {"web/app.js", "web/css/style.css"}},
        {R"(<script src="./app.js?v=2"></script><a href="./help.html#top">)",
         {"web/app.js", "web/help.html"}},
        {R"(<script src="app.js"></script><img src="/a.png"><a href="https://x.org/b.js">)", {}},
        {R"(<script src='./single.js'></script><img src = "./spaced.png">)", {}},
        {R"(<a href="./?v=1">)", {}},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.html);
        test::writeFile(dir.path() / "index.html", c.html);
        EXPECT_EQ(SelfTest::webAssets(dir.path() / "index.html"), c.assets);
    }
    EXPECT_TRUE(SelfTest::webAssets(dir.path() / "absent.html").empty());
}

// The application's own page: what it loads is in the bundle.
TEST(SelfTestTest, TheBundlesPageHasEveryFileItLoads) {
    const fs::path root = Bundle::main().folder();
    const auto assets = SelfTest::webAssets(root / "web/index.html");
    EXPECT_FALSE(assets.empty());
    for (const std::string& asset : assets)
        EXPECT_TRUE(fs::is_regular_file(root / asset)) << asset;
}

// A store that writes only when it goes away, as one whose flush does not wait for its writer.
class LateWritingStore {
public:
    explicit LateWritingStore(fs::path file) : m_file(std::move(file)) {
        std::error_code error;
        if (fs::exists(m_file, error))
            m_items = HistoryStore::decodeFile(test::readFile(m_file))->items;
    }
    ~LateWritingStore() {
        if (m_dirty)
            put(m_file, *HistoryStore::encodeFile(m_items));
    }
    void append(HistoryItem item) {
        m_items.insert(m_items.begin(), std::move(item));
        m_dirty = true;
    }
    void flush() {}
    const std::vector<HistoryItem>& items() const { return m_items; }
    std::int64_t wordsToday(Wire::Date, const Calendar&) const { return 3; }

private:
    fs::path m_file;
    std::vector<HistoryItem> m_items;
    bool m_dirty = false;
};

TEST(SelfTestTest, TheHistoryCheckNeedsAFlushThatWaitsAndLeavesNoFolder) {
    VirtualWorld world;
    test::TempDir dir;
    EXPECT_TRUE(SelfTest::checkHistoryIn<HistoryStore>(dir.path() / "real"));
    EXPECT_FALSE(fs::exists(dir.path() / "real"));
    EXPECT_FALSE(SelfTest::checkHistoryIn<LateWritingStore>(dir.path() / "late"));
    EXPECT_FALSE(fs::exists(dir.path() / "late"));
    EXPECT_TRUE(SelfTest::checkHistory());
}

} // namespace
} // namespace talverin
