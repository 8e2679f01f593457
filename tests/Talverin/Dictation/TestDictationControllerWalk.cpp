#include "Talverin/Dictation/DictationController.h"

#include "DictationRig.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace talverin::test {
namespace {

using Kind = DictationPhase::Kind;

// The microphone as the controller sees it, checking the two rules of the stop chain on every
// call: no end while another is in flight, and no capture while a requested stop has not run.
class CheckingMic final : public MicCapturing {
public:
    CheckingMic(std::shared_ptr<MicCapturingFake> inner, const DictationController* const* owner)
        : m_inner(std::move(inner)), m_owner(owner) {}

    std::optional<std::string> deviceID() const override { return m_inner->deviceID(); }
    void setDeviceID(std::optional<std::string> id) override { m_inner->setDeviceID(id); }
    void setOnBuffer(BufferCallback onBuffer) override { m_inner->setOnBuffer(onBuffer); }
    std::optional<std::string> deviceName() const override { return m_inner->deviceName(); }
    Result<void, MicError> prewarm() override { return m_inner->prewarm(); }
    Result<void, MicError> begin() override {
        if (*m_owner && (*m_owner)->isStoppingMic())
            ADD_FAILURE() << "the microphone began while a requested stop had not run";
        if (*m_ending > 0)
            ADD_FAILURE() << "the microphone began while an end was in flight";
        return m_inner->begin();
    }
    Future<CapturedClip> end(int postRollMs) override {
        if (*m_ending > 0)
            ADD_FAILURE() << "two microphone ends in flight";
        ++*m_ending;
        Future<CapturedClip> clip = m_inner->end(postRollMs);
        clip.then([ending = m_ending](const CapturedClip&) { --*ending; });
        return clip;
    }
    void beginLevelCheck(ReadingCallback onReading) override {
        m_inner->beginLevelCheck(onReading);
    }
    void endLevelCheck() override { m_inner->endLevelCheck(); }

    int endsInFlight() const { return *m_ending; }

private:
    std::shared_ptr<MicCapturingFake> m_inner;
    const DictationController* const* m_owner;
    std::shared_ptr<int> m_ending = std::make_shared<int>(0);
};

struct Walk {
    const DictationController* controller = nullptr;
    std::shared_ptr<CheckingMic> mic;
    bool secureInput = false;
    std::unique_ptr<DictationRig> rig;
    std::mt19937 random;

    // Counted as they happen: checking the whole history after every dispatch would make the
    // walk quadratic.
    std::size_t sessions = 0; // the controller asks for secure input once per session begun
    bool lastBusy = false;
    std::set<std::size_t> activatedSessions;
    std::size_t completions = 0;
    std::size_t cancellations = 0;
    std::size_t mutes = 0;
    std::size_t micFailures = 0;

    explicit Walk(unsigned seed) : random(seed) {
        rig = std::make_unique<DictationRig>([this](Services& services) {
            mic = std::make_shared<CheckingMic>(
                std::static_pointer_cast<MicCapturingFake>(services.mic), &controller);
            services.mic = mic;
            services.secureInput = [this] {
                ++sessions;
                return secureInput;
            };
        });
        controller = rig->controller.get();
        rig->controller->onBusy = [this](bool busy) {
            EXPECT_NE(busy, lastBusy) << "onBusy must alternate between true and false";
            lastBusy = busy;
        };
        rig->controller->onActive = [this](bool active) {
            if (active)
                EXPECT_TRUE(activatedSessions.insert(sessions).second)
                    << "a second onActive(true) for session " << sessions;
        };
        CoreLog::setSink([this](const std::string& line) {
            auto starts = [&line](const char* prefix) { return line.rfind(prefix, 0) == 0; };
            // Only a completion's line carries the clip.
            completions += starts("Dictation: ") && line.find(", clip ") != std::string::npos;
            cancellations += starts("Dictation: cancelled (");
            mutes += starts("Dictation: secure field at key-down: muted");
            micFailures += starts("Dictation: the mic did not start");
        });
    }

    int uniform(int from, int to) { return std::uniform_int_distribution<int>(from, to)(random); }
    double uniform(double from, double to) {
        return std::uniform_real_distribution<double>(from, to)(random);
    }
    bool chance(double p) { return uniform(0.0, 1.0) < p; }

    // Every way a session can end, each logged once: a completion, a cancellation, a mute or a
    // microphone that did not start.
    std::size_t endings() const { return completions + cancellations + mutes + micFailures; }

    void check() {
        ASSERT_LE(endings(), sessions) << "a session ended twice";
        ASSERT_LE(mic->endsInFlight(), 1);
        ASSERT_EQ(controller->hasSession(), controller->phase().kind != Kind::idle);
        ASSERT_EQ(controller->hasSession(), lastBusy);
    }

    // Runs the world to `until`, one dispatch at a time, checking after each.
    void advanceTo(double until) {
        while (auto due = rig->world.nextDue()) {
            if (*due > until)
                break;
            rig->world.stepNext();
            check();
            if (::testing::Test::HasFatalFailure())
                return;
        }
        rig->world.runUntil(until);
    }

    void act() {
        auto& r = *rig;
        switch (uniform(0, 17)) {
        case 0:
        case 1:
        case 2:
            r.keyTap->sendPress();
            break;
        case 3:
        case 4:
            r.keyTap->sendRelease();
            break;
        case 5: { // a quick tap
            r.keyTap->sendPress();
            double t = Clock::uptime() + uniform(0.02, 0.3);
            r.at(t, [&r] { r.keyTap->sendRelease(); });
            break;
        }
        case 6:
            r.keyTap->sendDoubleTap();
            break;
        case 7: {
            static const KeyCancelReason reasons[] = {
                KeyCancelReason::otherKey, KeyCancelReason::click, KeyCancelReason::otherModifier,
                KeyCancelReason::trustLost, KeyCancelReason::watchdog};
            r.keyTap->sendCancel(reasons[uniform(0, 4)]);
            break;
        }
        case 8:
            if (!r.keyTap->sendStop())
                r.keyTap->sendEscape();
            break;
        case 9:
            if (chance(0.5))
                r.keyTap->sendEscape();
            else
                r.pill->pressStop();
            break;
        case 10:
            r.dictation().clickedPill();
            break;
        case 11: {
            static const SuspendReason reasons[] = {
                SuspendReason::sleep, SuspendReason::userSwitched, SuspendReason::screenLocked};
            r.dictation().systemWillSuspend(reasons[uniform(0, 2)]);
            break;
        }
        case 12:
            r.liveDraft->sendPartial("words " + std::to_string(uniform(0, 99)));
            for (int k = 0; k < 5; ++k)
                r.mic->deliverAfter(0.01 * k, DictationRig::block(Clock::uptime() + 0.01 * k));
            break;
        case 13: // how the next microphone stop answers
            r.mic->endAnswers.push(
                CapturedClip(std::vector<float>(160, 0.1f), chance(0.5), uniform(0, 3000)),
                uniform(0.0, 0.4));
            break;
        case 14: { // what the next context read finds, and when
            DictationContext context;
            context.isSecure = chance(0.3);
            if (chance(0.2))
                context.selection = "some words";
            r.reader->answers.push(context, uniform(0.0, 0.5));
            break;
        }
        case 15:
            if (chance(0.3))
                r.mic->beginAnswers.push_back(fail(MicError::engine("busy")));
            secureInput = chance(0.2);
            break;
        case 16:
            r.popoverOpen = chance(0.3);
            r.targetIsReady = chance(0.6);
            break;
        case 17:
            if (r.pill->isDragging())
                r.pill->dropOn(PillSpot::bottomCenter);
            else if (chance(0.3))
                r.pill->beginDrag();
            break;
        }
    }
};

class ControllerWalk : public ::testing::TestWithParam<unsigned> {};

TEST_P(ControllerWalk, KeepsItsInvariantsThroughAnyOrderOfEvents) {
    Walk walk(GetParam());
    auto& rig = *walk.rig;
    for (int step = 0; step < 4000; ++step) {
        walk.act();
        walk.advanceTo(Clock::uptime() + walk.uniform(0.0, 0.6));
        if (HasFatalFailure())
            return;
    }
    // Quiesce: whatever still listens is dropped, and everything scheduled runs out.
    if (rig.pill->isDragging())
        rig.pill->dropOn(PillSpot::bottomCenter);
    rig.at(Clock::uptime(), [&rig] { rig.dictation().systemWillSuspend(SuspendReason::sleep); });
    walk.advanceTo(Clock::uptime() + 0.001);
    rig.keyTap->sendRelease();
    rig.world.runUntilIdle();
    walk.check();

    EXPECT_EQ(rig.phase(), Kind::idle);
    EXPECT_FALSE(rig.dictation().hasSession());
    EXPECT_FALSE(rig.dictation().isStoppingMic());
    EXPECT_FALSE(rig.mic->isCapturing());
    EXPECT_FALSE(rig.keyTap->handsFree());
    EXPECT_FALSE(rig.ducker->isDucked());
    EXPECT_EQ(rig.pill->current(), PillState::hidden());
    EXPECT_EQ(walk.endings(), walk.sessions) << "every session ends exactly once";
    // The walk must reach the paths it is meant to exercise.
    EXPECT_GT(walk.sessions, 50u);
    EXPECT_GT(walk.completions, 5u);
    EXPECT_GT(walk.cancellations, 5u);
    EXPECT_GT(walk.mutes, 0u);
    EXPECT_GT(walk.micFailures, 0u);
}

INSTANTIATE_TEST_SUITE_P(Seeds, ControllerWalk, ::testing::Values(1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u));

} // namespace
} // namespace talverin::test
