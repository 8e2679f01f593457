// labels: tsan
#include "TalverinInput/KeyTap.h"

#include "Runtime/VirtualWorld.h"
#include "TapTestSupport.h"
#include "fakes/KeySourceFake.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace talverin {
namespace {

using test::FakeKeyboard;
using test::LogLines;
using Out = HoldMachine::Output;

constexpr std::int64_t rightOptionCode = 61;

std::string at(double t) {
    char text[32];
    std::snprintf(text, sizeof text, "@%.3f", t);
    return text;
}

std::string captureText(const KeyCaptureResult& result) {
    switch (result.kind()) {
    case KeyCaptureResult::Kind::accepted:
        return "capture(accepted " + std::string(toString(*result.key())) + ")";
    case KeyCaptureResult::Kind::rejected:
        return "capture(rejected " + std::string(toString(*result.reason())) + ")";
    case KeyCaptureResult::Kind::cancelled:
        return "capture(cancelled)";
    }
    return "?";
}

// A source that takes a while to let go of its connection, as an X connection may.
class SlowClosingSource final : public test::ForwardingKeySource {
public:
    using ForwardingKeySource::ForwardingKeySource;
    void close() override {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        m_source->close();
    }
};

class KeyTapTest : public ::testing::Test {
protected:
    KeyTapTest() {
        tap = std::make_unique<KeyTap>(
            HoldKey::rightOption,
            KeyTap::System{[this] { return trusted.load(); }, keyboard.factory(),
                           [](HoldKey key) { return key != HoldKey::fn; }, workspace});
        tap->onPress = [this](double t) { events.push_back("press" + at(t)); };
        tap->onRelease = [this](double t) { events.push_back("release" + at(t)); };
        tap->onCancel = [this](KeyCancelReason reason, double t) {
            events.push_back("cancel(" + std::string(toString(reason)) + ")" + at(t));
        };
        tap->onDoubleTap = [this](double t) { events.push_back("doubleTap" + at(t)); };
        tap->onStop = [this](double t) { events.push_back("stop" + at(t)); };
        tap->onEscape = [this](double t) { events.push_back("escape" + at(t)); };
        tap->onHoldKeyChange = [this](bool down, double t) {
            events.push_back(std::string(down ? "down" : "up") + at(t));
        };
        tap->onEscapeWatched = [this](double t) { events.push_back("escapeWatched" + at(t)); };
        tap->onCapture = [this](const KeyCaptureResult& r) { events.push_back(captureText(r)); };
    }

    ~KeyTapTest() override {
        tap.reset();
        // Every session has ended before the world that its messages are posted to goes away.
        EXPECT_TRUE(keyboard.waitUntil([this] { return keyboard.liveSources() == 0; }));
    }

    // Runs the main queue until `count` callbacks have been called.
    std::vector<std::string> waitForEvents(std::size_t count) {
        test::pumpUntil([&] { return events.size() >= count; }, [this] { world.runReady(); });
        return events;
    }

    // Lets every event sent so far through the tap thread and the main queue.
    void settle() {
        ASSERT_TRUE(keyboard.waitUntil([this] { return keyboard.pendingEvents() == 0; }));
        // A second, harmless event proves the first was handled.
        keyboard.send(FakeKeyboard::event(KeyEventKind::keyUp, 1000 + 38, 0, 1000));
        ASSERT_TRUE(keyboard.waitUntil([this] { return keyboard.pendingEvents() == 0; }));
        test::pumpUntil([] { return false; }, [this] { world.runReady(); }, 0.05);
    }

    // Work passed to the session and events reach the tap thread by different ways; this
    // gives the work a head start.
    static void letTheTapCatchUp() { std::this_thread::sleep_for(std::chrono::milliseconds(20)); }

    void option(bool down, double time = 1000) {
        keyboard.send(FakeKeyboard::event(KeyEventKind::flagsChanged, rightOptionCode,
                                          down ? 0x80040 : 0, time));
    }
    void key(std::int64_t code, double time = 1000) {
        keyboard.send(FakeKeyboard::event(KeyEventKind::keyDown, code, 0, time));
    }

    VirtualWorld world; // uptime 1000
    FakeKeyboard keyboard;
    LogLines log;
    std::atomic<bool> trusted{true};
    std::shared_ptr<NotificationCenter> workspace = std::make_shared<NotificationCenter>();
    std::vector<std::string> events;
    std::unique_ptr<KeyTap> tap;
};

TEST_F(KeyTapTest, ASecondStartIsANoOp) {
    EXPECT_TRUE(tap->start());
    EXPECT_TRUE(tap->start());
    EXPECT_TRUE(tap->isRunning());
    EXPECT_EQ(keyboard.opens(), 1);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"KeyTap: started (rightOption)"});
}

TEST_F(KeyTapTest, DestroyingTheTapEndsItsThreadFirst) {
    tap = std::make_unique<KeyTap>(HoldKey::rightOption,
                                   KeyTap::System{[this] { return trusted.load(); },
                                                  [this]() -> std::unique_ptr<KeySource> {
                                                      return std::make_unique<SlowClosingSource>(
                                                          keyboard.makeSource());
                                                  },
                                                  {},
                                                  workspace});
    ASSERT_TRUE(tap->start());
    tap.reset();
    // The thread would otherwise go on calling the trust check and posting to a main queue
    // that may be gone with the key tap, and keep its X connection open.
    EXPECT_EQ(keyboard.closes(), 1);
}

TEST_F(KeyTapTest, StartFailuresSayWhy) {
    trusted = false;
    EXPECT_FALSE(tap->start());
    trusted = true;
    keyboard.setOpenFailure(KeySourceError::noDisplay);
    EXPECT_FALSE(tap->start());
    EXPECT_FALSE(tap->isRunning());
    EXPECT_EQ(keyboard.opens(), 1) << "no source is opened without trust";
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "KeyTap: not started, Accessibility not granted",
                               "KeyTap: not started, the event tap could not be created"}));
}

TEST_F(KeyTapTest, AnInvisibleHoldKeyIsReportedOncePerChoice) {
    const std::string line = "KeyTap: fn is not visible on this system; choose another hold key";
    tap->setHoldKey(HoldKey::fn);
    // The shell's restart check calls start() every few seconds.
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(tap->start());
    EXPECT_EQ(keyboard.opens(), 0);
    EXPECT_EQ(log.count(line), 1);

    tap->setHoldKey(HoldKey::rightOption);
    ASSERT_TRUE(tap->start());
    // Choosing it again while the tap runs says so again, once.
    tap->setHoldKey(HoldKey::fn);
    tap->setHoldKey(HoldKey::fn);
    EXPECT_EQ(log.count(line), 2);
    tap->stop();
    EXPECT_FALSE(tap->start());
    EXPECT_EQ(log.count(line), 2);
}

TEST_F(KeyTapTest, AHoldReachesTheCallbacksWithTheEventTimes) {
    ASSERT_TRUE(tap->start());
    option(true, 1000);
    world.advance(0.4);
    option(false, 1000.4);
    EXPECT_EQ(waitForEvents(4), (std::vector<std::string>{"down@1000.000", "press@1000.000",
                                                          "up@1000.400", "release@1000.400"}));
}

TEST_F(KeyTapTest, MessagesOfAStoppedSessionAreIgnoredAfterARestart) {
    ASSERT_TRUE(tap->start());
    option(true);
    // Both messages of the press are on the main queue, not yet delivered.
    ASSERT_TRUE(test::pumpUntil([this] { return world.pending() >= 2; }, [] {}));
    tap->stop();
    ASSERT_TRUE(tap->start());
    ASSERT_TRUE(keyboard.waitUntil([this] { return keyboard.liveSources() == 1; }));
    world.runReady();
    EXPECT_TRUE(events.empty());

    option(false);
    option(true);
    EXPECT_EQ(waitForEvents(2), (std::vector<std::string>{"down@1000.000", "press@1000.000"}));
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{"KeyTap: started (rightOption)", "KeyTap: stopped",
                                        "KeyTap: started (rightOption)"}));
}

TEST_F(KeyTapTest, ACallbackThatStopsTheTapCutsItsMessageShort) {
    ASSERT_TRUE(tap->start());
    tap->onPress = [this](double) {
        events.push_back("press");
        tap->stop();
    };
    tap->receive(TapSession::OutputsMessage{{Out{Out::Kind::press, 1}, Out{Out::Kind::release, 2}}},
                 1);
    EXPECT_EQ(events, std::vector<std::string>{"press"});
    EXPECT_FALSE(tap->isRunning());
}

TEST_F(KeyTapTest, HandsFreeNeedsARunningTapAndEndsWithTheKey) {
    tap->setHandsFree(true);
    EXPECT_FALSE(tap->isHandsFree());
    ASSERT_TRUE(tap->start());
    tap->setHandsFree(true);
    EXPECT_TRUE(tap->isHandsFree());
    letTheTapCatchUp();
    option(true);
    EXPECT_EQ(waitForEvents(2), (std::vector<std::string>{"down@1000.000", "stop@1000.000"}));
    EXPECT_FALSE(tap->isHandsFree());
}

TEST_F(KeyTapTest, EscapeIsReportedToItsWatcher) {
    ASSERT_TRUE(tap->start());
    tap->setWatchesEscape(true);
    EXPECT_TRUE(tap->watchesEscape());
    letTheTapCatchUp();
    key(KeyCode::escape);
    EXPECT_EQ(waitForEvents(1), std::vector<std::string>{"escapeWatched@1000.000"});
}

TEST_F(KeyTapTest, CaptureResultsAreLoggedAndEndTheCaptureUnlessRejected) {
    EXPECT_FALSE(tap->beginCapture());
    ASSERT_TRUE(tap->start());
    ASSERT_TRUE(tap->beginCapture());
    letTheTapCatchUp();
    key(1000 + 38); // "a"
    EXPECT_EQ(waitForEvents(1).back(), "capture(rejected typing)");
    EXPECT_TRUE(tap->isCapturing());
    option(true);
    option(false);
    EXPECT_EQ(waitForEvents(2).back(), "capture(accepted rightOption)");
    EXPECT_FALSE(tap->isCapturing());

    ASSERT_TRUE(tap->beginCapture());
    letTheTapCatchUp();
    key(KeyCode::escape);
    EXPECT_EQ(waitForEvents(3).back(), "capture(cancelled)");
    EXPECT_FALSE(tap->isCapturing());

    tap->endCapture(); // not capturing: nothing
    ASSERT_TRUE(tap->beginCapture());
    tap->endCapture();
    tap->receive(TapSession::CaptureMessage{KeyCaptureResult::accepted(HoldKey::f13)}, 1);
    EXPECT_EQ(events.size(), 3u) << "a result after endCapture() is ignored";

    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "KeyTap: no key capture, the tap is not running",
                               "KeyTap: started (rightOption)",
                               "KeyTap: key capture on",
                               "KeyTap: key capture refused a key (typing)",
                               "KeyTap: key capture took rightOption",
                               "KeyTap: key capture on",
                               "KeyTap: key capture cancelled (Esc)",
                               "KeyTap: key capture on",
                               "KeyTap: key capture off",
                           }));
}

TEST_F(KeyTapTest, TrustLostDuringAHoldTearsDownBeforeTheCancel) {
    ASSERT_TRUE(tap->start());
    option(true);
    ASSERT_EQ(waitForEvents(2).size(), 2u);
    bool stoppedFirst = false;
    tap->onCancel = [this, &stoppedFirst](KeyCancelReason reason, double t) {
        stoppedFirst =
            !tap->isRunning() && log.count("KeyTap: Accessibility lost, the tap is removed") == 1;
        events.push_back("cancel(" + std::string(toString(reason)) + ")" + at(t));
    };
    world.advance(0.3);
    keyboard.send(TapEvent::notice(TapEvent::Type::connectionLost));
    EXPECT_EQ(waitForEvents(4),
              (std::vector<std::string>{"down@1000.000", "press@1000.000", "up@1000.300",
                                        "cancel(trustLost)@1000.300"}));
    EXPECT_TRUE(stoppedFirst);
    EXPECT_FALSE(tap->isRunning());
}

TEST_F(KeyTapTest, TheSleepNoticeEndsAHoldUntilTheTapStops) {
    ASSERT_TRUE(tap->start());
    option(true);
    ASSERT_EQ(waitForEvents(2).size(), 2u);
    world.advance(0.2);
    workspace->post(SystemNotification::willSleep);
    EXPECT_EQ(waitForEvents(3).back(), "cancel(watchdog)@1000.200");

    tap->stop();
    workspace->post(SystemNotification::willSleep);
    world.runReady();
    EXPECT_EQ(events.size(), 3u);
}

TEST_F(KeyTapTest, ANewHoldKeyReachesTheRunningSessionWithoutARestart) {
    ASSERT_TRUE(tap->start());
    option(true);
    ASSERT_EQ(waitForEvents(2).size(), 2u);
    tap->setHoldKey(HoldKey::rightOption); // the same key: nothing
    tap->setHoldKey(HoldKey::f13);
    EXPECT_EQ(tap->holdKey(), HoldKey::f13);
    letTheTapCatchUp();
    // The hold that right Option began is still on; the key is now just another modifier.
    option(false);
    EXPECT_EQ(waitForEvents(3).back(), "cancel(otherModifier)@1000.000");
    EXPECT_EQ(keyboard.opens(), 1);
    settle();
    EXPECT_EQ(events.size(), 3u);
}

} // namespace
} // namespace talverin
