// labels: net keyring
#include "TalverinCloud/DictateClient.h"

#include "StandinServer.h"
#include "TalverinCloud/CloudTestSupport.h"
#include "TalverinCloud/OpusTestSupport.h"
#include "TalverinCloud/StreamingOpus.h"
#include "TalverinCloud/linux/CloudLinux.h"
#include "TalverinCloud/linux/HttpTransportCurl.h"
#include "TalverinCloud/linux/SecretStoreLibsecret.h"
#include "support/LogLines.h"

#include <gtest/gtest.h>

#include <regex>

namespace talverin {
namespace {

using Json = nlohmann::json;

// The real pieces end to end: the stand-in backend over libcurl, the refresh token in the
// session's gnome-keyring, clips from the streaming encoder.
class CloudIntegrationTest : public ::testing::Test {
protected:
    ~CloudIntegrationTest() override {
        client.reset();
        if (backend)
            (void)SecretStoreLibsecret(service).remove(backend->account());
    }

    // A new process: a new backend, transport and keychain handle over the same keyring.
    void launch(double budget = DictateClient::defaultBudget) {
        client.reset();
        backend = std::make_shared<Backend>(
            server.url(), server.key(), std::make_shared<HttpTransportCurl>(Backend::userAgent()),
            std::make_shared<SecretStoreLibsecret>(service), [] { return true; });
        client = std::make_shared<DictateClient>(backend, budget, CloudLinux::sharedConnectivity());
    }

    DictateReply dictateNow(const DictateRequest& request, double seconds = 30) {
        auto reply = test::waitFor(world, client->dictate(request), seconds);
        EXPECT_TRUE(reply.has_value());
        return reply.value_or(DictateReply{DictateOtherError{"no answer"}});
    }

    static DictateRequest wavRequest() {
        DictateRequest r;
        r.clip = OggOpus::wav(test::speechLike(8000));
        r.languages = {"en"};
        r.appName = "Terminal";
        return r;
    }

    VirtualWorld world;
    test::LogLines log;
    test::StandinServer server;
    std::string service = "app.talverin.Talverin.test-" + std::to_string(getpid());
    std::shared_ptr<Backend> backend;
    std::shared_ptr<DictateClient> client;
};

TEST_F(CloudIntegrationTest, AWholeClipTravelsOverTheWarmedConnection) {
    launch();
    ASSERT_TRUE(client->isConfigured());
    client->warmUp();
    ASSERT_TRUE(test::pumpUntil(
        world, [&] { return !log.starting("Cloud: warm-up: ").empty(); }, 20));
    EXPECT_TRUE(log.starting("Cloud: warm-up: ")[0].starts_with(
        "Cloud: warm-up: token renewed, connection warm ("));

    StreamingOpus stream;
    const auto samples = test::speechLike(48'000, 3);
    for (std::size_t at = 0; at < samples.size(); at += 320)
        stream.append(
            std::span(samples).subspan(at, std::min<std::size_t>(320, samples.size() - at)));
    const EncodedClip clip = stream.finishClip();
    ASSERT_TRUE(clip.isOpus());

    DictateRequest request;
    request.clip = clip.data;
    request.languages = {"en", "ru"};
    request.mode = DictationMode::clean;
    request.appName = "Notes";
    request.before = "Привет, ";
    request.words = {"Talverin"};
    const auto reply = dictateNow(request);
    EXPECT_EQ(std::get<DictateResult>(reply),
              (DictateResult{"Hello from the stand-in.", "hello from the stand in", 640,
                             std::string("en")}));

    const auto stats = server.stats();
    EXPECT_EQ(stats["problems"], Json::array());
    EXPECT_EQ(stats["connections"], 1);
    EXPECT_EQ(stats["calls"],
              (Json{{"POST /auth/v1/signup", 1}, {"POST /functions/v1/dictate", 1}}));
    ASSERT_EQ(stats["dictates"].size(), 1u);
    EXPECT_EQ(stats["dictates"][0]["audio"], "ogg");
    EXPECT_EQ(stats["dictates"][0]["meta"]["before"], "Привет, ");

    const auto transport = log.starting("Cloud: dictate transport: ");
    ASSERT_EQ(transport.size(), 1u);
    EXPECT_TRUE(std::regex_match(
        transport[0], std::regex("Cloud: dictate transport: transaction 1, protocol http/1\\.1, "
                                 "reused yes, connect n/a, TCP n/a, TLS n/a, upload \\d+ ms, "
                                 "wait for response \\d+ ms")))
        << transport[0];
    EXPECT_EQ(log.starting("Cloud: dictate stages: "),
              std::vector<std::string>{
                  "Cloud: dictate stages: Whisper 300 ms, Gemini 200 ms, fix applied"});
}

TEST_F(CloudIntegrationTest, AServerPastTheBudgetGivesTimeoutAndLosesTheConnection) {
    launch(1.0);
    server.script({{"POST /functions/v1/dictate", {{{"delay", 15}}}}});
    const auto started = std::chrono::steady_clock::now();
    const auto reply = dictateNow(wavRequest(), 10);
    EXPECT_EQ(std::get<DictateError>(reply), DictateError::timeout());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
    // The server polls the connection every few milliseconds; curl drops it at once.
    EXPECT_TRUE(test::pumpUntil(
        world, [&] { return server.stats()["dropped"] == 1; }, 3));
    ASSERT_TRUE(test::pumpUntil(
        world, [&] { return !log.starting("Cloud: net: POST /functions/v1/dictate").empty(); }, 3));
    EXPECT_TRUE(log.starting("Cloud: net: POST /functions/v1/dictate")[0].starts_with(
        "Cloud: net: POST /functions/v1/dictate cancelled ("));
}

TEST_F(CloudIntegrationTest, ServiceAnswersBecomeTheirErrors) {
    launch();
    server.script({{"POST /functions/v1/dictate",
                    {{{"status", 429}, {"body", {{"code", "rate_limited"}}}},
                     {{"status", 422}, {"body", {{"code", "edit-failed"}}}}}}});
    EXPECT_EQ(std::get<DictateError>(dictateNow(wavRequest())), DictateError::limit());
    EXPECT_EQ(std::get<DictateError>(dictateNow(wavRequest())), DictateError::editFailed());

    // An access token the server no longer takes is renewed and the request sent again.
    server.control("POST", "/_standin/expire");
    EXPECT_TRUE(std::holds_alternative<DictateResult>(dictateNow(wavRequest())));
    const auto lines = log.starting("Cloud: dictate: clean");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[2].find(", tries 2, "), std::string::npos) << lines[2];
    const auto stats = server.stats();
    EXPECT_EQ(stats["problems"], Json::array());
    EXPECT_EQ(stats["calls"]["POST /auth/v1/token"], 1);
    EXPECT_EQ(stats["dictates"][0]["audio"], "wav");
}

// The server reads the whole clip over the warmed connection, dictates it, and closes the
// connection before its answer goes out. The clip is not sent again behind the client's
// back: every dictation the server did is one the client counted.
TEST_F(CloudIntegrationTest, AClipIsDictatedOncePerTryTheClientCounts) {
    launch();
    client->warmUp();
    ASSERT_TRUE(test::pumpUntil(
        world, [&] { return !log.starting("Cloud: warm-up: ").empty(); }, 20));
    server.script({{"POST /functions/v1/dictate", {{{"drop", true}}}}});
    EXPECT_EQ(std::get<DictateError>(dictateNow(wavRequest())), DictateError::offline());
    EXPECT_EQ(server.stats()["dictates"].size(), 1u);

    EXPECT_TRUE(std::holds_alternative<DictateResult>(dictateNow(wavRequest())));
    const auto lines = log.starting("Cloud: dictate: clean");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find(", failed: offline ("), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(", tries 1, "), std::string::npos) << lines[1];
    const auto stats = server.stats();
    EXPECT_EQ(stats["dictates"].size(), 2u);
    EXPECT_EQ(stats["calls"]["POST /functions/v1/dictate"], 2);
    EXPECT_EQ(stats["problems"], Json::array());
}

TEST_F(CloudIntegrationTest, TheAccountSurvivesARestartThroughTheKeyring) {
    launch();
    EXPECT_TRUE(std::holds_alternative<DictateResult>(dictateNow(wavRequest())));
    EXPECT_EQ(test::shown(SecretStoreLibsecret(service).get(backend->account())), "ref-1");

    launch();
    log.clear();
    EXPECT_TRUE(std::holds_alternative<DictateResult>(dictateNow(wavRequest())));
    const auto auth = log.starting("Cloud: auth: ");
    ASSERT_EQ(auth.size(), 1u);
    EXPECT_TRUE(auth[0].starts_with("Cloud: auth: refreshed (")) << auth[0];
    EXPECT_EQ(test::shown(SecretStoreLibsecret(service).get(backend->account())), "ref-2");
    const auto stats = server.stats();
    EXPECT_EQ(stats["calls"]["POST /auth/v1/signup"], 1);
    EXPECT_EQ(stats["calls"]["POST /auth/v1/token"], 1);
    EXPECT_EQ(stats["problems"], Json::array());
}

} // namespace
} // namespace talverin
