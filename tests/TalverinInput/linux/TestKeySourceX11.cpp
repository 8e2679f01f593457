// labels: x11
// links: TalverinInsertLinux
#include "TalverinInput/linux/KeySourceX11.h"

#include "../TapTestSupport.h"
#include "support/LinuxTestSupport.h"
#include "TalverinInput/KeyTap.h"
#include "TalverinInsert/linux/KeyPostingXTest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace talverin {
namespace {

using test::monotonicNow;

constexpr int xRightAlt = 108;
constexpr int xF13 = 191;
constexpr int xEscape = 9;
constexpr int xA = 38;

// One callback, with its time and how far that time lies from when the event was sent.
struct Heard {
    std::string what;
    double t;
};

// A key tap on a private X server of its own, driven by a second X client through XTest,
// as a user's keyboard would drive it.
class KeyTapOnX11 : public ::testing::Test {
protected:
    void SetUp() override {
        if (server.display().empty())
            GTEST_SKIP() << "no Xvfb";
        driver = XOpenDisplay(server.display().c_str());
        ASSERT_NE(driver, nullptr);
    }

    void TearDown() override {
        if (tap)
            tap->stop();
        tap.reset();
        // libXext frees its shared extension data when the last connection using it closes,
        // without a lock: two connections must not close at once. (The application keeps its
        // toolkit's connection for life, so it never gets there.)
        EXPECT_TRUE(loop.runUntil([this] { return *liveSources == 0; }));
        if (driver)
            XCloseDisplay(driver);
    }

    // The X11 source, counted so that the test knows when the tap thread has let go of it.
    class CountedSource final : public test::ForwardingKeySource {
    public:
        CountedSource(std::unique_ptr<KeySource> source, std::shared_ptr<std::atomic<int>> live)
            : ForwardingKeySource(std::move(source)), m_live(std::move(live)) {
            ++*m_live;
        }
        ~CountedSource() override {
            m_source.reset();
            --*m_live;
        }

    private:
        std::shared_ptr<std::atomic<int>> m_live;
    };

    void makeTap(HoldKey key, std::shared_ptr<SyntheticInput> synthetic = nullptr) {
        KeyTap::System system{[] { return true; },
                              [display = server.display(), synthetic,
                               live = liveSources]() -> std::unique_ptr<KeySource> {
                                  return std::make_unique<CountedSource>(
                                      std::make_unique<KeySourceX11>(synthetic, display), live);
                              },
                              KeySourceX11::canSee, workspace};
        tap = std::make_unique<KeyTap>(key, system);
        auto record = [this](std::string what) {
            return [this, what](double t) { heard.push_back({what, t}); };
        };
        tap->onPress = record("press");
        tap->onRelease = record("release");
        tap->onDoubleTap = record("doubleTap");
        tap->onStop = record("stop");
        tap->onEscape = record("escape");
        tap->onCancel = [this](KeyCancelReason reason, double t) {
            heard.push_back({"cancel(" + std::string(toString(reason)) + ")", t});
        };
        tap->onHoldKeyChange = [this](bool down, double t) {
            heard.push_back({down ? "down" : "up", t});
        };
        ASSERT_TRUE(tap->start());
    }

    // When a key event was sent and when the server had surely handled it.
    struct Sent {
        double before;
        double after;
    };

    Sent key(int keycode, bool down) {
        const double before = monotonicNow();
        XTestFakeKeyEvent(driver, static_cast<unsigned>(keycode), down ? True : False, 0);
        XSync(driver, False);
        return {before, monotonicNow()};
    }

    // The server stamps an event when it handles it, in whole milliseconds of the same clock
    // (read coarsely by some servers, up to a few milliseconds stale).
    static void expectStamped(double t, Sent sent) {
        EXPECT_GE(t, sent.before - 0.005);
        EXPECT_LE(t, sent.after);
    }

    std::vector<std::string> waitFor(std::size_t count, double seconds = 5) {
        loop.runUntil([&] { return heard.size() >= count; }, seconds);
        std::vector<std::string> names;
        for (const auto& h : heard)
            names.push_back(h.what);

        return names;
    }

    test::RealTimeLoop loop;
    test::LogLines log;
    test::PrivateXServer server;
    Display* driver = nullptr;
    std::shared_ptr<NotificationCenter> workspace = std::make_shared<NotificationCenter>();
    std::shared_ptr<std::atomic<int>> liveSources = std::make_shared<std::atomic<int>>(0);
    std::unique_ptr<KeyTap> tap;
    std::vector<Heard> heard;
};

struct HoldCase {
    std::string name;
    HoldKey key;
    int keycode;
};

class KeyTapHold : public KeyTapOnX11, public ::testing::WithParamInterface<HoldCase> {};

TEST_P(KeyTapHold, AHoldIsAPressThenAReleaseAtTheEventsTimes) {
    makeTap(GetParam().key);
    const Sent pressed = key(GetParam().keycode, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const Sent released = key(GetParam().keycode, false);
    ASSERT_EQ(waitFor(4), (std::vector<std::string>{"down", "press", "up", "release"}));
    expectStamped(heard[1].t, pressed);
    expectStamped(heard[3].t, released);
}

INSTANTIATE_TEST_SUITE_P(Keys, KeyTapHold,
                         ::testing::Values(HoldCase{"RightAlt", HoldKey::rightOption, xRightAlt},
                                           HoldCase{"F13", HoldKey::f13, xF13}),
                         [](const auto& info) { return info.param.name; });

TEST_F(KeyTapOnX11, ADoubleTapAndEscapeDuringHandsFree) {
    makeTap(HoldKey::rightOption);
    // Back to back, so that a busy machine cannot stretch the taps past their windows.
    key(xRightAlt, true);
    key(xRightAlt, false);
    key(xRightAlt, true);
    key(xRightAlt, false);
    // The second release only says that the key went up.
    ASSERT_EQ(waitFor(7), (std::vector<std::string>{"down", "press", "up", "release", "down",
                                                    "doubleTap", "up"}));
    // The dictation controller turns a double tap into hands-free dictation.
    tap->setHandsFree(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    key(xEscape, true);
    key(xEscape, false);
    EXPECT_EQ(waitFor(8).back(), "escape");
    EXPECT_FALSE(tap->isHandsFree());
}

TEST_F(KeyTapOnX11, AnotherKeyDuringAHoldCancelsIt) {
    makeTap(HoldKey::rightOption);
    key(xRightAlt, true);
    key(xA, true);
    key(xA, false);
    key(xRightAlt, false);
    EXPECT_EQ(waitFor(4), (std::vector<std::string>{"down", "press", "cancel(otherKey)", "up"}));
}

// The application's poster, announcing what it posts to the tap as in the application.
std::unique_ptr<KeyPostingXTest> posterFor(const std::string& display,
                                           std::shared_ptr<SyntheticInput> synthetic) {
    auto made = KeyPostingXTest::create(std::move(synthetic), display);
    return made ? std::move(made).value() : nullptr;
}

// The paste chord and typed keys go out in the middle of a hold, the held hold key itself let
// go and pressed again around them: none of it reaches the hold machine.
TEST_F(KeyTapOnX11, TheProgramsOwnKeysAreNotHeard) {
    auto synthetic = std::make_shared<SyntheticInput>();
    auto poster = posterFor(server.display(), synthetic);
    ASSERT_TRUE(poster);
    makeTap(HoldKey::rightOption, synthetic);
    key(xRightAlt, true);
    ASSERT_EQ(waitFor(2), (std::vector<std::string>{"down", "press"}));
    ASSERT_TRUE(poster->postPaste(poster->pasteKey()));
    ASSERT_TRUE(poster->typeText("ok \u00e9"));
    key(xRightAlt, false);
    EXPECT_EQ(waitFor(4), (std::vector<std::string>{"down", "press", "up", "release"}));
    loop.runFor(0.1);
    EXPECT_EQ(heard.size(), 4u);
}

// Another XTest client (an on-screen keyboard, a remote desktop) right after the program
// posted is heard: its hold key, and even the very key the paste chord used.
TEST_F(KeyTapOnX11, AnotherClientsKeysAreHeardWhileTheProgramPosts) {
    auto synthetic = std::make_shared<SyntheticInput>();
    auto poster = posterFor(server.display(), synthetic);
    ASSERT_TRUE(poster);
    makeTap(HoldKey::f13, synthetic);
    const std::uint16_t pasteKey = poster->pasteKey();
    ASSERT_TRUE(poster->postPaste(pasteKey));
    key(xF13, true);
    key(pasteKey, true);
    key(pasteKey, false);
    key(xF13, false);
    EXPECT_EQ(waitFor(4), (std::vector<std::string>{"down", "press", "cancel(otherKey)", "up"}));
}

// Another client's hold in the middle of the program's typing, sent between two typed pieces:
// the hold is heard whole, and none of the typed keys around it cancel it.
TEST_F(KeyTapOnX11, AHoldWhileTheProgramTypesIsHeardAndTheTypingIsNot) {
    auto synthetic = std::make_shared<SyntheticInput>();
    auto poster = posterFor(server.display(), synthetic);
    ASSERT_TRUE(poster);
    makeTap(HoldKey::f13, synthetic);
    int pauses = 0;
    poster->pause = [&](double) {
        if (++pauses <= 2)
            key(xF13, pauses == 1);
    };
    ASSERT_TRUE(poster->typeText("first piece\nsecond piece\nthird piece"));
    ASSERT_GE(pauses, 2);
    EXPECT_EQ(waitFor(4), (std::vector<std::string>{"down", "press", "up", "release"}));
    loop.runFor(0.1);
    EXPECT_EQ(heard.size(), 4u);
}

TEST_F(KeyTapOnX11, StoppingTheServerIsALossOfTrust) {
    makeTap(HoldKey::rightOption);
    key(xRightAlt, true);
    ASSERT_EQ(waitFor(2), (std::vector<std::string>{"down", "press"}));
    XCloseDisplay(driver);
    driver = nullptr;
    server.stop();
    EXPECT_EQ(waitFor(4), (std::vector<std::string>{"down", "press", "up", "cancel(trustLost)"}));
    EXPECT_FALSE(tap->isRunning());
    EXPECT_EQ(log.count("KeyTap: Accessibility lost, the tap is removed"), 1);
}

TEST(KeySourceX11, RefusesWithoutAServerAndMapsHoldKeysToKeycodes) {
    KeySourceX11 source(nullptr, ":4242");
    const auto opened = source.open();
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.error(), KeySourceError::noDisplay);
    EXPECT_EQ(opened.message(), "cannot open display :4242");
    EXPECT_FALSE(source.isKeyDown(61)) << "a closed source answers harmlessly";
    EXPECT_EQ(KeySourceX11::xKeycodeOf(61), xRightAlt);
    EXPECT_EQ(KeySourceX11::xKeycodeOf(105), xF13);
    EXPECT_EQ(KeySourceX11::xKeycodeOf(53), xEscape);
    EXPECT_FALSE(KeySourceX11::canSee(HoldKey::fn));
    EXPECT_TRUE(KeySourceX11::canSee(HoldKey::f20));
}

} // namespace
} // namespace talverin
