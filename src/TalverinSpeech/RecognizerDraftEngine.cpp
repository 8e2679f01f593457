#include "TalverinSpeech/RecognizerDraftEngine.h"

#include <algorithm>

namespace talverin {

RecognizerDraftEngine::RecognizerDraftEngine(std::string localeId,
                                             std::shared_ptr<SpeechRecognizer> recognizer,
                                             DraftAudioFormat format,
                                             std::shared_ptr<SerialQueue> callbacks)
    : m_localeId(std::move(localeId)), m_recognizer(std::move(recognizer)), m_format(format),
      m_callbacks(std::move(callbacks)) {}

UtteranceRestarts RecognizerDraftEngine::utteranceRestarts() const {
    return m_recognizer->utteranceRestarts();
}

std::unique_ptr<DraftChannel>
RecognizerDraftEngine::begin(const std::vector<std::string>& contextualStrings,
                             std::function<void(DraftEvent)> onEvent) {
    RecognitionRequest request;
    request.contextualStrings = contextualStrings;
    std::weak_ptr<SerialQueue> callbacks = m_callbacks;
    return m_recognizer->begin(request,
                               [callbacks, onEvent = std::move(onEvent)](RecognitionReport report) {
                                   // The result queue goes with the provider; a report after that
                                   // has no one to go to.
                                   if (auto queue = callbacks.lock())
                                       queue->async([onEvent, report = std::move(report)] {
                                           if (auto event = eventOf(report))
                                               onEvent(std::move(*event));
                                       });
                               });
}

std::optional<DraftEvent> RecognizerDraftEngine::eventOf(const RecognitionReport& report) {
    if (report.result) {
        const RecognitionResult& result = *report.result;
        if (!result.isFinal)
            return DraftEvent::partial(result.text);
        const auto& confidences = result.segmentConfidences;
        bool confident =
            !confidences.empty() && std::all_of(confidences.begin(), confidences.end(),
                                                [](float c) { return c >= confidentSegment; });
        return DraftEvent::final(result.text, confident);
    }
    if (report.error)
        return DraftEvent::failed(report.error->domain + " " + std::to_string(report.error->code));
    return std::nullopt;
}

} // namespace talverin
