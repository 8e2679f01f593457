// labels: x11
#include "TalverinInsert/linux/KeyPostingXTest.h"

#include "TextFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace talverin {
namespace {

// Each test has its own X server, so its keys reach no other test's window.
class KeyPostingXTestTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (server.display().empty())
            GTEST_SKIP() << "no Xvfb";
        ::setenv("NO_AT_BRIDGE", "1", 1);
        auto made = KeyPostingXTest::create(synthetic, server.display());
        ASSERT_TRUE(made);
        poster = std::move(made).value();
        driver = XOpenDisplay(server.display().c_str());
        ASSERT_TRUE(driver);
    }
    void TearDown() override {
        if (driver)
            XCloseDisplay(driver);
    }

    // The test's own key, as a user would press it.
    void press(KeySym sym, bool down) {
        XTestFakeKeyEvent(driver, XKeysymToKeycode(driver, sym), down, CurrentTime);
        XSync(driver, False);
    }
    bool isDown(KeySym sym) {
        char keys[32] = {};
        XQueryKeymap(driver, keys);
        const KeyCode keycode = XKeysymToKeycode(driver, sym);
        return keys[keycode / 8] & (1 << (keycode % 8));
    }

    // The server's current mapping of one key, not the connection's cached copy.
    KeySym firstSymbolOf(int keycode) {
        int count = 0;
        KeySym* syms = XGetKeyboardMapping(driver, static_cast<KeyCode>(keycode), 1, &count);
        const KeySym first = syms && count > 0 ? syms[0] : NoSymbol;
        if (syms)
            XFree(syms);
        return first;
    }
    int keycodeTyping(KeySym sym) {
        int minKey = 0;
        int maxKey = 0;
        XDisplayKeycodes(driver, &minKey, &maxKey);
        for (int keycode = minKey; keycode <= maxKey; ++keycode)
            if (firstSymbolOf(keycode) == sym)
                return keycode;
        return 0;
    }

    test::PrivateXServer server;
    std::shared_ptr<SyntheticInput> synthetic = std::make_shared<SyntheticInput>();
    std::unique_ptr<KeyPostingXTest> poster;
    Display* driver = nullptr;
};

TEST_F(KeyPostingXTestTest, ThePasteKeyIsTheLayoutsV) {
    EXPECT_EQ(poster->pasteKey(), XKeysymToKeycode(driver, XK_v));
}

// Characters the layout has are typed with their level, Caps Lock or not; the others go
// through a spare key; a line break is Shift+Return, which a text view takes as a new line.
TEST_F(KeyPostingXTestTest, TextIsTypedAsItStandsWhateverTheLayoutAndLockLack) {
    const std::string text = "Ab 1!\nx\u00e9\u20ac\u00fc\U0001F600\u0436";
    for (const bool caps : {false, true}) {
        SCOPED_TRACE(caps ? "Caps Lock on" : "Caps Lock off");
        if (caps) {
            press(XK_Caps_Lock, true);
            press(XK_Caps_Lock, false);
        }
        test::TextFixture fixture(server.display(), "view");
        ASSERT_TRUE(fixture.waitFor("ready"));
        EXPECT_TRUE(poster->typeText(text));
        EXPECT_TRUE(fixture.waitFor("view: Ab 1!\\nx\u00e9\u20ac\u00fc\U0001F600\u0436"))
            << (fixture.lines().empty() ? "" : fixture.lines().back());
    }
}

// A busy client reads its events long after the keys went out, and looks each key up in the
// mapping it fetches then: the spare keys must still type what they were pressed for. The
// client is stopped while the text is typed, so it reads everything after the post returned.
TEST_F(KeyPostingXTestTest, ABusyClientStillTypesWhatTheLayoutLacks) {
    const std::string text = "\u00e9\u20ac\u00fc\U0001F600\u0436\u00e9";
    test::TextFixture fixture(server.display(), "view");
    ASSERT_TRUE(fixture.waitFor("ready"));
    ASSERT_EQ(::kill(fixture.pid(), SIGSTOP), 0);
    const bool typed = poster->typeText(text);
    ASSERT_EQ(::kill(fixture.pid(), SIGCONT), 0);
    EXPECT_TRUE(typed);
    EXPECT_TRUE(fixture.waitFor("view: " + text))
        << (fixture.lines().empty() ? "" : fixture.lines().back());
}

// The spare keys are empty again when the poster goes, except one another program has mapped
// since: that one is no longer the poster's to clear.
TEST_F(KeyPostingXTestTest, TheSpareKeysAreGivenBackWhenThePosterGoes) {
    ASSERT_TRUE(poster->typeText("\u00e9\u20ac"));
    const int eacute = keycodeTyping(XK_eacute);
    const int euro = keycodeTyping(0x010020ac); // U+20AC as a Unicode keysym
    ASSERT_NE(eacute, 0);
    ASSERT_NE(euro, 0);
    KeySym others[2] = {XK_F35, XK_F35};
    XChangeKeyboardMapping(driver, euro, 2, others, 1);
    XSync(driver, False);
    poster.reset();
    EXPECT_EQ(firstSymbolOf(eacute), static_cast<KeySym>(NoSymbol));
    EXPECT_EQ(firstSymbolOf(euro), static_cast<KeySym>(XK_F35));
}

// The user may still hold a modifier of the hold key: the chord goes out without it, and it
// is down again afterwards.
TEST_F(KeyPostingXTestTest, ThePasteChordPastesWhileTheUserHoldsShift) {
    const std::string own = "printf 'hello world' | DISPLAY=" + server.display() +
                            " xclip -selection clipboard -quiet >/dev/null 2>&1 &";
    ASSERT_EQ(std::system(own.c_str()), 0);
    const Atom clipboard = XInternAtom(driver, "CLIPBOARD", False);
    const double deadline = test::monotonicNow() + 30;
    while (XGetSelectionOwner(driver, clipboard) == None && test::monotonicNow() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_NE(XGetSelectionOwner(driver, clipboard), static_cast<Window>(None));
    test::TextFixture fixture(server.display(), "entry");
    ASSERT_TRUE(fixture.waitFor("ready"));
    press(XK_Shift_L, true);
    EXPECT_TRUE(poster->postPaste(poster->pasteKey()));
    EXPECT_TRUE(fixture.waitFor("entry: hello world"));
    EXPECT_TRUE(isDown(XK_Shift_L));
    press(XK_Shift_L, false);
}

} // namespace
} // namespace talverin
