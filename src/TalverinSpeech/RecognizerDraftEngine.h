#pragma once

#include "Runtime/SerialQueue.h"
#include "TalverinSpeech/DraftEngine.h"
#include "TalverinSpeech/SpeechRecognizers.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talverin {

// The engine of one locale over an on-device recogniser. Its reports are turned into events
// on the provider's result queue, one at a time, whatever thread the recogniser reports on.
class RecognizerDraftEngine final : public DraftEngine {
public:
    // A confident final needs every segment of its transcription at least this sure.
    static constexpr float confidentSegment = 0.75f;

    RecognizerDraftEngine(std::string localeId, std::shared_ptr<SpeechRecognizer> recognizer,
                          DraftAudioFormat format, std::shared_ptr<SerialQueue> callbacks);

    const std::string& localeId() const override { return m_localeId; }
    const DraftAudioFormat& format() const override { return m_format; }
    UtteranceRestarts utteranceRestarts() const override;
    std::unique_ptr<DraftChannel> begin(const std::vector<std::string>& contextualStrings,
                                        std::function<void(DraftEvent)> onEvent) override;

    // The events a report stands for, in order, none for a report that carries nothing. A final
    // result wins over an error reported with it; an interim one is followed by the failure.
    static std::vector<DraftEvent> eventsOf(const RecognitionReport& report);

private:
    std::string m_localeId;
    std::shared_ptr<SpeechRecognizer> m_recognizer;
    DraftAudioFormat m_format;
    std::shared_ptr<SerialQueue> m_callbacks;
};

} // namespace talverin
