// How a dictation that stopped listening is completed, and how result pills come and go.

#include "Talverin/Dictation/DictationController.h"

#include "Runtime/MainQueue.h"
#include "TalverinCore/CoreLog.h"

namespace talverin {

void DictationController::finish(SessionRef s, bool tap) {
    setPhase({Phase::Kind::finishing, s});
    double finishedAt = Clock::uptime();
    s->isTap = tap;
    // A tap's microphone stops at once, without post-roll.
    std::optional<Future<CapturedClip>> ending;
    if (tap)
        ending = endMic(0);
    spawn(complete(s, tap, finishedAt, std::move(ending)));
}

// FIXME: the completion proper (speech decision, context wait, secure-field check, mode,
// recognition, text rules, insertion, result pill, history record and the full log line) comes
// next; until then a finished session ends with its microphone stopped and its pill hidden.
Task<void> DictationController::complete(SessionRef s, bool tap, double releasedAt,
                                         std::optional<Future<CapturedClip>> ending) {
    (void)tap;
    // These settings, not the session's snapshot, decide the ticks, the text mode, the
    // replacement rules and what recognition gets.
    Settings current = settings();
    (void)current;

    // A hold's or a hands-free clip keeps the post-roll. Its stop goes through the same chain
    // as every other, so that it never overlaps an earlier stop.
    std::optional<CapturedClip> clip;
    if (ending)
        clip = co_await *ending;
    else
        clip = co_await endMic(m_timing.postRollMs);

    // A tap superseded by a new press ends here, without a word: the new session has the pill.
    if (s->cancelled)
        co_return;
    s->decided = true;
    double endSeconds = Clock::uptime() - releasedAt;

    std::optional<double> firstTime = m_router->unbind();
    if (s->ducked) {
        s->ducked = false;
        m_services->ducker->restore();
    }

    if (s->encoder)
        s->encoder->cancel();
    m_services->liveDraft->cancel();
    if (s->pillShown) {
        ++m_pillGeneration;
        m_services->pill->hide();
    }

    std::string line = "Dictation: not completed";
    if (s->handsFree)
        line += ", hands-free";
    line += ", hold " + std::to_string(wholeMs(releasedAt - s->t0)) + " ms";
    if (firstTime)
        line += ", first audio " + std::to_string(wholeMs(*firstTime - s->t0)) + " ms";
    if (s->pillAt)
        line += ", pill " + std::to_string(wholeMs(*s->pillAt - s->t0)) + " ms";
    if (s->contextMs)
        line += ", context " + std::to_string(*s->contextMs) + " ms";
    line += ", clip " + std::to_string(clip->durationMs()) + " ms, end " +
            std::to_string(wholeMs(endSeconds)) + " ms";
    done(s, line);
}

void DictationController::done(SessionRef s, const std::string& line) {
    if (m_phase.kind == Phase::Kind::finishing && m_phase.session == s)
        setPhase(Phase::idle());
    onActive(false);
    CoreLog::write(line);
}

// Every state pushed and every hide moves the generation, so a result's delayed hide runs only
// when nothing has replaced it: result pills are superseded, never cancelled.
void DictationController::showResult(const PillState& state, std::optional<Rect> frame) {
    ++m_pillGeneration;
    m_services->pill->show(state, frame);
    int generation = m_pillGeneration;
    after(m_timing.resultHoldFor(state.kind()), [this, generation] {
        if (m_pillGeneration != generation)
            return;
        ++m_pillGeneration;
        m_services->pill->hide();
    });
}

} // namespace talverin
