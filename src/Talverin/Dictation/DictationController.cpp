#include "Talverin/Dictation/DictationController.h"

#include "Runtime/MainQueue.h"
#include "Talverin/Dictation/LiveCallbacks.h"
#include "Talverin/Dictation/QuietRefusal.h"
#include "TalverinCore/CoreLog.h"

#include <algorithm>
#include <cassert>

namespace talverin {

DictationController::DictationController(std::shared_ptr<Services> services)
    : m_services(std::move(services)), m_timing(m_services->timing),
      m_router(std::make_shared<BufferRouter>(m_services->liveDraft, m_timing.levelInterval)),
      m_pill(m_services->pill, m_services->screenFrame, m_timing),
      m_completion(m_services, *this, m_pill, m_timing) {
    assert(m_services->keyTap && m_services->mic && m_services->liveDraft && m_services->context &&
           m_services->inserter && m_services->dictate && m_services->pill && m_services->sounds &&
           m_services->ducker && m_services->permissions && m_services->languageRecognizer);
    m_completion.commit = [this](SessionRef s) { commit(std::move(s)); };
    m_completion.onEnded = [this](SessionRef s) { ended(std::move(s)); };
}

DictationController::~DictationController() {
    // Blocks still queued find the controller gone; the flows die where they wait.
    m_alive.end();
    m_tasks.clear();
}

void DictationController::start() {
    auto& keyTap = *m_services->keyTap;
    keyTap.onPress = whileAlive(m_alive, [this](double t) { pressed(t); });
    keyTap.onRelease = whileAlive(m_alive, [this](double t) { released(t); });
    keyTap.onCancel =
        whileAlive(m_alive, [this](KeyCancelReason reason, double t) { cancelled(reason, t); });
    keyTap.onDoubleTap = whileAlive(m_alive, [this](double) { doubleTapped(); });
    keyTap.onStop = whileAlive(m_alive, [this](double) { stopHandsFree(HandsFreeStop::key); });
    keyTap.onEscape = whileAlive(m_alive, [this](double) {
        if (m_phase.kind == Phase::Kind::handsFree)
            drop(m_phase.session, DropReason::escape, std::nullopt);
    });
    m_services->pill->onStop =
        whileAlive(m_alive, [this] { stopHandsFree(HandsFreeStop::button); });
    m_services->liveDraft->onPartial =
        whileAlive(m_alive, [this](const std::string& text) { livePartial(text); });
    m_router->setOnLevel(
        whileAlive(m_alive, [this](int session, float value) { level(value, session); }));
    // The microphone's handler holds the router, not the controller: blocks may still come on
    // the audio queue while the controller goes away.
    m_services->mic->setOnBuffer(
        [router = m_router](const MicBuffer& buffer) { router->handle(buffer); });
}

// --- Key events ---

void DictationController::pressed(double time) {
    switch (m_phase.kind) {
    case Phase::Kind::idle:
        if (m_services->pill->isDragging()) {
            CoreLog::write("Dictation: press ignored (the pill is being dragged)");
            return;
        }
        if (keyTestShowing()) {
            CoreLog::write("Dictation: press ignored (the onboarding's key test)");
            return;
        }
        break;
    case Phase::Kind::holding:
    case Phase::Kind::handsFree:
        // A press during hands-free arrives as the key tap's stop instead.
        return;
    case Phase::Kind::tapWait:
        drop(m_phase.session, DropReason::tap, std::nullopt);
        break;
    case Phase::Kind::finishing: {
        SessionRef s = m_phase.session;
        if (!s->isTap || s->decided) {
            CoreLog::write("Dictation: press ignored (the previous one is still finishing)");
            return;
        }
        // A tap whose clip has not come yet gives way to the new press; its completion finds
        // it torn down and ends without a word.
        teardown(s);
        if (s->pillShown) {
            m_pill.hide();
            onActive(false);
        }
        logCancelled(DropReason::tapSuperseded, *s);
        break;
    }
    }
    m_services->pill->setHolding(true);
    begin(time);
}

void DictationController::released(double time) {
    m_services->pill->setHolding(false);
    if (m_phase.kind != Phase::Kind::holding)
        return;
    SessionRef s = m_phase.session;
    if (s->secure) {
        endMutedHold(s, time);
        return;
    }
    if (time - s->t0 < m_timing.tapMax) {
        setPhase({Phase::Kind::tapWait, s});
        // The wait counts from the release event, so a release handled late waits less.
        double wait = m_timing.doubleTapWindow + m_timing.doubleTapSlack - (Clock::uptime() - time);
        after(wait, [this, s] {
            if (m_phase.kind == Phase::Kind::tapWait && m_phase.session == s)
                finish(s, SessionEnd::tap);
        });
        return;
    }
    finish(s, SessionEnd::listened);
}

void DictationController::cancelled(KeyCancelReason reason, double) {
    m_services->pill->setHolding(false);
    SessionRef s = m_phase.session;
    switch (m_phase.kind) {
    case Phase::Kind::handsFree:
        // Only losing the permission ends a hands-free dictation; the key is not held, so the
        // other reasons say nothing about it.
        if (reason == KeyCancelReason::trustLost)
            drop(s, reason, std::nullopt);
        return;
    case Phase::Kind::tapWait:
        drop(s, reason, std::nullopt);
        return;
    case Phase::Kind::holding:
        if (s->secure)
            endMutedHold(s, std::nullopt);
        else
            drop(s, reason, std::nullopt);
        return;
    case Phase::Kind::finishing:
    case Phase::Kind::idle:
        return;
    }
}

void DictationController::doubleTapped() {
    if (m_phase.kind == Phase::Kind::tapWait) {
        SessionRef s = m_phase.session;
        setPhase({Phase::Kind::handsFree, s});
        enterHandsFree(s);
    } else if (m_phase.kind == Phase::Kind::idle) {
        CoreLog::write("Dictation: double tap ignored (its tap was not taken)");
    }
}

void DictationController::clickedPill() {
    if (m_phase.kind != Phase::Kind::idle) {
        CoreLog::write("Dictation: pill click ignored (" + std::string(toString(m_phase.kind)) +
                       ")");
        return;
    }
    begin(Clock::uptime());
    // The microphone may have failed to start.
    if (m_phase.kind != Phase::Kind::holding)
        return;
    CoreLog::write("Dictation: pill clicked");
    SessionRef s = m_phase.session;
    setPhase({Phase::Kind::handsFree, s});
    enterHandsFree(s);
}

void DictationController::systemWillSuspend(SuspendReason reason) {
    if (!m_phase.isLive())
        return; // a dictation that is completing goes on
    SessionRef s = m_phase.session;
    if (m_phase.kind == Phase::Kind::holding && s->secure)
        endMutedHold(s, std::nullopt);
    else
        drop(s, reason, std::nullopt);
}

// --- Hands-free ---

void DictationController::enterHandsFree(SessionRef s) {
    s->handsFree = true;
    s->handsFreeStart = Clock::uptime();
    m_services->keyTap->setHandsFree(true);
    CoreLog::write("Dictation: hands-free");
    if (s->pillShown)
        updatePill(s, std::nullopt);
    else
        showFirstPill(s);
    scheduleHandsFreeTick(s);
}

void DictationController::scheduleHandsFreeTick(SessionRef s) {
    after(m_timing.handsFreeTick, [this, s] {
        if (m_phase.kind != Phase::Kind::handsFree || m_phase.session != s)
            return;
        // The limit counts from the press, not from the start of hands-free.
        if (Clock::uptime() - s->t0 >= m_timing.handsFreeMax) {
            stopHandsFree(HandsFreeStop::limit);
            return;
        }
        updatePill(s, std::nullopt);
        scheduleHandsFreeTick(s);
    });
}

void DictationController::stopHandsFree(HandsFreeStop by) {
    if (m_phase.kind != Phase::Kind::handsFree)
        return;
    SessionRef s = m_phase.session;
    m_services->keyTap->setHandsFree(false);
    double since = s->handsFreeStart.value_or(s->t0);
    CoreLog::write("Dictation: hands-free stopped (" + std::string(toString(by)) + ") after " +
                   std::to_string(wholeMs(Clock::uptime() - since)) + " ms");
    finish(s, SessionEnd::listened);
}

// --- The muted secure hold ---

// A hold muted by a secure field ends quietly: no cancellation line, and a refusal pill only
// when the user plainly spoke into the password field.
void DictationController::endMutedHold(SessionRef s, std::optional<double> releasedAt) {
    setPhase(Phase::idle());
    Future<CapturedClip> clip = endMic(0);
    if (!releasedAt)
        return; // a cancel or a suspend: nothing to say
    double held = *releasedAt - s->t0;
    spawn(reportMutedRelease(held, m_nextID, clip, m_pill.screenOf(s->context)));
}

Task<void> DictationController::reportMutedRelease(double held, int sessionsBefore,
                                                   Future<CapturedClip> clip,
                                                   std::optional<Rect> frame) {
    CapturedClip captured = co_await clip;
    bool spoke = held >= m_timing.tapMax && captured.speechDetected();
    // A dictation begun since then has the pill now, even when it has already ended.
    if (spoke && m_phase.kind == Phase::Kind::idle && m_nextID == sessionsBefore)
        showResult(PillState::refused(RefuseReason::secureField), frame);
    std::string line = "Dictation: refused (" + std::string(toString(RefuseReason::secureField)) +
                       ") after " + std::to_string(wholeMs(held)) + " ms";
    if (!spoke) {
        const QuietRefusal why =
            held < m_timing.tapMax ? QuietRefusal::tap : QuietRefusal::noSpeech;
        line += ", quietly (" + std::string(toString(why)) + ")";
    }
    CoreLog::write(line);
}

// --- Ending a session early ---

void DictationController::drop(SessionRef s, CancelCause cause, std::optional<PillState> showing) {
    if (!m_phase.isLive() || m_phase.session != s || s->cancelled)
        return;
    m_services->pill->setHolding(false);
    if (s->handsFree)
        m_services->keyTap->setHandsFree(false);
    teardown(s);
    (void)endMic(0);
    setPhase(Phase::idle());
    onActive(false);
    if (showing)
        showResult(*showing, m_pill.screenOf(s->context));
    else if (s->pillShown)
        m_pill.hide();
    logCancelled(cause, *s);
}

void DictationController::logCancelled(CancelCause cause, const Session& s) {
    CoreLog::write("Dictation: cancelled (" + std::string(toString(cause)) + ") after " +
                   std::to_string(wholeMs(Clock::uptime() - s.t0)) + " ms");
}

// Leaves the microphone running: its stop is the caller's.
void DictationController::teardown(SessionRef s) {
    m_router->unbind();
    if (s->encoder)
        s->encoder->cancel();
    m_services->liveDraft->cancel();
    restoreDucking(*s);
    s->cancelled = true;
}

// --- Stopping to listen ---

void DictationController::finish(SessionRef s, SessionEnd end) {
    setPhase({Phase::Kind::finishing, s});
    double finishedAt = Clock::uptime();
    s->isTap = end == SessionEnd::tap;
    // A tap's microphone stops at once, without post-roll.
    std::optional<Future<CapturedClip>> ending;
    if (s->isTap)
        ending = endMic(0);
    spawn(complete(s, end, finishedAt, std::move(ending)));
}

// The controller's part of a completion: the clip comes in, the session stops taking audio,
// and the finished session goes to the completion.
Task<void> DictationController::complete(SessionRef s, SessionEnd end, double releasedAt,
                                         std::optional<Future<CapturedClip>> ending) {
    DictationCompletion::Finished finished;
    finished.session = s;
    finished.end = end;
    finished.settings = settings();
    finished.releasedAt = releasedAt;
    // A hold's or a hands-free clip keeps the post-roll. Its stop goes through the same chain
    // as every other, so that it never overlaps an earlier stop.
    if (ending)
        finished.clip = co_await *ending;
    else
        finished.clip = co_await endMic(m_timing.postRollMs);

    // A tap superseded by a new press ends here, without a word: the new session has the pill.
    // From here on the session is completed whatever else happens, and a new press no longer
    // supersedes it.
    if (s->cancelled)
        co_return;
    s->decided = true;
    finished.endSeconds = Clock::uptime() - releasedAt;
    // No more audio reaches its encoder, and no more levels its pill.
    finished.firstAudioTime = m_router->unbind();
    restoreDucking(*s);
    co_await m_completion.complete(std::move(finished));
}

void DictationController::restoreDucking(Session& s) {
    if (!s.ducked)
        return;
    s.ducked = false;
    m_services->ducker->restore();
}

void DictationController::ended(SessionRef s) {
    if (m_phase.kind == Phase::Kind::finishing && m_phase.session == s)
        setPhase(Phase::idle());
}

void DictationController::showResult(const PillState& state, std::optional<Rect> frame) {
    m_pill.showResult(state, frame);
}

Future<InsertOutcome> DictationController::insertAgain(std::string text) {
    Promise<InsertOutcome> answer;
    spawn(m_completion.insertAgain(std::move(text), answer));
    return answer.future();
}

// --- The serialised microphone stop ---

// Every stop waits for the one requested before it, so two ends never overlap and a new
// capture never starts while an old stop is still to run.
Future<CapturedClip> DictationController::endMic(int postRollMs) {
    int stopID = ++m_micEndingID;
    std::optional<Future<Done>> previous = m_micEnding;
    Promise<CapturedClip> clip;
    Promise<Done> ended;
    m_micEnding = ended.future();
    spawn(stopMic(std::move(previous), postRollMs, stopID, clip, ended));
    return clip.future();
}

Task<void> DictationController::stopMic(std::optional<Future<Done>> previous, int postRollMs,
                                        int stopID, Promise<CapturedClip> clip,
                                        Promise<Done> ended) {
    if (previous)
        co_await *previous;
    CapturedClip captured = co_await m_services->mic->end(postRollMs);
    if (m_micEndingID == stopID)
        m_micEnding.reset();
    clip.resolve(captured);
    ended.resolve(Done{});
}

// --- Helpers ---

void DictationController::setPhase(Phase phase) {
    bool wasIdle = m_phase.kind == Phase::Kind::idle;
    bool isIdle = phase.kind == Phase::Kind::idle;
    m_phase = std::move(phase);
    if (wasIdle && !isIdle)
        onBusy(true);
    else if (!wasIdle && isIdle)
        onBusy(false);
}

bool DictationController::isCurrent(SessionRef s) const {
    return m_phase.isLive() && m_phase.session == s && !s->cancelled;
}

void DictationController::after(double seconds, std::function<void()> block) {
    runAfter(m_alive, seconds, std::move(block));
}

void DictationController::spawn(Task<void> task) {
    m_tasks.push_back(std::move(task));
    auto it = std::prev(m_tasks.end());
    it->start(whileAlive(m_alive, [this, it] { m_tasks.erase(it); }));
}

} // namespace talverin
