#include "Talverin/Dictation/DictationCompletion.h"

#include "Runtime/MainQueue.h"
#include "Runtime/Milliseconds.h"
#include "Runtime/Unicode.h"
#include "Talverin/Dictation/LiveCallbacks.h"
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

// Selected text makes the words an instruction for it; otherwise the user's text mode holds.
DictationMode modeFor(const DictationContext& context, const Settings& settings) {
    if (!context.selection.empty())
        return DictationMode::edit;
    return settings.textMode == TextMode::verbatim ? DictationMode::verbatim : DictationMode::clean;
}

void takeTimings(DictationLog& log, const DictationRecognition::Recognized& recognized) {
    log.cloud = recognized.cloud;
    log.cloudMs = recognized.cloudMs;
    log.serverMs = recognized.serverMs;
    log.flushMs = recognized.flushMs;
    log.draftMs = recognized.draftMs;
}

} // namespace

DictationCompletion::DictationCompletion(std::shared_ptr<Services> services, DictationShell& shell,
                                         DictationPill& pill, DictationTiming timing)
    : m_services(std::move(services)), m_shell(shell), m_pill(pill), m_timing(std::move(timing)),
      m_recognition(m_services->liveDraft, m_services->dictate, m_services->languageRecognizer) {}

// The settings read when the session stopped listening, not its snapshot from the press,
// decide the ticks, the text mode, the replacement rules and what recognition gets.
Task<void> DictationCompletion::complete(Finished finished) {
    const SessionRef s = finished.session;
    const Settings& current = finished.settings;
    DictationLog log = startLog(finished);
    if (!finished.clip.speechDetected()) {
        endWithoutSpeech(finished, std::move(log));
        co_return;
    }

    if (current.sounds && s->pillShown)
        m_services->sounds->play(SoundTick::stop);
    commit(s);
    const DictationContext context = co_await contextOf(s);
    const std::optional<Rect> frame = m_pill.screenOf(context);
    if (context.isSecure) {
        endAtSecureField(s, finished.end, frame, std::move(log));
        co_return;
    }
    const DictationMode mode = modeFor(context, current);
    log.mode = mode;
    showPolishing(*s, frame);

    const Recognized recognized =
        co_await m_recognition.recognize(s->encoder, context, mode, current);
    log.releaseToTextMs = wholeMs(Clock::uptime() - finished.releasedAt);
    takeTimings(log, recognized);
    if (recognized.failure) {
        showFailure(*recognized.failure, frame, log);
        done(s, log);
        co_return;
    }

    const std::string text = Replacements::apply(
        current.replacements, Unicode::trimWhitespaceAndNewlines(recognized.text));
    if (text.empty()) {
        refuseEmpty(s, recognized, frame, std::move(log));
        co_return;
    }
    log.chars = static_cast<std::int64_t>(Unicode::graphemeCount(text));
    log.words = WordCount::of(text);
    // A voice edit replaces the selection; everything else joins the text before the caret.
    const std::string toInsert =
        mode == DictationMode::edit ? text : TextJoin::joined(text, context.before);

    // The user opened the popover while the text was being made: give the focus back first.
    if (m_shell.popoverShown()) {
        m_shell.closePopover();
        co_await awaitTarget();
    }
    const double insertStart = Clock::uptime();
    const InsertOutcome outcome = co_await m_services->inserter->insert(toInsert, context);
    log.insertMs = wholeMs(Clock::uptime() - insertStart);
    m_pill.showResult(answerInserted(outcome, recognized, context, mode, toInsert, current, log),
                      frame);
    m_shell.onDictated(recordOf(recognized, text, context, mode, outcome, log));
    done(s, log);
}

DictationLog DictationCompletion::startLog(const Finished& finished) {
    const DictationSession& s = *finished.session;
    DictationLog log;
    log.holdMs = wholeMs(finished.releasedAt - s.t0);
    log.endMs = wholeMs(finished.endSeconds);
    log.clipMs = finished.clip.durationMs();
    if (finished.firstAudioTime)
        log.firstAudioMs = wholeMs(*finished.firstAudioTime - s.t0);
    if (s.pillAt)
        log.pillMs = wholeMs(*s.pillAt - s.t0);
    log.contextMs = s.contextMs;
    log.handsFree = s.handsFree;
    return log;
}

// A silent hold shows the silence pill with the microphone's name, so the user can see which
// one listened. A tap, or a hold begun with secure input on, ends without a word.
void DictationCompletion::endWithoutSpeech(const Finished& finished, DictationLog log) {
    const SessionRef& s = finished.session;
    stopListeningTo(*s);
    const bool tap = finished.end == SessionEnd::tap;
    if (!tap && !s->blind) {
        if (finished.settings.sounds && s->pillShown)
            m_services->sounds->play(SoundTick::stop);
        m_services->pill->setMicrophoneName(m_services->mic->deviceName());
        m_pill.showResult(PillState::silence(), m_pill.screenOf(s->context));
        log.outcome = toString(DictationOutcome::silence);
    } else {
        hideIfShown(*s);
        log.outcome = toString(tap ? DictationOutcome::tap : DictationOutcome::noSpeechSecureInput);
    }
    done(s, log);
}

// Nothing is typed into a password field; a tap leaves as quietly as it came.
void DictationCompletion::endAtSecureField(SessionRef s, SessionEnd end, std::optional<Rect> frame,
                                           DictationLog log) {
    stopListeningTo(*s);
    if (end == SessionEnd::tap) {
        hideIfShown(*s);
        log.outcome = toString(DictationOutcome::tapAtSecureField);
    } else {
        refuse(RefuseReason::secureField, frame, log);
    }
    done(s, log);
}

// An empty draft most often means the on-device recogniser was not allowed to run; saying so
// points the user at the permission rather than at their microphone.
void DictationCompletion::refuseEmpty(SessionRef s, const Recognized& recognized,
                                      std::optional<Rect> frame, DictationLog log) {
    const bool speechDenied =
        m_services->permissions->current().speech != Wire::PermissionState::granted;
    const RefuseReason reason = recognized.source == Recognized::Source::draft && speechDenied
                                    ? RefuseReason::noSpeechRecognition
                                    : RefuseReason::empty;
    refuse(reason, frame, log);
    done(s, log);
}

// The dictation ends with this pill instead of an insertion.
void DictationCompletion::showFailure(const PillState& state, std::optional<Rect> frame,
                                      DictationLog& log) {
    m_pill.showResult(state, frame);
    log.outcome = logName(state);
}

void DictationCompletion::refuse(RefuseReason reason, std::optional<Rect> frame,
                                 DictationLog& log) {
    showFailure(PillState::refused(reason), frame, log);
}

void DictationCompletion::showPolishing(DictationSession& s, std::optional<Rect> frame) {
    const bool wasShown = s.pillShown;
    s.pillShown = true;
    m_pill.show(PillState::polishing(), frame);
    if (!wasShown)
        m_shell.onActive(true);
}

// Neither the encoder nor the live draft has anything left to do for a dictation that inserts
// nothing.
void DictationCompletion::stopListeningTo(DictationSession& s) {
    if (s.encoder)
        s.encoder->cancel();
    m_services->liveDraft->cancel();
}

void DictationCompletion::hideIfShown(const DictationSession& s) {
    if (s.pillShown)
        m_pill.hide();
}

// The pill that answers the inserter, with the log line's outcome. A voice edit replaced the
// user's own words, so there is nothing to learn from it.
PillState DictationCompletion::answerInserted(const InsertOutcome& outcome,
                                              const Recognized& recognized,
                                              const DictationContext& context, DictationMode mode,
                                              const std::string& inserted, const Settings& settings,
                                              DictationLog& log) {
    switch (outcome.kind()) {
    case InsertOutcome::Kind::copiedOnly:
        log.outcome = toString(DictationOutcome::copied);
        return PillState::copied();
    case InsertOutcome::Kind::inserted:
        if (settings.sounds)
            m_services->sounds->play(SoundTick::inserted);
        log.outcome = toString(DictationOutcome::inserted);
        if (mode != DictationMode::edit)
            m_shell.onInsertedForLearning(inserted, context);
        return recognized.note.value_or(PillState::inserted(context.appName));
    case InsertOutcome::Kind::refused:
        break;
    }
    const RefuseReason reason = outcome.reason().value_or(RefuseReason::empty);
    const PillState refused = PillState::refused(reason);
    log.outcome = logName(refused);
    return refused;
}

// The history keeps the text as it was made, before it was joined to the field's text; the raw
// transcript is the text itself when recognition had none.
DictationRecord DictationCompletion::recordOf(const Recognized& recognized, const std::string& text,
                                              const DictationContext& context, DictationMode mode,
                                              const InsertOutcome& outcome,
                                              const DictationLog& log) {
    const std::string raw = recognized.raw.empty() ? text : recognized.raw;
    DictationRecord record;
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
Future<DictationContext> DictationCompletion::contextOf(SessionRef s) {
    if (s->contextResolved)
        return Future<DictationContext>::ready(s->context.value_or(DictationContext::unknown()));
    Promise<DictationContext> waiter;
    s->waiters.push_back(waiter);
    const double wait = m_timing.contextWait + (s->contextStarted ? 0 : m_timing.activationMax);
    runAfter(m_alive, wait, [s] { s->setContext(std::nullopt); });
    return waiter.future();
}

// After the popover closed: waits until the application that had the focus is frontmost again,
// or until it had its time to come back.
Task<void> DictationCompletion::awaitTarget() {
    const double start = Clock::uptime();
    while (!m_shell.targetReady() && Clock::uptime() < start + m_timing.activationMax)
        co_await delay(m_timing.activationPoll);
}

void DictationCompletion::done(SessionRef s, const DictationLog& log) {
    onEnded(s);
    m_shell.onActive(false);
    CoreLog::write(log.text());
}

// The text was dictated and polished before: it goes in as it stands, joined to the text before
// the caret even where text is selected. The clipboard snapshot was the dictation's, so the
// inserter is not prepared again.
Task<void> DictationCompletion::insertAgain(std::string text, Promise<InsertOutcome> answer) {
    if (m_shell.closePopover())
        co_await awaitTarget();

    // The read blocks for as long as the focused application takes to answer.
    Promise<DictationContext> read;
    WorkerPool::async([reader = m_services->context, timeoutMs = m_timing.contextTimeoutMs, read] {
        read.resolve(reader->read(timeoutMs));
    });
    const DictationContext context = co_await read.future();

    const InsertOutcome outcome =
        co_await m_services->inserter->insert(TextJoin::joined(text, context.before), context);

    const std::optional<Rect> frame = m_pill.screenOf(context);
    switch (outcome.kind()) {
    case InsertOutcome::Kind::copiedOnly:
        m_pill.showResult(PillState::copied(), frame);
        break;
    case InsertOutcome::Kind::inserted:
        if (m_shell.settings().sounds)
            m_services->sounds->play(SoundTick::inserted);
        m_pill.showResult(PillState::inserted(context.appName), frame);
        break;
    case InsertOutcome::Kind::refused:
        m_pill.showResult(PillState::refused(outcome.reason().value_or(RefuseReason::empty)),
                          frame);
        break;
    }
    CoreLog::write("Dictation: insert again \u2192 " + describe(outcome));
    answer.resolve(outcome);
}

} // namespace talverin
