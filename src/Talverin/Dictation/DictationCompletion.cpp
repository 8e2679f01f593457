// How a dictation that stopped listening is completed: the clip, the context, the mode, the
// text, the insertion, the result pill, the records for the shell and the log line; how result
// pills come and go; and inserting a history text again.

#include "Talverin/Dictation/DictationController.h"

#include "Runtime/MainQueue.h"
#include "Runtime/Unicode.h"
#include "TalverinCore/CoreLog.h"
#include "TalverinCore/Replacements.h"
#include "TalverinCore/TextJoin.h"
#include "TalverinCore/WordCount.h"

namespace talverin {
namespace {

// How an insertion's outcome reads in the insert-again line; a refusal's reason is written with
// its qualified name.
std::string describe(const InsertOutcome& outcome) {
    switch (outcome.kind()) {
    case InsertOutcome::Kind::inserted:
        return "inserted";
    case InsertOutcome::Kind::copiedOnly:
        return "copiedOnly";
    case InsertOutcome::Kind::refused:
        break;
    }
    return "refused(TalverinCore.RefuseReason." +
           std::string(toString(outcome.reason().value_or(RefuseReason::empty))) + ")";
}

} // namespace

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

Task<void> DictationController::complete(SessionRef s, bool tap, double releasedAt,
                                         std::optional<Future<CapturedClip>> ending) {
    // 1. These settings, not the session's snapshot, decide the ticks, the text mode, the
    // replacement rules and what recognition gets.
    const Settings current = settings();

    // 2. A hold's or a hands-free clip keeps the post-roll. Its stop goes through the same
    // chain as every other, so that it never overlaps an earlier stop.
    std::optional<CapturedClip> received;
    if (ending)
        received = co_await *ending;
    else
        received = co_await endMic(m_timing.postRollMs);
    const CapturedClip clip = *received;

    // 3. A tap superseded by a new press ends here, without a word: the new session has the
    // pill. From here on the session is completed whatever else happens.
    if (s->cancelled)
        co_return;
    // 4. A new press no longer supersedes it.
    s->decided = true;
    const double endSeconds = Clock::uptime() - releasedAt;

    // 5. No more audio reaches its encoder, and no more levels its pill.
    const std::optional<double> firstTime = m_router->unbind();
    if (s->ducked) {
        s->ducked = false;
        m_services->ducker->restore();
    }

    // 6. The log line, as far as it is known.
    DictationLog log = startLog(s, releasedAt, endSeconds, clip, firstTime);

    // 7. No speech.
    if (!clip.speechDetected()) {
        endWithoutSpeech(s, tap, current, log);
        co_return;
    }

    // 8. Speech.
    if (current.sounds && s->pillShown)
        m_services->sounds->play(SoundTick::stop);
    commit(s);
    const DictationContext context = co_await contextOf(s);
    const std::optional<Rect> frame = screenOf(context);

    // 9. A secure field.
    if (context.isSecure) {
        endAtSecureField(s, tap, frame, log);
        co_return;
    }

    // 10. The mode.
    DictationMode mode = DictationMode::clean;
    if (!context.selection.empty())
        mode = DictationMode::edit;
    else if (current.textMode == TextMode::verbatim)
        mode = DictationMode::verbatim;
    log.mode = mode;

    // 11. The polishing pill.
    const bool wasShown = s->pillShown;
    s->pillShown = true;
    ++m_pillGeneration;
    m_services->pill->show(PillState::polishing(), frame);
    if (!wasShown)
        onActive(true);

    // 12. Recognition.
    const Recognized recognized = co_await recognize(s, context, mode, current);
    log.releaseToTextMs = wholeMs(Clock::uptime() - releasedAt);
    log.cloud = recognized.cloud;
    log.cloudMs = recognized.cloudMs;
    log.serverMs = recognized.serverMs;
    log.flushMs = recognized.flushMs;
    log.draftMs = recognized.draftMs;

    // 13. A failure ends the dictation with its own pill.
    if (recognized.failure) {
        showResult(*recognized.failure, frame);
        log.outcome = logName(*recognized.failure);
        done(s, log);
        co_return;
    }

    // 14. The text rules.
    const std::string text = Replacements::apply(
        current.replacements, Unicode::trimWhitespaceAndNewlines(recognized.text));

    // 15. Nothing left to insert.
    if (text.empty()) {
        const bool speechDenied =
            m_services->permissions->current().speech != Wire::PermissionState::granted;
        const RefuseReason reason = recognized.source == Recognized::Source::draft && speechDenied
                                        ? RefuseReason::noSpeechRecognition
                                        : RefuseReason::empty;
        showResult(PillState::refused(reason), frame);
        log.outcome = "refused(" + std::string(toString(reason)) + ")";
        done(s, log);
        co_return;
    }

    // 16. 17. Counts, and the text as it goes into the field: a voice edit replaces the
    // selection, everything else joins the text before the caret.
    log.chars = static_cast<std::int64_t>(Unicode::graphemeCount(text));
    log.words = WordCount::of(text);
    const std::string toInsert =
        mode == DictationMode::edit ? text : TextJoin::joined(text, context.before);

    // 18. The user opened the popover while the text was being made: give the focus back.
    if (popoverShown()) {
        closePopover();
        co_await awaitTarget();
    }

    // 19. The insertion.
    const double insertStart = Clock::uptime();
    const InsertOutcome outcome = co_await m_services->inserter->insert(toInsert, context);
    log.insertMs = wholeMs(Clock::uptime() - insertStart);

    // 20. 21. Its result.
    PillState state;
    switch (outcome.kind()) {
    case InsertOutcome::Kind::copiedOnly:
        state = PillState::copied();
        log.outcome = "copied";
        break;
    case InsertOutcome::Kind::inserted:
        if (current.sounds)
            m_services->sounds->play(SoundTick::inserted);
        state = recognized.note.value_or(PillState::inserted(context.appName));
        log.outcome = "inserted";
        // A voice edit replaced the user's own words; there is nothing to learn from it.
        if (mode != DictationMode::edit)
            onInsertedForLearning(toInsert, context);
        break;
    case InsertOutcome::Kind::refused: {
        const RefuseReason reason = outcome.reason().value_or(RefuseReason::empty);
        state = PillState::refused(reason);
        log.outcome = "refused(" + std::string(toString(reason)) + ")";
        break;
    }
    }
    showResult(state, frame);

    // 22. 23. 24. The records.
    onDictated(dictated(recognized, text, context, mode, outcome, log));
    done(s, log);
}

DictationLog DictationController::startLog(SessionRef s, double releasedAt, double endSeconds,
                                           const CapturedClip& clip,
                                           std::optional<double> firstTime) const {
    DictationLog log;
    log.holdMs = wholeMs(releasedAt - s->t0);
    log.endMs = wholeMs(endSeconds);
    log.clipMs = clip.durationMs();
    if (firstTime)
        log.firstAudioMs = wholeMs(*firstTime - s->t0);
    if (s->pillAt)
        log.pillMs = wholeMs(*s->pillAt - s->t0);
    log.contextMs = s->contextMs;
    log.handsFree = s->handsFree;
    return log;
}

void DictationController::endWithoutSpeech(SessionRef s, bool tap, const Settings& current,
                                           DictationLog log) {
    if (s->encoder)
        s->encoder->cancel();
    m_services->liveDraft->cancel();
    if (!tap && !s->blind) {
        if (current.sounds && s->pillShown)
            m_services->sounds->play(SoundTick::stop);
        m_services->pill->setMicrophoneName(m_services->mic->deviceName());
        showResult(PillState::silence(), screenOf(s->context));
        log.outcome = "silence";
    } else {
        // A tap, or a hold begun with secure input on, ends without a word.
        if (s->pillShown) {
            ++m_pillGeneration;
            m_services->pill->hide();
        }
        log.outcome = tap ? "tap" : "no speech (secure input)";
    }
    done(s, log);
}

// Nothing is typed into a password field; a tap leaves as quietly as it came.
void DictationController::endAtSecureField(SessionRef s, bool tap, std::optional<Rect> frame,
                                           DictationLog log) {
    if (s->encoder)
        s->encoder->cancel();
    m_services->liveDraft->cancel();
    if (tap) {
        if (s->pillShown) {
            ++m_pillGeneration;
            m_services->pill->hide();
        }
        log.outcome = "tap (secureField)";
    } else {
        showResult(PillState::refused(RefuseReason::secureField), frame);
        log.outcome = "refused(secureField)";
    }
    done(s, log);
}

// The history keeps the text as it was made, before it was joined to the field's text; the raw
// transcript is the text itself when recognition had none.
DictationController::Dictated
DictationController::dictated(const Recognized& recognized, const std::string& text,
                              const DictationContext& context, DictationMode mode,
                              const InsertOutcome& outcome, const DictationLog& log) {
    const std::string raw = recognized.raw.empty() ? text : recognized.raw;
    Dictated record;
    record.item.id = HistoryItem::newID();
    record.item.date = Wire::Date(Clock::now());
    record.item.appName = context.appName;
    record.item.bundleID = context.bundleID.value_or("");
    record.item.clean = text;
    record.item.raw = raw;
    record.item.inserted = outcome.kind() == InsertOutcome::Kind::inserted;
    record.item.mode = mode;
    record.tryResult.text = text;
    record.tryResult.raw = raw;
    record.tryResult.ms = log.releaseToTextMs.value_or(0);
    record.tryResult.offline = recognized.source == Recognized::Source::draft;
    record.tryResult.wordsPerMinute =
        Wire::TryDictationResult::wordsPerMinuteFor(log.words.value_or(0), log.clipMs);
    return record;
}

// Answers at once when the context is settled; otherwise waits for it, but only so long: a
// read that had not even begun gets the time the target may take to come back as well.
Future<DictationContext> DictationController::contextOf(SessionRef s) {
    if (s->contextResolved)
        return Future<DictationContext>::ready(s->context.value_or(DictationContext::unknown()));
    Promise<DictationContext> waiter;
    s->waiters.push_back(waiter);
    double wait = m_timing.contextWait + (s->contextStarted ? 0 : m_timing.activationMax);
    after(wait, [s] { s->setContext(std::nullopt); });
    return waiter.future();
}

// After the popover closed: waits until the application that had the focus is frontmost again,
// or until it had its time to come back.
Task<void> DictationController::awaitTarget() {
    const double start = Clock::uptime();
    while (!targetReady() && Clock::uptime() < start + m_timing.activationMax)
        co_await delay(m_timing.activationPoll);
}

void DictationController::done(SessionRef s, const DictationLog& log) {
    if (m_phase.kind == Phase::Kind::finishing && m_phase.session == s)
        setPhase(Phase::idle());
    onActive(false);
    CoreLog::write(log.text());
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

// --- Inserting again ---

Future<InsertOutcome> DictationController::insertAgain(std::string text) {
    Promise<InsertOutcome> answer;
    spawn(insertAgainFlow(std::move(text), answer));
    return answer.future();
}

// The text was dictated and polished before: it goes in as it stands, joined to the text before
// the caret even where text is selected. The clipboard snapshot was the dictation's, so the
// inserter is not prepared again.
Task<void> DictationController::insertAgainFlow(std::string text, Promise<InsertOutcome> answer) {
    if (closePopover())
        co_await awaitTarget();

    // The read blocks for as long as the focused application takes to answer.
    Promise<DictationContext> read;
    WorkerPool::async([reader = m_services->context, timeoutMs = m_timing.contextTimeoutMs, read] {
        read.resolve(reader->read(timeoutMs));
    });
    const DictationContext context = co_await read.future();

    const InsertOutcome outcome =
        co_await m_services->inserter->insert(TextJoin::joined(text, context.before), context);

    const std::optional<Rect> frame = screenOf(context);
    switch (outcome.kind()) {
    case InsertOutcome::Kind::copiedOnly:
        showResult(PillState::copied(), frame);
        break;
    case InsertOutcome::Kind::inserted:
        if (settings().sounds)
            m_services->sounds->play(SoundTick::inserted);
        showResult(PillState::inserted(context.appName), frame);
        break;
    case InsertOutcome::Kind::refused:
        showResult(PillState::refused(outcome.reason().value_or(RefuseReason::empty)), frame);
        break;
    }
    CoreLog::write("Dictation: insert again \u2192 " + describe(outcome));
    answer.resolve(outcome);
}

} // namespace talverin
