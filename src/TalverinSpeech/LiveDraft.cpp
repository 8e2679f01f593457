#include "TalverinSpeech/LiveDraft.h"

#include "Runtime/MainQueue.h"
#include "Runtime/Milliseconds.h"
#include "Runtime/Unicode.h"
#include "TalverinCore/CoreLog.h"
#include "TalverinSpeech/DraftAudio.h"
#include "TalverinSpeech/DraftHints.h"
#include "TalverinSpeech/LiveText.h"
#include "TalverinSpeech/RecognizerDraftProvider.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace talverin {

namespace {

constexpr double sampleRate = 16000;
constexpr const char* queueLabel = "talverin.livedraft";

std::string msSince(double t) {
    return std::to_string(wholeMs(Clock::uptime() - t));
}

// "%.1f" that ignores the process locale: GTK sets it from the environment, and a Russian one
// would print "52,0".
std::string oneDecimal(double value) {
    char text[64];
    auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 1);
    return error == std::errc() ? std::string(text, end) : std::string("?");
}

} // namespace

struct LiveDraft::Segment {
    std::size_t index = 0;
    std::unique_ptr<DraftChannel> channel;
    // Samples fed, at 16 kHz.
    std::size_t samples = 0;
    // Its end of audio was signalled (rotation, finish), or it ended by itself.
    bool audioEnded = false;
    // No more events are taken for it.
    bool done = false;
    // Some event carried words.
    bool heard = false;

    double seconds() const { return static_cast<double>(samples) / sampleRate; }
};

struct LiveDraft::Session {
    std::uint64_t id = 0;
    std::shared_ptr<DraftEngine> engine;
    std::vector<std::string> words;
    double startedAt = 0;
    std::vector<std::unique_ptr<Segment>> segments;
    DraftTranscript transcript;
    std::string lastDelivered;
    bool finishing = false;
    double finishAskedAt = 0;
    std::vector<Promise<std::string>> waiters;
    int quickFailures = 0;
    bool disabled = false;
    bool loggedFirstWords = false;

    bool allDone() const {
        return std::all_of(segments.begin(), segments.end(),
                           [](const auto& segment) { return segment->done; });
    }
};

LiveDraft::LiveDraft(std::shared_ptr<SpeechRecognizers> recognizers)
    : LiveDraft(std::make_unique<RecognizerDraftProvider>(std::move(recognizers),
                                                          DraftTuning::standard(), queueLabel),
                DraftTuning::standard(), std::make_unique<SerialQueue>(queueLabel)) {}

LiveDraft::LiveDraft(std::unique_ptr<DraftEngineProviding> provider, DraftTuning tuning,
                     std::unique_ptr<SerialQueue> queue)
    : m_provider(std::move(provider)), m_tuning(tuning), m_queue(std::move(queue)) {}

LiveDraft::~LiveDraft() {
    {
        std::lock_guard lock(m_gateMutex);
        m_gate.closed = true;
        m_gate.delivering = 0;
        m_gate.accepting = 0;
    }
    // On the queue, after what was queued before: no job runs beside this one.
    m_queue->sync([this] {
        if (auto session = std::move(m_session)) {
            std::string text = stopTasks(*session);
            for (auto& waiter : session->waiters)
                waiter.resolve(text);
        }
        m_alive.end();
    });
    // The result queue runs out the events already due; they find the gate closed. Then the
    // queue itself runs what is due and drops later timers: all of it does nothing now.
    m_provider.reset();
    m_queue.reset();
}

std::optional<std::string> LiveDraft::confidentFinal() const {
    std::lock_guard lock(m_gateMutex);
    return m_gate.confidentFinal;
}

bool LiveDraft::isClosed() const {
    std::lock_guard lock(m_gateMutex);
    return m_gate.closed;
}

void LiveDraft::closeAccepting(std::uint64_t id) {
    std::lock_guard lock(m_gateMutex);
    if (m_gate.accepting == id)
        m_gate.accepting = 0;
}

void LiveDraft::prewarm(const std::vector<std::string>& languages) {
    m_queue->async([this, languages] {
        if (!isClosed())
            m_provider->chooseLocale(languages);
    });
}

void LiveDraft::start(const std::vector<std::string>& languages,
                      const std::vector<std::string>& contextualStrings) {
    std::uint64_t id;
    {
        std::lock_guard lock(m_gateMutex);
        m_gate.confidentFinal.reset();
        id = ++m_gate.generation;
        m_gate.delivering = id;
        m_gate.accepting = id;
    }
    const double startedAt = Clock::uptime();
    m_queue->async([this, id, languages, contextualStrings, startedAt] {
        if (!isClosed())
            open(id, languages, contextualStrings, startedAt);
    });
}

void LiveDraft::append(const MicBuffer& buffer) {
    if (buffer.samples().empty())
        return;
    std::uint64_t id;
    {
        std::lock_guard lock(m_gateMutex);
        id = m_gate.accepting;
    }
    if (id == 0)
        return;
    m_queue->async([this, id, buffer] {
        if (!isClosed())
            feed(id, buffer);
    });
}

Future<std::string> LiveDraft::finish() {
    {
        std::lock_guard lock(m_gateMutex);
        m_gate.delivering = 0;
        m_gate.accepting = 0;
    }
    Promise<std::string> waiter;
    // Not skipped when the live draft is going away: the release that follows answers it.
    m_queue->async([this, waiter] { finishSession(waiter); });
    return waiter.future();
}

void LiveDraft::cancel() {
    {
        std::lock_guard lock(m_gateMutex);
        ++m_gate.generation;
        m_gate.confidentFinal.reset();
        m_gate.delivering = 0;
        m_gate.accepting = 0;
    }
    m_queue->async([this] {
        if (isClosed())
            return;
        if (m_session)
            endSession(Outcome::cancelled);
        m_lastResult.clear();
    });
}

void LiveDraft::open(std::uint64_t id, const std::vector<std::string>& languages,
                     const std::vector<std::string>& words, double startedAt) {
    if (m_session)
        endSession(Outcome::replaced);
    m_lastResult.clear();
    const double resolveBegan = Clock::uptime();
    DraftResolution resolution = m_provider->resolve(languages);
    switch (resolution.kind) {
    case DraftResolution::Kind::engine: {
        auto session = std::make_unique<Session>();
        session->id = id;
        session->engine = resolution.engine;
        session->words = DraftHints::contextualStrings(words, m_tuning.contextualLimit);
        session->startedAt = startedAt;
        m_session = std::move(session);
        startSegment(*m_session);
        CoreLog::write("LiveDraft: start " + m_session->engine->localeId() + ", " +
                       std::to_string(m_session->words.size()) + " words, resolved in " +
                       msSince(resolveBegan) + " ms");
        break;
    }
    case DraftResolution::Kind::notAuthorized:
        closeAccepting(id);
        CoreLog::write("LiveDraft: speech recognition not authorized (status " +
                       std::to_string(resolution.status) + "), level only");
        break;
    case DraftResolution::Kind::noRecognizer:
        closeAccepting(id);
        CoreLog::write("LiveDraft: no on-device recognizer for " +
                       std::to_string(languages.size()) + " language(s), level only (" +
                       msSince(resolveBegan) + " ms)");
        break;
    }
}

void LiveDraft::startSegment(Session& session) {
    const std::size_t index = session.segments.size();
    const std::uint64_t id = session.id;
    auto segment = std::make_unique<Segment>();
    segment->index = index;
    // Runs on the result queue: the event only hops to our queue, where it is checked.
    segment->channel = session.engine->begin(
        session.words, [this, alive = m_alive.token(), id, index](DraftEvent event) {
            m_queue->async([this, alive, id, index, event = std::move(event)] {
                if (alive && !isClosed())
                    handle(id, index, event);
            });
        });
    session.segments.push_back(std::move(segment));
}

void LiveDraft::feed(std::uint64_t id, const MicBuffer& block) {
    Session* session = m_session.get();
    if (!session || session->id != id || session->finishing || session->disabled ||
        session->segments.empty() || session->segments.back()->audioEnded)
        return;
    const auto& samples = block.samples();
    const double seconds = session->segments.back()->seconds();
    if (seconds >= m_tuning.hardRotate ||
        (seconds >= m_tuning.softRotate && DraftAudio::rms(samples) < m_tuning.quietRMS)) {
        rotate(*session);
        if (session->segments.back()->audioEnded)
            return;
    }
    Segment& segment = *session->segments.back();
    if (auto buffer = DraftAudio::buffer(samples, session->engine->format()))
        segment.channel->append(*buffer);
    segment.samples += samples.size();
}

void LiveDraft::rotate(Session& session) {
    Segment& old = *session.segments.back();
    old.audioEnded = true;
    old.channel->endAudio();
    m_queue->after(m_tuning.staleSegmentCap,
                   [this, alive = m_alive.token(), id = session.id, index = old.index] {
                       if (alive && !isClosed())
                           dropStaleSegment(id, index);
                   });
    CoreLog::write("LiveDraft: segment " + std::to_string(old.index + 2) + " after " +
                   oneDecimal(old.seconds()) + " s");
    startSegment(session);
}

void LiveDraft::dropStaleSegment(std::uint64_t id, std::size_t index) {
    Session* session = m_session.get();
    if (!session || session->id != id || session->finishing || index >= session->segments.size())
        return;
    Segment& segment = *session->segments[index];
    if (segment.done)
        return;
    segment.channel->cancel();
    segment.done = true;
    CoreLog::write("LiveDraft: segment " + std::to_string(index + 1) + " gave no final result in " +
                   std::to_string(wholeMs(m_tuning.staleSegmentCap)) + " ms, kept its partial");
}

void LiveDraft::handle(std::uint64_t id, std::size_t index, const DraftEvent& event) {
    Session* session = m_session.get();
    if (!session || session->id != id || index >= session->segments.size())
        return;
    Segment& segment = *session->segments[index];
    if (segment.done)
        return;

    if (event.kind == DraftEvent::Kind::failed) {
        segment.done = true;
        // While finishing, a task whose audio we ended may well end in an error: no news.
        if (!(session->finishing && segment.audioEnded))
            CoreLog::write("LiveDraft: segment " + std::to_string(index + 1) +
                           " ended: " + event.message);
    } else {
        session->transcript.update(static_cast<int>(index), event.text,
                                   session->engine->utteranceRestarts());
        if (!Unicode::trimWhitespaceAndNewlines(event.text).empty()) {
            segment.heard = true;
            session->quickFailures = 0;
            if (!session->loggedFirstWords) {
                session->loggedFirstWords = true;
                CoreLog::write("LiveDraft: first words after " + msSince(session->startedAt) +
                               " ms");
            }
        }
        if (event.kind == DraftEvent::Kind::final) {
            segment.done = true;
            // Finals carry punctuation and spacing of their own: compare the cleaned forms.
            std::string final = LiveText::cleaned(event.text);
            if (event.confident && session->finishing && session->segments.size() == 1 &&
                LiveText::cleaned(session->transcript.text()) == final) {
                std::lock_guard lock(m_gateMutex);
                if (m_gate.generation == id)
                    m_gate.confidentFinal = final;
            }
        }
    }

    if (segment.done && !segment.audioEnded) {
        // The recogniser ended the segment by itself.
        segment.audioEnded = true;
        if (!session->finishing)
            restartAfterSelfEnd(*session, segment);
    }
    if (session->finishing) {
        if (session->allDone())
            endSession(Outcome::final);
    } else {
        deliver(*session);
    }
}

void LiveDraft::restartAfterSelfEnd(Session& session, const Segment& segment) {
    if (&segment != session.segments.back().get())
        return;
    if (!segment.heard && segment.seconds() < m_tuning.quickFailureAudio)
        ++session.quickFailures;
    else
        session.quickFailures = 0;
    if (session.quickFailures < m_tuning.maxQuickFailures) {
        startSegment(session);
        return;
    }
    session.disabled = true;
    closeAccepting(session.id);
    CoreLog::write("LiveDraft: the recognizer failed " + std::to_string(session.quickFailures) +
                   " times in a row, live words off for this dictation");
}

void LiveDraft::deliver(Session& session) {
    std::string text = session.transcript.text();
    if (text == session.lastDelivered)
        return;
    session.lastDelivered = text;
    MainQueue::post([this, alive = m_alive.token(), id = session.id, text = std::move(text)] {
        if (!alive)
            return;
        {
            std::lock_guard lock(m_gateMutex);
            if (m_gate.delivering != id)
                return;
        }
        if (onPartial)
            onPartial(text);
    });
}

void LiveDraft::finishSession(Promise<std::string> waiter) {
    if (!m_session) {
        waiter.resolve(m_lastResult);
        return;
    }
    Session& session = *m_session;
    session.waiters.push_back(std::move(waiter));
    if (session.finishing)
        return;
    session.finishing = true;
    session.finishAskedAt = Clock::uptime();
    for (auto& segment : session.segments) {
        if (!segment->audioEnded) {
            segment->audioEnded = true;
            segment->channel->endAudio();
        }
    }
    if (session.allDone()) {
        endSession(Outcome::final);
        return;
    }
    m_queue->after(m_tuning.finishCap, [this, alive = m_alive.token(), id = session.id] {
        if (alive && !isClosed() && m_session && m_session->id == id)
            endSession(Outcome::timedOut);
    });
}

std::string LiveDraft::stopTasks(Session& session) {
    for (auto& segment : session.segments) {
        if (!segment->done) {
            segment->channel->cancel();
            segment->done = true;
        }
    }
    return session.transcript.text();
}

void LiveDraft::endSession(Outcome outcome) {
    std::unique_ptr<Session> session = std::move(m_session);
    std::string text = stopTasks(*session);
    auto waiters = std::move(session->waiters);
    closeAccepting(session->id);
    switch (outcome) {
    case Outcome::final:
    case Outcome::timedOut:
        m_lastResult = text;
        CoreLog::write(std::string("LiveDraft: finish ") +
                       (outcome == Outcome::final ? "final" : "timed out, best partial") + " in " +
                       msSince(session->finishAskedAt) + " ms, " +
                       std::to_string(session->segments.size()) + " segment(s), " +
                       std::to_string(Unicode::graphemeCount(text)) + " chars");
        break;
    case Outcome::cancelled:
        CoreLog::write("LiveDraft: cancelled after " + msSince(session->startedAt) + " ms");
        break;
    case Outcome::replaced:
        CoreLog::write("LiveDraft: replaced by a new dictation");
        break;
    }
    for (auto& waiter : waiters)
        waiter.resolve(text);
}

} // namespace talverin
