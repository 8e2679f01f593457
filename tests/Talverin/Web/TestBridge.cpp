#include "Talverin/Web/Bridge.h"

#include "Runtime/DefaultsStore.h"
#include "Runtime/SerialQueue.h"
#include "Runtime/VirtualWorld.h"
#include "TalverinCore/HistoryStore.h"
#include "TalverinCore/SettingsCoding.h"
#include "fakes/PasteboardFake.h"
#include "fakes/WebPageFake.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talverin {
namespace {

using test::WebPageFake;
using Role = Bridge::ViewRole;

// 2026-03-05T14:07:09.000Z plus some seconds.
Wire::Date at(int seconds) {
    return Wire::Date::fromMillisecondsSince1970(1772719629000 + std::int64_t{seconds} * 1000);
}

HistoryItem item(std::string id, int seconds) {
    return HistoryItem{std::move(id), at(seconds), "Notes", "org.example.notes",
                       "clean words", "raw words", true,    DictationMode::clean};
}

std::string emitOf(const Wire::Event& event) {
    return *event.script();
}

class BridgeTest : public testing::Test {
protected:
    BridgeTest() {
        setenv("LANGUAGE", "en", 1);
        world.setWallClock(at(60).time());
        bridge.recordsEvents = true;
    }

    // Sends one message from `sender` and collects its answers, running the main queue until
    // nothing more is due.
    std::vector<Bridge::Answer> ask(const std::optional<std::string>& body,
                                    const WebPage* sender = nullptr) {
        auto answers = std::make_shared<std::vector<Bridge::Answer>>();
        bridge.receive(sender, body, [answers](Bridge::Answer a) { answers->push_back(a); });
        world.runUntilIdle();
        return *answers;
    }
    Bridge::Answer askOnce(const std::optional<std::string>& body,
                           const WebPage* sender = nullptr) {
        auto answers = ask(body, sender);
        EXPECT_EQ(answers.size(), 1u) << body.value_or("(no body)");
        return answers.empty() ? Bridge::Answer{} : answers.front();
    }
    nlohmann::json settingsJson() const { return *Wire::object(bridge.settings()); }
    std::string addWordMessage(const std::string& word) const {
        return nlohmann::json{{"cmd", "historyAddWord"}, {"args", {{"word", word}}}}.dump();
    }

    test::TempDir temp;
    VirtualWorld world;
    DefaultsStoreMemory defaults;
    std::shared_ptr<HistoryStore> history =
        std::make_shared<HistoryStore>(HistoryStore::defaultURL());
    Bridge bridge{defaults, history};
};

// Every command with its answer, on a bridge with its default callbacks and one stored item.
TEST_F(BridgeTest, EveryCommandAnswersItsValueOrItsError) {
    history->append(item("a1", 0));
    const std::string settings = "SETTINGS"; // the bridge's settings after the command
    struct Case {
        std::optional<std::string> body;
        std::optional<std::string> value; // JSON text, or `settings`
        std::optional<std::string> error;
    };
    const std::vector<Case> cases = {
        {R"({"cmd":"setSettings","args":{"sounds":false}})", settings, {}},
        {R"({"cmd":"historyList","args":{"before":"yesterday"}})",
         Wire::encoder().encode(std::vector<HistoryItem>{item("a1", 0)}).value(),
         {}},
        {R"({"cmd":"historyList","args":{"before":"2026-03-05T14:07:09.000Z"}})", "[]", {}},
        {R"({"cmd":"historyCopy","args":{"id":"a1"}})", "null", {}},
        {R"({"cmd":"historyCopy","args":{"id":"zz"}})", {}, "no such item"},
        {R"({"cmd":"historyInsertAgain","args":{"id":"zz"}})", {}, "no such item"},
        {R"({"cmd":"historyInsertAgain","args":{"id":"a1","which":"raw"}})",
         R"({"kind":"refused","reason":"empty"})",
         {}},
        {R"({"cmd":"historyAddWord","args":{"word":" Talverin "}})", settings, {}},
        {R"({"cmd":"permissionsRequest","args":{"kind":"speech"}})", R"("denied")", {}},
        {R"({"cmd":"permissionsOpenPane","args":{"kind":"microphone"}})", "null", {}},
        {R"({"cmd":"micTest","args":{"on":true}})", "null", {}},
        {R"({"cmd":"keyCapture","args":{"on":true}})", R"("off")", {}},
        {R"({"cmd":"permissionsStatus"})",
         R"({"accessibility":"denied","microphone":"notDetermined","speech":"notDetermined"})",
         {}},
        {R"({"cmd":"fnAction"})", R"("unknown")", {}},
        {R"({"cmd":"openKeyboardSettings"})", "null", {}},
        {R"({"cmd":"finishOnboarding"})", settings, {}},
        {R"({"cmd":"historyDelete","args":{"id":"zz"}})", "null", {}},
        {R"({"cmd":"historyDelete","args":{"id":"a1"}})", "null", {}},
        {R"({"cmd":"historyClear"})", "null", {}},
        {R"({"cmd":"frob"})", {}, "unknown command frob"},
        {R"({"cmd":"micTest","args":{"on":"yes"}})", {}, "bad arguments for micTest"},
        {R"({"cmd":"historyCopy"})", {}, "bad arguments for historyCopy"},
        {R"(["getState"])", {}, "bad message"},
        {"not json", {}, "bad message"},
        {std::nullopt, {}, "bad message"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body.value_or("(no body)"));
        const auto answer = askOnce(c.body);
        EXPECT_EQ(answer.error, c.error);
        ASSERT_EQ(answer.value.has_value(), c.value.has_value());
        if (c.value == settings)
            EXPECT_EQ(*answer.value, settingsJson());
        else if (c.value)
            EXPECT_EQ(*answer.value, nlohmann::json::parse(*c.value));
    }
    EXPECT_FALSE(bridge.settings().sounds);
    EXPECT_EQ(bridge.settings().words, std::vector<std::string>{"Talverin"});
    EXPECT_TRUE(bridge.settings().onboarded);
    EXPECT_TRUE(history->items().empty());
}

TEST_F(BridgeTest, GetStateGathersEveryCallbackAndTodaysWords) {
    history->append(item("a1", 0)); // "clean words": two words today
    bridge.cloudConfigured = true;
    bridge.microphones = [] { return std::vector<Wire::Microphone>{{"m1", "Desk mic"}}; };
    bridge.hasNotch = [] { return true; };
    bridge.fnAction = [] { return Wire::FnAction::emoji; };
    const auto answer = askOnce(R"({"cmd":"getState"})");
    ASSERT_TRUE(answer.value);
    const auto& state = *answer.value;
    EXPECT_EQ(state["settings"], settingsJson());
    EXPECT_EQ(state["permissions"]["accessibility"], "denied");
    EXPECT_EQ(state["lang"], "en");
    EXPECT_EQ(state["cloudConfigured"], true);
    EXPECT_EQ(state["microphones"][0]["name"], "Desk mic");
    EXPECT_EQ(state["wordsToday"], 2);
    EXPECT_EQ(state["hasNotch"], true);
    EXPECT_EQ(state["fnAction"], "emoji");
    EXPECT_TRUE(state["version"].is_string());
    EXPECT_EQ(state["trayHost"], true) << "until the shell says otherwise";
    bridge.hasTrayHost = [] { return false; };
    EXPECT_EQ((*askOnce(R"({"cmd":"getState"})").value)["trayHost"], false);
}

// The word rule: trimmed, at most 64 user-perceived characters, new ignoring case.
TEST_F(BridgeTest, AddingAWordFollowsLengthAndCase) {
    std::vector<std::string> learned;
    bridge.onLearnedWord = [&](const std::string& word) { learned.push_back(word); };
    std::string e64, e65;
    for (int i = 0; i < 64; ++i)
        e64 += "e\u0301"; // two code points, one character
    e65 = e64 + "e\u0301";
    struct Case {
        std::string word;
        bool added;
    };
    const std::vector<Case> cases = {
        {"\n " + e65 + " \t", false},
        {"\n " + e64 + " \t", true},
        {"Привет", true},
        {"пРИВЕТ", false}, // the same word in other case
        {"ПРИВЕТ\n", false},
        {"  \n", false},
        {"Ёлка", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word);
        const auto before = bridge.settings().words;
        const auto answer = askOnce(addWordMessage(c.word));
        EXPECT_EQ(answer.value, settingsJson());
        EXPECT_EQ(bridge.settings().words.size(), before.size() + (c.added ? 1 : 0));
    }
    EXPECT_EQ(learned, (std::vector<std::string>{e64, "Привет", "Ёлка"}));
    EXPECT_EQ(bridge.settings().words, learned);
}

TEST_F(BridgeTest, AWordBeyondTheSettingsCapIsNotReportedAsLearned) {
    std::vector<std::string> full;
    for (std::size_t i = 0; i < Settings::maxWords; ++i)
        full.push_back("w" + std::to_string(i));
    bridge.updateSettings({.words = full});
    int learned = 0;
    bridge.onLearnedWord = [&](const std::string&) { ++learned; };
    const auto answer = askOnce(addWordMessage("fresh"));
    EXPECT_EQ(answer.value, settingsJson());
    EXPECT_EQ(bridge.settings().words, full);
    EXPECT_EQ(learned, 0);
}

TEST_F(BridgeTest, AnyConsentAnswerMarksTheQuestionAsked) {
    askOnce(R"({"cmd":"setSettings","args":{"sounds":false}})");
    EXPECT_FALSE(defaults.contains("TLCloudConsentAsked"));
    askOnce(R"({"cmd":"setSettings","args":{"cloudConsent":false}})");
    EXPECT_EQ(defaults.get("TLCloudConsentAsked"), nlohmann::json(true));
    EXPECT_FALSE(bridge.settings().cloudConsent);
    // Saved: a new bridge over the same defaults reads the change.
    askOnce(R"({"cmd":"setSettings","args":{"pillIdle":false}})");
    Bridge again(defaults, history);
    EXPECT_FALSE(again.settings().pillIdle);
}

TEST_F(BridgeTest, FinishingOnboardingConsentsOnlyWithACloud) {
    for (bool cloud : {false, true}) {
        SCOPED_TRACE(cloud);
        DefaultsStoreMemory store;
        Bridge b(store, history);
        b.updateSettings({.onboardingStep = 5});
        b.cloudConfigured = cloud;
        std::vector<std::string> order;
        b.onFinishOnboarding = [&] { order.push_back("finished"); };
        b.receive(nullptr, R"({"cmd":"finishOnboarding"})",
                  [&](Bridge::Answer a) { order.push_back(a.value ? "answered" : "error"); });
        EXPECT_EQ(order, (std::vector<std::string>{"answered", "finished"}));
        EXPECT_TRUE(b.settings().onboarded);
        EXPECT_EQ(b.settings().onboardingStep, 0);
        EXPECT_EQ(b.settings().cloudConsent, cloud);
        EXPECT_EQ(store.contains("TLCloudConsentAsked"), cloud);
    }
}

TEST_F(BridgeTest, AsynchronousAnswersGoToTheirOwnMessages) {
    Promise<Wire::PermissionState> microphone, speech;
    bridge.requestPermission = [&](Wire::PermissionKind kind) {
        return kind == Wire::PermissionKind::microphone ? microphone.future() : speech.future();
    };
    std::vector<std::string> answers;
    auto collect = [&](std::string tag) {
        return [&answers, tag](Bridge::Answer a) { answers.push_back(tag + a.value->dump()); };
    };
    bridge.receive(nullptr, R"({"cmd":"permissionsRequest","args":{"kind":"microphone"}})",
                   collect("mic "));
    bridge.receive(nullptr, R"({"cmd":"permissionsRequest","args":{"kind":"speech"}})",
                   collect("speech "));
    // Other commands are answered while both wait.
    EXPECT_EQ(askOnce(R"({"cmd":"fnAction"})").value, nlohmann::json("unknown"));
    EXPECT_TRUE(answers.empty());
    speech.resolve(Wire::PermissionState::restricted);
    world.runUntilIdle();
    microphone.resolve(Wire::PermissionState::granted);
    world.runUntilIdle();
    EXPECT_EQ(answers, (std::vector<std::string>{R"(speech "restricted")", R"(mic "granted")"}));
}

TEST_F(BridgeTest, InsertAgainAndCopyUseTheChosenText) {
    history->append(item("a1", 0));
    std::vector<std::string> inserted, copied;
    bridge.insertAgain = [&](std::string text) {
        inserted.push_back(text);
        return Future<InsertOutcome>::ready(InsertOutcome::copiedOnly());
    };
    bridge.copyText = [&](const std::string& text) { copied.push_back(text); };
    EXPECT_EQ(askOnce(R"({"cmd":"historyInsertAgain","args":{"id":"a1"}})").value,
              nlohmann::json::parse(R"({"kind":"copiedOnly"})"));
    askOnce(R"({"cmd":"historyInsertAgain","args":{"id":"a1","which":"raw"}})");
    askOnce(R"({"cmd":"historyCopy","args":{"id":"a1","which":"raw"}})");
    askOnce(R"({"cmd":"historyCopy","args":{"id":"a1","which":"sideways"}})");
    EXPECT_EQ(inserted, (std::vector<std::string>{"clean words", "raw words"}));
    EXPECT_EQ(copied, (std::vector<std::string>{"raw words", "clean words"}));
}

TEST_F(BridgeTest, TheDefaultCopyWritesTheClipboardOnItsOwnQueue) {
    history->append(item("a1", 0));
    auto pasteboard = std::make_shared<test::PasteboardFake>();
    auto queue = std::make_shared<SerialQueue>("inserter");
    Bridge b(defaults, history, Bridge::Clipboard{pasteboard, queue});
    b.receive(nullptr, R"({"cmd":"historyCopy","args":{"id":"a1"}})", [](Bridge::Answer) {});
    EXPECT_TRUE(pasteboard->writes.empty()); // not on the main thread
    world.runUntilIdle();
    ASSERT_EQ(pasteboard->writes.size(), 1u);
    EXPECT_EQ(pasteboard->writes[0],
              (std::vector<ClipItem>{test::PasteboardFake::item(
                  {{std::string(PasteboardTypes::plainText), "clean words"}})}));
}

// Which pages see which events, and what is recorded.
TEST_F(BridgeTest, EventsReachLivePagesOfTheirRoles) {
    auto mainPage = std::make_shared<WebPageFake>();
    auto onboarding = std::make_shared<WebPageFake>();
    bridge.attach(mainPage, Role::main);
    bridge.attach(onboarding, Role::onboarding);
    const auto shown = Wire::Event::shown();
    const auto down = Wire::Event::holdKey(true);
    const auto broken = Wire::Event::micLevel({std::nanf(""), std::nullopt});
    bridge.send(shown, Role::main);
    bridge.send(down, Role::onboarding);
    bridge.send(Wire::Event::historyCleared());
    bridge.send(broken); // cannot be encoded: dropped, but recorded
    EXPECT_EQ(mainPage->scripts,
              (std::vector<std::string>{emitOf(shown), emitOf(Wire::Event::historyCleared())}));
    EXPECT_EQ(onboarding->scripts,
              (std::vector<std::string>{emitOf(down), emitOf(Wire::Event::historyCleared())}));
    onboarding.reset();
    bridge.send(down, Role::onboarding); // its page is gone
    bridge.send(shown);
    EXPECT_EQ(mainPage->scripts.size(), 3u);
    EXPECT_EQ(bridge.sent.size(), 6u);
    EXPECT_EQ(bridge.sent[3].kind(), Wire::Event::Kind::micLevel); // NaN equals nothing
}

TEST_F(BridgeTest, SettingsAreSavedAndPushedEvenWhenUnchanged) {
    auto page = std::make_shared<WebPageFake>();
    bridge.attach(page, Role::main);
    int changes = 0;
    bridge.onSettingsChanged = [&](const Settings& now, const Settings& before) {
        ++changes;
        EXPECT_NE(now.pillSpot, before.pillSpot);
    };
    bridge.updateSettings({.sounds = true});
    EXPECT_EQ(changes, 0);
    EXPECT_TRUE(defaults.contains("settings"));
    bridge.updateSettings({.pillSpot = PillSpot::topLeft});
    EXPECT_EQ(changes, 1);
    ASSERT_EQ(page->scripts.size(), 2u);
    EXPECT_EQ(page->scripts[1], emitOf(Wire::Event::settings(bridge.settings())));
}

TEST_F(BridgeTest, AFullHistoryPushesTheDroppedItemsBeforeTheNewOne) {
    // A history already at its cap, written in one go: appending the items one by one would
    // save the whole file after each of them.
    std::vector<HistoryItem> old;
    for (std::size_t i = 0; i < HistoryStore::cap; ++i)
        old.push_back(item("old" + std::to_string(i), static_cast<int>(i)));
    const auto file = temp.path() / "full-history.json";
    test::writeFile(file, *HistoryStore::encodeFile(old));
    auto full = std::make_shared<HistoryStore>(file);
    ASSERT_EQ(full->items().size(), HistoryStore::cap);
    Bridge b{defaults, full};
    b.recordsEvents = true;
    auto askFull = [&](const std::string& body) {
        int answers = 0;
        b.receive(nullptr, body, [&](const Bridge::Answer&) { ++answers; });
        world.runUntilIdle();
        EXPECT_EQ(answers, 1) << body;
    };

    b.addHistory(item("new", 10000));
    ASSERT_EQ(b.sent.size(), 2u);
    EXPECT_EQ(b.sent[0], Wire::Event::historyRemoved("old0"));
    EXPECT_EQ(b.sent[1], Wire::Event::historyAdded(item("new", 10000)));
    // Deleting and clearing through the pages push their events too.
    askFull(R"({"cmd":"historyDelete","args":{"id":"new"}})");
    askFull(R"({"cmd":"historyClear"})");
    ASSERT_EQ(b.sent.size(), 4u);
    EXPECT_EQ(b.sent[2], Wire::Event::historyRemoved("new"));
    EXPECT_EQ(b.sent[3], Wire::Event::historyCleared());
}

TEST_F(BridgeTest, AttachAndDetachLookAfterHandlersAndRunningTests) {
    std::vector<std::string> calls;
    bridge.onMicTest = [&](bool on, Role role) {
        calls.push_back("mic " + std::to_string(on) + " " + std::string(toString(role)));
    };
    bridge.onKeyCapture = [&](bool on, Role role) {
        calls.push_back("key " + std::to_string(on) + " " + std::string(toString(role)));
        return KeyCaptureAnswer::on;
    };
    auto first = std::make_shared<WebPageFake>();
    auto second = std::make_shared<WebPageFake>();
    bridge.attach(first, Role::onboarding);
    bridge.attach(first, Role::onboarding);
    EXPECT_EQ(first->handlerRemovals, 0);
    bridge.attach(second, Role::onboarding);
    EXPECT_EQ(first->handlerRemovals, 1);

    // The sender's role decides whose test and capture a command starts.
    WebPageFake stranger;
    askOnce(R"({"cmd":"micTest","args":{"on":true}})", second.get());
    askOnce(R"({"cmd":"keyCapture","args":{"on":true}})", &stranger);
    bridge.detach(Role::onboarding);
    EXPECT_EQ(second->handlerRemovals, 1);
    EXPECT_EQ(bridge.page(Role::onboarding), nullptr);
    bridge.detach(Role::main); // no page at all: still stops both
    EXPECT_EQ(calls, (std::vector<std::string>{"mic 1 onboarding", "key 1 main", "mic 0 onboarding",
                                               "key 0 onboarding", "mic 0 main", "key 0 main"}));
}

} // namespace
} // namespace talverin
