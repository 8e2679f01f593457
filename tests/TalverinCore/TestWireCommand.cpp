#include "TalverinCore/WireCommand.h"

#include "TalverinCore/SettingsCoding.h"

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

namespace talverin::Wire {

// Failure messages show a command as the JSON it would be sent as.
void PrintTo(const Command& command, std::ostream* out) {
    auto text = encoder().encode(command);
    *out << (text.ok() ? *text : "<" + std::string(command.name()) + ">");
}

namespace {

using Expected = std::variant<Command, std::string>; // the command, or the page's error text

struct MessageCase {
    std::string message;
    Expected expected;
};

std::string nested(int depth, std::string_view inner = "0") {
    return std::string(static_cast<std::size_t>(depth), '[') + std::string(inner) +
           std::string(static_cast<std::size_t>(depth), ']');
}

const HistoryListArgs noListArgs{};

std::vector<MessageCase> messageCases() {
    return {
        // Every command, with what it needs.
        {R"({"cmd":"getState"})", Command::getState()},
        {R"({"cmd":"setSettings","args":{"sounds":false,"pillSpot":"tl"}})",
         Command::setSettings({.sounds = false, .pillSpot = PillSpot::topLeft})},
        {R"({"cmd":"historyList","args":{"query":"q","limit":5,"before":"2026-03-05T14:07:09Z"}})",
         Command::historyList({.query = "q", .limit = 5, .before = "2026-03-05T14:07:09Z"})},
        {R"({"cmd":"historyCopy","args":{"id":"a1"}})",
         Command::historyCopy("a1", CopyWhich::clean)},
        {R"({"cmd":"historyDelete","args":{"id":"a1","which":"raw"}})",
         Command::historyDelete("a1")},
        {R"({"cmd":"historyClear"})", Command::historyClear()},
        {R"({"cmd":"historyInsertAgain","args":{"id":"a1","which":"raw"}})",
         Command::historyInsertAgain("a1", CopyWhich::raw)},
        {R"({"cmd":"historyAddWord","args":{"word":"Zürich"}})", Command::historyAddWord("Zürich")},
        {R"({"cmd":"permissionsStatus"})", Command::permissionsStatus()},
        {R"({"cmd":"permissionsRequest","args":{"kind":"speech"}})",
         Command::permissionsRequest(PermissionKind::speech)},
        {R"({"cmd":"permissionsOpenPane","args":{"kind":"accessibility"}})",
         Command::permissionsOpenPane(PermissionKind::accessibility)},
        {R"({"cmd":"finishOnboarding"})", Command::finishOnboarding()},
        {R"({"cmd":"micTest","args":{"on":true}})", Command::micTest(true)},
        {R"({"cmd":"keyCapture","args":{"on":false}})", Command::keyCapture(false)},
        {R"({"cmd":"fnAction"})", Command::fnAction()},
        {R"({"cmd":"openKeyboardSettings","args":[1,2]})", Command::openKeyboardSettings()},

        // Commands without arguments do not look at "args".
        {R"({"cmd":"getState","args":"whatever"})", Command::getState()},
        {R"({"cmd":"historyClear","args":null})", Command::historyClear()},

        // Names are matched exactly.
        {R"({"cmd":"GetState"})", std::string("unknown command GetState")},
        {R"({"cmd":"getstate"})", std::string("unknown command getstate")},
        {R"({"cmd":"getState "})", std::string("unknown command getState ")},
        {R"({"cmd":""})", std::string("unknown command ")},

        // A settings patch: every field optional, but there must be an object.
        {R"({"cmd":"setSettings","args":{}})", Command::setSettings({})},
        {R"({"cmd":"setSettings"})", std::string("bad arguments for setSettings")},
        {R"({"cmd":"setSettings","args":null})", std::string("bad arguments for setSettings")},
        {R"({"cmd":"setSettings","args":[]})", std::string("bad arguments for setSettings")},

        // A listing never fails on its arguments.
        {R"({"cmd":"historyList"})", Command::historyList(noListArgs)},
        {R"({"cmd":"historyList","args":null})", Command::historyList(noListArgs)},
        {R"({"cmd":"historyList","args":{}})", Command::historyList(noListArgs)},
        {R"({"cmd":"historyList","args":"q"})", Command::historyList(noListArgs)},
        {R"({"cmd":"historyList","args":{"query":"q","limit":"5"}})",
         Command::historyList(noListArgs)},
        {R"({"cmd":"historyList","args":{"limit":2.5}})", Command::historyList(noListArgs)},
        {R"({"cmd":"historyList","args":{"limit":null,"query":"q"}})",
         Command::historyList({.query = "q"})},

        // "which" falls back to clean; "id" is required.
        {R"({"cmd":"historyCopy","args":{"id":"a1","which":"RAW"}})", Command::historyCopy("a1")},
        {R"({"cmd":"historyCopy","args":{"id":"a1","which":7}})", Command::historyCopy("a1")},
        {R"({"cmd":"historyInsertAgain","args":{"id":"a1","which":null}})",
         Command::historyInsertAgain("a1", CopyWhich::clean)},
        {R"({"cmd":"historyCopy","args":{"which":"raw"}})",
         std::string("bad arguments for historyCopy")},
        {R"({"cmd":"historyCopy","args":{"id":null}})",
         std::string("bad arguments for historyCopy")},
        {R"({"cmd":"historyCopy","args":"a1"})", std::string("bad arguments for historyCopy")},
        {R"({"cmd":"historyInsertAgain"})", std::string("bad arguments for historyInsertAgain")},
        {R"({"cmd":"historyDelete","args":{"id":5}})",
         std::string("bad arguments for historyDelete")},
        {R"({"cmd":"historyAddWord","args":{"words":"x"}})",
         std::string("bad arguments for historyAddWord")},

        // Permission kinds and switches are strict.
        {R"({"cmd":"permissionsRequest","args":{"kind":"camera"}})",
         std::string("bad arguments for permissionsRequest")},
        {R"({"cmd":"permissionsRequest","args":{"kind":"Speech"}})",
         std::string("bad arguments for permissionsRequest")},
        {R"({"cmd":"permissionsOpenPane","args":{}})",
         std::string("bad arguments for permissionsOpenPane")},
        {R"({"cmd":"micTest","args":{"on":"true"}})", std::string("bad arguments for micTest")},
        {R"({"cmd":"micTest","args":{"on":1}})", std::string("bad arguments for micTest")},
        {R"({"cmd":"keyCapture","args":{"on":null}})", std::string("bad arguments for keyCapture")},

        // Envelopes that are no command message at all.
        {R"("getState")", std::string("bad message")},
        {"42", std::string("bad message")},
        {"null", std::string("bad message")},
        {R"([{"cmd":"getState"}])", std::string("bad message")},
        {R"({"args":{}})", std::string("bad message")},
        {R"({"cmd":5})", std::string("bad message")},
        {R"({"cmd":null})", std::string("bad message")},
        {R"({"cmd":"getState")", std::string("bad message")},
        {"", std::string("bad message")},
        {"{\"cmd\":\"getState\"} x", std::string("bad message")},

        // Nesting: within the limit a message is read; past it, and far past it, it is refused
        // before anything recursive sees it.
        {R"({"cmd":"getState","args":)" + nested(100) + "}", Command::getState()},
        {R"({"cmd":"getState","args":)" + nested(600) + "}", std::string("bad message")},
        {nested(100000), std::string("bad message")},
        {R"({"cmd":"historyList","args":{"query":)" + nested(100000) + "}}",
         std::string("bad message")},
    };
}

TEST(WireCommand, MessagesBecomeCommandsOrTheErrorTextThePageSees) {
    for (const auto& [message, expected] : messageCases()) {
        SCOPED_TRACE(message.size() > 200 ? message.substr(0, 200) + "..." : message);
        auto parsed = Command::parse(message);
        if (const auto* command = std::get_if<Command>(&expected)) {
            ASSERT_TRUE(parsed.ok()) << parsed.error().description();
            EXPECT_EQ(*parsed, *command);
        } else {
            ASSERT_FALSE(parsed.ok()) << "parsed as " << testing::PrintToString(*parsed);
            EXPECT_EQ(parsed.error().description(), std::get<std::string>(expected));
        }
    }
}

TEST(WireCommand, ErrorsCarryTheNameExactlyAsReceived) {
    auto unknown = Command::parse(R"({"cmd":"Hist\u00F6ryList"})");
    ASSERT_FALSE(unknown.ok());
    EXPECT_EQ(unknown.error(), CommandError::unknownCommand("HistöryList"));
    EXPECT_EQ(unknown.error().name(), "HistöryList");

    auto bad = Command::parse(R"({"cmd":"micTest","args":{"on":0}})");
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error(), CommandError::badArguments("micTest"));

    auto envelope = Command::parse("[]");
    ASSERT_FALSE(envelope.ok());
    EXPECT_EQ(envelope.error(), CommandError::badMessage());
    EXPECT_FALSE(envelope.message().empty()) << "the decoder's reason is kept for the log";
}

// The arguments each command needs, so that every name in the list can be sent.
const std::map<std::string, std::string> requiredArgs = {
    {"setSettings", "{}"},
    {"historyCopy", R"({"id":"x"})"},
    {"historyDelete", R"({"id":"x"})"},
    {"historyInsertAgain", R"({"id":"x"})"},
    {"historyAddWord", R"({"word":"x"})"},
    {"permissionsRequest", R"({"kind":"microphone"})"},
    {"permissionsOpenPane", R"({"kind":"microphone"})"},
    {"micTest", R"({"on":true})"},
    {"keyCapture", R"({"on":true})"},
};

TEST(WireCommand, EveryNameInTheListParsesToItsCommand) {
    const auto& names = Command::names();
    ASSERT_EQ(names.size(), 16u);
    EXPECT_EQ(names.front(), "getState");
    EXPECT_EQ(names[2], "historyList");
    EXPECT_EQ(names.back(), "openKeyboardSettings");
    for (std::string_view name : names) {
        SCOPED_TRACE(name);
        std::string message = R"({"cmd":")" + std::string(name) + "\"";
        if (auto args = requiredArgs.find(std::string(name)); args != requiredArgs.end())
            message += R"(,"args":)" + args->second;
        auto parsed = Command::parse(message + "}");
        ASSERT_TRUE(parsed.ok()) << parsed.error().description();
        EXPECT_EQ(parsed->name(), name);
    }
}

TEST(WireCommand, GoldenEncodingsAndRoundTrips) {
    EXPECT_EQ(*encoder().encode(Command::historyDelete("a/b")),
              R"({"args":{"id":"a\/b"},"cmd":"historyDelete"})");
    EXPECT_EQ(*encoder().encode(Command::fnAction()), R"({"cmd":"fnAction"})");
    EXPECT_EQ(*encoder().encode(Command::historyCopy("x")),
              R"({"args":{"id":"x","which":"clean"},"cmd":"historyCopy"})");
    EXPECT_EQ(*encoder().encode(Command::historyList({})), R"({"args":{},"cmd":"historyList"})");
    EXPECT_EQ(*encoder().encode(Command::keyCapture(true)),
              R"({"args":{"on":true},"cmd":"keyCapture"})");
    EXPECT_EQ(*encoder().encode(Command::setSettings({.theme = ThemeSetting::dark})),
              R"({"args":{"theme":"dark"},"cmd":"setSettings"})");

    const std::vector<Command> all = {
        Command::getState(),
        Command::setSettings({.languages = std::vector<std::string>{"en", "de"},
                              .microphoneID = std::optional<std::string>()}),
        Command::historyList({.query = "q", .limit = -3, .before = "2026-03-05T14:07:09.250Z"}),
        Command::historyCopy("id", CopyWhich::raw),
        Command::historyDelete("id"),
        Command::historyClear(),
        Command::historyInsertAgain("id", CopyWhich::raw),
        Command::historyAddWord("word"),
        Command::permissionsStatus(),
        Command::permissionsRequest(PermissionKind::accessibility),
        Command::permissionsOpenPane(PermissionKind::speech),
        Command::finishOnboarding(),
        Command::micTest(false),
        Command::keyCapture(true),
        Command::fnAction(),
        Command::openKeyboardSettings(),
    };
    for (const Command& command : all) {
        auto text = encoder().encode(command);
        ASSERT_TRUE(text.ok());
        auto parsed = Command::parse(*text);
        ASSERT_TRUE(parsed.ok()) << *text;
        EXPECT_EQ(*parsed, command) << *text;
        auto decoded = decoder().decode<Command>(*text);
        ASSERT_TRUE(decoded.ok());
        EXPECT_EQ(*decoded, command);
    }
    EXPECT_NE(Command::micTest(true), Command::keyCapture(true));
    EXPECT_NE(Command::historyCopy("a"), Command::historyCopy("a", CopyWhich::raw));
}

TEST(WireCommand, DecodingAnUnknownNameFailsAsCorruptData) {
    auto decoded = decoder().decode<Command>(R"({"cmd":"launchRockets"})");
    ASSERT_FALSE(decoded.ok());
    EXPECT_EQ(decoded.error(), CodingError::dataCorrupted);
    EXPECT_EQ(decoded.message(), "unknown command launchRockets");
}

} // namespace
} // namespace talverin::Wire
