// labels: webkit
// The fn key in the pages' key choice: X11 never reports it, so it is offered disabled with its
// reason, and a stored fn is kept and explained.
#include "Talverin/Web/linux/PagesHarness.h"

namespace talverin {
namespace {

struct FnCase {
    const char* lang;
    const char* route;
    Bridge::ViewRole role;
    const char* reason;  // a part of the reason the disabled choice gives
    const char* caveat;  // a part of what a stored fn says
};

void PrintTo(const FnCase& c, std::ostream* out) {
    *out << c.lang << " " << c.route;
}

class PagesHoldKeyFn : public test::PagesHarness, public testing::WithParamInterface<FnCase> {
protected:
    void showKeyChoice() {
        setenv("LANGUAGE", GetParam().lang, 1);
        show(GetParam().route, GetParam().role);
        if (GetParam().role == Bridge::ViewRole::main)
            click("[data-tab=settings]");
        ASSERT_TRUE(waitFor("document.querySelector('[data-key=fn]')"));
    }
    std::string fnChoice() {
        return run("const b = document.querySelector('[data-key=fn]'); return [b.disabled, "
                   "b.getAttribute('aria-disabled'), b.title].join('|');");
    }
};

TEST_P(PagesHoldKeyFn, FnIsOfferedDisabledWithItsReason) {
    showKeyChoice();
    const std::string reason = text("#fn-reason");
    EXPECT_NE(reason.find(GetParam().reason), std::string::npos) << reason;
    EXPECT_EQ(fnChoice(), "true|true|" + reason);

    // A click on it chooses nothing; the next preset still can be chosen.
    click("[data-key=fn]");
    click("[data-key=rightCommand]");
    ASSERT_TRUE(waitForNative([&] { return bridge->settings().holdKey == HoldKey::rightCommand; }));
    EXPECT_EQ(stored()["holdKey"], "rightCommand");
    EXPECT_EQ(run("return String(document.querySelector('.holdkey .note-warn').hidden);"), "true");
}

TEST_P(PagesHoldKeyFn, AStoredFnIsKeptAndSaysWhyItDoesNothing) {
    defaults.set(std::string(Settings::defaultsKey), {{"holdKey", "fn"}, {"onboardingStep", 3}});
    showKeyChoice();
    EXPECT_EQ(bridge->settings().holdKey, HoldKey::fn);
    const std::string caveat = text(".holdkey .note-warn");
    EXPECT_NE(caveat.find(GetParam().caveat), std::string::npos) << caveat;
    EXPECT_EQ(run("return [document.querySelector('[data-key=fn]').getAttribute('aria-checked'), "
                  "document.getElementById('fn-reason').hidden].join('|');"),
              "true|true")
        << "shown as the key in use, with the caveat in place of the reason";
    EXPECT_EQ(stored()["holdKey"], "fn") << "nothing is changed behind the user's back";
}

INSTANTIATE_TEST_SUITE_P(
    Pages, PagesHoldKeyFn,
    testing::Values(FnCase{"en", "popover", Bridge::ViewRole::main, "X11 never reports",
                           "holding it does nothing"},
                    FnCase{"ru", "popover", Bridge::ViewRole::main, "X11 не сообщает",
                           "удержание ничего не делает"},
                    FnCase{"en", "onboarding?step=3", Bridge::ViewRole::onboarding,
                           "X11 never reports", "holding it does nothing"},
                    FnCase{"ru", "onboarding?step=3", Bridge::ViewRole::onboarding,
                           "X11 не сообщает", "удержание ничего не делает"}),
    [](const auto& info) {
        return std::string(info.param.lang) + "_" +
               (info.param.role == Bridge::ViewRole::main ? "settings" : "onboarding");
    });

} // namespace
} // namespace talverin
