#include "TalverinCloud/Backend.h"

#include "Runtime/Bundle.h"
#include "Runtime/VirtualWorld.h"
#include "TalverinCloud/MemorySecrets.h"
#include "fakes/HttpTransportFake.h"
#include "support/LogLines.h"

#include <gtest/gtest.h>

namespace talverin {
namespace {

class BackendConfigTest : public ::testing::Test {
protected:
    std::shared_ptr<Backend> make(std::optional<std::string> url,
                                  std::optional<std::string> key = "anon-key") {
        return std::make_shared<Backend>(std::move(url), std::move(key),
                                         std::make_shared<test::HttpTransportFake>(),
                                         std::make_shared<MemorySecrets>(), [] { return true; });
    }

    VirtualWorld world;
    test::LogLines log;
};

TEST_F(BackendConfigTest, AddressTable) {
    struct Case {
        std::optional<std::string> url;
        std::optional<std::string> key;
        bool configured;
        std::string base;
        std::string account;
    };
    const Case cases[] = {
        {" https://abc.example.co/// ", "k", true, "https://abc.example.co", "refreshToken"},
        {"https://abc.example.co\n", " k\t", true, "https://abc.example.co", "refreshToken"},
        {"HTTPS://Abc.Example.CO/base/", "k", true, "HTTPS://Abc.Example.CO/base", "refreshToken"},
        {"https://abc.example.co:8443", "k", true, "https://abc.example.co:8443", "refreshToken"},
        {"http://127.0.0.1:54321", "k", true, "http://127.0.0.1:54321",
         "refreshToken@127.0.0.1:54321"},
        {"http://127.8.9.10", "k", true, "http://127.8.9.10", "refreshToken@127.8.9.10"},
        {"http://LocalHost:8080/", "k", true, "http://LocalHost:8080",
         "refreshToken@LocalHost:8080"},
        {"http://[::1]:9000", "k", true, "http://[::1]:9000", "refreshToken@::1:9000"},
        {"ftp://abc.example.co", "k", false, "", "refreshToken"},
        {"abc.example.co/functions", "k", false, "", "refreshToken"},
        {"/relative/path", "k", false, "", "refreshToken"},
        {"https://", "k", false, "", "refreshToken"},
        {"https:///path", "k", false, "", "refreshToken"},
        {"https://exa mple.co", "k", false, "", "refreshToken"},
        {"https://example.co:99999", "k", false, "", "refreshToken"},
        {"https://example.co/\xD0\x96", "k", false, "", "refreshToken"},
        {"", "k", false, "", "refreshToken"},
        {std::nullopt, "k", false, "", "refreshToken"},
        {"https://abc.example.co", "   ", false, "https://abc.example.co", "refreshToken"},
        {"https://abc.example.co", std::nullopt, false, "https://abc.example.co", "refreshToken"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url.value_or("<absent>") + " / " + c.key.value_or("<absent>"));
        auto backend = make(c.url, c.key);
        EXPECT_EQ(backend->isConfigured(), c.configured);
        EXPECT_EQ(backend->base(), c.base);
        EXPECT_EQ(backend->account(), c.account);
    }
    EXPECT_TRUE(log.lines().empty());
}

// Plain http would carry the bearer token and the user's words in clear: only a backend on
// this machine may use it.
TEST_F(BackendConfigTest, PlainHttpOffThisMachineLeavesTheCloudOffWithOneLine) {
    for (const char* url : {"http://abc.example.co", "http://127.evil.example", "http://10.0.0.1",
                            "http://localhost.example.com:80"}) {
        SCOPED_TRACE(url);
        log.clear();
        auto backend = make(url);
        EXPECT_FALSE(backend->isConfigured());
        EXPECT_EQ(backend->base(), "");
        EXPECT_EQ(backend->account(), "refreshToken");
        const std::string host = BackendUrl::parse(url)->host;
        EXPECT_EQ(log.lines(),
                  std::vector<std::string>{"Cloud: backend: not configured: plain http to " + host +
                                           " is refused; a backend off this machine needs https"});
    }
}

TEST_F(BackendConfigTest, NotConfiguredRefusesTokensWithoutARequest) {
    auto transport = std::make_shared<test::HttpTransportFake>();
    auto backend = std::make_shared<Backend>(
        "ftp://x", "k", transport, std::make_shared<MemorySecrets>(), [] { return true; });
    auto token = backend->token();
    world.runUntilIdle();
    EXPECT_EQ(std::get<BackendError>(*token.peek()), BackendError::notConfigured());
    EXPECT_TRUE(transport->sent().empty());
}

TEST_F(BackendConfigTest, BundleValuesAreUsedOnlyWhenTheyAreStrings) {
    auto transport = std::make_shared<test::HttpTransportFake>();
    auto secrets = std::make_shared<MemorySecrets>();
    auto configured = Backend::fromBundle(
        Bundle::withInfo({{"TLSupabaseURL", "https://abc.example.co/"}, {"TLSupabaseKey", "k"}}),
        [] { return true; }, secrets, transport);
    EXPECT_TRUE(configured->isConfigured());
    EXPECT_EQ(configured->base(), "https://abc.example.co");

    auto numericKey = Backend::fromBundle(
        Bundle::withInfo({{"TLSupabaseURL", "https://abc.example.co"}, {"TLSupabaseKey", 42}}),
        [] { return true; }, secrets, transport);
    EXPECT_FALSE(numericKey->isConfigured());

    auto empty = Backend::fromBundle(
        Bundle(), [] { return true; }, secrets, transport);
    EXPECT_FALSE(empty->isConfigured());
}

TEST_F(BackendConfigTest, ClientNamesCarryTheBundleVersion) {
    // The build tree's bundle is this program's bundle.
    const auto version = Bundle::main().shortVersion();
    ASSERT_TRUE(version.has_value());
    EXPECT_EQ(Backend::version(), *version);
    EXPECT_EQ(Backend::clientInfo(), "talverin-mac/" + *version);
    EXPECT_EQ(Backend::userAgent(), "Talverin-Mac/" + *version);
    EXPECT_EQ(Backend::keychainService(), "app.talverin.Talverin");
}

} // namespace
} // namespace talverin
