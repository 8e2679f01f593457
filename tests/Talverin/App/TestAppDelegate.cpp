#include "Talverin/App/AppDelegate.h"

#include "Runtime/Unicode.h"
#include "Runtime/VirtualWorld.h"
#include "TalverinInsert/AXElementBox.h"
#include "fakes/AccessibilityBackendFake.h"
#include "fakes/ContextReadingFake.h"
#include "fakes/DictatingFake.h"
#include "fakes/DuckingFake.h"
#include "fakes/FrontApplicationsFake.h"
#include "fakes/KeyboardSettingsFake.h"
#include "fakes/KeyTappingFake.h"
#include "fakes/LanguageRecognizingFake.h"
#include "fakes/LiveDraftingFake.h"
#include "fakes/MicCapturingFake.h"
#include "fakes/PermissionWatchingFake.h"
#include "fakes/PillPresentingFake.h"
#include "fakes/SecureInputFake.h"
#include "fakes/ShellWindowsFake.h"
#include "fakes/SoundPlayingFake.h"
#include "fakes/TextInsertingFake.h"
#include "fakes/WebPageFake.h"
#include "support/LogLines.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace talverin {
namespace {

using Wire::PermissionState;
using Wire::Permissions;

constexpr Permissions allGranted{PermissionState::granted, PermissionState::granted,
                                 PermissionState::granted};

class AppDelegateTest : public ::testing::Test {
protected:
    // Stores settings as a previous run left them.
    void storeSettings(const Settings::Patch& patch) {
        Settings settings;
        settings.apply(patch);
        settings.save(*defaults);
    }

    // Runs what is due now; the key tap's check repeats for ever, so the world is never idle.
    void settle() { world.runUntil(world.uptime() + 0.1); }

    void launch() {
        AppDelegate::Environment env;
        env.defaults = defaults;
        env.historyFile = dir.path() / "history.json";
        env.makeServices = [this](HoldKey key, LiveParts::Consent consent,
                                  std::function<void()> onDevicesChange) {
            devicesChange = std::move(onDevicesChange);
            keyTap->setHoldKey(key);
            keyTap->log.clear();
            givenConsent = std::move(consent);
            auto s = std::make_shared<Services>();
            s->keyTap = keyTap;
            s->mic = mic;
            s->liveDraft = liveDraft;
            s->context = contextReader;
            s->inserter = std::make_shared<test::TextInsertingFake>();
            s->dictate = std::make_shared<test::DictatingFake>();
            s->pill = pill;
            s->sounds = std::make_shared<test::SoundPlayingFake>();
            s->ducker = ducker;
            s->permissions = permissions;
            s->microphones = [this] { return inputs; };
            s->languageRecognizer = std::make_shared<test::LanguageRecognizingFake>();
            LiveServices live;
            live.services = s;
            live.correctionWatch = std::make_shared<CorrectionWatch>(
                accessibility, secure, [] { return true; }, 1);
            live.cloudConfigured = cloudConfigured;
            live.pillState = [p = pill] { return p->current(); };
            live.copyText = [this](const std::string& text) { copied.push_back(text); };
            return live;
        };
        env.windows = windows;
        env.frontApps = frontApps;
        env.processID = ownPid;
        env.keyboardSettings = keyboardSettings;
        env.workspace = workspace;
        env.appCenter = std::make_shared<NotificationCenter>();
        env.quitInserter = [this] { ++inserterQuits; };
        env.registerLoginItem = [this] { ++loginItemRegistrations; };
        env.version = "1.2";
        env.system = "Debian GNU/Linux 12 (bookworm)";
        app = std::make_unique<AppDelegate>(std::move(env));
        app->applicationDidFinishLaunching();
        settle();
    }

    VirtualWorld world;
    test::TempDir dir;
    test::LogLines logs;
    test::AccessibilityBackendFake accessibility;
    test::SecureInputFake secure;
    std::shared_ptr<DefaultsStoreMemory> defaults = std::make_shared<DefaultsStoreMemory>();
    std::shared_ptr<test::KeyTappingFake> keyTap = std::make_shared<test::KeyTappingFake>();
    std::shared_ptr<test::MicCapturingFake> mic = std::make_shared<test::MicCapturingFake>();
    std::shared_ptr<test::LiveDraftingFake> liveDraft = std::make_shared<test::LiveDraftingFake>();
    std::shared_ptr<test::DuckingFake> ducker = std::make_shared<test::DuckingFake>();
    std::shared_ptr<test::PermissionWatchingFake> permissions =
        std::make_shared<test::PermissionWatchingFake>();
    std::shared_ptr<test::ShellWindowsFake> windows = std::make_shared<test::ShellWindowsFake>();
    std::shared_ptr<test::PillPresentingFake> pill = std::make_shared<test::PillPresentingFake>();
    std::shared_ptr<test::ContextReadingFake> contextReader =
        std::make_shared<test::ContextReadingFake>();
    static constexpr std::int32_t ownPid = 777;
    std::shared_ptr<test::FrontApplicationsFake> frontApps =
        std::make_shared<test::FrontApplicationsFake>();
    std::shared_ptr<test::KeyboardSettingsFake> keyboardSettings =
        std::make_shared<test::KeyboardSettingsFake>();
    std::shared_ptr<NotificationCenter> workspace = std::make_shared<NotificationCenter>();
    LiveParts::Consent givenConsent;
    // What the sound system reports, and its report that the devices changed.
    std::vector<Wire::Microphone> inputs;
    std::function<void()> devicesChange;
    bool cloudConfigured = false;
    int inserterQuits = 0;
    std::vector<std::string> copied;
    int loginItemRegistrations = 0;
    std::unique_ptr<AppDelegate> app;
};

// A launch with everything granted and pages attached for both roles.
class AppDelegatePagesTest : public AppDelegateTest {
protected:
    using Role = Bridge::ViewRole;

    void SetUp() override {
        permissions->set(allGranted);
        storeSettings({.onboarded = true});
        launch();
        app->bridge()->attach(mainPage, Role::main);
        app->bridge()->attach(onboardingPage, Role::onboarding);
        mic->log.clear();
        keyTap->log.clear();
    }
    static std::string script(const Wire::Event& event) { return *event.script(); }
    static std::size_t count(const test::WebPageFake& page, const Wire::Event& event) {
        return static_cast<std::size_t>(
            std::count(page.scripts.begin(), page.scripts.end(), script(event)));
    }
    void reading(float level) {
        mic->sendReading({level, std::nullopt});
        settle();
    }
    void beginDictation() {
        keyTap->sendPress();
        settle();
        ASSERT_TRUE(app->dictation()->hasSession());
    }
    void endDictation() {
        keyTap->sendRelease();
        world.runUntil(world.uptime() + 30);
        ASSERT_FALSE(app->dictation()->hasSession());
    }

    std::shared_ptr<test::WebPageFake> mainPage = std::make_shared<test::WebPageFake>();
    std::shared_ptr<test::WebPageFake> onboardingPage = std::make_shared<test::WebPageFake>();
};

// The main page's test runs only while the popover shows it; closing the popover ends it.
TEST_F(AppDelegatePagesTest, TheMainPagesMicTestRunsWhileThePopoverIsShown) {
    const auto level = Wire::Event::micLevel({0.5f, std::nullopt});
    app->bridge()->onMicTest(true, Role::main);
    EXPECT_FALSE(mic->isChecking()) << "the popover is closed";

    windows->showPopover();
    EXPECT_TRUE(mic->isChecking());
    reading(0.5f);
    EXPECT_EQ(count(*mainPage, level), 1u);

    windows->closePopover();
    EXPECT_FALSE(mic->isChecking());
    EXPECT_EQ(logs.starting("Mic test:"),
              (std::vector<std::string>{"Mic test: on", "Mic test: off"}));
    reading(0.5f);
    EXPECT_EQ(count(*mainPage, level), 1u) << "a reading after the close reaches nobody";

    // Still wanted: the next showing starts it again, until the page turns it off.
    windows->showPopover();
    EXPECT_TRUE(mic->isChecking());
    app->bridge()->onMicTest(false, Role::onboarding);
    EXPECT_TRUE(mic->isChecking()) << "only the page that asked turns it off";
    app->bridge()->onMicTest(false, Role::main);
    EXPECT_FALSE(mic->isChecking());
}

TEST_F(AppDelegatePagesTest, TheOnboardingsMicTestFollowsItsWindowAndTheMicrophone) {
    app->openOnboarding();
    app->bridge()->onMicTest(true, Role::onboarding);
    EXPECT_TRUE(mic->isChecking());

    windows->minimiseOnboarding(true);
    EXPECT_FALSE(mic->isChecking());
    windows->minimiseOnboarding(false);
    EXPECT_TRUE(mic->isChecking());

    permissions->set({PermissionState::denied, PermissionState::granted,
                      PermissionState::granted});
    settle();
    EXPECT_FALSE(mic->isChecking());
    permissions->set(allGranted);
    settle();
    EXPECT_TRUE(mic->isChecking());

    windows->closeOnboarding();
    EXPECT_FALSE(mic->isChecking());
}

// A dictation takes the microphone: the readings stop, and the test comes back after it.
TEST_F(AppDelegatePagesTest, ADictationPausesTheMicTestAndCancelsAKeyCapture) {
    const auto level = Wire::Event::micLevel({0.25f, std::nullopt});
    const auto cancelled = Wire::Event::keyCapture(KeyCaptureResult::cancelled());
    app->openOnboarding();
    app->bridge()->onMicTest(true, Role::onboarding);
    ASSERT_EQ(app->bridge()->onKeyCapture(true, Role::main), KeyCaptureAnswer::on);
    EXPECT_EQ(keyTap->log.count("beginCapture"), 1u);

    beginDictation();
    EXPECT_EQ(count(*mainPage, cancelled), 1u);
    EXPECT_EQ(keyTap->log.count("endCapture"), 1u);
    EXPECT_EQ(app->bridge()->onKeyCapture(true, Role::onboarding), KeyCaptureAnswer::busy);
    reading(0.25f);
    EXPECT_EQ(count(*onboardingPage, level), 0u);

    endDictation();
    EXPECT_TRUE(mic->isChecking());
    EXPECT_TRUE(app->micTest()->isRunning());
    reading(0.25f);
    EXPECT_EQ(count(*onboardingPage, level), 1u);
    // Nothing more reaches the page that had the capture: no second cancel, no timeout.
    world.runUntil(world.uptime() + 2 * AppDelegate::keyCaptureTimeout);
    EXPECT_EQ(count(*mainPage, cancelled), 1u);
    EXPECT_TRUE(logs.starting("Key capture: no key").empty());
}

// A captured key goes to the page that asked; another page taking over cancels the first.
TEST_F(AppDelegatePagesTest, KeyCaptureAnswersThePageThatOwnsIt) {
    const auto cancelled = Wire::Event::keyCapture(KeyCaptureResult::cancelled());
    ASSERT_EQ(app->bridge()->onKeyCapture(true, Role::main), KeyCaptureAnswer::on);
    ASSERT_EQ(app->bridge()->onKeyCapture(true, Role::onboarding), KeyCaptureAnswer::on);
    EXPECT_EQ(count(*mainPage, cancelled), 1u);
    const auto accepted = KeyCaptureResult::accepted(HoldKey::f13);
    keyTap->sendCapture(accepted);
    settle();
    EXPECT_EQ(count(*onboardingPage, Wire::Event::keyCapture(accepted)), 1u);
    EXPECT_EQ(count(*mainPage, Wire::Event::keyCapture(accepted)), 0u);
}

// What the user does with the pill lands in the settings, and the settings reach the pill.
TEST_F(AppDelegatePagesTest, ThePillAndTheSettingsFollowEachOther) {
    ASSERT_TRUE(pill->beginDrag());
    ASSERT_TRUE(pill->dropOn(PillSpot::topRight));
    settle();
    EXPECT_EQ(app->bridge()->settings().pillSpot, PillSpot::topRight);

    app->bridge()->updateSettings({.holdKey = HoldKey::f13, .pillSpot = PillSpot::topLeft});
    EXPECT_EQ(pill->spot(), PillSpot::topLeft);
    EXPECT_EQ(pill->holdKey(), HoldKey::f13);

    // The menu's settings item opens the popover on the settings at the pill's section.
    pill->chooseMenu(PillMenuAction::openSettings());
    settle();
    EXPECT_TRUE(windows->isPopoverShown());
    EXPECT_EQ(count(*mainPage, Wire::Event::openSettings("pill")), 1u);
}

// The hour of a hide counts the sleep: the wake after it brings the idle bar back at once.
TEST_F(AppDelegatePagesTest, AWakeReachesThePillsHourCheck) {
    app->bridge()->updateSettings({.pillIdle = true});
    ASSERT_TRUE(pill->showsIdleBar());
    pill->chooseMenu(PillMenuAction::hideForAnHour());
    settle();
    ASSERT_FALSE(pill->showsIdleBar());
    world.suspendSystem(PillMetrics::idleHiddenFor + 1);
    workspace->post(SystemNotification::didWake);
    EXPECT_TRUE(pill->showsIdleBar());
}

// The status icon follows the pill while a dictation is active, at most thirty frames a
// second, and stays still once it is over.
TEST_F(AppDelegatePagesTest, TheStatusIconAnimatesOnlyDuringADictation) {
    world.runUntil(world.uptime() + 5);
    EXPECT_TRUE(windows->statusIcons.empty()) << "at rest nothing is drawn again";

    beginDictation();
    // The pill and the glyph come a moment after the press.
    world.runUntil(world.uptime() + 1);
    ASSERT_TRUE(app->glyph()->isActive());
    const std::size_t before = windows->statusIcons.size();
    // The level changes far more often than the icon may.
    const double start = world.uptime();
    for (int step = 1; step <= 240; ++step) {
        pill->show(PillState::listening("", static_cast<float>(step % 7) / 7.0f));
        world.runUntil(start + step / 240.0);
    }
    const std::size_t frames = windows->statusIcons.size() - before;
    EXPECT_GT(frames, 10u);
    EXPECT_LE(frames, 31u);
    for (std::size_t i = before; i < windows->statusIcons.size(); ++i)
        EXPECT_TRUE(std::holds_alternative<MenuBarIcon::Listening>(windows->statusIcons[i].frame));

    endDictation();
    ASSERT_FALSE(windows->statusIcons.empty());
    EXPECT_TRUE(std::holds_alternative<MenuBarIcon::Idle>(windows->statusIcons.back().frame));
    const std::size_t rested = windows->statusIcons.size();
    world.runUntil(world.uptime() + 10);
    EXPECT_EQ(windows->statusIcons.size(), rested);
}

// A dictation that closes the popover gives the focus back to the application that had it
// before the popover opened, and waits for that application to be in front again.
TEST_F(AppDelegatePagesTest, ADictationFromThePopoverGoesBackToTheApplicationBefore) {
    const RunningApp editor{0x2a00007, 4242};
    const RunningApp other{0x3c00001, 5151};
    auto& shell = *app->dictation();
    EXPECT_TRUE(shell.targetReady()) << "no dictation went through the popover yet";

    frontApps->front = editor;
    windows->showPopover();
    frontApps->front = std::nullopt; // the popover has the focus now
    ASSERT_TRUE(shell.closePopover());
    EXPECT_FALSE(windows->isPopoverShown());
    EXPECT_EQ(frontApps->activated, std::vector<RunningApp>{editor});
    EXPECT_FALSE(shell.targetReady());
    frontApps->front = other;
    EXPECT_FALSE(shell.targetReady());
    frontApps->front = editor;
    EXPECT_TRUE(shell.targetReady());

    // An application that has ended is not waited for.
    frontApps->front = other;
    frontApps->ended.insert(editor.pid);
    EXPECT_TRUE(shell.targetReady());

    // A closed popover closes nothing and activates nobody.
    EXPECT_FALSE(shell.closePopover());
    EXPECT_EQ(frontApps->activated.size(), 1u);
}

// The popover opened over our own window (the onboarding, or a popover reopened by a second
// launch) remembers no application: a dictation that closes it activates nothing.
TEST_F(AppDelegatePagesTest, OurOwnWindowInFrontIsNeverTheApplicationToGoBackTo) {
    frontApps->front = RunningApp{0x1800003, ownPid};
    windows->showPopover();
    ASSERT_TRUE(app->dictation()->closePopover());
    EXPECT_TRUE(frontApps->activated.empty());
}

// Inserting again from a popover with no application to go back to reads the field only once
// the focus has left our windows, and waits for that no longer than the activation bound.
TEST_F(AppDelegatePagesTest, InsertAgainReadsTheFieldOnlyOnceOurWindowsLetTheFocusGo) {
    for (bool focusLeaves : {true, false}) {
        SCOPED_TRACE(focusLeaves ? "the focus leaves" : "the focus stays");
        contextReader->log.clear();
        windows->showPopover();
        windows->focused = true;
        auto outcome = app->dictation()->insertAgain("Meeting notes");
        world.runUntil(world.uptime() + 0.2);
        EXPECT_EQ(contextReader->log.count("read"), 0u) << "read while our window had the focus";
        if (focusLeaves)
            windows->focused = false;
        world.runUntil(world.uptime() + 0.1);
        EXPECT_EQ(contextReader->log.count("read"), focusLeaves ? 1u : 0u);
        world.runUntil(world.uptime() + DictationTiming().activationMax);
        EXPECT_EQ(contextReader->log.count("read"), 1u) << "the wait is bounded";
        windows->focused = false;
        world.runUntil(world.uptime() + 1);
    }
}

TEST_F(AppDelegatePagesTest, TheHoldKeyReachesTheOnboardingPageWhileItsWindowExists) {
    const auto down = Wire::Event::holdKey(true);
    keyTap->sendHoldKeyChange(true);
    settle();
    EXPECT_EQ(count(*onboardingPage, down), 0u);
    app->openOnboarding();
    keyTap->sendHoldKeyChange(true);
    settle();
    EXPECT_EQ(count(*onboardingPage, down), 1u);
    EXPECT_EQ(count(*mainPage, down), 0u);
}

// A press is the onboarding's own only while its key test is what the user is looking at.
TEST_F(AppDelegatePagesTest, APressDuringTheOnboardingsKeyTestStartsNoDictation) {
    struct Case {
        const char* name;
        bool onboarding;
        bool key;
        int step;
        bool ignored;
    };
    const Case cases[] = {
        {"the key test in the window in front", true, true, 3, true},
        {"another step", true, true, 2, false},
        {"another application in front", true, false, 3, false},
        {"no onboarding window", false, false, 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        app->bridge()->updateSettings({.onboardingStep = c.step});
        if (c.onboarding)
            app->openOnboarding();
        else
            windows->closeOnboarding();
        windows->focusOnboarding(c.key);
        logs.clear();

        keyTap->sendPress();
        settle();
        EXPECT_EQ(app->dictation()->hasSession(), !c.ignored);
        EXPECT_EQ(logs.count("Dictation: press ignored (the onboarding's key test)"),
                  c.ignored ? 1 : 0);
        keyTap->sendRelease();
        world.runUntil(world.uptime() + 30);
        ASSERT_FALSE(app->dictation()->hasSession());
    }
}

// X11 has no fn key to describe; the link to the keyboard settings still opens them where the
// desktop has some, and says so where it has none.
TEST_F(AppDelegatePagesTest, TheFnNoteAnswersUnknownAndItsLinkOpensTheKeyboardSettings) {
    std::vector<nlohmann::json> answers;
    auto ask = [&](const Wire::Command& command) {
        app->bridge()->handle(command, Role::main, [&](Bridge::Answer answer) {
            answers.push_back(answer.value.value_or(nlohmann::json("error")));
        });
    };
    ask(Wire::Command::fnAction());
    ask(Wire::Command::openKeyboardSettings());
    EXPECT_EQ(answers, (std::vector<nlohmann::json>{"unknown", nullptr}));
    EXPECT_EQ(keyboardSettings->opened, 1);
    EXPECT_EQ(logs.starting("Keyboard settings"),
              std::vector<std::string>{"Keyboard settings opened (the fn note)"});

    logs.clear();
    keyboardSettings->missing = "no keyboard settings program is installed";
    ask(Wire::Command::openKeyboardSettings());
    EXPECT_EQ(logs.starting("Keyboard settings"),
              (std::vector<std::string>{
                  "Keyboard settings opened (the fn note)",
                  "Keyboard settings: not opened (no keyboard settings program is installed)"}));
}

// A field of another application ("Notes", pid 42) into which a dictation has just put
// `inserted` after `before`, and the shell's correction watch following it.
class AppDelegateLearningTest : public AppDelegatePagesTest {
protected:
    const std::string before = "Dear team, ";
    const std::string inserted = "the meeting is on Tuesday";

    void SetUp() override {
        AppDelegatePagesTest::SetUp();
        accessibility.focusApplication({.pid = 42, .localizedName = "Notes"});
        accessibility.focusElement(42, "field");
        accessibility.attribute("field", "AXRole", std::string("AXTextArea"));
        accessibility.parameterized = [this](const std::string&, const std::string& name,
                                             AXRange r) {
            if (name != "AXStringForRange" || r.location + r.length > std::ssize(value))
                return AXReply<AXAttributeValue>{AXError::attributeUnsupported, {}};
            return AXReply<AXAttributeValue>{AXError::success,
                                             Unicode::toUtf8(value.substr(r.location, r.length))};
        };
        show(before + inserted);
    }

    // The field holds `text` with the caret at its end.
    void show(const std::string& text) {
        value = Unicode::toUtf16(text);
        const auto length = static_cast<std::int64_t>(value.size());
        accessibility.attribute("field", "AXNumberOfCharacters", length);
        accessibility.attribute("field", "AXSelectedTextRange", AXRange{length, 0});
    }

    // The dictation's text is watched; the user then replaces one word of it, and two readings
    // of the watch have seen the new word, not yet for long enough to report it.
    void correctOneWord() {
        DictationContext context;
        context.isEditable = true;
        context.elementToken = ElementToken(std::make_shared<AXElementBox>(
            test::AccessibilityBackendFake::element("field"), 42, std::string("AXTextArea"),
            Editability::editable, static_cast<std::int64_t>(Unicode::toUtf16(before).size()),
            false));
        app->dictation()->onInsertedForLearning(inserted, context);
        world.runUntil(world.uptime() + 1);
        show(before + "the meeting is on Thursday");
        world.runUntil(world.uptime() + 0.61);
    }

    std::u16string value;
};

TEST_F(AppDelegateLearningTest, ACorrectionTheWatchSawBecomesTheLearnedRule) {
    correctOneWord();
    world.runUntil(world.uptime() + 3);
    EXPECT_EQ(app->bridge()->settings().replacements,
              (std::vector<Replacement>{{"Tuesday", "Thursday"}}));
}

// Turning learning off ends the watch, which hands on the correction it has seen so far: that
// correction must not become a rule.
TEST_F(AppDelegateLearningTest, LearningTurnedOffWhileAWatchRunsDropsItsCorrection) {
    correctOneWord();
    app->toggleLearning();
    ASSERT_FALSE(app->learningIsOn());
    world.runUntil(world.uptime() + 5);
    EXPECT_TRUE(app->bridge()->settings().replacements.empty());
}

TEST_F(AppDelegateTest, TheLaunchLogsTheSystemAndItsSummary) {
    permissions->set(allGranted);
    storeSettings({.onboarded = true});
    launch();
    EXPECT_EQ(logs.starting("Talverin 1.2"),
              std::vector<std::string>{"Talverin 1.2 launched (Debian GNU/Linux 12 (bookworm))"});
    EXPECT_EQ(logs.starting("Launch:"),
              std::vector<std::string>{"Launch: key tap running, microphone granted, speech "
                                       "granted, backend none, history 0 items"});
    EXPECT_EQ(windows->log.names(), std::vector<std::string>{"install"});
    EXPECT_EQ(permissions->log.count("start"), 1u);
}

// The launch's onboarding rule, one row per situation.
TEST_F(AppDelegateTest, TheOnboardingOpensWhereTheRuleSays) {
    struct Case {
        const char* name;
        Settings::Patch settings;
        bool cloud;
        bool keyTapStarts;
        Permissions permissions;
        bool consentAskedBefore;
        std::vector<std::string> windowCalls; // after "install"
        bool consentAskedAfter;
        bool tryItLine;
    };
    const Permissions micDenied{PermissionState::denied, PermissionState::granted,
                                PermissionState::granted};
    const Permissions speechDenied{PermissionState::granted, PermissionState::granted,
                                   PermissionState::denied};
    const Permissions speechRestricted{PermissionState::granted, PermissionState::granted,
                                       PermissionState::restricted};
    const std::vector<Case> cases = {
        {"first launch", {}, true, true, allGranted, false, {"step=first focus"}, false, false},
        {"consent never asked", {.onboarded = true}, true, true, allGranted, false,
         {"step=4 focus"}, true, true},
        {"the launch after it", {.onboarded = true}, true, true, allGranted, true, {}, true,
         false},
        {"consent never asked, no microphone", {.onboarded = true}, true, true, micDenied, false,
         {"step=first focus"}, true, false},
        {"speech denied with a backend", {.onboarded = true, .cloudConsent = true}, true, true,
         speechDenied, false, {}, false, false},
        {"speech denied without a backend", {.onboarded = true}, false, true, speechDenied, false,
         {"step=first focus"}, false, false},
        {"speech restricted without a backend", {.onboarded = true}, false, true,
         speechRestricted, false, {}, false, false},
        {"no key tap", {.onboarded = true, .cloudConsent = true}, true, false, allGranted, false,
         {"step=first focus"}, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        defaults = std::make_shared<DefaultsStoreMemory>();
        windows = std::make_shared<test::ShellWindowsFake>();
        logs.take();
        storeSettings(c.settings);
        if (c.consentAskedBefore)
            defaults->set(std::string(Bridge::cloudConsentAskedKey), true);
        cloudConfigured = c.cloud;
        keyTap->startAnswer = c.keyTapStarts;
        permissions->set(c.permissions);
        launch();
        std::vector<std::string> shown;
        for (const auto& call : windows->log.calls())
            if (call.name == "showOnboarding")
                shown.push_back(call.args);
        EXPECT_EQ(shown, c.windowCalls);
        EXPECT_EQ(defaults->contains(std::string(Bridge::cloudConsentAskedKey)),
                  c.consentAskedAfter);
        EXPECT_EQ(logs.starting("Launch: the cloud consent was never asked").size(),
                  c.tryItLine ? 1u : 0u);
        app.reset();
        keyTap->stop();
    }
}

TEST_F(AppDelegateTest, AccessibilityGrantedRestartsTheKeyTapOnceAndLostOpensTheOnboarding) {
    const Permissions noAccessibility{PermissionState::granted, PermissionState::denied,
                                      PermissionState::granted};
    permissions->set(noAccessibility);
    keyTap->startAnswer = false;
    storeSettings({.onboarded = true});
    launch();
    ASSERT_TRUE(windows->hasOnboarding());
    keyTap->log.clear();
    logs.take();

    keyTap->startAnswer = true;
    permissions->set(allGranted);
    settle();
    EXPECT_EQ(keyTap->log.names(), (std::vector<std::string>{"stop", "start"}));
    EXPECT_EQ(logs.starting("Permissions:"),
              std::vector<std::string>{"Permissions: Accessibility granted, key tap running"});
    EXPECT_EQ(windows->log.calls().back().args, "step=first focus");

    windows->closeOnboarding();
    permissions->set(noAccessibility);
    settle();
    EXPECT_EQ(logs.starting("Permissions: Accessibility lost"),
              std::vector<std::string>{"Permissions: Accessibility lost: the onboarding opens"});
    EXPECT_EQ(windows->log.calls().back().args, "step=first nofocus");
}

TEST_F(AppDelegateTest, TheCheckEveryThreeSecondsRestartsALostKeyTap) {
    permissions->set(allGranted);
    storeSettings({.onboarded = true});
    keyTap->startAnswer = false;
    launch();
    logs.take();
    const double launched = world.uptime();

    // Each attempt that fails says so; once the tap runs, the check says nothing.
    world.runUntil(launched + 3.001);
    EXPECT_EQ(logs.starting("Key tap:"),
              std::vector<std::string>{"Key tap: started again (still not running)"});
    keyTap->startAnswer = true;
    world.runUntil(launched + 6.001);
    world.runUntil(launched + 30);
    EXPECT_EQ(logs.starting("Key tap:"),
              (std::vector<std::string>{"Key tap: started again (still not running)",
                                        "Key tap: started again (running)"}));
    EXPECT_TRUE(keyTap->isRunning());

    // Without Accessibility the check never tries.
    keyTap->stop();
    permissions->set({PermissionState::granted, PermissionState::denied,
                      PermissionState::granted});
    logs.take();
    world.runUntil(launched + 60);
    EXPECT_TRUE(logs.starting("Key tap:").empty());
}

TEST_F(AppDelegateTest, AThemeOnlyChangeTouchesOnlyThePopoversPage) {
    permissions->set(allGranted);
    storeSettings({.onboarded = true});
    launch();
    keyTap->log.clear();
    mic->log.clear();
    liveDraft->log.clear();
    windows->log.clear();

    app->bridge()->updateSettings({.theme = ThemeSetting::dark});
    settle();
    EXPECT_EQ(windows->log.names(), std::vector<std::string>{"setTheme"});
    EXPECT_EQ(windows->log.calls().front().args, "dark");
    EXPECT_TRUE(keyTap->log.names().empty());
    EXPECT_TRUE(mic->log.names().empty());
    EXPECT_TRUE(liveDraft->log.names().empty());

    // A change of the hold key and the languages reaches just those services.
    app->bridge()->updateSettings({.holdKey = HoldKey::f13, .languages = std::vector<std::string>{"en"}});
    settle();
    EXPECT_EQ(keyTap->log.names(), std::vector<std::string>{"setHoldKey"});
    EXPECT_EQ(liveDraft->log.names(), std::vector<std::string>{"prewarm"});
    EXPECT_TRUE(mic->log.names().empty());
}

TEST_F(AppDelegateTest, TheConsentCallbackFollowsTheSettings) {
    launch();
    ASSERT_TRUE(givenConsent);
    EXPECT_FALSE(givenConsent());
    app->bridge()->updateSettings({.cloudConsent = true});
    EXPECT_TRUE(givenConsent());
    app.reset();
    EXPECT_FALSE(givenConsent());
}

TEST_F(AppDelegateTest, TerminationRestoresTheVolumeFlushesTheHistoryAndQuitsOnce) {
    permissions->set(allGranted);
    storeSettings({.onboarded = true});
    launch();
    HistoryItem item;
    item.id = "a1";
    item.clean = "one two";
    item.raw = "one two";
    item.date = Wire::Date::fromMillisecondsSince1970(1'700'000'000'000);
    app->bridge()->addHistory(item);

    app->applicationWillTerminate();
    app->applicationWillTerminate();
    EXPECT_EQ(ducker->log.names(), std::vector<std::string>{"restoreImmediately"});
    EXPECT_EQ(inserterQuits, 1);
    EXPECT_EQ(logs.count("Talverin quit"), 1);
    // The history is on disk when termination returns.
    HistoryStore reread(dir.path() / "history.json");
    ASSERT_EQ(reread.items().size(), 1u);
    EXPECT_EQ(reread.items().front().id, "a1");
}

TEST_F(AppDelegateTest, FinishingTheOnboardingClosesItsWindowAndRegistersTheLoginItem) {
    launch();
    ASSERT_TRUE(windows->hasOnboarding());
    EXPECT_EQ(loginItemRegistrations, 0);
    app->bridge()->onFinishOnboarding();
    EXPECT_FALSE(windows->hasOnboarding());
    EXPECT_EQ(loginItemRegistrations, 1);
}

TEST_F(AppDelegateTest, LearningIsOnUntilTheMenuTurnsItOff) {
    launch();
    EXPECT_TRUE(app->learningIsOn());
    app->toggleLearning();
    EXPECT_FALSE(app->learningIsOn());
    EXPECT_EQ(defaults->get(AppDelegate::learningDisabledKey), nlohmann::json(true));
    app->toggleLearning();
    EXPECT_TRUE(app->learningIsOn());
    // Each change reaches the status menu's check mark.
    EXPECT_EQ(windows->log.count("learningChanged"), 2u);
}

// A microphone chosen in the settings becomes the device and is prepared at once; a preparation
// that fails says why, in the error's own words.
TEST_F(AppDelegateTest, AChosenMicrophoneIsPreparedAndAFailureSaysWhy) {
    struct Case {
        std::optional<MicError> failure;
        const char* line;
    };
    const Case cases[] = {
        {std::nullopt, nullptr},
        {MicError::noInput(), "Mic: not prepared (no input device)"},
        {MicError::device(-50), "Mic: not prepared (device selection failed (-50))"},
    };
    launch();
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line ? c.line : "prepared");
        mic->log.clear();
        logs.take();
        if (c.failure)
            mic->prewarmAnswers.push_back(fail(*c.failure));
        const std::string id = "usb-" + std::to_string(++n);
        app->bridge()->updateSettings({.microphoneID = id});
        settle();
        EXPECT_EQ(mic->deviceID(), id);
        EXPECT_EQ(mic->log.names(), (std::vector<std::string>{"setDeviceID", "prewarm"}));
        EXPECT_EQ(logs.starting("Mic: "),
                  c.line ? std::vector<std::string>{c.line} : std::vector<std::string>{});
    }
}

// A microphone that fails to start opens the onboarding, without taking the focus, only when
// the microphone is not allowed; a busy or missing device does not.
TEST_F(AppDelegateTest, AMicrophoneFailureOpensTheOnboardingOnlyWithoutPermission) {
    permissions->set(allGranted);
    storeSettings({.onboarded = true});
    launch();
    windows->log.clear();
    app->dictation()->onMicFailed(MicError::noInput());
    EXPECT_EQ(windows->log.count("showOnboarding"), 0u);
    permissions->set({PermissionState::denied, PermissionState::granted, PermissionState::granted});
    app->dictation()->onMicFailed(MicError::notAuthorized());
    ASSERT_EQ(windows->log.count("showOnboarding"), 1u);
    EXPECT_EQ(windows->log.last("showOnboarding")->args, "step=first nofocus");
}

// When the input devices change, the pages get the new list and the pill a new microphone menu
// that keeps the chosen device.
TEST_F(AppDelegatePagesTest, ADevicesChangeReachesThePagesAndThePillsMenu) {
    app->bridge()->updateSettings({.microphoneID = "usb-2"});
    inputs = {{"usb-1", "Desk"}, {"usb-2", "Headset"}};
    ASSERT_TRUE(devicesChange);
    devicesChange();
    EXPECT_EQ(count(*mainPage, Wire::Event::microphones(inputs)), 1u);
    EXPECT_EQ(count(*onboardingPage, Wire::Event::microphones(inputs)), 1u);
    EXPECT_EQ(pill->microphoneMenu(), (PillMicrophoneMenu{inputs, std::string("usb-2")}));
}

// Sleep, a user switch and a lock each end a running drag of the pill where it was, with its
// line, and stop the correction watch; without a drag there is no line.
TEST_F(AppDelegatePagesTest, ASuspendPutsBackADragAndSaysSo) {
    for (std::string_view notice : {SystemNotification::willSleep,
                                    SystemNotification::sessionDidResignActive,
                                    SystemNotification::screenIsLocked}) {
        SCOPED_TRACE(std::string(notice));
        logs.take();
        ASSERT_TRUE(pill->beginDrag());
        workspace->post(notice);
        EXPECT_FALSE(pill->isDragging());
        EXPECT_EQ(logs.count("Pill: drag put back (the computer sleeps or locks)"), 1);
        workspace->post(notice);
        EXPECT_EQ(logs.count("Pill: drag put back (the computer sleeps or locks)"), 1);
    }
}

// The history page's Copy reaches the clipboard the services hold, not the Bridge's own.
TEST_F(AppDelegateTest, TheHistorysCopyGoesToTheServicesClipboard) {
    launch();
    app->bridge()->history().append(HistoryItem{"a1", Wire::Date(Clock::now()), "Editor", "",
                                                "Clean words", "raw words", true,
                                                DictationMode::clean});
    std::optional<Bridge::Answer> answer;
    app->bridge()->receive(nullptr, R"({"cmd":"historyCopy","args":{"id":"a1","which":"raw"}})",
                           [&](Bridge::Answer a) { answer = std::move(a); });
    ASSERT_TRUE(answer);
    EXPECT_FALSE(answer->error);
    EXPECT_EQ(copied, std::vector<std::string>{"raw words"});
}

TEST_F(AppDelegateTest, AReopenShowsTheOnboardingUntilItIsDoneThenThePopover) {
    launch();
    windows->log.clear();
    app->applicationShouldHandleReopen();
    EXPECT_EQ(windows->log.calls().back().args, "step=first focus");
    app->bridge()->updateSettings({.onboarded = true});
    app->applicationShouldHandleReopen();
    EXPECT_EQ(windows->log.names().back(), "showPopover");
}

} // namespace
} // namespace talverin
