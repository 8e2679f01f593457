// labels: tsan
#include "TalverinInput/TapSession.h"

#include "Runtime/VirtualWorld.h"
#include "TapTestSupport.h"
#include "fakes/KeySourceFake.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace talverin {
namespace {

using test::FakeKeyboard;
using test::LogLines;
using OK = HoldMachine::Output::Kind;

constexpr std::int64_t rightOptionCode = 61;
constexpr std::uint64_t rightOptionDown = 0x80040;

std::string timeText(double t) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", t);
    return text;
}

std::string outputText(const HoldMachine::Output& output) {
    static const char* names[] = {"press", "release", "cancel", "doubleTap", "stop", "escape"};
    std::string text = names[static_cast<int>(output.kind)];
    if (output.kind == OK::cancel)
        text += "(" + std::string(toString(output.reason)) + ")";
    return text + "@" + timeText(output.t);
}

std::string outputsText(const std::vector<HoldMachine::Output>& outputs) {
    std::string text;
    for (const auto& output : outputs)
        text += (text.empty() ? "" : ",") + outputText(output);
    return text;
}

// A message as text, so that a failing sequence reads well.
std::string describe(const TapSession::Message& message) {
    if (auto* m = std::get_if<TapSession::HoldKeyMessage>(&message))
        return std::string("holdKey(") + (m->down ? "down" : "up") + ")@" + timeText(m->at);
    if (auto* m = std::get_if<TapSession::OutputsMessage>(&message))
        return outputsText(m->outputs);
    if (auto* m = std::get_if<TapSession::EscapeWatchedMessage>(&message))
        return "escapeWatched@" + timeText(m->t);
    if (auto* m = std::get_if<TapSession::TrustLostMessage>(&message))
        return "trustLost[" + outputsText(m->outputs) + "]";
    const auto& result = std::get<TapSession::CaptureMessage>(message).result;
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

class TapSessionTest : public ::testing::Test {
protected:
    ~TapSessionTest() override {
        if (session) {
            session->cancel();
            EXPECT_TRUE(session->waitUntilEnded(5));
        }
    }

    std::shared_ptr<TapSession> make(HoldKey key = HoldKey::rightOption, double trustPoll = 2.0) {
        session = std::make_shared<TapSession>(
            1, HoldKeySpec::of(key), trustPoll, [this] { return trusted.load(); }, escapeWatch,
            keyboard.makeSource(),
            [this](TapSession::Message message) {
                std::lock_guard lock(mutex);
                messages.push_back(describe(message));
                arrived.notify_all();
            });
        return session;
    }

    bool start(HoldKey key = HoldKey::rightOption, double trustPoll = 2.0) {
        return make(key, trustPoll)->begin().ok();
    }

    std::vector<std::string> received() {
        std::lock_guard lock(mutex);
        return messages;
    }

    // Waits until `count` messages arrived and answers them all.
    std::vector<std::string> waitFor(std::size_t count, double seconds = 5) {
        std::unique_lock lock(mutex);
        arrived.wait_for(lock, std::chrono::duration<double>(seconds),
                         [&] { return messages.size() >= count; });
        return messages;
    }

    // Returns once the tap thread has handled every event sent so far.
    void settle() {
        ASSERT_TRUE(keyboard.waitUntil([this] { return keyboard.pendingEvents() == 0; }));
        // The queued work runs at the start of the loop's next round, after the drain that
        // took the last events has finished.
        std::promise<void> done;
        session->perform([&done](TapSession&) { done.set_value(); });
        ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
    }

    // Returns once the work queued through perform() so far has run.
    void sync() {
        std::promise<void> done;
        session->perform([&done](TapSession&) { done.set_value(); });
        ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
    }

    // Moves the virtual clock on and returns once the tap loop has fired the timers due by
    // then: the first round that runs after the move fires them after its queued work, and the
    // second round's work runs after that.
    void elapse(double seconds) {
        world.advance(seconds);
        sync();
        sync();
    }

    void sendOption(bool down, double at) {
        keyboard.send(FakeKeyboard::event(KeyEventKind::flagsChanged, rightOptionCode,
                                          down ? rightOptionDown : 0, at));
    }

    VirtualWorld world; // uptime 1000
    FakeKeyboard keyboard;
    LogLines log;
    std::shared_ptr<LockedFlag> escapeWatch = std::make_shared<LockedFlag>(false);
    std::atomic<bool> trusted{true};
    std::shared_ptr<TapSession> session;
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::string> messages;
};

TEST_F(TapSessionTest, AHoldReachesTheMachineAndComesBackAsMessages) {
    ASSERT_TRUE(start());
    sendOption(true, 1000);
    world.advance(0.5);
    sendOption(false, 1000.5);
    EXPECT_EQ(waitFor(4), (std::vector<std::string>{"holdKey(down)@1000.000", "press@1000.000",
                                                    "holdKey(up)@1000.500", "release@1000.500"}));
}

TEST_F(TapSessionTest, TheProgramsOwnEventsAreNeverHeard) {
    ASSERT_TRUE(start());
    auto own =
        FakeKeyboard::event(KeyEventKind::flagsChanged, rightOptionCode, rightOptionDown, 1000);
    own.isOwn = true;
    keyboard.send(own);
    settle();
    EXPECT_TRUE(received().empty());
}

TEST_F(TapSessionTest, ACancelBeforeTheHandshakeEndsTheThreadWithoutRunningItsLoop) {
    keyboard.holdOpen();
    EXPECT_FALSE(start());
    EXPECT_EQ(log.count("KeyTap: the tap thread did not answer in 2 s"), 1);

    keyboard.releaseOpen();
    ASSERT_TRUE(session->waitUntilEnded(5));
    EXPECT_EQ(keyboard.opens(), 1);
    EXPECT_EQ(keyboard.closes(), 1) << "installed, then uninstalled";
    EXPECT_EQ(keyboard.waits(), 0) << "the loop never ran";
}

TEST_F(TapSessionTest, WorkAfterCancelIsDropped) {
    ASSERT_TRUE(start());
    std::promise<void> before;
    session->perform([&before](TapSession&) { before.set_value(); });
    ASSERT_EQ(before.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);

    session->cancel();
    std::atomic<bool> ranAfter{false};
    session->perform([&ranAfter](TapSession&) { ranAfter = true; });
    session->setCapturing(TapSession::Capturing::on);
    session->cancel();
    ASSERT_TRUE(session->waitUntilEnded(5));
    EXPECT_FALSE(ranAfter);
    EXPECT_EQ(keyboard.closes(), 1);
}

TEST_F(TapSessionTest, ARefusedSourceEndsTheThreadAtOnce) {
    keyboard.setOpenFailure(KeySourceError::noDisplay);
    const auto started = make()->begin();
    ASSERT_FALSE(started.ok());
    EXPECT_EQ(started.error(), TapSession::StartError::sourceRefused);
    EXPECT_EQ(started.message(), "noDisplay: refused by the test") << "the source's own reason";
    ASSERT_TRUE(session->waitUntilEnded(5));
    EXPECT_EQ(keyboard.closes(), 0);
    std::atomic<bool> ran{false};
    session->perform([&ran](TapSession&) { ran = true; });
    EXPECT_FALSE(ran);
}

struct EscapeCase {
    std::string name;
    bool handsFree;
    bool watch;
    bool holding;
    std::vector<std::string> expected; // after the hold's own messages
};

class TapSessionEscape : public TapSessionTest, public ::testing::WithParamInterface<EscapeCase> {};

TEST_P(TapSessionEscape, EscapeIsWatchedOnlyOutsideHandsFree) {
    const auto& c = GetParam();
    escapeWatch->set(c.watch);
    ASSERT_TRUE(start());
    std::size_t before = 0;
    if (c.holding) {
        sendOption(true, 1000);
        before = 2;
    }
    if (c.handsFree)
        session->setHandsFree(true);
    sync();
    keyboard.send(FakeKeyboard::event(KeyEventKind::keyDown, KeyCode::escape, 0, 1000));
    settle();
    auto all = received();
    ASSERT_GE(all.size(), before);
    EXPECT_EQ(
        std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()),
        c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TapSessionEscape,
    ::testing::Values(EscapeCase{"Watched", false, true, false, {"escapeWatched@1000.000"}},
                      EscapeCase{"NotWatched", false, false, false, {}},
                      EscapeCase{"HandsFree", true, true, false, {"escape@1000.000"}},
                      EscapeCase{"DuringAHoldAlsoCancels",
                                 false,
                                 true,
                                 true,
                                 {"cancel(otherKey)@1000.000", "escapeWatched@1000.000"}}),
    [](const auto& info) { return info.param.name; });

TEST_F(TapSessionTest, AKeyUpLostWhileDisabledIsRecoveredByTheProbe) {
    ASSERT_TRUE(start());
    keyboard.setKeyDown(rightOptionCode, true);
    sendOption(true, 1000);
    ASSERT_EQ(waitFor(2).size(), 2u);

    // The source goes off; it is re-enabled at once and the probe reads the key again.
    const int probes = keyboard.probes();
    keyboard.send(TapEvent::notice(TapEvent::Type::disabledByTimeout));
    ASSERT_TRUE(keyboard.waitUntil([this] { return keyboard.enables() == 1; }));
    ASSERT_TRUE(keyboard.waitUntil([&] { return keyboard.probes() > probes; }));

    // The key-up passes unheard. The release is dated at the first up reading, the key-up
    // itself at the second one.
    keyboard.setKeyDown(rightOptionCode, false);
    elapse(HoldMachine::probeInterval);
    elapse(HoldMachine::probeInterval);

    EXPECT_EQ(waitFor(4), (std::vector<std::string>{"holdKey(down)@1000.000", "press@1000.000",
                                                    "holdKey(up)@1000.200", "release@1000.100"}));
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{
                  "KeyTap: re-enabled after a timeout (1)",
                  "KeyTap: a missed key-up was recovered by the key-state probe (1)"}));
}

TEST_F(TapSessionTest, ReenablesAreLoggedFiveTimesThenEveryFiftieth) {
    ASSERT_TRUE(start());
    for (int i = 0; i < 100; ++i)
        keyboard.send(TapEvent::notice(i % 2 == 0 ? TapEvent::Type::disabledByUserInput
                                                  : TapEvent::Type::disabledByTimeout));
    settle();
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "KeyTap: re-enabled after user input (1)",
                               "KeyTap: re-enabled after a timeout (2)",
                               "KeyTap: re-enabled after user input (3)",
                               "KeyTap: re-enabled after a timeout (4)",
                               "KeyTap: re-enabled after user input (5)",
                               "KeyTap: re-enabled after a timeout (50)",
                               "KeyTap: re-enabled after a timeout (100)",
                           }));
    EXPECT_EQ(keyboard.enables(), 100);
}

enum class Loss { trustCheck, disabledUntrusted, connection };

struct LossCase {
    std::string name;
    Loss loss;
    bool holding;
    std::vector<std::string> expected;
};

class TapSessionTrustLoss : public TapSessionTest,
                            public ::testing::WithParamInterface<LossCase> {};

TEST_P(TapSessionTrustLoss, EndsTheSessionAndCancelsOnlyARunningHold) {
    const auto& c = GetParam();
    ASSERT_TRUE(start(HoldKey::rightOption, 0.05));
    std::vector<std::string> expected;
    if (c.holding) {
        keyboard.setKeyDown(rightOptionCode, true);
        sendOption(true, 1000);
        ASSERT_EQ(waitFor(2).size(), 2u);
        expected = {"holdKey(down)@1000.000", "press@1000.000"};
    }
    // The trust check first runs once the clock has moved.
    if (c.loss == Loss::trustCheck)
        trusted = false;
    world.advance(0.25);
    switch (c.loss) {
    case Loss::trustCheck:
        break;
    case Loss::disabledUntrusted:
        trusted = false;
        keyboard.send(TapEvent::notice(TapEvent::Type::disabledByUserInput));
        break;
    case Loss::connection:
        keyboard.send(TapEvent::notice(TapEvent::Type::connectionLost));
        break;
    }
    ASSERT_TRUE(session->waitUntilEnded(5));
    expected.insert(expected.end(), c.expected.begin(), c.expected.end());
    EXPECT_EQ(received(), expected);
    EXPECT_EQ(keyboard.closes(), 1);
    EXPECT_EQ(keyboard.enables(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TapSessionTrustLoss,
    ::testing::Values(LossCase{"IdleByTheTrustCheck", Loss::trustCheck, false, {"trustLost[]"}},
                      LossCase{"HoldByTheTrustCheck",
                               Loss::trustCheck,
                               true,
                               {"holdKey(up)@1000.250", "trustLost[cancel(trustLost)@1000.250]"}},
                      LossCase{
                          "IdleWhenReenabling", Loss::disabledUntrusted, false, {"trustLost[]"}},
                      LossCase{"HoldWhenReenabling",
                               Loss::disabledUntrusted,
                               true,
                               {"holdKey(up)@1000.250", "trustLost[cancel(trustLost)@1000.250]"}},
                      LossCase{"IdleConnectionLost", Loss::connection, false, {"trustLost[]"}},
                      LossCase{"HoldConnectionLost",
                               Loss::connection,
                               true,
                               {"holdKey(up)@1000.250", "trustLost[cancel(trustLost)@1000.250]"}}),
    [](const auto& info) { return info.param.name; });

TEST_F(TapSessionTest, CaptureTakesKeyEventsButTheSleepNoticeStillReachesTheMachine) {
    ASSERT_TRUE(start());
    keyboard.setKeyDown(rightOptionCode, true);
    sendOption(true, 1000);
    ASSERT_EQ(waitFor(2).size(), 2u);

    session->setCapturing(TapSession::Capturing::on);
    sync();
    // The old hold key goes up and down again: capture hears it, the machine does not.
    sendOption(false, 1000);
    sendOption(true, 1000);
    keyboard.send(FakeKeyboard::event(KeyEventKind::keyDown, 1000 + 38, 0, 1000));
    settle();
    session->systemWillSleep(1000.2);
    EXPECT_EQ(waitFor(4),
              (std::vector<std::string>{"holdKey(down)@1000.000", "press@1000.000",
                                        "capture(rejected combo)", "cancel(watchdog)@1000.200"}));
    EXPECT_EQ(log.count("KeyTap: the hold was ended by the watchdog or a system sleep"), 1);
}

TEST_F(TapSessionTest, CaptureLeavesByItselfAfterAnAcceptedKeyButNotAfterARejection) {
    ASSERT_TRUE(start());
    session->setCapturing(TapSession::Capturing::on);
    sync();
    keyboard.send(FakeKeyboard::event(KeyEventKind::keyDown, 1000 + 38, 0, 1000)); // "a"
    sendOption(true, 1000);
    sendOption(false, 1000);
    // Capture is over: the hold key drives the machine again.
    sendOption(true, 1000);
    EXPECT_EQ(waitFor(4),
              (std::vector<std::string>{"capture(rejected typing)", "capture(accepted rightOption)",
                                        "holdKey(down)@1000.000", "press@1000.000"}));
}

TEST_F(TapSessionTest, AHoldThatTheProbeNeverSeesLogsTheBlindProbeOncePerSession) {
    ASSERT_TRUE(start());
    // The probe reads the key as up throughout; key events alone end each hold.
    for (int hold = 0; hold < 2; ++hold) {
        const double at = 1000 + hold * 10;
        sendOption(true, at);
        settle();
        elapse(HoldMachine::probeInterval);
        elapse(HoldMachine::probeInterval);
        ASSERT_GE(keyboard.probes(), 2 * (hold + 1));
        world.runUntil(at + 1.5);
        sendOption(false, at + 1.5);
        ASSERT_EQ(waitFor(4 * (hold + 1)).size(), 4u * (hold + 1));
        world.runUntil(at + 10);
    }
    EXPECT_EQ(received()[3], "release@1001.500");
    EXPECT_EQ(log.count("KeyTap: the key-state probe never saw the key down (missed key-ups end "
                        "only at the watchdog)"),
              1);
}

TEST_F(TapSessionTest, TheProbeRunsOnlyWhileTheKeyIsDownAndEndsAHoldAtTheWatchdog) {
    ASSERT_TRUE(start());
    elapse(1.0);
    EXPECT_EQ(keyboard.probes(), 0) << "parked while the key is up";

    keyboard.setKeyDown(rightOptionCode, true);
    sendOption(true, 1001);
    settle();
    elapse(HoldMachine::probeInterval);
    EXPECT_GE(keyboard.probes(), 1);
    world.advance(HoldMachine::watchdog);
    EXPECT_EQ(waitFor(3), (std::vector<std::string>{"holdKey(down)@1001.000", "press@1001.000",
                                                    "cancel(watchdog)@1601.100"}));
    EXPECT_EQ(log.count("KeyTap: the hold was ended by the watchdog or a system sleep"), 1);
}

TEST_F(TapSessionTest, ANewHoldKeyTakesEffectWithoutResettingTheHold) {
    ASSERT_TRUE(start());
    sendOption(true, 1000);
    ASSERT_EQ(waitFor(2).size(), 2u);
    session->setHoldKey(HoldKey::f13);
    sync();
    // Right Option is now just another modifier, and the hold it began is still pressed.
    sendOption(false, 1000);
    EXPECT_EQ(waitFor(3).back(), "cancel(otherModifier)@1000.000");
}

// How one tap event is read for the hold machine and for capture.
TEST(TapSessionReading, EventsForTheMachineAndForCapture) {
    const auto spec = HoldKeySpec::of(HoldKey::f13);
    const double now = 2000;
    auto f13 = FakeKeyboard::event(KeyEventKind::keyDown, 105, 0, 1999.5);
    EXPECT_EQ(TapSession::input(f13, spec, now),
              (HoldMachine::Input{HoldMachine::Input::Kind::keyDown, 1999.5}));

    auto repeat = f13;
    repeat.isRepeat = true;
    EXPECT_EQ(TapSession::input(repeat, spec, now), std::nullopt);
    EXPECT_EQ(TapSession::captureEvent(repeat), KeyCapture::Event::keyDown(105, 0, true));

    auto stampedNow = f13;
    stampedNow.serverTime = 0; // the server's "current time"
    EXPECT_EQ(TapSession::input(stampedNow, spec, now)->t, now);
    auto future = FakeKeyboard::event(KeyEventKind::keyDown, 105, 0, now + 0.5);
    EXPECT_EQ(TapSession::input(future, spec, now)->t, now) << "never dated in the future";

    auto own = f13;
    own.isOwn = true;
    EXPECT_EQ(TapSession::input(own, spec, now), std::nullopt);
    EXPECT_EQ(TapSession::captureEvent(own), std::nullopt);

    TapEvent media;
    media.isMediaKeyDown = true;
    EXPECT_EQ(TapSession::captureEvent(media), KeyCapture::Event::mediaKey());
    media.isMediaKeyDown = false;
    EXPECT_EQ(TapSession::captureEvent(media), std::nullopt) << "a media key's release";
    EXPECT_EQ(TapSession::captureEvent(TapEvent::notice(TapEvent::Type::disabledByTimeout)),
              std::nullopt);
}

} // namespace
} // namespace talverin
