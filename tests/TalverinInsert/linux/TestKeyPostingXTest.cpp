// labels: x11
// gtest first: Xlib's macros (None, Status ...) would break its headers.
#include <gtest/gtest.h>

#include "TalverinInsert/linux/KeyPostingXTest.h"

#include "TextFixture.h"
#include "Xclip.h"
#include "support/TempDir.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <X11/Xatom.h>
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

// The pieces go out one by one with a short pause between them, none after the last.
TEST_F(KeyPostingXTestTest, TypedPiecesArePacedByAShortPause) {
    const struct {
        const char* name;
        std::string text;
        std::size_t pauses;
    } cases[] = {
        {"one piece", "hello", 0},
        {"45 letters", std::string(45, 'a'), 2},
        {"two lines", "one\ntwo", 2},
    };
    std::vector<double> paused;
    poster->pause = [&](double seconds) { paused.push_back(seconds); };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        paused.clear();
        ASSERT_TRUE(poster->typeText(c.text));
        EXPECT_EQ(paused, std::vector<double>(c.pauses, 0.002));
    }
}

// A text that cannot be typed whole is not typed at all, so the field never holds a text
// with a hole in it: a control character, or a character the layout lacks when every keycode
// is taken. What is typed next arrives alone.
TEST_F(KeyPostingXTestTest, ATextWithACharacterWithoutAKeyIsNotTypedAtAll) {
    test::TextFixture fixture(server.display(), "view");
    ASSERT_TRUE(fixture.waitFor("ready"));
    EXPECT_EQ(poster->typeText("ring\u0007bell"), TypingResult{TypingResult::Kind::noKey});
    EXPECT_EQ(poster->typeText("ctrl-c\u0003"), TypingResult{TypingResult::Kind::noKey});
    // Another program maps every keycode the layout leaves empty.
    int minKey = 0;
    int maxKey = 0;
    XDisplayKeycodes(driver, &minKey, &maxKey);
    int perKey = 0;
    KeySym* map =
        XGetKeyboardMapping(driver, static_cast<KeyCode>(minKey), maxKey - minKey + 1, &perKey);
    ASSERT_TRUE(map);
    for (int keycode = minKey; keycode <= maxKey; ++keycode) {
        const KeySym* symbols = map + static_cast<long>(keycode - minKey) * perKey;
        if (std::all_of(symbols, symbols + perKey, [](KeySym s) { return s == NoSymbol; })) {
            KeySym taken[2] = {XK_F35, XK_F35};
            XChangeKeyboardMapping(driver, keycode, 2, taken, 1);
        }
    }
    XFree(map);
    XSync(driver, False);
    EXPECT_EQ(poster->typeText("caf\u00e9"), TypingResult{TypingResult::Kind::noKey});
    EXPECT_TRUE(poster->typeText("ok"));
    EXPECT_TRUE(fixture.waitFor("view: ok"))
        << (fixture.lines().empty() ? "" : fixture.lines().back());
}

// A terminal without accessibility takes typed text as its user's keys: the exact text reaches
// the program running in it, with no control character of a paste chord.
TEST_F(KeyPostingXTestTest, XtermGetsTheExactText) {
    test::TempDir dir;
    const std::string file = dir.path() / "received";
    test::Program xterm(server.display(),
                        {"env", "LC_ALL=C.UTF-8", "xterm", "-u8", "-geometry", "80x10+0+0", "-e",
                         "sh", "-c", "cat > " + file},
                        "", true);
    // Its window, once mapped: the keys go to it through the focus and the pointer.
    const Atom wmPid = XInternAtom(driver, "_NET_WM_PID", False);
    Window window = None;
    const double deadline = test::monotonicNow() + 60;
    while (window == None && test::monotonicNow() < deadline) {
        Window root = None;
        Window parent = None;
        Window* children = nullptr;
        unsigned int count = 0;
        XQueryTree(driver, DefaultRootWindow(driver), &root, &parent, &children, &count);
        for (unsigned int i = 0; i < count && window == None; ++i) {
            Atom type = None;
            int format = 0;
            unsigned long n = 0;
            unsigned long after = 0;
            unsigned char* data = nullptr;
            XWindowAttributes attributes{};
            if (XGetWindowProperty(driver, children[i], wmPid, 0, 1, False, XA_CARDINAL, &type,
                                   &format, &n, &after, &data) == Success &&
                data && n == 1 && XGetWindowAttributes(driver, children[i], &attributes) &&
                attributes.map_state == IsViewable)
                window = children[i];
            if (data)
                XFree(data);
        }
        if (children)
            XFree(children);
        if (window == None)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_NE(window, static_cast<Window>(None)) << "xterm never showed its window";
    XWarpPointer(driver, None, window, 0, 0, 0, 0, 20, 20);
    XSetInputFocus(driver, window, RevertToPointerRoot, CurrentTime);
    XSync(driver, False);

    const std::string text = "Hello,\tw\u00f6rld \u2014 \u20ac5 \u2713 \U0001F600 \u0436!";
    ASSERT_TRUE(poster->typeText(text + "\n"));
    std::string received;
    const double readBy = test::monotonicNow() + 60;
    while (received.find('\n') == std::string::npos && test::monotonicNow() < readBy) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        received = all.str();
        if (received.find('\n') == std::string::npos)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(received, text + "\n");
}

// A busy client reads its events long after the keys went out, and looks each key up in the
// mapping it fetches then: the spare keys must still type what they were pressed for. The
// client is stopped while the text is typed, so it reads everything after the post returned.
TEST_F(KeyPostingXTestTest, ABusyClientStillTypesWhatTheLayoutLacks) {
    const std::string text = "\u00e9\u20ac\u00fc\U0001F600\u0436\u00e9";
    test::TextFixture fixture(server.display(), "view");
    ASSERT_TRUE(fixture.waitFor("ready"));
    ASSERT_EQ(::kill(fixture.pid(), SIGSTOP), 0);
    const bool typed = static_cast<bool>(poster->typeText(text));
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
