// Recognition: the cloud's text when the cloud can be asked and answers, the on-device draft
// when it cannot, and the language guard in between.

#include "Talverin/Dictation/DictationController.h"

#include "Runtime/MainQueue.h"
#include "Talverin/Dictation/DictationLanguage.h"

#include <algorithm>
#include <cstdint>
#include <variant>
#include <vector>

namespace talverin {
namespace {

// The cloud's outcome as the dictation's log line names it.
std::string cloudNote(const DictateError& error) {
    switch (error.kind()) {
    case DictateError::Kind::rejected:
        return "rejected " + error.message();
    case DictateError::Kind::server:
        return "server " + std::to_string(error.status());
    case DictateError::Kind::notConfigured:
        return "no consent";
    case DictateError::Kind::offline:
        return "offline";
    case DictateError::Kind::timeout:
        return "timeout";
    case DictateError::Kind::limit:
        return "limit";
    case DictateError::Kind::editFailed:
        return "edit failed";
    }
    return "error";
}

// The pill shown after the draft went in in the cloud's place: the user should know the text
// is only the draft. Without consent the draft is what the user chose, so nothing is said.
std::optional<PillState> draftNote(const DictateError& error) {
    switch (error.kind()) {
    case DictateError::Kind::notConfigured:
    case DictateError::Kind::editFailed:
        return std::nullopt;
    case DictateError::Kind::limit:
        return PillState::limit();
    case DictateError::Kind::rejected:
    case DictateError::Kind::server:
    case DictateError::Kind::offline:
    case DictateError::Kind::timeout:
        break;
    }
    return PillState::offline();
}

std::int64_t msSince(double start) {
    return wholeMs(Clock::uptime() - start);
}

} // namespace

// Never fails: every road ends in a record that says what to insert, or which pill to show
// instead, with the timings of the log line.
Task<DictationController::Recognized> DictationController::recognize(SessionRef s,
                                                                     DictationContext context,
                                                                     DictationMode mode,
                                                                     Settings settings) {
    // 1. The draft finishes first and alongside everything below; it is only waited for when
    // the cloud gives no text.
    const double draftStart = Clock::uptime();
    const Future<std::string> draft = m_services->liveDraft->finish();

    // 2.
    Recognized result;
    const bool edit = mode == DictationMode::edit;

    // 3. 9. Without a backend, or without an encoder, the clip never reaches the network.
    if (!m_services->dictate->isConfigured() || !s->encoder) {
        if (s->encoder)
            s->encoder->cancel();
        result.cloud = "none";
        std::string text = co_await draft;
        result.draftMs = msSince(draftStart);
        if (edit) {
            // A voice edit never inserts the draft: it would replace the selection with the
            // instruction itself.
            result.failure = PillState::refused(RefuseReason::editFailed);
        } else {
            result.text = text;
            result.raw = std::move(text);
            result.source = Recognized::Source::draft;
        }
        co_return result;
    }

    // 4. The encoder's finish blocks until the last packets are made: never on the main
    // thread.
    const double flushStart = Clock::uptime();
    Promise<std::vector<std::uint8_t>> flushed;
    WorkerPool::async([encoder = s->encoder, flushed] { flushed.resolve(encoder->finish()); });
    std::vector<std::uint8_t> clip = co_await flushed.future();
    result.flushMs = msSince(flushStart);

    // 5. The selection is the voice edit's subject and always goes; the rest of the field
    // only with the user's leave.
    DictateRequest request;
    request.clip = std::move(clip);
    request.languages = settings.languages;
    request.mode = mode;
    if (settings.sendContext) {
        request.appName = context.appName;
        request.before = context.before;
        request.after = context.after;
    }
    if (edit)
        request.selection = context.selection;
    request.words = settings.words;

    // 6.
    const double cloudStart = Clock::uptime();
    const DictateReply reply = co_await m_services->dictate->dictate(std::move(request));
    result.cloudMs = msSince(cloudStart);

    // 7. An answer. The confident final is read before the draft is cancelled, which clears it.
    if (const auto* answer = std::get_if<DictateResult>(&reply)) {
        result.serverMs = answer->ms;
        const std::optional<std::string> confident = m_services->liveDraft->confidentFinal();
        m_services->liveDraft->cancel();
        result.raw = answer->raw;
        result.text = answer->text;
        result.source = Recognized::Source::cloud;
        result.cloud = "ok";
        const bool russian = std::find(settings.languages.begin(), settings.languages.end(),
                                       "ru") != settings.languages.end();
        if (!edit && russian) {
            auto recovery =
                DictationLanguage::recovery(*answer, confident, *m_services->languageRecognizer);
            if (recovery && recovery->kind == DictationLanguage::Recovery::Kind::raw) {
                result.text = answer->raw;
                result.cloud = "ok (language guard: raw)";
            } else if (recovery) {
                result.text = recovery->text;
                result.source = Recognized::Source::draft;
                result.cloud = "ok (language guard: local)";
            }
        }
        co_return result;
    }

    // 8. A failure. A cancellation or anything else that is not one of the service's own
    // errors counts as the service being unreachable.
    const DictateError* error = std::get_if<DictateError>(&reply);
    result.cloud = error ? cloudNote(*error) : "error";
    if (error && error->kind() == DictateError::Kind::editFailed) {
        m_services->liveDraft->cancel();
        result.failure = PillState::refused(RefuseReason::editFailed);
        co_return result;
    }
    const std::optional<PillState> note = error ? draftNote(*error) : PillState::offline();
    std::string text = co_await draft;
    result.draftMs = msSince(draftStart);
    if (edit) {
        const bool limit = note && note->kind() == PillState::Kind::limit;
        result.failure = limit ? PillState::limit() : PillState::refused(RefuseReason::editFailed);
    } else {
        result.text = text;
        result.raw = std::move(text);
        result.source = Recognized::Source::draft;
        result.note = note;
    }
    co_return result;
}

} // namespace talverin
