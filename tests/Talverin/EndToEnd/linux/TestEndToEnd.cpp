// labels: x11 atspi pulse net keyring webkit
// resource-lock: pulse-server
// links: TalverinInsertLinux
// timeout: 300
//
// A whole dictation through the installed program: the right Alt key held on an X server of
// the test's own, speech played into the virtual microphone, the text landing in a GTK text
// field, read back through the accessibility tree. Nothing is replaced but the hosted backend,
// for which the stand-in answers on this machine.
#include "Talverin/App/linux/AppProcess.h"
#include "TalverinAudio/linux/PulseTestSupport.h"
#include "TalverinCloud/linux/StandinServer.h"
#include "TalverinInsert/linux/AccessibleDesktop.h"
#include "TalverinInsert/linux/TextFixture.h"
#include "TalverinInsert/linux/Xclip.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "EndToEndDesktop.h"

#include <chrono>
#include <csignal>
#include <functional>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>

namespace talverin {
namespace {

namespace fs = std::filesystem;

// Right Alt on an X server's default keymap; by keysym, xdotool would press left Alt too.
constexpr unsigned rightAlt = 108;
constexpr const char* fixtureName = "TalverinTextFixture";
constexpr const char* userText = "the words the user copied";
// How long the test waits for what comes at once on an idle machine.
constexpr double patience = 60;

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// One run of the application in a desktop of its own: an X server, a session bus with the
// accessibility bus switched on, a keyring, the program installed into a folder of the test,
// and a fresh home.
class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (server.display().empty())
            GTEST_SKIP() << "no Xvfb";
        // libatspi keeps the accessibility bus it found first; each test runs in a process of
        // its own.
        desktop = std::make_unique<test::AccessibleDesktop>(server.display());
        ASSERT_TRUE(desktop->waitForLauncher()) << "no accessibility bus launcher";
        ASSERT_TRUE(desktop->enableAccessibility());
        ASSERT_TRUE(desktop->startRegistry());
        desktop->watchRegistrations();
        ASSERT_TRUE(startKeyring());
        keyboard = std::make_unique<test::Keyboard>(server.display());
        ASSERT_NE(keyboard->display(), nullptr);

        const fs::path build = test::AppProcess::binary().parent_path().parent_path().parent_path()
                                   .parent_path();
        const int installed = test::shell("cmake --install " + quoted(build.string()) +
                                          " --prefix " + quoted(prefix().string()) +
                                          " >/dev/null 2>&1");
        ASSERT_EQ(installed, 0);
        speech = test::makeSpeech(home.path(),
                                  "hello world, this is a test of dictation into a text field");
        silence = home.path() / "silence.wav";
        ASSERT_EQ(test::shell("sox -n -r 16000 -c 1 -b 16 " + quoted(silence.string()) +
                              " trim 0 2.5"),
                  0);
    }
    void TearDown() override {
        if (app) {
            app->signal(SIGTERM);
            // A GLib critical or warning aborts the application (G_DEBUG below): it ends
            // with that signal instead of its clean exit.
            EXPECT_EQ(app->waitForExit(patience), 0) << app->log();
        }
        fixture.reset();
        clipboardOwner.reset();
        if (keyring > 0) {
            ::kill(keyring, SIGTERM);
            ::waitpid(keyring, nullptr, 0);
        }
    }

    fs::path prefix() const { return home.path() / "prefix"; }

    // A Secret Service on the test's bus, unlocked, keeping its files in the test's home;
    // true once it owns its name there.
    bool startKeyring() {
        fs::create_directories(home.home() / ".local/share/keyrings");
        int in[2];
        if (::pipe(in) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::string homeVariable = "HOME=" + home.home().string();
        std::string bus = "DBUS_SESSION_BUS_ADDRESS=" + desktop->busAddress();
        std::string runtime = "XDG_RUNTIME_DIR=" + home.path().string();
        char* envp[] = {homeVariable.data(), bus.data(), runtime.data(), nullptr};
        const char* argv[] = {"gnome-keyring-daemon", "--foreground", "--unlock",
                              "--components=secrets", nullptr};
        const bool spawned = posix_spawnp(&keyring, argv[0], &actions, nullptr,
                                          const_cast<char**>(argv), envp) == 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        if (spawned)
            (void)!::write(in[1], "e2e", 3);
        ::close(in[1]);
        if (!spawned)
            keyring = -1;
        GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
            desktop->busAddress().c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        if (!connection)
            return false;
        const bool owned = spawned && test::waitFor(
                                          [&] {
                                              GVariant* answer = g_dbus_connection_call_sync(
                                                  connection, "org.freedesktop.DBus",
                                                  "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                                  "NameHasOwner",
                                                  g_variant_new("(s)", "org.freedesktop.secrets"),
                                                  G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE,
                                                  30000, nullptr, nullptr);
                                              gboolean has = FALSE;
                                              if (answer) {
                                                  g_variant_get(answer, "(b)", &has);
                                                  g_variant_unref(answer);
                                              }
                                              return has == TRUE;
                                          },
                                          patience);
        g_object_unref(connection);
        return owned;
    }

    // Points the installed program at the stand-in, or at no backend.
    void configureBackend(const test::StandinServer* standin) {
        const fs::path info = prefix() / "share/talverin/Info.json";
        auto json = nlohmann::json::parse(test::readFile(info));
        json["TLSupabaseURL"] = standin ? standin->url() : "";
        json["TLSupabaseKey"] = standin ? standin->key() : "";
        test::writeFile(info, json.dump(2));
    }

    // The settings of a user who has finished the onboarding and said yes to the cloud. The
    // microphone here hears the speaker itself, so the start and end ticks are off: they
    // would be heard as a voice.
    void seedDefaults() {
        const nlohmann::json defaults = {
            {"settings",
             {{"onboarded", true},
              {"cloudConsent", true},
              {"holdKey", "rightOption"},
              {"pillIdle", false},
              {"sounds", false}}},
            {"TLCloudConsentAsked", true},
        };
        fs::create_directories(home.configHome() / "Talverin");
        test::writeFile(home.configHome() / "Talverin/defaults.json", defaults.dump(2));
    }

    // Starts the installed program and waits for its launch summary; the line.
    std::string launch(const test::StandinServer* standin) {
        configureBackend(standin);
        seedDefaults();
        app = std::make_unique<test::AppProcess>(
            home,
            std::map<std::string, std::optional<std::string>>{
                {"DISPLAY", server.display()},
                {"DBUS_SESSION_BUS_ADDRESS", desktop->busAddress()},
                {"GDK_BACKEND", "x11"},
                // A normal launch and dictation print no GLib critical or warning; any one
                // ends the application, and the test with it.
                {"G_DEBUG", "fatal-criticals"},
                {"UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1:suppressions="
                                  TALVERIN_UBSAN_SUPPRESSIONS}},
            prefix() / "bin/talverin");
        auto line = app->waitForLine("Launch: ", 0, patience);
        EXPECT_TRUE(line) << app->log();
        return line.value_or("");
    }

    // Opens the text field with `initial` and waits until the accessibility tree shows it
    // focused with that text, as a user waits until they see the field.
    void openField(const std::string& focus, const std::string& initial,
                   const std::string& selection = {}) {
        fixture.reset();
        fixture = std::make_unique<test::TextFixture>(server.display(), focus, initial, selection);
        ASSERT_TRUE(fixture->waitFor("ready", patience));
        ASSERT_TRUE(test::waitFor(
            [&] {
                auto read = test::readFocusedText(fixtureName);
                return read && (focus == "password" || read->text == initial);
            },
            patience))
            << "the accessibility tree does not show the focused field";
    }

    // Holds the dictation key, plays `sound` once the microphone delivers (or at once, where
    // the microphone may stay closed), and lets go.
    void hold(const fs::path& sound, bool waitForMic = true) {
        const std::size_t from = app->log().size();
        keyboard->press(rightAlt);
        if (waitForMic) {
            EXPECT_TRUE(app->waitForLine("mic: first block", from, patience)) << app->log();
            // The on-device recogniser starts once its model is loaded, which under the
            // sanitizers on a busy machine can take longer than the speech lasts: the speech
            // plays once the live draft has started (or said why it does not run).
            EXPECT_TRUE(app->waitForLine("LiveDraft: ", from, patience)) << app->log();
        }
        play(sound);
        keyboard->release(rightAlt);
    }
    static void play(const fs::path& sound) {
        EXPECT_EQ(test::shell("paplay -d vspk " + quoted(sound.string())), 0);
    }

    // What one dictation wrote to the log, from the key going down to its outcome line.
    struct Dictated {
        std::size_t from = 0;
        std::string line;
    };

    // Opens the field (unless the test opened it already), lets `prepare` set the scene (the
    // user's clipboard), and dictates `sound` into it.
    Dictated dictateInto(const std::string& focus, const std::string& initial,
                         const std::string& selection, const fs::path& sound,
                         const std::function<void()>& prepare = {}, bool waitForMic = true) {
        if (!fixture)
            openField(focus, initial, selection);
        if (prepare)
            prepare();
        Dictated dictated;
        dictated.from = app->log().size();
        hold(sound, waitForMic);
        dictated.line = dictationLine(dictated.from);
        return dictated;
    }

    // The next "Dictation: <outcome>" line after byte `from` of the log.
    std::string dictationLine(std::size_t from) {
        auto line = app->waitForLine("Dictation: ", from, patience);
        EXPECT_TRUE(line) << app->log();
        return line.value_or("");
    }

    // Ends the application and answers its history.
    nlohmann::json quitAndReadHistory() {
        app->signal(SIGTERM);
        EXPECT_EQ(app->waitForExit(patience), 0) << app->log();
        const fs::path file = home.dataHome() / "Talverin/history.json";
        if (!fs::exists(file))
            return nlohmann::json::array();
        auto history = nlohmann::json::parse(test::readFile(file), nullptr, false);
        return history.is_object() ? history.value("items", nlohmann::json::array())
                                   : nlohmann::json::array();
    }

    std::string fieldText() {
        auto read = test::readFocusedText(fixtureName);
        return read ? read->text : std::string("<no focused field>");
    }

    test::TempDir home;
    test::PrivateXServer server;
    std::unique_ptr<test::AccessibleDesktop> desktop;
    pid_t keyring = -1;
    std::unique_ptr<test::Keyboard> keyboard;
    std::unique_ptr<test::AppProcess> app;
    std::unique_ptr<test::TextFixture> fixture;
    std::unique_ptr<test::Program> clipboardOwner;
    fs::path speech;
    fs::path silence;
};

// What the user had copied before dictating, which the paste borrows the clipboard from.
struct UserClipboard {
    const char* name;
    const char* target;
    std::string data;
    // The usual case: the editor was open, its field focused, before Talverin started.
    bool fieldFirst = false;
};
void PrintTo(const UserClipboard& c, std::ostream* out) {
    *out << c.name;
}

class CloudDictationTest : public EndToEndTest,
                           public ::testing::WithParamInterface<UserClipboard> {};

TEST_P(CloudDictationTest, AHeldKeyDictatesThroughTheCloudIntoTheFocusedField) {
    const UserClipboard& user = GetParam();
    test::StandinServer standin;
    ASSERT_NE(standin.port(), 0);
    test::WindowWatch pill(server.display(), "Talverin");
    if (user.fieldFirst)
        openField("entry", "Hello ");
    const std::string summary = launch(&standin);
    EXPECT_NE(summary.find("key tap running"), std::string::npos) << summary;
    EXPECT_NE(summary.find("backend configured"), std::string::npos) << summary;

    const Dictated dictated = dictateInto("entry", "Hello ", {}, speech, [&] {
        clipboardOwner.reset();
        clipboardOwner = test::ownClipboard(server.display(), keyboard->display(),
                                            user.target, user.data);
    });
    EXPECT_NE(dictated.line.find("Dictation: inserted, mode clean"), std::string::npos)
        << app->log();
    EXPECT_TRUE(app->waitForLine("Inserter: clipboard restored", dictated.from, patience))
        << app->log();

    EXPECT_EQ(fieldText(), "Hello Hello from the stand-in.");
    EXPECT_TRUE(test::pasteClipboard(server.display(), user.target) == user.data)
        << "the user's clipboard was not restored";
    EXPECT_TRUE(app->waitForLine("LiveDraft: first words after", dictated.from, 1)) << app->log();

    const auto stats = standin.stats();
    EXPECT_EQ(stats["problems"], nlohmann::json::array()) << stats.dump(2);
    ASSERT_FALSE(stats["dictates"].empty()) << stats.dump(2);
    const auto& meta = stats["dictates"].back()["meta"];
    EXPECT_EQ(meta["before"], "Hello ") << meta.dump();
    EXPECT_EQ(meta["appName"], fixtureName) << meta.dump();
    EXPECT_EQ(meta["mode"], "clean") << meta.dump();
    EXPECT_FALSE(meta["languages"].empty()) << meta.dump();

    EXPECT_TRUE(test::waitFor([&] { return pill.hidden() >= 1; }, patience))
        << "the pill was shown " << pill.shown() << " times and hidden " << pill.hidden();
    EXPECT_GE(pill.shown(), 1);

    const auto history = quitAndReadHistory();
    ASSERT_FALSE(history.empty());
    // The newest item comes first.
    EXPECT_EQ(history[0]["appName"], fixtureName) << history.dump(2);
    EXPECT_EQ(history[0]["mode"], "clean") << history.dump(2);
}

INSTANTIATE_TEST_SUITE_P(
    EndToEnd, CloudDictationTest,
    ::testing::Values(UserClipboard{"text", "UTF8_STRING", userText},
                      UserClipboard{"image", "image/png", test::imageBytes(200 << 10)},
                      UserClipboard{"fieldOpenBeforeLaunch", "UTF8_STRING", userText, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Without the cloud the on-device recogniser's draft is what lands: whatever it heard, after
// the text that was there, with the pill that says where it came from.
struct DraftCase {
    const char* name;
    bool configured;
    const char* summary;
    // What the dictation's line says of the cloud.
    const char* cloud;
};
void PrintTo(const DraftCase& c, std::ostream* out) {
    *out << c.name;
}

class DraftTest : public EndToEndTest, public ::testing::WithParamInterface<DraftCase> {};

TEST_P(DraftTest, TheOnDeviceDraftIsInserted) {
    const DraftCase c = GetParam();
    auto standin = c.configured ? std::make_unique<test::StandinServer>() : nullptr;
    const std::string summary = launch(standin.get());
    EXPECT_NE(summary.find(c.summary), std::string::npos) << summary;
    // The backend goes away after the launch: the dictation finds it unreachable.
    standin.reset();

    const Dictated dictated = dictateInto("entry", "Hello ", {}, speech);
    EXPECT_NE(dictated.line.find("Dictation: inserted"), std::string::npos) << app->log();
    EXPECT_NE(dictated.line.find(c.cloud), std::string::npos) << dictated.line;
    const std::string text = fieldText();
    EXPECT_TRUE(text.starts_with("Hello ")) << text;
    EXPECT_GT(text.size(), std::string("Hello ").size()) << text << "\n" << app->log();
}

INSTANTIATE_TEST_SUITE_P(
    EndToEnd, DraftTest,
    ::testing::Values(DraftCase{"noBackend", false, "backend none", ", cloud none"},
                      DraftCase{"backendStopped", true, "backend configured",
                                ", cloud offline"}),
    [](const auto& info) { return std::string(info.param.name); });

// A hold that hears nothing inserts nothing and keeps nothing: the pill says it heard silence.
TEST_F(EndToEndTest, AHoldWithoutSpeechInsertsNothing) {
    test::StandinServer standin;
    launch(&standin);
    const Dictated dictated = dictateInto("entry", "Hello ", {}, silence);
    EXPECT_NE(dictated.line.find("Dictation: silence"), std::string::npos) << app->log();
    EXPECT_EQ(fieldText(), "Hello ");
    EXPECT_TRUE(standin.stats()["dictates"].empty()) << standin.stats().dump(2);
    EXPECT_TRUE(quitAndReadHistory().empty());
}

// A tap alone dictates nothing. Two taps in quick succession start hands-free dictation, which
// listens without the key held until the key is pressed once more.
TEST_F(EndToEndTest, ATapIsIgnoredAndADoubleTapDictatesHandsFreeUntilTheNextPress) {
    test::StandinServer standin;
    launch(&standin);
    openField("entry", "Hello ");

    std::size_t from = app->log().size();
    keyboard->tap(rightAlt);
    EXPECT_NE(dictationLine(from).find("Dictation: tap"), std::string::npos) << app->log();
    EXPECT_EQ(fieldText(), "Hello ");

    // The user pauses before the double tap, longer than a double tap's window.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    from = app->log().size();
    keyboard->tap(rightAlt, 2);
    EXPECT_TRUE(app->waitForLine("Dictation: hands-free", from, patience)) << app->log();
    EXPECT_TRUE(app->waitForLine("mic: first block", from, patience)) << app->log();
    play(speech);
    const std::size_t stop = app->log().size();
    keyboard->tap(rightAlt);
    EXPECT_TRUE(app->waitForLine("Dictation: hands-free stopped", stop, patience)) << app->log();
    const auto outcome = app->waitForLine("Dictation: inserted", stop, patience);
    ASSERT_TRUE(outcome) << app->log();
    EXPECT_NE(outcome->find("hands-free"), std::string::npos) << *outcome;
    EXPECT_TRUE(test::waitFor([&] { return fieldText() == "Hello Hello from the stand-in."; },
                              patience))
        << fieldText();
    EXPECT_EQ(standin.stats()["dictates"].size(), 1u) << standin.stats().dump(2);
}

// Nothing is dictated into a password field: nothing is sent, typed or kept.
TEST_F(EndToEndTest, APasswordFieldIsRefused) {
    test::StandinServer standin;
    launch(&standin);
    const Dictated dictated = dictateInto("password", "", {}, speech, {}, false);
    // Refused as soon as the field is known, or, when the pill was not up yet, quietly at
    // the release.
    EXPECT_TRUE(app->waitForLine("Dictation: cancelled (secureField)", dictated.from, 1) ||
                app->waitForLine("Dictation: refused (secureField)", dictated.from, patience))
        << app->log();
    for (const auto& line : fixture->lines())
        EXPECT_FALSE(line.starts_with("password: ")) << line;
    EXPECT_TRUE(standin.stats()["dictates"].empty()) << standin.stats().dump(2);
    EXPECT_TRUE(quitAndReadHistory().empty());
}

// Dictating over a selection edits it: the cloud gets the selection in edit mode, and its
// answer replaces the selection.
TEST_F(EndToEndTest, DictatingOverASelectionReplacesIt) {
    test::StandinServer standin;
    launch(&standin);
    const Dictated dictated = dictateInto("entry", "Hello world", "6:11", speech);
    EXPECT_NE(dictated.line.find("mode edit"), std::string::npos) << app->log();
    ASSERT_FALSE(standin.stats()["dictates"].empty());
    const auto meta = standin.stats()["dictates"].back()["meta"];
    EXPECT_EQ(meta["mode"], "edit") << meta.dump();
    EXPECT_EQ(meta["selection"], "world") << meta.dump();
    EXPECT_EQ(meta["before"], "Hello ") << meta.dump();
    EXPECT_TRUE(test::waitFor([&] { return fieldText() == "Hello Hello from the stand-in."; },
                              patience))
        << fieldText();
    const auto history = quitAndReadHistory();
    ASSERT_FALSE(history.empty());
    EXPECT_EQ(history[0]["mode"], "edit") << history.dump(2);
}

// An application that stops answering right after an insertion (it hangs, or is stopped) does
// not stop Talverin: the next dictation still ends with its outcome, and Talverin still quits
// when told to.
TEST_F(EndToEndTest, ATargetThatStopsAnsweringAfterAnInsertionStopsNothing) {
    launch(nullptr);
    const Dictated first = dictateInto("entry", "Hello ", {}, speech);
    EXPECT_NE(first.line.find("Dictation: inserted"), std::string::npos) << app->log();
    ASSERT_EQ(::kill(fixture->pid(), SIGSTOP), 0);
    const Dictated second = dictateInto("entry", "Hello ", {}, speech);
    EXPECT_FALSE(second.line.empty()) << app->log();
    app->signal(SIGTERM);
    EXPECT_EQ(app->waitForExit(patience), 0) << app->log();
    ::kill(fixture->pid(), SIGCONT);
}

} // namespace
} // namespace talverin
