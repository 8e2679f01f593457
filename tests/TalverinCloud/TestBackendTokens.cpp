#include "TalverinCloud/Backend.h"

#include "CloudTestSupport.h"
#include "Runtime/VirtualWorld.h"
#include "TalverinCloud/DictationNetworkMetrics.h"
#include "fakes/HttpTransportFake.h"
#include "fakes/SecretStoreFake.h"
#include "support/LogLines.h"

#include <gtest/gtest.h>

namespace talverin {
namespace {

using test::FakeAnswer;

constexpr const char* signup = "POST /auth/v1/signup";
constexpr const char* refresh = "POST /auth/v1/token";
constexpr const char* health = "GET /auth/v1/health";

class BackendTokensTest : public ::testing::Test {
protected:
    BackendTokensTest() { remake(); }

    // A new process: the same keychain and server, a fresh backend.
    void remake() {
        backend.reset();
        backend = std::make_shared<Backend>("https://abc.example.co", "anon-key", transport,
                                            secrets, [this] { return consent; });
    }

    template <typename T> T settle(const Future<T>& future) {
        world.runUntilIdle();
        EXPECT_TRUE(future.isReady());
        return future.peek().value_or(T{});
    }

    std::string tokenNow(std::optional<std::string> replacing = std::nullopt) {
        auto reply = settle(backend->token(std::move(replacing)));
        if (auto* error = std::get_if<BackendError>(&reply))
            return "error: " + error->description();
        return std::get<std::string>(reply);
    }

    VirtualWorld world;
    test::LogLines log;
    std::shared_ptr<test::HttpTransportFake> transport =
        std::make_shared<test::HttpTransportFake>();
    std::shared_ptr<test::SecretStoreFake> secrets = std::make_shared<test::SecretStoreFake>();
    bool consent = true;
    std::shared_ptr<Backend> backend;
};

TEST_F(BackendTokensTest, FirstUseSignsUpAndKeepsTheRefreshToken) {
    EXPECT_EQ(tokenNow(), "access-1");
    EXPECT_EQ(transport->count(signup), 1);
    EXPECT_EQ(transport->count(refresh), 0);
    EXPECT_EQ(secrets->value("refreshToken"), "refresh-1");

    const auto request = transport->sent(signup).at(0).request;
    EXPECT_EQ(request.url, "https://abc.example.co/auth/v1/signup");
    EXPECT_EQ(request.timeout, 10);
    using Headers = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(request.headers, (Headers{{"content-type", "application/json"},
                                        {"accept", "application/json"},
                                        {"apikey", "anon-key"},
                                        {"x-client-info", Backend::clientInfo()}}));
    EXPECT_EQ(test::text(request.body), R"({"data":{}})");
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{"Cloud: net: POST /auth/v1/signup 200 (12 ms)",
                                        "Cloud: auth: a new anonymous account (12 ms)"}));
    // The keychain is read once, then written, never on the main queue.
    EXPECT_EQ(secrets->calls("get"), 1);
    EXPECT_EQ(secrets->calls("set"), 1);
    EXPECT_EQ(secrets->callsOnMain(), 0);
}

TEST_F(BackendTokensTest, ANewProcessRefreshesAndReplacesTheStoredToken) {
    tokenNow();
    remake();
    log.clear();
    EXPECT_EQ(tokenNow(), "access-2");
    EXPECT_EQ(transport->count(signup), 1);
    ASSERT_EQ(transport->count(refresh), 1);
    const auto request = transport->sent(refresh).at(0).request;
    EXPECT_EQ(request.url, "https://abc.example.co/auth/v1/token?grant_type=refresh_token");
    EXPECT_EQ(test::text(request.body), R"({"refresh_token":"refresh-1"})");
    EXPECT_EQ(secrets->value("refreshToken"), "refresh-2");
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"Cloud: net: POST /auth/v1/token 200 (12 ms)",
                                                     "Cloud: auth: refreshed (12 ms)"}));
}

TEST_F(BackendTokensTest, ARefusedRefreshTokenSignsUpAgainInTheSameRenewal) {
    for (int status : {400, 401, 403}) {
        SCOPED_TRACE(status);
        secrets->preset("refreshToken", "stale");
        remake();
        log.clear();
        transport->script(refresh, FakeAnswer::http(status, R"({"code":"bad_jwt"})"));
        const int signups = transport->count(signup);
        const std::string token = tokenNow();
        EXPECT_EQ(token, "access-" + std::to_string(signups + 1));
        EXPECT_EQ(transport->count(signup), signups + 1);
        EXPECT_EQ(backend->renewals(), 1);
        EXPECT_EQ(secrets->value("refreshToken"), "refresh-" + std::to_string(signups + 1));
        // The time of the new account includes the refused refresh.
        EXPECT_EQ(log.lines(),
                  (std::vector<std::string>{
                      "Cloud: net: POST /auth/v1/token " + std::to_string(status) + " (12 ms)",
                      "Cloud: auth: the refresh token was refused; a new anonymous account",
                      "Cloud: net: POST /auth/v1/signup 200 (12 ms)",
                      "Cloud: auth: a new anonymous account (24 ms)"}));
    }
    EXPECT_EQ(secrets->calls("remove"), 3);
}

TEST_F(BackendTokensTest, AuthStatusTables) {
    struct Case {
        const char* call;
        FakeAnswer answer;
        BackendError expected;
    };
    const Case cases[] = {
        {signup, FakeAnswer::http(400), BackendError::service("auth 400")},
        {signup, FakeAnswer::http(401), BackendError::service("auth 401")},
        {signup, FakeAnswer::http(403), BackendError::service("auth 403")},
        {signup, FakeAnswer::http(422), BackendError::signupDisabled()},
        {signup, FakeAnswer::http(429), BackendError::busy()},
        {signup, FakeAnswer::http(500), BackendError::service("auth 500")},
        {refresh, FakeAnswer::http(422), BackendError::service("auth 422")},
        {refresh, FakeAnswer::http(429), BackendError::busy()},
        {refresh, FakeAnswer::http(503), BackendError::service("auth 503")},
        {refresh, FakeAnswer::fail(NetKind::offline), BackendError::offline()},
        {signup, FakeAnswer::fail(NetKind::timeout), BackendError::timeout()},
        {signup, FakeAnswer::fail(NetKind::other), BackendError::service("curl 35")},
        {signup, FakeAnswer::http(200, "not json"),
         BackendError::service("auth: no session in the answer")},
        {signup, FakeAnswer::http(200, R"([{"access_token":"a","refresh_token":"r"}])"),
         BackendError::service("auth: no session in the answer")},
        {signup, FakeAnswer::http(200, R"({"access_token":"","refresh_token":"r"})"),
         BackendError::service("auth: no session in the answer")},
        {signup, FakeAnswer::http(200, R"({"access_token":"a","refresh_token":7})"),
         BackendError::service("auth: no session in the answer")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.call) + " " + c.expected.description());
        secrets->preset("refreshToken", "kept");
        if (std::string(c.call) == signup)
            secrets->remove("refreshToken");
        transport->knowRefreshToken("kept");
        remake();
        transport->script(c.call, c.answer);
        auto reply = settle(backend->token());
        ASSERT_TRUE(std::holds_alternative<BackendError>(reply));
        EXPECT_EQ(std::get<BackendError>(reply), c.expected);
        // A failed refresh keeps the stored token for the next try.
        if (std::string(c.call) == refresh)
            EXPECT_EQ(secrets->value("refreshToken"), "kept");
        // A failed renewal leaves no token: the next request tries again.
        EXPECT_EQ(backend->renewals(), 1);
        settle(backend->token());
        EXPECT_EQ(backend->renewals(), 2);
    }
}

// The access token goes out in a header: one that a header cannot carry is no session, so
// it is never cached and the transport never has to refuse a request made with it.
TEST_F(BackendTokensTest, AnAccessTokenAHeaderCannotCarryIsAFailedRenewal) {
    struct Case {
        const char* call;
        const char* accessToken; // JSON string text
    };
    const Case cases[] = {
        {signup, R"(acc\r\nx-admin: 1)"},
        {refresh, R"(acc\r\nx-admin: 1)"},
        {signup, R"(acc\n)"},
        {refresh, R"(acc\r)"},
        {signup, R"(a\u0000b)"},
        {signup, R"(a\tb)"},
        {signup, R"(a b)"},
        {refresh, R"( acc)"},
        {signup, R"(a\u007fb)"},
        {signup, R"(\u0442\u043e\u043a\u0435\u043d)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.call) + " " + c.accessToken);
        secrets->preset("refreshToken", "kept");
        if (std::string(c.call) == signup)
            secrets->remove("refreshToken");
        transport->knowRefreshToken("kept");
        remake();
        log.clear();
        const int sets = secrets->calls("set");
        transport->script(c.call, FakeAnswer::http(200, std::string(R"({"access_token":")") +
                                                            c.accessToken +
                                                            R"(","refresh_token":"r-new"})"));
        EXPECT_EQ(tokenNow(), "error: auth: no session in the answer");
        EXPECT_EQ(log.starting("Cloud: auth: "), std::vector<std::string>{});
        // Neither half of that answer is kept.
        EXPECT_EQ(secrets->calls("set"), sets);
        EXPECT_NE(secrets->value("refreshToken"), "r-new");
        // Nothing was cached: the next ask renews again and gets a usable token.
        transport->knowRefreshToken("kept");
        EXPECT_TRUE(tokenNow().starts_with("access-"));
        EXPECT_EQ(backend->renewals(), 2);
    }
    // Everything a bearer token is made of passes.
    transport->script(
        signup,
        FakeAnswer::http(200, R"({"access_token":"eyJ0.a-b_c~d+e/f=","refresh_token":"r"})"));
    secrets->remove("refreshToken");
    remake();
    EXPECT_EQ(tokenNow(), "eyJ0.a-b_c~d+e/f=");
}

TEST_F(BackendTokensTest, EightConcurrentAskersShareOneRenewal) {
    std::vector<Future<Backend::TokenReply>> replies;
    for (int i = 0; i < 8; ++i)
        replies.push_back(backend->token());
    world.runUntilIdle();
    for (const auto& reply : replies)
        EXPECT_EQ(std::get<std::string>(*reply.peek()), "access-1");
    EXPECT_EQ(transport->count(signup), 1);
    EXPECT_EQ(backend->renewals(), 1);
    EXPECT_EQ(tokenNow(), "access-1");
    EXPECT_EQ(backend->renewals(), 1);
}

TEST_F(BackendTokensTest, TheRenewalTimeFollowsExpiresIn) {
    struct Case {
        const char* expiresIn; // JSON text, or empty for no key at all
        double renewFrom;
    };
    const Case cases[] = {
        {"", 3300},     {"0", 3300},    {"-20", 3300}, {"\"120\"", 3300}, {"true", 3300},
        {"null", 3300}, {"3600", 3300}, {"120", 60},   {"7200", 6900},    {"1", 0.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expiresIn);
        secrets->preset("refreshToken", "r");
        remake();
        std::string body = R"({"access_token":"a","refresh_token":"r")";
        body += std::string(c.expiresIn).empty()
                    ? "}"
                    : std::string(R"(,"expires_in":)") + c.expiresIn + "}";
        transport->script(refresh, FakeAnswer::http(200, body).after(0));
        ASSERT_EQ(tokenNow(), "a");
        world.advance(c.renewFrom - 0.01);
        EXPECT_EQ(tokenNow(), "a");
        EXPECT_EQ(backend->renewals(), 1);
        world.advance(0.02);
        tokenNow();
        EXPECT_EQ(backend->renewals(), 2);
    }
}

// The token's lifetime runs on while the machine sleeps.
TEST_F(BackendTokensTest, SleepCountsTowardsTheTokensAge) {
    tokenNow();
    world.suspendSystem(3300);
    tokenNow();
    EXPECT_EQ(backend->renewals(), 2);
}

TEST_F(BackendTokensTest, ARejectedTokenIsRenewedOnlyWhileItIsTheCachedOne) {
    EXPECT_EQ(tokenNow(), "access-1");
    EXPECT_EQ(tokenNow("access-1"), "access-2");
    EXPECT_EQ(backend->renewals(), 2);
    // Another caller already renewed past the token this one saw refused.
    EXPECT_EQ(tokenNow("access-1"), "access-2");
    EXPECT_EQ(backend->renewals(), 2);
    // The keychain was read once in this run.
    EXPECT_EQ(secrets->calls("get"), 1);
}

TEST_F(BackendTokensTest, ConsentIsAskedBeforeTheCachedToken) {
    tokenNow();
    consent = false;
    EXPECT_EQ(tokenNow(), "error: no consent");
    EXPECT_EQ(transport->sent().size(), 1u);
}

TEST_F(BackendTokensTest, WarmUpRenewsAndPingsOnlyWhenTheConnectionIsCold) {
    using Warmth = Backend::Warmth;
    // The renewal's own answer has just warmed the connection.
    EXPECT_EQ(std::get<Warmth>(settle(backend->warm())), (Warmth{true, false}));
    world.advance(29.9);
    EXPECT_EQ(std::get<Warmth>(settle(backend->warm())), (Warmth{false, false}));
    EXPECT_EQ(transport->count(health), 0);

    world.advance(0.2);
    EXPECT_EQ(std::get<Warmth>(settle(backend->warm())), (Warmth{false, true}));
    ASSERT_EQ(transport->count(health), 1);
    const auto ping = transport->sent(health).at(0).request;
    EXPECT_EQ(ping.url, "https://abc.example.co/auth/v1/health");
    EXPECT_EQ(ping.timeout, 5);
    using Headers = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(ping.headers,
              (Headers{{"apikey", "anon-key"}, {"x-client-info", Backend::clientInfo()}}));

    world.advance(31);
    transport->script(health, FakeAnswer::fail(NetKind::offline));
    log.clear();
    // A failed ping is logged by the request path and still counts as sent.
    EXPECT_EQ(std::get<Warmth>(settle(backend->warm())), (Warmth{false, true}));
    EXPECT_EQ(log.lines(),
              std::vector<std::string>{"Cloud: net: GET /auth/v1/health offline (12 ms)"});
    // No answer came, so the next warm-up pings again.
    EXPECT_EQ(std::get<Warmth>(settle(backend->warm())), (Warmth{false, true}));

    consent = false;
    EXPECT_EQ(std::get<BackendError>(settle(backend->warm())), BackendError::consentRequired());
}

TEST_F(BackendTokensTest, TransportTimingsAreLoggedForDictateRequestsOnly) {
    HttpMetrics metrics;
    metrics.protocol = "h2";
    metrics.connectStart = 0.001;
    metrics.connectEnd = 0.060;
    metrics.secureConnectionStart = 0.020;
    metrics.secureConnectionEnd = 0.060;
    metrics.requestStart = 0.061;
    metrics.requestEnd = 0.0804;
    metrics.responseStart = 0.9;

    struct MetricsTransport final : HttpTransport {
        HttpMetrics metrics;
        Future<HttpReply> send(HttpRequest, CancelSignal) override {
            return Future<HttpReply>::ready(HttpResponse{200, {}, metrics});
        }
    };
    auto withMetrics = std::make_shared<MetricsTransport>();
    withMetrics->metrics = metrics;
    Backend timed("https://abc.example.co", "k", withMetrics, secrets, [] { return true; });
    for (const char* path : {"/functions/v1/dictate", "/auth/v1/signup"}) {
        HttpRequest request;
        request.method = "POST";
        request.url = std::string("https://abc.example.co") + path + "?x=1";
        settle(timed.send(request));
    }
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "Cloud: dictate transport: transaction 1, protocol h2, reused no, "
                               "connect 59 ms, TCP 19 ms, TLS 40 ms, upload 19 ms, wait for "
                               "response 820 ms",
                               "Cloud: net: POST /functions/v1/dictate 200 (0 ms)",
                               "Cloud: net: POST /auth/v1/signup 200 (0 ms)"}));
}

TEST(DictationNetworkMetricsTest, Lines) {
    struct Case {
        HttpMetrics metrics;
        const char* line;
    };
    HttpMetrics reused;
    reused.protocol = "http/1.1";
    reused.reused = true;
    reused.requestStart = 0.0001;
    reused.requestEnd = 0.0021;
    reused.responseStart = 0.5;
    HttpMetrics quic;
    quic.protocol = "h3";
    quic.connectStart = 0;
    quic.connectEnd = 0.030;
    quic.secureConnectionStart = 0.001;
    quic.secureConnectionEnd = 0.030;
    HttpMetrics plain;
    plain.protocol = "http/1.0";
    plain.connectStart = 0.0;
    plain.connectEnd = 0.0025;
    plain.requestStart = 0.003;
    plain.requestEnd = 0.002; // earlier than its start: not a duration
    const Case cases[] = {
        {reused, "dictate transport: transaction 1, protocol http/1.1, reused yes, connect n/a, "
                 "TCP n/a, TLS n/a, upload 2 ms, wait for response 498 ms"},
        {quic, "dictate transport: transaction 1, protocol h3, reused no, connect 30 ms, TCP n/a, "
               "TLS 29 ms, upload n/a, wait for response n/a"},
        {plain, "dictate transport: transaction 1, protocol unknown, reused no, connect 3 ms, "
                "TCP 3 ms, TLS n/a, upload n/a, wait for response n/a"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DictationNetworkMetrics::line(1, c.metrics), c.line);
}

} // namespace
} // namespace talverin
