#include "TalverinCloud/DictateClient.h"

#include "CloudTestSupport.h"
#include "Runtime/VirtualWorld.h"
#include "fakes/HttpTransportFake.h"
#include "fakes/PathMonitorFake.h"
#include "fakes/SecretStoreFake.h"
#include "support/LogLines.h"

#include <gtest/gtest.h>

namespace talverin {
namespace {

using test::FakeAnswer;

constexpr const char* signup = "POST /auth/v1/signup";
constexpr const char* dictatePath = "POST /functions/v1/dictate";

std::string show(const DictateReply& reply) {
    if (auto* result = std::get_if<DictateResult>(&reply))
        return "result " + result->text;
    if (auto* error = std::get_if<DictateError>(&reply))
        return "error " + DictateClient::describe(*error);
    return "other " + std::get<DictateOtherError>(reply).text;
}

DictateRequest request(std::size_t clipBytes = 20'000, DictationMode mode = DictationMode::clean) {
    DictateRequest r;
    r.clip = test::bytes("OggS");
    r.clip.resize(clipBytes, 0x55);
    r.languages = {"en", "ru"};
    r.mode = mode;
    r.appName = "Notes";
    return r;
}

class DictateClientTest : public ::testing::Test {
protected:
    DictateClientTest() { remake(); }

    void remake(std::string url = "https://abc.example.co") {
        client.reset();
        backend = std::make_shared<Backend>(std::move(url), "anon-key", transport, secrets,
                                            [this] { return consent; });
        client = std::make_unique<DictateClient>(backend, 7.5, [this] { return online; });
    }

    DictateReply settle(const Future<DictateReply>& future) {
        world.runUntilIdle();
        EXPECT_TRUE(future.isReady());
        return future.peek().value_or(DictateReply{DictateOtherError{"never answered"}});
    }

    std::string dictateNow(DictateRequest r = request()) {
        return show(settle(client->dictate(r)));
    }

    VirtualWorld world;
    test::LogLines log;
    std::shared_ptr<test::HttpTransportFake> transport =
        std::make_shared<test::HttpTransportFake>();
    std::shared_ptr<test::SecretStoreFake> secrets = std::make_shared<test::SecretStoreFake>();
    bool consent = true;
    bool online = true;
    std::shared_ptr<Backend> backend;
    std::unique_ptr<DictateClient> client;
};

TEST_F(DictateClientTest, ASuccessfulDictation) {
    transport->dictateAnswer =
        R"({"text":"héllo 👍🏽 Ёж","raw":"hello","ms":{"total":640.5,"asr":300,"fix":200},)"
        R"("flags":["fixed"],"lang":"en"})";
    auto reply = settle(client->dictate(request()));
    EXPECT_EQ(std::get<DictateResult>(reply),
              (DictateResult{"héllo 👍🏽 Ёж", "hello", 641, std::string("en")}));

    const auto sent = transport->sent(dictatePath);
    ASSERT_EQ(sent.size(), 1u);
    const auto& r = sent[0].request;
    EXPECT_EQ(r.url, "https://abc.example.co/functions/v1/dictate");
    EXPECT_DOUBLE_EQ(r.timeout, 7.5 + 0.04 + 1);
    ASSERT_EQ(r.headers.size(), 5u);
    const std::string boundary = r.headers[3].second.substr(r.headers[3].second.find('=') + 1);
    using Headers = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(r.headers, (Headers{{"apikey", "anon-key"},
                                  {"authorization", "Bearer access-1"},
                                  {"x-client-info", Backend::clientInfo()},
                                  {"content-type", "multipart/form-data; boundary=" + boundary},
                                  {"accept", "application/json"}}));
    EXPECT_TRUE(boundary.starts_with("talverin-"));
    EXPECT_EQ(log.starting("Cloud: dictate"),
              (std::vector<std::string>{
                  "Cloud: dictate stages: Whisper 300 ms, Gemini 200 ms, fix applied",
                  "Cloud: dictate: clean, audio 20000 bytes, 200, server 641 ms, total 24 ms, "
                  "tries 1, text 10 chars"}));
}

TEST_F(DictateClientTest, NotSentCasesSendNothing) {
    struct Case {
        const char* name;
        std::string url;
        bool consent;
        bool online;
        const char* reply;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"not configured", "ftp://x", true, false, "error not configured", {}},
        {"no consent",
         "https://abc.example.co",
         false,
         false,
         "error not configured",
         {"Cloud: dictate: not sent (no consent)"}},
        {"no network path",
         "https://abc.example.co",
         true,
         false,
         "error offline",
         {"Cloud: dictate: not sent (no network path)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        consent = c.consent;
        online = c.online;
        remake(c.url);
        log.clear();
        EXPECT_EQ(dictateNow(), c.reply);
        client->warmUp();
        world.runUntilIdle();
        EXPECT_EQ(log.lines(), c.lines);
        EXPECT_TRUE(transport->sent().empty());
        EXPECT_EQ(secrets->calls("get"), 0);
    }
}

TEST_F(DictateClientTest, AnswerStatusTable) {
    struct Case {
        std::vector<FakeAnswer> answers;
        const char* reply;
    };
    const Case cases[] = {
        {{FakeAnswer::http(200, "<html>")}, "error server 200"},
        {{FakeAnswer::http(200, R"({"raw":"no text"})")}, "error server 200"},
        {{FakeAnswer::http(200, R"({"text":"x","flags":["Edit-Failed"]})")}, "error edit failed"},
        {{FakeAnswer::http(200, R"({"text":""})")}, "result "},
        {{FakeAnswer::http(422, R"({"code":"edit-failed"})")}, "error edit failed"},
        {{FakeAnswer::http(500, R"({"error":"EDIT_FAILED"})")}, "error server 500"},
        {{FakeAnswer::http(500, R"({"error":"edit_failed"})")}, "error edit failed"},
        // Each of the three spellings, and ahead of the status's own meaning.
        {{FakeAnswer::http(500, R"({"code":"editfailed"})")}, "error edit failed"},
        {{FakeAnswer::http(400, R"({"error":"editfailed"})")}, "error edit failed"},
        {{FakeAnswer::http(422, R"({"error":"bad_audio"})")}, "error rejected 422 bad_audio"},
        {{FakeAnswer::http(413, R"({"code":"too_large"})")}, "error rejected 413 too_large"},
        {{FakeAnswer::http(400)}, "error rejected 400"},
        {{FakeAnswer::http(415, R"({"code":"Bad Type"})")}, "error rejected 415"},
        {{FakeAnswer::http(429)}, "error limit"},
        {{FakeAnswer::http(402, R"({"code":"quota"})")}, "error limit"},
        {{FakeAnswer::http(503)}, "error server 503"},
        {{FakeAnswer::http(401), FakeAnswer::http(401)}, "error server 401"},
        {{FakeAnswer::fail(NetKind::offline)}, "error offline"},
        {{FakeAnswer::fail(NetKind::timeout)}, "error timeout"},
        {{FakeAnswer::fail(NetKind::other)}, "error server 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        for (const auto& answer : c.answers)
            transport->script(dictatePath, answer);
        log.clear();
        const std::string reply = dictateNow();
        EXPECT_EQ(reply, c.reply);
        const auto lines = log.starting("Cloud: dictate: ");
        ASSERT_EQ(lines.size(), 1u);
        if (reply.starts_with("error "))
            EXPECT_TRUE(lines[0].starts_with(
                "Cloud: dictate: clean, audio 20000 bytes, failed: " + reply.substr(6) + " ("))
                << lines[0];
    }
}

TEST_F(DictateClientTest, TokenFailureTable) {
    struct Case {
        FakeAnswer signupAnswer;
        const char* reply;
    };
    const Case cases[] = {
        {FakeAnswer::http(429), "error server 429"},
        {FakeAnswer::http(422), "error server 422"},
        {FakeAnswer::http(500), "error server 0"},
        {FakeAnswer::http(200, "{}"), "error server 0"},
        {FakeAnswer::fail(NetKind::offline), "error offline"},
        {FakeAnswer::fail(NetKind::timeout), "error timeout"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        transport->script(signup, c.signupAnswer);
        EXPECT_EQ(dictateNow(), c.reply);
        EXPECT_EQ(transport->count(dictatePath), 0);
    }
}

TEST_F(DictateClientTest, A401IsTriedOnceMoreWithTheSameBytesAndANewToken) {
    transport->script(dictatePath, FakeAnswer::http(401, R"({"code":"unauthorized"})"));
    EXPECT_EQ(dictateNow(), "result hello");
    const auto sent = transport->sent(dictatePath);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].request.body, sent[1].request.body);
    EXPECT_EQ(sent[0].header("content-type"), sent[1].header("content-type"));
    EXPECT_EQ(sent[0].header("authorization"), "Bearer access-1");
    EXPECT_EQ(sent[1].header("authorization"), "Bearer access-2");
    EXPECT_EQ(backend->renewals(), 2);
    const auto lines = log.starting("Cloud: dictate: ");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(", tries 2, "), std::string::npos) << lines[0];

    // A renewal that fails before the second try is the request's failure.
    transport->script(dictatePath, FakeAnswer::http(401));
    transport->script("POST /auth/v1/token", FakeAnswer::http(429));
    EXPECT_EQ(dictateNow(), "error server 429");
    EXPECT_EQ(transport->count(dictatePath), 3);
}

TEST_F(DictateClientTest, BudgetGrowsWithTheClipAndForEdits) {
    struct Case {
        std::size_t bytes;
        DictationMode mode;
        double budget;
    };
    const Case cases[] = {
        {0, DictationMode::clean, 7.5},
        {2'500'000, DictationMode::edit, 16.1},
        {500'000, DictationMode::verbatim, 8.5},
        {1, DictationMode::edit, 7.5 + 3.6 + 0.000002},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(client->budget(request(c.bytes, c.mode)), c.budget, 1e-9);
}

TEST_F(DictateClientTest, TheBudgetRunningOutCancelsTheTransfer) {
    transport->script(dictatePath, FakeAnswer::never());
    const double start = Clock::uptime();
    auto reply = client->dictate(request(1'000'000));
    world.runUntil(start + 9.499);
    EXPECT_FALSE(reply.isReady());
    world.runUntil(start + 9.5);
    world.runReady();
    ASSERT_TRUE(reply.isReady());
    EXPECT_EQ(show(*reply.peek()), "error timeout");
    ASSERT_EQ(transport->sent(dictatePath).size(), 1u);
    EXPECT_TRUE(*transport->sent(dictatePath)[0].cancelled);
    EXPECT_EQ(
        log.starting("Cloud: net: POST /functions/v1/dictate"),
        std::vector<std::string>{"Cloud: net: POST /functions/v1/dictate cancelled (9488 ms)"});
    EXPECT_EQ(log.starting("Cloud: dictate: "),
              std::vector<std::string>{
                  "Cloud: dictate: clean, audio 1000000 bytes, failed: timeout (9500 ms)"});
}

// The deadline ends only this request: the renewal it waited for goes on for the next one.
TEST_F(DictateClientTest, ADeadlineDuringTheRenewalLeavesTheRenewalRunning) {
    transport->script(
        signup, FakeAnswer::http(200, R"({"access_token":"slow","refresh_token":"r"})").after(9));
    const double start = Clock::uptime();
    auto first = client->dictate(request(0));
    world.runUntil(start + 7.5);
    world.runReady();
    ASSERT_TRUE(first.isReady());
    EXPECT_EQ(show(*first.peek()), "error timeout");
    world.runUntilIdle();
    EXPECT_EQ(transport->count(dictatePath), 0);
    EXPECT_EQ(dictateNow(), "result hello");
    EXPECT_EQ(transport->count(signup), 1);
    EXPECT_EQ(transport->sent(dictatePath).at(0).header("authorization"), "Bearer slow");
}

TEST_F(DictateClientTest, StageSummaryOfATimedOutServer) {
    transport->script(dictatePath,
                      FakeAnswer::http(504, R"({"code":"timeout","ms":{"asr":2300}})"));
    EXPECT_EQ(dictateNow(), "error server 504");
    EXPECT_EQ(log.starting("Cloud: dictate stages"),
              std::vector<std::string>{"Cloud: dictate stages: Whisper 2300 ms (timeout), Gemini "
                                       "not run, fix not run"});
}

TEST_F(DictateClientTest, OneWarmUpAtATime) {
    client->warmUp();
    client->warmUp();
    world.runUntilIdle();
    EXPECT_EQ(log.starting("Cloud: warm-up: "),
              std::vector<std::string>{"Cloud: warm-up: token renewed, connection warm (12 ms)"});
    EXPECT_EQ(transport->count(signup), 1);

    log.clear();
    world.advance(40);
    client->warmUp();
    world.runUntilIdle();
    EXPECT_EQ(log.starting("Cloud: warm-up: "),
              std::vector<std::string>{"Cloud: warm-up: token cached, connection pinged (12 ms)"});

    log.clear();
    transport->script("POST /auth/v1/token", FakeAnswer::http(429));
    world.advance(3600);
    client->warmUp();
    world.runUntilIdle();
    EXPECT_EQ(log.starting("Cloud: warm-up: "),
              std::vector<std::string>{"Cloud: warm-up: failed: auth busy (429) (12 ms)"});
}

TEST_F(DictateClientTest, AClientGoingAwayAnswersItsDictationsWithTimeout) {
    transport->script(dictatePath, FakeAnswer::never());
    auto reply = client->dictate(request());
    world.runUntil(Clock::uptime() + 1);
    ASSERT_EQ(transport->count(dictatePath), 1);
    client.reset();
    world.runUntilIdle();
    ASSERT_TRUE(reply.isReady());
    EXPECT_EQ(show(*reply.peek()), "error timeout");
    EXPECT_TRUE(*transport->sent(dictatePath)[0].cancelled);
}

class ConnectivityTest : public DictateClientTest {
protected:
    std::shared_ptr<test::PathMonitorFake::Shared> monitor =
        std::make_shared<test::PathMonitorFake::Shared>();
    std::shared_ptr<Connectivity> connectivity =
        std::make_shared<Connectivity>(std::make_unique<test::PathMonitorFake>(monitor));

    std::unique_ptr<DictateClient> clientFor(const std::string& url) {
        auto b =
            std::make_shared<Backend>(url, "anon-key", transport, secrets, [] { return true; });
        return std::make_unique<DictateClient>(b, 7.5, connectivity);
    }
};

TEST_F(ConnectivityTest, StartsOnlyForAConfiguredBackendAndLogsChanges) {
    auto off = clientFor("ftp://x");
    EXPECT_FALSE(monitor->started);
    EXPECT_TRUE(connectivity->isOnline());

    auto on = clientFor("https://abc.example.co");
    ASSERT_TRUE(monitor->started);
    monitor->onUpdate(true);
    monitor->onUpdate(false);
    monitor->onUpdate(false);
    EXPECT_FALSE(connectivity->isOnline());
    EXPECT_EQ(show(settle(on->dictate(request()))), "error offline");
    monitor->onUpdate(true);
    EXPECT_EQ(
        log.starting("Cloud: network: "),
        (std::vector<std::string>{"Cloud: network: no path", "Cloud: network: path available"}));
}

TEST_F(ConnectivityTest, ABackendOnThisMachineIsAlwaysReachable) {
    auto local = clientFor("http://127.0.0.1:54321");
    monitor->onUpdate(false);
    EXPECT_EQ(show(settle(local->dictate(request()))), "result hello");
}

} // namespace
} // namespace talverin
