#pragma once

#include "TalverinSpeech/DraftAudio.h"
#include "TalverinSpeech/DraftChannel.h"
#include "TalverinSpeech/DraftEvent.h"
#include "TalverinSpeech/DraftTranscript.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace talverin {

// A recogniser for one locale, ready to begin one channel per segment.
class DraftEngine {
public:
    virtual ~DraftEngine() = default;

    virtual const std::string& localeId() const = 0;
    // The format blocks are converted to before they are appended.
    virtual const DraftAudioFormat& format() const = 0;
    // Whether a result may start a new utterance instead of spanning the whole segment.
    virtual UtteranceRestarts utteranceRestarts() const = 0;
    // Live-draft queue. Starts recognising with the cleaned contextual strings; `onEvent` runs
    // on the provider's result queue, one event at a time.
    virtual std::unique_ptr<DraftChannel> begin(const std::vector<std::string>& contextualStrings,
                                                std::function<void(DraftEvent)> onEvent) = 0;
};

} // namespace talverin
