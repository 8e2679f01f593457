// labels: webkit
// The popover page driven as a user drives it, against a Bridge wired to fakes.
#include "Talverin/Web/linux/PagesHarness.h"

#include <chrono>

namespace talverin {
namespace {

using Pages = test::PagesHarness;

HistoryItem dictation(std::string clean, std::chrono::system_clock::time_point when,
                      std::string raw = {}) {
    return {HistoryItem::newID(),
            Wire::Date(when),
            "Editor",
            "",
            clean,
            raw.empty() ? clean : raw,
            true,
            DictationMode::clean};
}

TEST_F(Pages, TheMainPageDrawsTheNativeStateAndItsLanguage) {
    setenv("LANGUAGE", "ru", 1);
    history->append(dictation("раз два три четыре пять", Clock::now()));
    show("popover");
    EXPECT_EQ(text("#words-today"), "5 слов сегодня");
    EXPECT_EQ(text("[data-tab=settings]"), "Настройки");
    EXPECT_EQ(run("return document.documentElement.lang;"), "ru");
}

TEST_F(Pages, ASettingIsStoredAndWhatTheNativeSideChangesComesBack) {
    show("popover");
    click("[data-tab=settings]");

    click("[data-setting=theme] [data-value=dark]");
    ASSERT_TRUE(waitForNative([&] { return stored().value("theme", "") == "dark"; }));
    EXPECT_EQ(waitForText("document.documentElement.dataset.theme", "dark"), "dark");
    EXPECT_EQ(waitForText("document.querySelector('[data-setting=theme] .selected').dataset.value",
                          "dark"),
              "dark");

    submit("[data-add=languages]", " DE ");
    ASSERT_TRUE(waitForNative([&] {
        return stored().value("languages", nlohmann::json()) == nlohmann::json{"ru", "en", "de"};
    }));
    // A tag that is no language is refused with a reason on screen, and nothing is stored.
    submit("[data-add=languages]", "d3");
    EXPECT_TRUE(waitFor("document.querySelector('.toast-error')"));
    EXPECT_EQ(stored()["languages"].size(), 3u);

    // A word the native side does not keep (too long) is said to be lost, and stays in its field.
    const std::string tooLong(Settings::maxWordLength + 1, 'x');
    submit("[data-add=words]", tooLong);
    EXPECT_TRUE(waitFor("document.querySelectorAll('.toast-error').length === 2"));
    EXPECT_EQ(run("return document.querySelector('[data-add=words]').value;"), tooLong);
    submit("[data-add=words]", "Kubernetes");
    ASSERT_TRUE(
        waitForNative([&] { return stored().value("words", nlohmann::json()).size() == 1; }));
    EXPECT_EQ(stored()["words"], nlohmann::json{"Kubernetes"});

    // A change made on the native side reaches the page through the "settings" event.
    bridge->updateSettings({.sounds = false, .pillSpot = PillSpot::topRight});
    EXPECT_EQ(waitForText("document.querySelector('[data-setting=sounds]').checked", "false"),
              "false");
    EXPECT_EQ(waitForText("document.querySelector('.spot.selected').dataset.spot", "tr"), "tr");
    click("[data-setting=sounds]");
    EXPECT_TRUE(waitForNative([&] { return bridge->settings().sounds; }));

    click("[data-spot=ml]");
    EXPECT_TRUE(waitForNative([&] { return bridge->settings().pillSpot == PillSpot::middleLeft; }));
}

TEST_F(Pages, AReplacementIsAddedAndRemoved) {
    show("popover");
    click("[data-tab=settings]");
    run("document.querySelector('[data-add=to]').value = ':)'; return 'ok';");
    submit("[data-add=from]", "smiley");
    ASSERT_TRUE(waitForNative([&] { return bridge->settings().replacements.size() == 1; }));
    EXPECT_EQ(bridge->settings().replacements[0], (Replacement{"smiley", ":)"}));
    EXPECT_EQ(waitForText("document.querySelector('.rule-from').innerText", "smiley"), "smiley");
    click(".rule .chip-remove");
    EXPECT_TRUE(waitForNative([&] { return bridge->settings().replacements.empty(); }));
}

TEST_F(Pages, AHoldKeyIsCapturedAndItsCaveatShown) {
    keyTap.start();
    show("popover");
    click("[data-tab=settings]");
    click("#capture-key");
    ASSERT_TRUE(waitForNative([&] { return keyTap.isCapturing(); }));
    EXPECT_TRUE(waitFor("document.querySelector('.key-status.status-live')"));

    keyTap.sendCapture(KeyCaptureResult::accepted(HoldKey::leftShift));
    ASSERT_TRUE(waitForNative([&] { return bridge->settings().holdKey == HoldKey::leftShift; }));
    EXPECT_EQ(stored()["holdKey"], "leftShift");
    EXPECT_EQ(waitForText("document.getElementById('hold-key').innerText", "Left Shift"),
              "Left Shift");
    EXPECT_EQ(text(".note-warn"),
              "This key is part of many shortcuts; holding it may trigger them.");

    // A preset without a caveat hides it again.
    click("[data-key=rightCommand]");
    ASSERT_TRUE(waitForNative([&] { return bridge->settings().holdKey == HoldKey::rightCommand; }));
    EXPECT_TRUE(waitFor("document.querySelector('.note-warn').hidden"));
}

TEST_F(Pages, ACaptureThatCannotStartSaysWhy) {
    // No key tap runs: the native side answers noKeyTap.
    show("popover");
    click("[data-tab=settings]");
    click("#capture-key");
    EXPECT_EQ(waitForText("document.querySelector('.key-status').innerText.trim()",
                          "Keys cannot be read right now, so no key can be chosen."),
              "Keys cannot be read right now, so no key can be chosen.");
    EXPECT_EQ(text("#capture-key"), "Choose another key…");
}

TEST_F(Pages, TheHistoryIsSearchedPagedAndFollowsLiveChanges) {
    const auto start = Clock::now() - std::chrono::hours(1);
    for (int i = 0; i < 35; ++i)
        history->append(dictation("note " + std::to_string(i) + (i % 10 == 3 ? " needle" : ""),
                                  start + std::chrono::seconds(i)));
    show("popover");
    const std::string count = "document.querySelectorAll('.item').length";
    EXPECT_EQ(waitForText(count, "30"), "30");
    EXPECT_EQ(text(".item .item-text"), "note 34");

    click("#history-more");
    EXPECT_EQ(waitForText(count, "35"), "35");
    EXPECT_EQ(run("return document.querySelector('.item:last-child .item-text').innerText;"),
              "note 0");
    EXPECT_TRUE(waitFor("document.getElementById('history-more').hidden"));

    type("#history-search", "needle");
    EXPECT_EQ(waitForText(count, "4"), "4");

    // A new dictation that matches the search appears on top; one that does not stays out.
    auto fresh = dictation("fresh needle", Clock::now());
    bridge->addHistory(fresh);
    bridge->addHistory(dictation("unrelated", Clock::now()));
    EXPECT_EQ(waitForText(count, "5"), "5");
    EXPECT_EQ(text(".item .item-text"), "fresh needle");

    history->deleteItem(fresh.id);
    bridge->send(Wire::Event::historyRemoved(fresh.id));
    EXPECT_EQ(waitForText(count, "4"), "4");

    click(".item [data-action=delete]");
    EXPECT_EQ(waitForText(count, "3"), "3");
    EXPECT_EQ(history->list(std::string("needle"), std::nullopt, std::nullopt).size(), 3u);

    type("#history-search", "");
    EXPECT_EQ(waitForText(count, "30"), "30");
    click("#history-clear");
    click("#history-clear-yes");
    EXPECT_EQ(waitForText(count, "0"), "0");
    EXPECT_TRUE(history->list(std::nullopt, std::nullopt, std::nullopt).empty());
    EXPECT_EQ(waitForText("document.getElementById('words-today').innerText", "0 words today"),
              "0 words today");
}

// A history event adds or removes the one row it names: every other row stays the element it
// was, and a full page pushes its oldest row out to "Show older" instead of growing.
TEST_F(Pages, AHistoryEventTouchesOnlyTheRowItNames) {
    const auto start = Clock::now() - std::chrono::hours(1);
    std::vector<HistoryItem> items;
    for (int i = 0; i < 30; ++i) {
        items.push_back(dictation("note " + std::to_string(i), start + std::chrono::seconds(i)));
        history->append(items.back());
    }
    show("popover");
    const std::string count = "document.querySelectorAll('.item').length";
    ASSERT_EQ(waitForText(count, "30"), "30");
    run("document.querySelectorAll('.item').forEach(e => { e.__drawn = true; }); return 'ok';");
    const std::string redrawn =
        "[...document.querySelectorAll('.item')].filter(e => !e.__drawn)"
        ".map(e => e.querySelector('.item-text').innerText).join('|')";

    bridge->addHistory(dictation("fresh", Clock::now()));
    EXPECT_EQ(waitForText("document.querySelector('.item .item-text').innerText", "fresh"),
              "fresh");
    EXPECT_EQ(run("return " + redrawn + ";"), "fresh");
    EXPECT_EQ(run("return String(" + count + ");"), "30");
    EXPECT_EQ(run("return document.querySelector('.item:last-child .item-text').innerText;"),
              "note 1");
    EXPECT_TRUE(waitFor("!document.getElementById('history-more').hidden"));

    history->deleteItem(items[15].id);
    bridge->send(Wire::Event::historyRemoved(items[15].id));
    EXPECT_EQ(waitForText(count, "29"), "29");
    EXPECT_EQ(run("return " + redrawn + ";"), "fresh");

    // The row pushed out comes back with the older ones.
    click("#history-more");
    EXPECT_EQ(waitForText(count, "30"), "30");
    EXPECT_EQ(run("return document.querySelector('.item:last-child .item-text').innerText;"),
              "note 0");
    EXPECT_EQ(run("return " + redrawn + ";"), "fresh|note 0");
}

TEST_F(Pages, InsertingAgainShowsItsOutcome) {
    struct Case {
        InsertOutcome outcome;
        std::string shown;
    };
    const std::vector<Case> cases = {
        {InsertOutcome::inserted(), "Inserted"},
        {InsertOutcome::copiedOnly(), "Copied to the clipboard: paste it with Ctrl+V"},
        {InsertOutcome::refused(RefuseReason::secureField),
         "Not inserted: the field is a password field"},
    };
    history->append(dictation("clean text", Clock::now(), "raw text"));
    show("popover");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        insertAnswer = Promise<InsertOutcome>();
        click("[data-action=insertAgain]");
        ASSERT_TRUE(waitForNative([&] { return !inserted.empty(); }));
        EXPECT_EQ(inserted.back(), "clean text");
        // The button waits for the outcome.
        EXPECT_EQ(
            run("return String(document.querySelector('[data-action=insertAgain]').disabled);"),
            "true");
        insertAnswer.resolve(c.outcome);
        EXPECT_EQ(waitForText("document.querySelector('.item-status').innerText", c.shown),
                  c.shown);
        inserted.clear();
    }
}

TEST_F(Pages, CopyingAndAddingAWordUseTheChosenText) {
    const auto item = dictation("Clean words", Clock::now(), "raw words");
    history->append(item);
    show("popover");
    click("[data-action=copyRaw]");
    ASSERT_TRUE(waitForNative([&] { return copied.size() == 1; }));
    click("[data-action=copy]");
    ASSERT_TRUE(waitForNative([&] { return copied.size() == 2; }));
    EXPECT_EQ(copied, (std::vector<std::string>{"raw words", "Clean words"}));

    click("[data-action=addWord]");
    submit("[data-add=word]", " Talverin ");
    ASSERT_TRUE(waitForNative([&] { return bridge->settings().words.size() == 1; }));
    EXPECT_EQ(bridge->settings().words[0], "Talverin");
    EXPECT_EQ(waitForText("document.querySelector('.item-status').innerText",
                          "Added “Talverin” to your words"),
              "Added “Talverin” to your words");
}

TEST_F(Pages, AFailedCommandShowsTheNativeErrorText) {
    const auto item = dictation("gone soon", Clock::now());
    history->append(item);
    show("popover");
    // The item leaves the store behind the page's back: copying it now fails.
    history->deleteItem(item.id);
    click("[data-action=copy]");
    EXPECT_EQ(waitForText("document.querySelector('.toast-error .toast-text').innerText",
                          "Something went wrong: no such item"),
              "Something went wrong: no such item");
    EXPECT_TRUE(copied.empty());
}

TEST_F(Pages, PermissionsAreRequestedAndTheirPanesOpened) {
    permissionsFake.set({Wire::PermissionState::notDetermined, Wire::PermissionState::denied,
                         Wire::PermissionState::restricted});
    show("popover");
    click("[data-tab=access]");
    ASSERT_TRUE(waitFor("document.querySelector('[data-ask=microphone]')"));
    EXPECT_EQ(run("return [...document.querySelectorAll('.perm')].map(e => e.dataset.kind + '=' + "
                  "e.dataset.state).join(' ');"),
              "microphone=notDetermined accessibility=denied speech=restricted");

    quietlyGrant(Wire::PermissionKind::microphone);
    click("[data-ask=microphone]");
    EXPECT_EQ(
        waitForText("document.querySelector('[data-kind=microphone]').dataset.state", "granted"),
        "granted");
    click("[data-pane=speech]");
    ASSERT_TRUE(waitForNative([&] { return permissionsFake.log.count("openPane") == 1; }));

    // Accessibility is switched on by the application itself; when that does not take, the
    // page says what the user can do, until the permission arrives.
    EXPECT_EQ(text("[data-ask=accessibility]"), "Turn on");
    click("[data-ask=accessibility]");
    ASSERT_TRUE(waitFor("document.querySelector('[data-help=accessibility]:not(.quiet)')"));
    EXPECT_EQ(permissionsFake.log.count("request"), 2u);
    EXPECT_NE(text("[data-help=accessibility]").find("toolkit-accessibility true"),
              std::string::npos);

    // A change the watcher sees is pushed to the page.
    permissionsFake.set({Wire::PermissionState::granted, Wire::PermissionState::granted,
                         Wire::PermissionState::granted});
    EXPECT_EQ(
        waitForText("document.querySelector('[data-kind=accessibility]').dataset.state", "granted"),
        "granted");
    EXPECT_EQ(run("return String(document.querySelectorAll('.perm-help:not(.quiet), .perm button').length);"),
              "0");
}

TEST_F(Pages, TheMicrophoneTestShowsTheLevelAndStopsWhenThePopoverCloses) {
    microphones = {{"usb-1", "USB Microphone"}};
    show("popover");
    click("[data-tab=settings]");
    run("const s = document.getElementById('microphone'); s.value = 'usb-1'; "
        "s.dispatchEvent(new Event('change')); return 'ok';");
    ASSERT_TRUE(waitForNative([&] { return bridge->settings().microphoneID == "usb-1"; }));

    click("#mic-test");
    ASSERT_TRUE(waitForNative([&] { return mic.log.count("beginLevelCheck") == 1; }));
    EXPECT_TRUE(waitFor("!document.querySelector('.meter').hidden"));
    mic.sendReading({0.5f, MicSilenceReason::muted});
    EXPECT_EQ(waitForText("document.getElementById('mic-reason').innerText.trim()",
                          "The microphone is muted or at zero volume."),
              "The microphone is muted or at zero volume.");
    EXPECT_EQ(run("return document.querySelector('.meter-fill').style.width;"), "50%");

    bridge->send(Wire::Event::hidden());
    EXPECT_TRUE(waitForNative([&] { return mic.log.count("endLevelCheck") == 1; }));

    // A microphone that went away stays chosen and the list follows the devices.
    bridge->send(Wire::Event::microphones({}));
    EXPECT_EQ(waitForText("document.getElementById('microphone').options.length", "2"), "2");
    EXPECT_EQ(run("return document.getElementById('microphone').value;"), "usb-1");
}

TEST_F(Pages, OpeningSettingsFromThePillShowsThePillSection) {
    show("popover");
    bridge->send(Wire::Event::openSettings("pill"));
    EXPECT_EQ(waitForText("document.querySelector('.tab.selected').dataset.tab", "settings"),
              "settings");
    EXPECT_TRUE(waitFor("document.getElementById('content').scrollTop > 0"));
}

TEST_F(Pages, ShowingThePopoverAgainCatchesUpWithTheNativeSide) {
    makeBridge().updateSettings({.holdKey = HoldKey::fn});
    show("popover");
    click("[data-tab=settings]");
    EXPECT_TRUE(
        run("return String(document.querySelector('.holdkey .note:not(.note-warn)').hidden);") ==
        "true");

    // Meanwhile a dictation was stored without an event, and fn gained an action of its own.
    history->append(dictation("while away", Clock::now()));
    int keyboardSettings = 0;
    bridge->fnAction = [] { return Wire::FnAction::emoji; };
    bridge->openKeyboardSettings = [&] { ++keyboardSettings; };
    bridge->send(Wire::Event::shown());

    EXPECT_EQ(waitForText("document.getElementById('words-today').innerText", "2 words today"),
              "2 words today");
    EXPECT_TRUE(waitFor("!document.querySelector('.holdkey .note:not(.note-warn)').hidden"));
    EXPECT_EQ(text(".holdkey .note:not(.note-warn)"),
              "Pressing fn alone also opens the emoji picker. Keyboard settings");
    click(".holdkey .note .link");
    EXPECT_TRUE(waitForNative([&] { return keyboardSettings == 1; }));
    click("[data-tab=history]");
    EXPECT_EQ(waitForText("document.querySelector('.item .item-text')?.innerText", "while away"),
              "while away");
}

} // namespace
} // namespace talverin
