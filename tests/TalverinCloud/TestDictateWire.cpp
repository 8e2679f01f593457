#include "TalverinCloud/DictateClient.h"

#include "CloudTestSupport.h"
#include "Runtime/Unicode.h"

#include <gtest/gtest.h>

namespace talverin {
namespace {

using Json = nlohmann::json;
using test::bytes;
using test::text;

// UUIDs in a fixed order, so that boundaries are known.
Multipart::UuidSource uuids(std::vector<std::string> list) {
    auto shared = std::make_shared<std::vector<std::string>>(std::move(list));
    auto next = std::make_shared<std::size_t>(0);
    return [shared, next] { return shared->at((*next)++); };
}

std::string repeat(const std::string& cluster, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i)
        out += cluster;
    return out;
}

TEST(DictateWireTest, TheBodyByteForByte) {
    DictateRequest r;
    r.clip = bytes("OggS\x01\x02");
    r.languages = {"en", "ru"};
    r.mode = DictationMode::edit;
    r.appName = "Mail / Notes";
    r.before = "Dear \"Ann\",\n";
    r.after = "Привет 👍🏽 é";
    r.selection = "hi";
    r.words = {};
    const Multipart form = DictateClient::form(r, uuids({"0f5e7c1a-5b0e-4c44-9d0d-0a4b63c1e2f3"}));
    // Text goes out as UTF-8, not as escapes; quotes and line breaks are escaped.
    const std::string meta = R"({"after":"Привет 👍🏽 é","appName":"Mail / Notes",)"
                             R"("before":"Dear \"Ann\",\n",)"
                             R"("client":")" +
                             Backend::clientInfo() +
                             R"(","languages":["en","ru"],"mode":"edit","selection":"hi",)"
                             R"("words":[]})";
    const std::string b = "talverin-0f5e7c1a-5b0e-4c44-9d0d-0a4b63c1e2f3";
    const std::string expected = "--" + b + "\r\n" +
                                 "Content-Disposition: form-data; name=\"meta\"\r\n"
                                 "Content-Type: application/json\r\n\r\n" +
                                 meta + "\r\n--" + b + "\r\n" +
                                 "Content-Disposition: form-data; name=\"audio\"; "
                                 "filename=\"clip.ogg\"\r\n"
                                 "Content-Type: audio/ogg\r\n\r\n"
                                 "OggS\x01\x02\r\n--" +
                                 b + "--\r\n";
    EXPECT_EQ(text(form.body()), expected);
}

TEST(DictateWireTest, TheAudioPartIsNamedAfterTheClipsFirstBytes) {
    struct Case {
        std::string clip;
        const char* header;
    };
    const Case cases[] = {
        {"RIFF\x24\0\0\0WAVE",
         "Content-Disposition: form-data; name=\"audio\"; filename=\"clip.wav\"\r\n"
         "Content-Type: audio/wav\r\n\r\n"},
        {"OggS", "Content-Disposition: form-data; name=\"audio\"; filename=\"clip.ogg\"\r\n"
                 "Content-Type: audio/ogg\r\n\r\n"},
        {"RIF", "Content-Disposition: form-data; name=\"audio\"; filename=\"clip.ogg\"\r\n"
                "Content-Type: audio/ogg\r\n\r\n"},
        {"", "Content-Disposition: form-data; name=\"audio\"; filename=\"clip.ogg\"\r\n"
             "Content-Type: audio/ogg\r\n\r\n"},
    };
    for (const auto& c : cases) {
        DictateRequest r;
        r.clip = bytes(c.clip);
        const auto form = DictateClient::form(r);
        ASSERT_EQ(form.parts().size(), 2u);
        EXPECT_EQ(form.parts()[1].header, c.header);
        EXPECT_EQ(form.parts()[1].data, r.clip);
    }
}

// The cuts count user-perceived characters, so a cut never splits a letter from its accent or
// an emoji from its modifier.
TEST(DictateWireTest, ContextIsCutByCharactersAtBothEnds) {
    const std::string clusters[] = {
        "ж",                                // Cyrillic, two bytes
        "e\xCC\x81",                        // e + combining acute
        "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", // thumbs up + skin tone
        "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7", // family
        "\xF0\x9F\x87\xB7\xF0\x9F\x87\xBA",                                         // flag RU
        "a",
    };
    for (const auto& first : clusters) {
        for (const auto& second : clusters) {
            SCOPED_TRACE(first + " / " + second);
            DictateRequest r;
            // A different character sits right outside each cut.
            r.before = repeat(second, 3800) + repeat(first, 1200);
            r.after = repeat(first, 400) + repeat(second, 600);
            r.selection = repeat(first, 5000);
            const auto meta = DictateClient::meta(r);
            EXPECT_EQ(meta.before, repeat(first, 1200));
            EXPECT_EQ(meta.after, repeat(first, 400));
            EXPECT_EQ(meta.selection, r.selection);
        }
    }
    DictateRequest shortText;
    shortText.before = "Привет, ";
    shortText.after = "мир";
    const auto meta = DictateClient::meta(shortText);
    EXPECT_EQ(meta.before, "Привет, ");
    EXPECT_EQ(meta.after, "мир");
}

TEST(DictateWireTest, MetaJsonHasSortedKeysAndEveryField) {
    DictateRequest r;
    r.mode = DictationMode::verbatim;
    r.appName = "https://x/y";
    const auto json = text(DictateClient::metaJson(DictateClient::meta(r)));
    EXPECT_EQ(json, R"({"after":"","appName":"https://x/y","before":"","client":")" +
                        Backend::clientInfo() +
                        R"(","languages":[],"mode":"verbatim","selection":"","words":[]})");
    // Text from another application may be ill-formed; it is sent repaired, never dropped.
    r.before = "ok \xC3";
    const auto repaired = Json::parse(text(DictateClient::metaJson(DictateClient::meta(r))));
    EXPECT_EQ(repaired["before"], "ok \xEF\xBF\xBD");
}

TEST(DictateWireTest, TheBoundaryNeverOccursInAPart) {
    DictateRequest r;
    r.clip = bytes("OggS..talverin-aaa..talverin-bbb..");
    const auto form = DictateClient::form(r, uuids({"aaa", "bbb", "ccc"}));
    EXPECT_EQ(form.boundary(), "talverin-ccc");
    const std::string body = text(form.body());
    EXPECT_TRUE(body.starts_with("--talverin-ccc\r\n"));
    EXPECT_TRUE(body.ends_with("\r\n--talverin-ccc--\r\n"));

    // The meta part is searched as well, and again after a later part forced a new boundary.
    Multipart multipart(uuids({"aaa", "bbb", "ccc"}));
    multipart.add("one", std::nullopt, "text/plain", bytes("x talverin-bbb x"));
    EXPECT_EQ(multipart.boundary(), "talverin-aaa");
    multipart.add("two", "f", "text/plain", bytes("talverin-aaa"));
    EXPECT_EQ(multipart.boundary(), "talverin-ccc");
}

TEST(DictateWireTest, AnswerTable) {
    struct Case {
        const char* body;
        DictateClient::Answer answer;
    };
    const Case cases[] = {
        {R"({"text":"Hi.","raw":"hi","ms":812.6,"lang":"en"})",
         DictateResult{"Hi.", "hi", 813, std::string("en")}},
        {R"({"text":"Hi.","ms":{"total":640,"asr":1}})", DictateResult{"Hi.", "Hi.", 640, {}}},
        {R"({"text":"Hi.","ms":true,"lang":5})", DictateResult{"Hi.", "Hi.", 0, {}}},
        {R"({"text":"Hi.","ms":2e9})", DictateResult{"Hi.", "Hi.", 0, {}}},
        {R"({"text":"Hi.","ms":-2.5})", DictateResult{"Hi.", "Hi.", -3, {}}},
        {R"({"text":"Hi.","ms":"640","raw":7})", DictateResult{"Hi.", "Hi.", 0, {}}},
        {R"({"text":"","flags":{"edit-failed":false}})", DictateResult{"", "", 0, {}}},
        {R"({"text":"x","flags":["fixed","Edit-Failed"]})", DictateError::editFailed()},
        {R"({"text":"x","flags":{"EDITFAILED":"yes"}})", DictateError::editFailed()},
        {R"({"text":"x","flags":{"edit_failed":true}})", DictateError::editFailed()},
        {R"({"text":null})", DictateError::server(200)},
        {R"(["text"])", DictateError::server(200)},
        {R"({"text":"x")", DictateError::server(200)},
        {"", DictateError::server(200)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        EXPECT_EQ(DictateClient::answer(bytes(c.body)), c.answer);
    }
}

TEST(DictateWireTest, NumbersAndFlags) {
    const auto number = [](const char* json) {
        const Json value = Json::parse(json);
        return DictateClient::number(&value);
    };
    EXPECT_EQ(number("812.5"), 813);
    EXPECT_EQ(number("-812.5"), -813);
    EXPECT_EQ(number("999999999.4"), 999999999);
    EXPECT_EQ(number("1000000000"), std::nullopt);
    EXPECT_EQ(number("false"), std::nullopt);
    EXPECT_EQ(number("\"1\""), std::nullopt);
    EXPECT_EQ(DictateClient::number(nullptr), std::nullopt);

    const auto flags = [](const char* json) {
        const Json value = Json::parse(json);
        return DictateClient::flagNames(&value);
    };
    using Names = std::vector<std::string>;
    EXPECT_EQ(flags(R"(["a",1,"b",null])"), (Names{"a", "b"}));
    EXPECT_EQ(flags(R"({"a":true,"b":false,"c":"","d":"yes","e":1})"), (Names{"a", "d"}));
    EXPECT_EQ(flags(R"("fixed")"), Names{});
}

TEST(DictateWireTest, StageDiagnosticsTable) {
    struct Case {
        int status;
        const char* body;
        std::optional<std::string> line;
    };
    const std::string stages = "dictate stages: Whisper ";
    const Case cases[] = {
        {200, R"({"text":"x","ms":{"asr":300,"fix":210.4},"flags":["fixed"]})",
         stages + "300 ms, Gemini 210 ms, fix applied"},
        {200, R"({"ms":{"asr":-1},"flags":{"silence":true}})",
         stages + "unavailable, Gemini unavailable, fix skipped (silence)"},
        {200, R"({"ms":640,"flags":{"fixed":true}})",
         stages + "unavailable, Gemini unavailable, fix applied"},
        {200, R"({"flags":{"fixed":false,"fallback":"guard"}})",
         stages + "unavailable, Gemini unavailable, fix rejected by guard"},
        {200, R"({"flags":{"fallback":"timeout"}})",
         stages + "unavailable, Gemini unavailable, fix timeout"},
        {200, R"({"flags":{"fallback":"bad-answer"}})",
         stages + "unavailable, Gemini unavailable, fix provider failure"},
        {200, R"({"flags":{"fallback":"other","skipped":"late"}})",
         stages + "unavailable, Gemini unavailable, fix skipped (deadline)"},
        {200, R"({"flags":{"skipped":"off"}})",
         stages + "unavailable, Gemini unavailable, fix skipped (disabled)"},
        {200, R"({"flags":{"skipped":"verbatim"}})",
         stages + "unavailable, Gemini unavailable, fix skipped (verbatim)"},
        {200, R"({"flags":{"skipped":"short"}})",
         stages + "unavailable, Gemini unavailable, fix skipped (short)"},
        {200, R"({"flags":{"skipped":"why"}})",
         stages + "unavailable, Gemini unavailable, fix unknown"},
        {200, R"({"flags":["Fixed"]})", stages + "unavailable, Gemini unavailable, fix unknown"},
        {200, R"({"ms":{"asr":"1"},"flags":{"skipped":7}})",
         stages + "unavailable, Gemini unavailable, fix unknown"},
        {504, R"({"code":"timeout","ms":{"asr":2300}})",
         stages + "2300 ms (timeout), Gemini not run, fix not run"},
        {504, R"({"code":"upstream","ms":{"asr":2300}})", std::nullopt},
        {500, R"({"flags":["fixed"]})", std::nullopt},
        {200, "[1]", std::nullopt},
        {200, "nonsense", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        EXPECT_EQ(DictateClient::stageDiagnostics(bytes(c.body), c.status), c.line);
    }
}

TEST(DictateWireTest, ErrorCodeTable) {
    struct Case {
        const char* body;
        std::optional<std::string> code;
    };
    const Case cases[] = {
        {R"({"code":"too_large","error":"x"})", "too_large"},
        {R"({"code":"Too_Large","error":"bad_audio"})", "bad_audio"},
        {R"({"code":"has space","error":"edit-failed"})", "edit-failed"},
        {R"({"code":"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa","error":"e1"})", "e1"},
        {R"({"code":"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"})",
         "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"},
        {R"({"code":"","error":""})", std::nullopt},
        {R"({"code":7})", std::nullopt},
        {R"({"code":"k\u00e9"})", std::nullopt},
        {"[]", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        EXPECT_EQ(DictateClient::errorCode(bytes(c.body)), c.code);
    }
}

} // namespace
} // namespace talverin
