#include "TalverinCore/CoreRecordCoding.h"
#include "TalverinCore/WireCoding.h"
#include "TalverinCore/WireInsertReply.h"
#include "TalverinCore/WirePermissions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace talverin {
namespace {

using nlohmann::json;
using Wire::CodingError;

TEST(WireEncoder, SortsKeysAtEveryLevelAndWritesCompactly) {
    const json tree = json::parse(R"({"b": {"z": 1, "a": [ {"y": true, "x": null} ]}, "a": "s"})");
    EXPECT_EQ(*Wire::encoder().write(tree), R"({"a":"s","b":{"a":[{"x":null,"y":true}],"z":1}})");
}

TEST(WireEncoder, EscapesSlashesAndControlsAndReplacesIllFormedUtf8) {
    const json tree = {{"path", "a/b</script>"}, {"text", "tab\tquote\"back\\"}};
    EXPECT_EQ(*Wire::encoder().write(tree),
              R"({"path":"a\/b<\/script>","text":"tab\tquote\"back\\"})");
    EXPECT_EQ(*Wire::encoder().write(json("caf\xC3")), "\"caf\xEF\xBF\xBD\"")
        << "a cut-off sequence becomes U+FFFD instead of an exception";
    EXPECT_EQ(*Wire::encoder().write(json("Привет, мир")), "\"Привет, мир\"")
        << "other text is written as it is, not as \\u escapes";
}

TEST(WireEncoder, FailsOnNumbersThatAreNotFiniteWhereverTheyAre) {
    for (double bad :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
          -std::numeric_limits<double>::infinity()}) {
        for (const json& tree : {json(bad), json{{"a", {1, {{"b", bad}}}}}}) {
            auto written = Wire::encoder().write(tree);
            ASSERT_FALSE(written.ok()) << tree.dump();
            EXPECT_EQ(written.error(), CodingError::invalidValue);
        }
    }
    auto reading =
        Wire::encoder().encode(MicCheckReading{.level = std::numeric_limits<float>::quiet_NaN()});
    EXPECT_FALSE(reading.ok()) << "a reading that is not a number is not silence";
}

TEST(WireEncoder, WritesFloatsInTheirShortestFormThatReadsBackAsTheSameFloat) {
    const std::vector<std::pair<float, const char*>> cases = {
        {0.3f, "0.3"},     {0.25f, "0.25"},
        {0.1f, "0.1"},     {1.0f / 3.0f, "0.33333334"},
        {0.0f, "0.0"},     {-0.75f, "-0.75"},
        {1e-45f, "1e-45"}, {std::numeric_limits<float>::max(), "3.4028235e+38"},
    };
    for (const auto& [value, text] : cases) {
        SCOPED_TRACE(text);
        const auto written = Wire::encoder().write(Wire::encodeValue(value));
        ASSERT_TRUE(written.ok());
        EXPECT_EQ(*written, text);
        auto back = Wire::decoder().decode<float>(*written);
        ASSERT_TRUE(back.ok()) << back.message();
        EXPECT_EQ(*back, value);
    }
    auto tooLarge = Wire::decoder().decode<float>("1e300");
    ASSERT_FALSE(tooLarge.ok()) << "a number past the float range is no float, not infinity";
    EXPECT_EQ(tooLarge.error(), CodingError::typeMismatch);
}

TEST(WireDecoder, ReadsOnlyTheExactJsonTypeOfAField) {
    struct Case {
        const char* text;
        bool asInt;
        bool asBool;
        bool asString;
        bool asDouble;
    };
    const std::vector<Case> cases = {
        {"3", true, false, false, true},
        {"-3", true, false, false, true},
        {"3.0", false, false, false, true},
        {"1e2", false, false, false, true},
        {"true", false, true, false, false},
        {"\"3\"", false, false, true, false},
        {"null", false, false, false, false},
        {"9223372036854775807", true, false, false, true},
        {"9223372036854775808", false, false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Wire::decoder().decode<std::int64_t>(c.text).ok(), c.asInt);
        EXPECT_EQ(Wire::decoder().decode<bool>(c.text).ok(), c.asBool);
        EXPECT_EQ(Wire::decoder().decode<std::string>(c.text).ok(), c.asString);
        EXPECT_EQ(Wire::decoder().decode<double>(c.text).ok(), c.asDouble);
    }
    EXPECT_FALSE(Wire::decoder().decode<int>("2147483648").ok()) << "never wrapped into range";
    EXPECT_EQ(*Wire::decoder().decode<int>("-2147483648"), std::numeric_limits<int>::min());
}

TEST(WireDecoder, RefusesWhatIsNotJsonOrNestsTooDeeply) {
    for (const char* text : {"", "{", "{\"a\":1,}", "'a'", "NaN", "1e400", "\"\xC3\"", "[1] 2"}) {
        auto read = Wire::decoder().read(text);
        ASSERT_FALSE(read.ok()) << text;
        EXPECT_EQ(read.error(), CodingError::dataCorrupted);
    }
    const std::string deep =
        std::string(Wire::maxDepth + 1, '[') + std::string(Wire::maxDepth + 1, ']');
    EXPECT_FALSE(Wire::decoder().read(deep).ok());
    const std::string allowed = std::string(Wire::maxDepth, '[') + std::string(Wire::maxDepth, ']');
    EXPECT_TRUE(Wire::decoder().read(allowed).ok());
    EXPECT_TRUE(Wire::decoder().read(R"(["[[[[[[", "\"{{{{"])").ok())
        << "brackets inside strings do not nest";
}

TEST(WireDecoder, IgnoresUnknownKeysAndTellsMissingFromNullFromMistyped) {
    auto read = Wire::decoder().decode<Wire::Microphone>(
        R"({"id": "usb-1", "name": "USB Mic", "extra": {"deep": [1]}})");
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(*read, (Wire::Microphone{"usb-1", "USB Mic"}));

    struct Case {
        const char* text;
        CodingError error;
    };
    for (const Case& c :
         std::vector<Case>{{R"({"id": "usb-1"})", CodingError::keyNotFound},
                           {R"({"id": "usb-1", "name": null})", CodingError::valueNotFound},
                           {R"({"id": 1, "name": "Mic"})", CodingError::typeMismatch},
                           {R"(["usb-1", "Mic"])", CodingError::typeMismatch}}) {
        auto failed = Wire::decoder().decode<Wire::Microphone>(c.text);
        ASSERT_FALSE(failed.ok()) << c.text;
        EXPECT_EQ(failed.error(), c.error) << c.text << ": " << failed.message();
    }

    auto unknown = Wire::decoder().decode<Wire::PermissionState>(R"("Granted")");
    ASSERT_FALSE(unknown.ok()) << "an unknown enumeration string fails the wire decoder";
    EXPECT_EQ(unknown.error(), CodingError::dataCorrupted);
}

TEST(WireObject, GivesTheTreeThatTheEncoderWrites) {
    auto state = Wire::object(Wire::PermissionState::denied);
    ASSERT_TRUE(state.ok());
    EXPECT_EQ(*state, json("denied")) << "a bare value is a valid reply";

    auto reply = Wire::object(Wire::InsertReply(InsertOutcome::inserted()));
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(*reply, (json{{"kind", "inserted"}}));

    auto level = Wire::object(MicCheckReading{.level = 0.3f});
    ASSERT_TRUE(level.ok());
    EXPECT_EQ(level->at("level").get<double>(), 0.3) << "the page sees 0.3, not 0.30000001";

    auto broken = Wire::object(MicCheckReading{.level = std::numeric_limits<float>::infinity()});
    ASSERT_FALSE(broken.ok());
    EXPECT_EQ(broken.error(), CodingError::invalidValue);
}

} // namespace
} // namespace talverin
