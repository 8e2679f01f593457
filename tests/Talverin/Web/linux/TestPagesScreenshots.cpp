// labels: webkit
// Pictures of the popover's three tabs and of every onboarding step, in both languages and both
// themes, written to <build>/tests/screenshots for a person to look at. Each also checks that
// nothing on the page is wider than its box.
#include "Talverin/Web/linux/PagesHarness.h"

namespace talverin {
namespace {

struct Look {
    const char* lang;
    const char* theme;
};

void PrintTo(const Look& look, std::ostream* out) {
    *out << look.lang << "/" << look.theme;
}

class PagesScreenshots : public test::PagesHarness, public testing::WithParamInterface<Look> {
protected:
    // Elements whose content is wider than they are, which the eye would see cut off.
    std::string overflowing() {
        return run(R"(
            const bad = [];
            for (const e of document.querySelectorAll('body *')) {
              if (e.offsetParent === null || getComputedStyle(e).overflowX === 'auto') continue;
              if (e.matches('.chip-text, .rule-from, .rule-to, .item-app, input, select')) continue;
              if (e.scrollWidth > e.clientWidth + 1 && e.clientWidth > 0)
                bad.push((e.id || e.className || e.tagName) + ':' + e.innerText.slice(0, 30));
            }
            if (document.documentElement.scrollWidth > innerWidth) bad.push('page');
            return bad.join(' | ');)");
    }
    // Scrolls the popover's content so that the element is at its top.
    void scrollTo(const std::string& id) {
        run("const c = document.getElementById('content'); c.scrollTop = document.getElementById(" +
            quoted(id) + ").offsetTop - c.offsetTop; return 'ok';");
    }
    void picture(const std::string& name) {
        const std::string file =
            std::string("pages-") + name + "-" + GetParam().lang + "-" + GetParam().theme;
        // A picture shows the page at rest, not halfway through a transition.
        EXPECT_TRUE(waitFor("document.getAnimations().every(a => a.playState !== 'running')"));
        EXPECT_EQ(overflowing(), "") << file;
        EXPECT_TRUE(snapshot(file)) << file;
    }

    // The user's language and theme, two dictations, mixed permissions, two microphones and a
    // cloud service.
    void prepare() {
        setenv("LANGUAGE", GetParam().lang, 1);
        defaults.set(std::string(Settings::defaultsKey),
                     {{"theme", GetParam().theme},
                      {"words", {"Talverin", "Kubernetes"}},
                      {"replacements", {{{"from", "smiley"}, {"to", ":)"}}}},
                      {"holdKey", "leftShift"}});
        const bool ru = std::string(GetParam().lang) == "ru";
        const auto now = Clock::now();
        history->append({HistoryItem::newID(), Wire::Date(now - std::chrono::hours(30)), "Mail", "",
                         ru ? "Встреча переносится на четверг, в три часа."
                            : "The meeting moves to Thursday at three.",
                         ru ? "эм встреча переносится на четверг в три"
                            : "um the meeting moves to thursday at three",
                         true, DictationMode::clean});
        history->append({HistoryItem::newID(), Wire::Date(now), "Text Editor", "",
                         ru ? "Съешь же ещё этих мягких французских булок, да выпей чаю."
                            : "The quick brown fox jumps over the lazy dog.",
                         ru ? "съешь же ещё этих мягких французских булок да выпей чаю"
                            : "the quick brown fox jumps over the lazy dog",
                         false, DictationMode::verbatim});
        permissionsFake.set({Wire::PermissionState::granted, Wire::PermissionState::denied,
                             Wire::PermissionState::notDetermined});
        microphones = {{"usb-1", "USB Microphone"}, {"builtin", "Built-in Audio Analog Stereo"}};
        makeBridge().cloudConfigured = true;
    }
    bool ru() const { return std::string(GetParam().lang) == "ru"; }
};

TEST_P(PagesScreenshots, Popover) {
    prepare();
    show("popover");
    picture("popover-history");
    // An outcome under its item and a failure's toast.
    click("[data-action=insertAgain]");
    ASSERT_TRUE(waitForNative([&] { return !inserted.empty(); }));
    insertAnswer.resolve(InsertOutcome::refused(RefuseReason::noAccessibility));
    ASSERT_TRUE(waitFor("document.querySelector('.item-status')"));
    click("[data-tab=settings]");
    submit("[data-add=languages]", "x");
    click("[data-tab=history]");
    ASSERT_TRUE(waitFor("document.querySelector('.toast-error')"));
    picture("popover-history-outcome");
    click("[data-tab=settings]");
    picture("popover-settings");
    scrollTo("section-replacements");
    picture("popover-settings-2");
    scrollTo("section-pill");
    picture("popover-settings-3");
    click("[data-tab=access]");
    ASSERT_TRUE(waitFor("document.querySelectorAll('.perm').length === 3"));
    picture("popover-access");
}

TEST_P(PagesScreenshots, Onboarding) {
    prepare();
    const bool ru = this->ru();
    show("onboarding", Bridge::ViewRole::onboarding);
    for (int step = 1; step <= 6; ++step) {
        SCOPED_TRACE(step);
        ASSERT_EQ(
            waitForText("document.getElementById('ob-step').dataset.step", std::to_string(step)),
            std::to_string(step));
        if (step == 3) {
            keyTap.sendHoldKeyChange(true);
            ASSERT_TRUE(waitFor("document.querySelector('.keycap.big.down')"));
        }
        if (step == 4) {
            bridge->send(Wire::Event::tryDictation(
                {ru ? "Привет! Это моя первая диктовка." : "Hello! This is my first dictation.",
                 ru ? "привет это моя первая диктовка" : "hello this is my first dictation", 640,
                 false, 142}));
            ASSERT_TRUE(waitFor("document.querySelector('.try-text')"));
        }
        picture("onboarding-" + std::to_string(step));
        if (step < 6)
            click("#ob-next");
    }
}

INSTANTIATE_TEST_SUITE_P(Looks, PagesScreenshots,
                         testing::Values(Look{"en", "light"}, Look{"en", "dark"},
                                         Look{"ru", "light"}, Look{"ru", "dark"}),
                         [](const auto& info) {
                             return std::string(info.param.lang) + "_" + info.param.theme;
                         });

} // namespace
} // namespace talverin
