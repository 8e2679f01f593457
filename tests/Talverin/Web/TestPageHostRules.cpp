#include "Talverin/Web/BundleSchemeHandler.h"
#include "Talverin/Web/LinkPolicy.h"
#include "Talverin/Web/ThemeScript.h"
#include "Talverin/Web/WebFixtures.h"

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
