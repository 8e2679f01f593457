#include "Talverin/Web/BundleSchemeHandler.h"
#include "Talverin/Web/LinkPolicy.h"
#include "Talverin/Web/ThemeScript.h"
#include "Talverin/Web/WebFixtures.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

namespace talverin {
namespace {

// What each request path of the page scheme gets from the fixture folder.
TEST(BundleSchemeHandlerTest, ServesOnlyReadableFilesInsideTheWebFolder) {
    const BundleSchemeHandler handler(test::fixtureWeb());
    struct Case {
        std::string path;
        std::optional<std::string> type; // none: the request fails
    };
    const Case cases[] = {
        {"", "text/html; charset=utf-8"},
        {"/", "text/html; charset=utf-8"},
        {"/index.html", "text/html; charset=utf-8"},
        {"/app.js", "text/javascript; charset=utf-8"},
        {"/sub/../style.css", "text/css; charset=utf-8"},
        {"/logo.PNG", "image/png"},
        {"/%73ub/inner.txt", "application/octet-stream"},
        {"/../outside.txt", std::nullopt},
        {"/..%2foutside.txt", std::nullopt},
        {"/sub/%2E%2E/%2e%2e/outside.txt", std::nullopt},
        {"/..", std::nullopt},
        {"/sub", std::nullopt},
        {"/sub/", std::nullopt},
        {"/missing.html", std::nullopt},
        {"/Index.html", std::nullopt}, // names are case-sensitive here
        {"/index.html%00.png", std::nullopt},
        {"/index%2", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const auto response = handler.respond(c.path);
        ASSERT_EQ(response.ok(), c.type.has_value());
        if (!response.ok()) {
            EXPECT_EQ(response.error(), BundleSchemeHandler::Failure::fileDoesNotExist);
            continue;
        }
        EXPECT_EQ(response->mimeType, *c.type);
        EXPECT_EQ(response->headers[0].second, *c.type);
        EXPECT_EQ(response->headers[1], std::make_pair(std::string("Content-Length"),
                                                       std::to_string(response->body.size())));
        EXPECT_EQ(response->headers[2],
                  std::make_pair(std::string("Cache-Control"), std::string("no-cache")));
    }
}

// A bundle laid out as the build tree lays it out: the bundle's entries are links to the
// sources, and the page folder reaches the fonts through a link of its own. Links that lead out
// of the bundle are refused, wherever they sit on the way.
TEST(BundleSchemeHandlerTest, ALinkServesOnlyWhatReallyLiesInTheBundle) {
    namespace fs = std::filesystem;
    const test::TempDir temp;
    const fs::path sources = temp.path() / "sources";
    const fs::path outside = temp.path() / "outside";
    for (const fs::path& folder : {sources / "web", sources / "fonts", outside})
        fs::create_directories(folder);
    test::writeFile(sources / "web" / "index.html", "<p>page</p>");
    test::writeFile(sources / "fonts" / "face.woff2", "font");
    test::writeFile(sources / "Info.json", "{}");
    test::writeFile(outside / "secret.txt", "secret");
    fs::create_directory_symlink("../fonts", sources / "web" / "fonts");
    fs::create_symlink(outside / "secret.txt", sources / "web" / "leak.png");
    fs::create_symlink("../../outside/secret.txt", sources / "web" / "relative-leak.txt");
    fs::create_directory_symlink(outside, sources / "web" / "away");
    fs::create_symlink(sources / "web" / "leak.png", sources / "web" / "chain.txt");
    fs::create_symlink(sources / "web" / "index.html", sources / "web" / "home.html");
    const fs::path bundle = temp.path() / "build" / "share" / "talverin";
    fs::create_directories(bundle);
    fs::create_directory_symlink(sources / "web", bundle / "web");
    fs::create_directory_symlink(sources / "fonts", bundle / "fonts");

    struct Case {
        std::string path;
        std::optional<std::string> body; // none: the request fails
    };
    const Case cases[] = {
        {"/index.html", "<p>page</p>"},
        {"/fonts/face.woff2", "font"},
        {"/home.html", "<p>page</p>"},
        {"/fonts/../index.html", "<p>page</p>"},
        {"/fonts/../Info.json", std::nullopt}, // ".." goes by the name, not by the link
        {"/leak.png", std::nullopt},
        {"/relative-leak.txt", std::nullopt},
        {"/away/secret.txt", std::nullopt},
        {"/chain.txt", std::nullopt},
    };
    for (const fs::path& root : {bundle / "web", sources / "web"}) {
        const BundleSchemeHandler handler(root);
        for (const auto& c : cases) {
            SCOPED_TRACE(root.string() + " " + c.path);
            const auto response = handler.respond(c.path);
            ASSERT_EQ(response.ok(), c.body.has_value());
            if (response.ok())
                EXPECT_EQ(response->body, *c.body);
        }
    }
    // The type is the one of the name asked for.
    EXPECT_EQ(BundleSchemeHandler(bundle / "web").respond("/fonts/face.woff2")->mimeType,
              "font/woff2");

    // Resources named elsewhere replace the folder that holds the page folder.
    const BundleSchemeHandler strict(bundle / "web", outside);
    EXPECT_FALSE(strict.respond("/fonts/face.woff2").ok());
    EXPECT_EQ(strict.respond("/leak.png")->body, "secret");
}

TEST(BundleSchemeHandlerTest, MimeTypesIgnoreCase) {
    EXPECT_EQ(BundleSchemeHandler::mime("MJS"), "text/javascript; charset=utf-8");
    EXPECT_EQ(BundleSchemeHandler::mime("Woff2"), "font/woff2");
    EXPECT_EQ(BundleSchemeHandler::mime("wav"), "audio/wav");
    EXPECT_EQ(BundleSchemeHandler::mime(""), "application/octet-stream");
}

TEST(LinkPolicyTest, OnlyOurSchemeStaysAndOrdinaryLinksGoOutside) {
    using LinkPolicy::Decision;
    const std::pair<std::optional<std::string_view>, Decision> cases[] = {
        {"tlv-app://app/index.html#popover", Decision::allow},
        {"TLV-APP://app/", Decision::allow},
        {"https://example.com/", Decision::openExternally},
        {"HTTP://example.com/", Decision::openExternally},
        {"mailto:someone@example.com", Decision::openExternally},
        {"file:///etc/passwd", Decision::cancel},
        {"javascript:alert(1)", Decision::cancel},
        {"about:blank", Decision::cancel},
        {"//example.com/no-scheme", Decision::cancel},
        {"", Decision::cancel},
        {std::nullopt, Decision::cancel},
    };
    for (const auto& [url, expected] : cases) {
        SCOPED_TRACE(std::string(url.value_or("(none)")));
        EXPECT_EQ(LinkPolicy::decision(url), expected);
    }
}

TEST(ThemeScriptTest, NamesTheSettingAndTheEffectiveTheme) {
    const std::string script = ThemeScript::source(ThemeSetting::automatic);
    EXPECT_EQ(script.rfind("(function () {\n  var t = 'auto';\n  window.__tlvTheme = t;\n", 0), 0u);
    EXPECT_NE(ThemeScript::source(ThemeSetting::dark).find("var t = 'dark';"), std::string::npos);
}

} // namespace
} // namespace talverin
