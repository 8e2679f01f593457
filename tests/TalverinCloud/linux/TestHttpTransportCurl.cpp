// labels: net tsan
#include "TalverinCloud/linux/HttpTransportCurl.h"

#include "StandinServer.h"

#include <gtest/gtest.h>

#include <curl/curl.h>

namespace talverin {
namespace {

using Json = nlohmann::json;

class HttpTransportCurlTest : public ::testing::Test {
protected:
    HttpRequest request(const std::string& method, const std::string& path) {
        HttpRequest r;
        r.method = method;
        r.url = server.url() + path;
        r.headers = {{"apikey", server.key()}, {"x-client-info", "talverin-mac/test"}};
        r.timeout = 10;
        return r;
    }

    HttpReply sendNow(HttpRequest r, CancelSignal cancel = {}) {
        auto reply = test::waitFor(world, transport.send(std::move(r), std::move(cancel)));
        EXPECT_TRUE(reply.has_value());
        return reply.value_or(HttpReply{NetFailure{NetKind::other, "no reply", {}}});
    }

    VirtualWorld world;
    test::StandinServer server;
    HttpTransportCurl transport{"Talverin-Mac/test"};
};

TEST_F(HttpTransportCurlTest, AnswersComeBackOverOneReusedConnection) {
    auto signup = request("POST", "/auth/v1/signup");
    signup.headers.push_back({"content-type", "application/json"});
    signup.body = {'{', '"', 'd', 'a', 't', 'a', '"', ':', '{', '}', '}'};
    auto first = sendNow(signup);
    ASSERT_TRUE(std::holds_alternative<HttpResponse>(first));
    const auto& answer = std::get<HttpResponse>(first);
    EXPECT_EQ(answer.status, 200);
    const auto session = Json::parse(answer.body.begin(), answer.body.end());
    EXPECT_EQ(session["access_token"], "acc-1");
    ASSERT_TRUE(answer.metrics.has_value());
    EXPECT_FALSE(answer.metrics->reused);
    EXPECT_EQ(answer.metrics->protocol, "http/1.1");
    EXPECT_TRUE(answer.metrics->connectStart && answer.metrics->connectEnd);
    EXPECT_FALSE(answer.metrics->secureConnectionStart);

    auto second = sendNow(request("GET", "/auth/v1/health"));
    ASSERT_TRUE(std::holds_alternative<HttpResponse>(second));
    const auto& metrics = std::get<HttpResponse>(second).metrics;
    ASSERT_TRUE(metrics.has_value());
    EXPECT_TRUE(metrics->reused);
    EXPECT_FALSE(metrics->connectStart);
    EXPECT_TRUE(metrics->requestStart && metrics->responseStart);

    const auto stats = server.stats();
    EXPECT_EQ(stats["connections"], 1);
    EXPECT_EQ(stats["problems"], Json::array());
}

TEST_F(HttpTransportCurlTest, ACancelledTransferIsDroppedAtOnce) {
    server.script({{"POST /functions/v1/dictate", {{{"delay", 20}}}}});
    CancelSignal cancel;
    auto reply = transport.send(request("POST", "/functions/v1/dictate"), cancel);
    ASSERT_TRUE(test::pumpUntil(
        world, [&] { return server.calls("POST /functions/v1/dictate") == 1; }, 10));
    const auto cancelledAt = std::chrono::steady_clock::now();
    cancel.cancel();
    const auto result = test::waitFor(world, reply, 5);
    ASSERT_TRUE(result.has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - cancelledAt, std::chrono::milliseconds(500));
    ASSERT_TRUE(std::holds_alternative<NetFailure>(*result));
    EXPECT_EQ(std::get<NetFailure>(*result).kind, NetKind::cancelled);
    // The server notices within its own polling interval.
    EXPECT_TRUE(test::pumpUntil(
        world, [&] { return server.stats()["dropped"] == 1; }, 3));
}

// A kept-alive connection that the server closed is found out only when a request goes over
// it. A request without a body is then simply sent again on a new connection.
TEST_F(HttpTransportCurlTest, ABodilessRequestOnAConnectionTheServerClosedIsSentAgain) {
    ASSERT_TRUE(std::holds_alternative<HttpResponse>(sendNow(request("GET", "/auth/v1/health"))));
    server.script({{"GET /auth/v1/health", {{{"close", true}}}}});
    const auto reply = sendNow(request("GET", "/auth/v1/health"));
    ASSERT_TRUE(std::holds_alternative<HttpResponse>(reply))
        << std::get<NetFailure>(reply).word();
    EXPECT_EQ(std::get<HttpResponse>(reply).status, 200);
    const auto stats = server.stats();
    EXPECT_EQ(stats["calls"]["GET /auth/v1/health"], 3);
    EXPECT_EQ(stats["connections"], 2);
    EXPECT_EQ(stats["problems"], Json::array());
}

// But a server may close the connection after it has read the whole request and acted on
// it. A body that went out is never sent a second time behind the caller's back: the
// transfer fails as a lost connection, and the caller decides.
TEST_F(HttpTransportCurlTest, ABodyThatWentOutOnAConnectionTheServerClosedIsNotSentAgain) {
    ASSERT_TRUE(std::holds_alternative<HttpResponse>(sendNow(request("GET", "/auth/v1/health"))));
    for (const char* how : {"close", "drop"}) {
        SCOPED_TRACE(how);
        server.script({{"POST /auth/v1/signup", {{{how, true}}}}});
        const int before = server.calls("POST /auth/v1/signup");
        auto signup = request("POST", "/auth/v1/signup");
        signup.headers.push_back({"content-type", "application/json"});
        signup.body = {'{', '"', 'd', 'a', 't', 'a', '"', ':', '{', '}', '}'};
        const auto reply = sendNow(signup);
        ASSERT_TRUE(std::holds_alternative<NetFailure>(reply));
        EXPECT_EQ(std::get<NetFailure>(reply).kind, NetKind::offline);
        EXPECT_EQ(server.calls("POST /auth/v1/signup"), before + 1);
        // The next request finds a connection of its own.
        ASSERT_TRUE(
            std::holds_alternative<HttpResponse>(sendNow(request("GET", "/auth/v1/health"))));
    }
    EXPECT_EQ(server.stats()["problems"], Json::array());
}

TEST_F(HttpTransportCurlTest, FailuresAreClassified) {
    server.script({{"GET /auth/v1/health", {{{"delay", 3}}}}});
    auto slow = request("GET", "/auth/v1/health");
    slow.timeout = 0.3;
    EXPECT_EQ(std::get<NetFailure>(sendNow(slow)).kind, NetKind::timeout);

    // A port that nobody listens on.
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    auto refused = request("GET", "/auth/v1/health");
    refused.url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/auth/v1/health";
    EXPECT_EQ(std::get<NetFailure>(sendNow(refused)).kind, NetKind::offline);

    // A header value with a line break would smuggle in headers of its own.
    auto smuggling = request("POST", "/functions/v1/dictate");
    smuggling.headers.push_back({"authorization", "Bearer x\r\nx-admin: 1"});
    const auto failure = std::get<NetFailure>(sendNow(smuggling));
    EXPECT_EQ(failure.kind, NetKind::other);
    EXPECT_EQ(failure.text, "invalid header");
    EXPECT_EQ(server.calls("POST /functions/v1/dictate"), 0);

    auto other = request("GET", "/auth/v1/health");
    other.url = "ftp://127.0.0.1/x";
    EXPECT_EQ(std::get<NetFailure>(sendNow(other)).word(), "curl 1");
}

TEST(HttpTransportCurlCodes, Classification) {
    struct Case {
        int code;
        NetKind kind;
        const char* word;
    };
    const Case cases[] = {
        {CURLE_COULDNT_RESOLVE_PROXY, NetKind::offline, "offline"},
        {CURLE_COULDNT_RESOLVE_HOST, NetKind::offline, "offline"},
        {CURLE_COULDNT_CONNECT, NetKind::offline, "offline"},
        {CURLE_GOT_NOTHING, NetKind::offline, "offline"},
        {CURLE_SEND_ERROR, NetKind::offline, "offline"},
        {CURLE_RECV_ERROR, NetKind::offline, "offline"},
        {CURLE_SEND_FAIL_REWIND, NetKind::offline, "offline"},
        {CURLE_OPERATION_TIMEDOUT, NetKind::timeout, "timeout"},
        {CURLE_ABORTED_BY_CALLBACK, NetKind::cancelled, "cancelled"},
        {CURLE_SSL_CONNECT_ERROR, NetKind::other, "curl 35"},
        {CURLE_PEER_FAILED_VERIFICATION, NetKind::other, "curl 60"},
    };
    for (const auto& c : cases) {
        const auto failure = HttpTransportCurl::classify(c.code);
        EXPECT_EQ(failure.kind, c.kind) << c.code;
        EXPECT_EQ(failure.word(), c.word) << c.code;
    }
}

} // namespace
} // namespace talverin
