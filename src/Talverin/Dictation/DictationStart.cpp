// How a dictation opens and keeps the pill current: the session, the microphone, the context
// read, the first pill and the live words and levels.

#include "Talverin/Dictation/DictationController.h"

#include "Runtime/MainQueue.h"
#include "TalverinCore/CoreLog.h"
#include "TalverinCore/WordCount.h"

#include <algorithm>

namespace talverin {

void DictationController::begin(double t) {
    Settings snapshot = settings();
    auto s = std::make_shared<Session>(++m_nextID, t, std::move(snapshot));
    setPhase({Phase::Kind::holding, s});
    s->popoverOpen = popoverShown();
    s->blind = m_services->secureInput();

    m_services->liveDraft->start(s->settings.languages, s->settings.words);
    if (m_services->dictate->isConfigured()) {
        m_services->dictate->warmUp();
        s->encoder = m_services->makeEncoder();
    }
    m_router->begin(s->id, s->encoder);

    // A capture may only open once the last requested stop has run, or that stop would end it.
    if (m_micEnding)
        spawn(startMic(s, *m_micEnding));
    else
        beginMic(s);
    if (!isCurrent(s))
        return; // the microphone did not start

    double delay = m_timing.showDelay;
    bool cautious = false;
    if (s->popoverOpen) {
        // The context is read only after the popover has closed and the target is back.
        delay = m_timing.cautiousShowDelay;
        cautious = true;
    } else {
        if (!s->contextStarted) {
            s->contextStarted = true;
            readContext(s);
        }
        if (s->blind) {
            delay = m_timing.cautiousShowDelay;
            cautious = true;
        }
    }
    // The delay counts from the key event, so a press handled late shows its pill sooner.
    after(delay - (Clock::uptime() - t), [this, s, cautious] {
        if (isCurrent(s) && !s->pillShown && (!cautious || m_phase.kind != Phase::Kind::tapWait))
            showFirstPill(s);
    });
}

Task<void> DictationController::startMic(SessionRef s, Future<Done> previousStop) {
    co_await previousStop;
    if (isCurrent(s))
        beginMic(s);
}

void DictationController::beginMic(SessionRef s) {
    Result<void, MicError> started = m_services->mic->begin();
    if (started.ok())
        return;
    // Nothing was opened, so there is nothing to stop.
    MicError error = started.error();
    CoreLog::write("Dictation: the mic did not start (" + error.description() + ")");
    if (s->handsFree)
        m_services->keyTap->setHandsFree(false);
    teardown(s);
    setPhase(Phase::idle());
    onActive(false);
    m_services->pill->setMicrophoneName(m_services->mic->deviceName());
    showResult(PillState::silence(), std::nullopt);
    onMicFailed(error);
}

void DictationController::showFirstPill(SessionRef s) {
    commit(s);
    s->pillShown = true;
    s->pillAt = Clock::uptime();
    onActive(true);
    if (s->settings.duckMusic && !s->ducked) {
        s->ducked = true;
        m_services->ducker->duck();
    }
    if (s->settings.sounds)
        m_services->sounds->play(SoundTick::start);
    updatePill(s, m_pill.screenOf(s->context));
}

// Runs once per session, at its first pill or when its completion begins, while the target
// still has the focus: the inserter takes its clipboard snapshot here.
void DictationController::commit(SessionRef s) {
    if (s->committed)
        return;
    s->committed = true;
    m_services->inserter->prepare();
    if (!s->popoverOpen)
        return;
    closePopover();
    waitForTarget(s, Clock::uptime(), [this, s] {
        if (m_phase.holds(s) && !s->cancelled && !s->contextStarted) {
            s->contextStarted = true;
            readContext(s);
        }
    });
}

// Checks at once, then every poll period, until the target is frontmost or the wait is over.
void DictationController::waitForTarget(SessionRef s, double start, std::function<void()> then) {
    if (targetReady() || Clock::uptime() >= start + m_timing.activationMax) {
        then();
        return;
    }
    after(m_timing.activationPoll, [this, s, start, then = std::move(then)]() mutable {
        waitForTarget(s, start, std::move(then));
    });
}

// The read blocks its worker for as long as the focused application takes to answer; only the
// session's number travels with it, and the answer finds its session again on the main thread.
void DictationController::readContext(SessionRef s) {
    WorkerPool::async([reader = m_services->context, timeoutMs = m_timing.contextTimeoutMs,
                       alive = m_alive.token(), this, session = s->id] {
        double started = Clock::uptime();
        DictationContext context = reader->read(timeoutMs);
        double took = Clock::uptime() - started;
        MainQueue::post([alive, this, context = std::move(context), session, took] {
            if (alive)
                contextArrived(context, session, took);
        });
    });
}

void DictationController::contextArrived(const DictationContext& context, int session,
                                         double took) {
    if (m_phase.kind == Phase::Kind::idle || m_phase.session->id != session)
        return;
    SessionRef s = m_phase.session;
    // A late read is still timed, for the dictation's log line.
    s->contextMs = wholeMs(took);
    s->setContext(context);

    if (context.isSecure && isCurrent(s)) {
        switch (m_phase.kind) {
        case Phase::Kind::tapWait:
            drop(s, DropReason::secureFieldAtTap, std::nullopt);
            return;
        case Phase::Kind::handsFree:
            drop(s, DropReason::secureField, PillState::refused(RefuseReason::secureField));
            return;
        case Phase::Kind::holding:
            if (s->pillShown) {
                drop(s, DropReason::secureField, PillState::refused(RefuseReason::secureField));
            } else {
                // Nothing was shown yet: stay silent, but keep the microphone so that the
                // release, a cancel or a suspend ends the hold quietly.
                s->secure = true;
                teardown(s);
                CoreLog::write("Dictation: secure field at key-down: muted");
            }
            return;
        default:
            return;
        }
    }
    // A secure field found while finishing is the completion's to handle.
    if (s->pillShown && m_phase.kind != Phase::Kind::finishing)
        updatePill(s, m_pill.screenOf(context));
}

void DictationController::updatePill(SessionRef s, std::optional<Rect> frame) {
    if (!isCurrent(s) || !s->pillShown)
        return;
    PillState state;
    if (s->handsFree) {
        double since = s->handsFreeStart.value_or(s->t0);
        state = PillState::handsFree(Clock::uptime() - since, m_services->liveTail(s->liveText));
    } else if (s->isVoiceEdit()) {
        state = PillState::voiceEdit(std::max(1, WordCount::of(s->context->selection)));
    } else {
        state = PillState::listening(m_services->liveTail(s->liveText), s->level);
    }
    m_pill.show(state, frame);
}

void DictationController::livePartial(const std::string& text) {
    if (!m_phase.isLive())
        return;
    SessionRef s = m_phase.session;
    s->liveText = text;
    if (s->pillShown)
        updatePill(s, std::nullopt);
}

void DictationController::level(float value, int session) {
    if (!m_phase.isLive() || m_phase.session->id != session)
        return;
    SessionRef s = m_phase.session;
    s->level = value;
    // The hands-free pill is refreshed by its tick, and the voice-edit pill shows no level.
    if (s->pillShown && !s->handsFree && !s->isVoiceEdit())
        updatePill(s, std::nullopt);
}

} // namespace talverin
