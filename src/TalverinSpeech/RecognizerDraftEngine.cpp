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
                                           for (DraftEvent& event : eventsOf(report))
                                               onEvent(std::move(event));
                                       });
                               });
}

std::vector<DraftEvent> RecognizerDraftEngine::eventsOf(const RecognitionReport& report) {
    std::vector<DraftEvent> events;
    if (report.result) {
        const RecognitionResult& result = *report.result;
        if (result.isFinal) {
            const auto& confidences = result.segmentConfidences;
            const bool confident =
                !confidences.empty() && std::all_of(confidences.begin(), confidences.end(),
                                                    [](float c) { return c >= confidentSegment; });
            // The segment is complete: an error that came with it changes nothing.
            events.push_back(DraftEvent::final(result.text, confident));
            return events;
        }
        events.push_back(DraftEvent::partial(result.text));
    }
    // An error after an interim text still ends the segment: without it the session would
    // wait for a final that never comes.
    if (report.error)
        events.push_back(
            DraftEvent::failed(report.error->domain + " " + std::to_string(report.error->code)));
    return events;
}

} // namespace talverin
