#include "Talverin/Dictation/DictationRecognition.h"

#include "Runtime/MainQueue.h"
#include "Runtime/Milliseconds.h"
#include "Talverin/Dictation/DictationLanguage.h"
#include "Talverin/Dictation/CloudOutcome.h"

#include <algorithm>
#include <variant>

namespace talverin {
namespace {

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

bool includesRussian(const Settings& settings) {
    return std::find(settings.languages.begin(), settings.languages.end(), "ru") !=
           settings.languages.end();
}

} // namespace

Task<DictationRecognition::Recognized>
DictationRecognition::recognize(std::shared_ptr<ClipEncoding> encoder, DictationContext context,
                                DictationMode mode, Settings settings) {
    // The draft finishes alongside everything below; it is only waited for when the cloud
    // gives no text.
    const double draftStart = Clock::uptime();
    Future<std::string> draft = m_liveDraft->finish();

    // The encoder exists only when a backend was configured at launch; without either the
    // clip never reaches the network.
    if (!m_dictate->isConfigured() || !encoder)
        co_return co_await withoutCloud(std::move(encoder), std::move(draft), draftStart, mode);

    Recognized result;
    const double flushStart = Clock::uptime();
    std::vector<std::uint8_t> clip = co_await flush(std::move(encoder));
    result.flushMs = msSince(flushStart);

    const double cloudStart = Clock::uptime();
    DictateReply reply =
        co_await m_dictate->dictate(request(std::move(clip), context, mode, settings));
    result.cloudMs = msSince(cloudStart);

    if (const auto* answer = std::get_if<DictateResult>(&reply))
        co_return answered(std::move(result), *answer, mode, settings);
    co_return co_await failed(std::move(result), std::move(reply), std::move(draft), draftStart,
                              mode);
}

Task<DictationRecognition::Recognized>
DictationRecognition::withoutCloud(std::shared_ptr<ClipEncoding> encoder, Future<std::string> draft,
                                   double draftStart, DictationMode mode) {
    if (encoder)
        encoder->cancel();
    Recognized result;
    result.cloud = toString(CloudOutcome::none);
    std::string text = co_await draft;
    result.draftMs = msSince(draftStart);
    // A voice edit never inserts the draft: it would replace the selection with the
    // instruction itself.
    if (mode == DictationMode::edit)
        result.failure = PillState::refused(RefuseReason::editFailed);
    else
        takeDraft(result, std::move(text));
    co_return result;
}

// The encoder's finish blocks until the last packets are made: never on the main thread.
Future<std::vector<std::uint8_t>>
DictationRecognition::flush(std::shared_ptr<ClipEncoding> encoder) {
    Promise<std::vector<std::uint8_t>> flushed;
    WorkerPool::async(
        [encoder = std::move(encoder), flushed] { flushed.resolve(encoder->finish()); });
    return flushed.future();
}

// The selection is the voice edit's subject and always goes; the rest of the field only with
// the user's leave.
DictateRequest DictationRecognition::request(std::vector<std::uint8_t> clip,
                                             const DictationContext& context, DictationMode mode,
                                             const Settings& settings) {
    DictateRequest request;
    request.clip = std::move(clip);
    request.languages = settings.languages;
    request.mode = mode;
    if (settings.sendContext) {
        request.appName = context.appName;
        request.before = context.before;
        request.after = context.after;
    }
    if (mode == DictationMode::edit)
        request.selection = context.selection;
    request.words = settings.words;
    return request;
}

// The confident final is read before the draft is cancelled, which clears it. A voice edit is
// never guarded: its answer is an edit of the user's own words, not a transcript.
DictationRecognition::Recognized DictationRecognition::answered(Recognized result,
                                                                const DictateResult& answer,
                                                                DictationMode mode,
                                                                const Settings& settings) {
    result.serverMs = answer.ms;
    const std::optional<std::string> confident = m_liveDraft->confidentFinal();
    m_liveDraft->cancel();
    result.raw = answer.raw;
    result.text = answer.text;
    result.source = Recognized::Source::cloud;
    result.cloud = toString(CloudOutcome::ok);
    if (mode == DictationMode::edit || !includesRussian(settings))
        return result;
    const auto recovery = DictationLanguage::recovery(answer, confident, *m_languageRecognizer);
    if (recovery && recovery->kind == DictationLanguage::Recovery::Kind::raw) {
        result.text = answer.raw;
        result.cloud = toString(CloudOutcome::guardRaw);
    } else if (recovery) {
        result.text = recovery->text;
        result.source = Recognized::Source::draft;
        result.cloud = toString(CloudOutcome::guardLocal);
    }
    return result;
}

// A cancellation or anything else that is not one of the service's own errors counts as the
// service being unreachable. A failed voice edit has nothing to fall back on, so it does not
// wait for the draft.
Task<DictationRecognition::Recognized>
DictationRecognition::failed(Recognized result, DictateReply reply, Future<std::string> draft,
                             double draftStart, DictationMode mode) {
    const DictateError* error = std::get_if<DictateError>(&reply);
    result.cloud = error ? dictateErrorText(*error, NotConfiguredMeaning::noConsent)
                         : std::string(toString(CloudOutcome::otherError));
    if (error && error->kind() == DictateError::Kind::editFailed) {
        m_liveDraft->cancel();
        result.failure = PillState::refused(RefuseReason::editFailed);
        co_return result;
    }
    const std::optional<PillState> note = error ? draftNote(*error) : PillState::offline();
    std::string text = co_await draft;
    result.draftMs = msSince(draftStart);
    if (mode == DictationMode::edit) {
        const bool limit = note && note->kind() == PillState::Kind::limit;
        result.failure = limit ? PillState::limit() : PillState::refused(RefuseReason::editFailed);
    } else {
        takeDraft(result, std::move(text));
        result.note = note;
    }
    co_return result;
}

void DictationRecognition::takeDraft(Recognized& result, std::string text) {
    result.text = text;
    result.raw = std::move(text);
    result.source = Recognized::Source::draft;
}

} // namespace talverin
