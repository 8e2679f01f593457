// labels: webkit
// The onboarding page walked from its first step to the end, against a Bridge wired to fakes.
#include "Talverin/Web/linux/PagesHarness.h"

namespace talverin {
namespace {

using Onboarding = test::PagesHarness;

constexpr const char* shownStep = "document.getElementById('ob-step').dataset.step";

TEST_F(Onboarding, FromTheFirstStepToDone) {
    keyTap.start();
    permissionsFake.set({Wire::PermissionState::notDetermined, Wire::PermissionState::denied,
                         Wire::PermissionState::granted});
    makeBridge().cloudConfigured = true;
    show("onboarding", Bridge::ViewRole::onboarding);
    EXPECT_EQ(waitForText(shownStep, "1"), "1");

    // Each step is kept in the settings before the page shows it.
    click("#ob-next");
    EXPECT_EQ(waitForText(shownStep, "2"), "2");
    EXPECT_EQ(bridge->settings().onboardingStep, 2);
    EXPECT_EQ(stored()["onboardingStep"], 2);
    quietlyGrant(Wire::PermissionKind::microphone);
    click("[data-ask=microphone]");
    EXPECT_EQ(
        waitForText("document.querySelector('[data-kind=microphone]').dataset.state", "granted"),
        "granted");

    click("#ob-next");
    EXPECT_EQ(waitForText(shownStep, "3"), "3");
    // The key test follows the hold key.
    keyTap.sendHoldKeyChange(true);
    EXPECT_TRUE(waitFor("document.querySelector('.keycap.big.down')"));
    keyTap.sendHoldKeyChange(false);
    EXPECT_EQ(
        waitForText("document.querySelector('#key-test .ok-text').innerText.trim()", "The key works"),
        "The key works");
    // A key captured here becomes the hold key.
    click("#capture-key");
    ASSERT_TRUE(waitForNative([&] { return keyTap.isCapturing(); }));
    EXPECT_EQ(captureRole, Bridge::ViewRole::onboarding);
    keyTap.sendCapture(KeyCaptureResult::accepted(HoldKey::f13));
    ASSERT_TRUE(waitForNative([&] { return bridge->settings().holdKey == HoldKey::f13; }));
    EXPECT_EQ(waitForText("document.querySelector('.keycap.big').innerText", "F13"), "F13");

    click("#ob-next");
    EXPECT_EQ(waitForText(shownStep, "4"), "4");
    EXPECT_EQ(bridge->settings().onboardingStep, 4);
    bridge->send(Wire::Event::tryDictation({"Hello there.", "hello there", 420, true, 96}),
                 Bridge::ViewRole::onboarding);
    EXPECT_EQ(waitForText("document.querySelector('.try-text').innerText", "Hello there."),
              "Hello there.");
    EXPECT_EQ(
        run("return [...document.querySelectorAll('.facts li')].map(e => e.innerText).join('|');"),
        "420 ms after you let go|96 words per minute|Recognised on this computer");

    click("#ob-next");
    EXPECT_EQ(waitForText(shownStep, "5"), "5");
    EXPECT_NE(text("#consent-notice").find("turns cloud recognition on"), std::string::npos);

    click("#ob-next");
    EXPECT_EQ(waitForText(shownStep, "6"), "6");
    click("#ob-finish");
    ASSERT_TRUE(waitForNative([&] { return finishedOnboarding == 1; }));
    EXPECT_TRUE(bridge->settings().onboarded);
    EXPECT_EQ(bridge->settings().onboardingStep, 0);
    EXPECT_TRUE(waitFor("document.getElementById('ob-finished')"));
}

// Where the onboarding opens: the route's step, else the step kept, else the first.
struct Opening {
    std::string route;
    int kept;
    std::string shown;
};

void PrintTo(const Opening& c, std::ostream* out) {
    *out << c.route << " kept " << c.kept;
}

class OnboardingOpening : public test::PagesHarness, public testing::WithParamInterface<Opening> {};

TEST_P(OnboardingOpening, AtTheStepOfItsRouteOrTheStepKept) {
    defaults.set(std::string(Settings::defaultsKey), {{"onboardingStep", GetParam().kept}});
    show(GetParam().route, Bridge::ViewRole::onboarding);
    const std::string shown = GetParam().shown;
    EXPECT_EQ(waitForText(shownStep, shown), shown);
    // The step shown is the step kept, so the native side knows where the page is.
    EXPECT_TRUE(
        waitForNative([&] { return bridge->settings().onboardingStep == std::stoi(shown); }));
}

INSTANTIATE_TEST_SUITE_P(
    Routes, OnboardingOpening,
    testing::Values(Opening{"onboarding?step=4", 2, "4"}, Opening{"onboarding", 3, "3"},
                    Opening{"onboarding", 0, "1"}, Opening{"onboarding?step=9", 5, "5"}),
    [](const auto& info) {
        return "route" + std::to_string(info.index) + "_kept" + std::to_string(info.param.kept);
    });

// The last step says where Talverin is: in the tray, or in its pill when no tray shows its icon.
// The tray is asked for again when the step is reached, since it may come or go meanwhile.
struct Ending {
    const char* lang;
    bool trayHost;
    const char* says;
};

void PrintTo(const Ending& c, std::ostream* out) {
    *out << c.lang << (c.trayHost ? " with a tray" : " without a tray");
}

class OnboardingEnding : public test::PagesHarness, public testing::WithParamInterface<Ending> {};

TEST_P(OnboardingEnding, SaysWhereTalverinLives) {
    setenv("LANGUAGE", GetParam().lang, 1);
    bool trayHost = !GetParam().trayHost;
    makeBridge().hasTrayHost = [&trayHost] { return trayHost; };
    show("onboarding?step=5", Bridge::ViewRole::onboarding);
    EXPECT_EQ(waitForText(shownStep, "5"), "5");
    trayHost = GetParam().trayHost;
    click("#ob-next");
    EXPECT_EQ(waitForText(shownStep, "6"), "6");
    EXPECT_TRUE(waitFor("document.getElementById('ob-text').innerText.includes(" +
                        quoted(GetParam().says) + ")"))
        << text("#ob-text");
}

INSTANTIATE_TEST_SUITE_P(
    Trays, OnboardingEnding,
    testing::Values(Ending{"en", true, "lives in the tray"},
                    Ending{"en", false, "lives in its pill on the screen. Start Talverin again"},
                    Ending{"ru", true, "живёт в трее"},
                    Ending{"ru", false, "живёт в своей пилюле на экране"}),
    [](const auto& info) {
        return std::string(info.param.lang) + (info.param.trayHost ? "_tray" : "_noTray");
    });

TEST_F(Onboarding, AStepThatCannotBeKeptIsNotLeft) {
    show("onboarding", Bridge::ViewRole::onboarding);
    EXPECT_EQ(waitForText(shownStep, "1"), "1");
    // Without its message handler the page can send nothing: the step stays and says why.
    controller->webView();
    bridge->page(Bridge::ViewRole::onboarding)->removeMessageHandler();
    click("#ob-next");
    EXPECT_TRUE(waitFor("document.querySelector('.toast-error')"));
    EXPECT_EQ(run(std::string("return ") + shownStep + ";"), "1");
}

} // namespace
} // namespace talverin
