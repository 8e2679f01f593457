#include "fakes/LiveDraftingFake.h"

#include "Runtime/MainQueue.h"

#include <cmath>

namespace talverin::test {

namespace {

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const auto& item : items)
        text += (text.empty() ? "" : ",") + item;
    return text;
}

} // namespace

LiveDraftingFake::~LiveDraftingFake() {
    m_alive.reset();
}

// A finishing session whose answer has come is over: its text becomes what a finish() without
// a session returns.
void LiveDraftingFake::settle() {
    if (m_finish && m_finish->isResolved()) {
        m_lastResult = m_finish->future().peek().value_or("");
        m_finish.reset();
        m_session = 0;
    }
}

// Ends the session early (replaced or cancelled); a finish() waiting for it gets its words.
void LiveDraftingFake::endSession() {
    if (m_finish)
        m_finish->resolve(m_transcript);
    m_finish.reset();
    m_session = 0;
}

std::optional<std::string> LiveDraftingFake::confidentFinal() const {
    std::lock_guard lock(m_mutex);
    return m_confidentFinal;
}

void LiveDraftingFake::prewarm(const std::vector<std::string>& languages) {
    log.record("prewarm", joined(languages));
}

void LiveDraftingFake::start(const std::vector<std::string>& languages,
                             const std::vector<std::string>& contextualStrings) {
    log.record("start", joined(languages) + ";" + joined(contextualStrings));
    std::lock_guard lock(m_mutex);
    settle();
    endSession();
    m_confidentFinal.reset();
    m_session = m_delivering = m_accepting = ++m_generation;
    m_transcript.clear();
    m_lastDelivered.clear();
    m_lastResult.clear();
}

void LiveDraftingFake::append(const MicBuffer& buffer) {
    std::lock_guard lock(m_mutex);
    if (buffer.samples().empty() || m_accepting == 0)
        return;
    ++m_blocks;
    m_samples += buffer.samples().size();
}

Future<std::string> LiveDraftingFake::finish() {
    log.record("finish");
    std::lock_guard lock(m_mutex);
    settle();
    m_delivering = m_accepting = 0;
    if (m_session == 0)
        return Future<std::string>::ready(m_lastResult);
    if (m_finish)
        return m_finish->future();

    std::optional<Promise<std::string>> answer = finishAnswers.take();
    if (!answer) {
        answer.emplace();
        answer->resolve(m_transcript);
    }
    m_finish = *answer;
    if (!answer->isResolved() && std::isfinite(finishCap)) {
        MainQueue::after(finishCap, [this, alive = std::weak_ptr<int>(m_alive), promise = *answer] {
            if (!alive.lock())
                return;
            std::lock_guard lock(m_mutex);
            promise.resolve(m_transcript);
        });
    }
    return answer->future();
}

void LiveDraftingFake::cancel() {
    log.record("cancel");
    std::lock_guard lock(m_mutex);
    settle();
    ++m_generation;
    m_delivering = m_accepting = 0;
    m_confidentFinal.reset();
    endSession();
    m_lastResult.clear();
}

void LiveDraftingFake::produce(std::uint64_t session, std::string text) {
    {
        std::lock_guard lock(m_mutex);
        settle();
        if (m_session != session)
            return;
        m_transcript = text;
        if (text == m_lastDelivered)
            return;
        m_lastDelivered = text;
    }
    MainQueue::post([this, alive = std::weak_ptr<int>(m_alive), session, text] {
        if (!alive.lock())
            return;
        {
            std::lock_guard lock(m_mutex);
            if (m_delivering != session)
                return;
        }
        if (onPartial)
            onPartial(text);
    });
}

bool LiveDraftingFake::sendPartial(std::string text) {
    std::uint64_t session = this->session();
    if (session == 0)
        return false;
    produce(session, std::move(text));
    return true;
}

bool LiveDraftingFake::sendPartialAfter(double seconds, std::string text) {
    std::uint64_t session = this->session();
    if (session == 0)
        return false;
    MainQueue::after(seconds,
                     [this, alive = std::weak_ptr<int>(m_alive), session, text = std::move(text)] {
                         if (alive.lock())
                             produce(session, text);
                     });
    return true;
}

void LiveDraftingFake::setConfidentFinal(std::optional<std::string> text) {
    std::lock_guard lock(m_mutex);
    m_confidentFinal = std::move(text);
}

std::uint64_t LiveDraftingFake::session() const {
    std::lock_guard lock(m_mutex);
    if (m_finish && m_finish->isResolved())
        return 0;
    return m_session;
}

std::size_t LiveDraftingFake::acceptedBlocks() const {
    std::lock_guard lock(m_mutex);
    return m_blocks;
}

std::size_t LiveDraftingFake::acceptedSamples() const {
    std::lock_guard lock(m_mutex);
    return m_samples;
}

} // namespace talverin::test
