#pragma once

#include "TalverinSpeech/DraftAudio.h"
#include "TalverinSpeech/DraftChannel.h"
#include "TalverinSpeech/DraftTranscript.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talverin {

// What a recognition task is asked to do.
struct RecognitionRequest {
    std::vector<std::string> contextualStrings;
    bool requiresOnDeviceRecognition = true;
    bool reportsPartialResults = true;
    bool addsPunctuation = true;
};

// One result of a task: the best transcription of the whole request so far.
struct RecognitionResult {
    std::string text;
    bool isFinal = false;
    // The confidence, 0 to 1, of each segment of the best transcription; final results only.
    std::vector<float> segmentConfidences;
};

struct RecognitionError {
    std::string domain;
    std::int64_t code = 0;
};

// What a task reports: a result, an error, or both when a final result ends with an error.
struct RecognitionReport {
    std::optional<RecognitionResult> result;
    std::optional<RecognitionError> error;
};

// An on-device recogniser for one locale.
class SpeechRecognizer {
public:
    virtual ~SpeechRecognizer() = default;

    // Live-draft queue. Whether it can recognise without the network at all.
    virtual bool supportsOnDeviceRecognition() const = 0;
    // Live-draft queue. Whether it can recognise now (its model is there and loads).
    virtual bool isAvailable() const = 0;
    // Live-draft queue. The format a new request takes natively.
    virtual DraftAudioFormat nativeFormat() const = 0;
    // Any thread. Whether a result may start a new utterance instead of spanning the request.
    virtual UtteranceRestarts utteranceRestarts() const = 0;
    // Live-draft queue. Starts a task and returns at once. `onReport` runs on a thread of the
    // recogniser's, one report at a time, and never after the channel is cancelled or gone.
    virtual std::unique_ptr<DraftChannel>
    begin(const RecognitionRequest& request, std::function<void(RecognitionReport)> onReport) = 0;
};

// The seam of on-device speech recognition: which locales it knows, whether the user allows
// it, and a recogniser per locale. A machine without a recogniser answers with no locales.
class SpeechRecognizers {
public:
    // The status that allows recognition; any other value is logged as it stands.
    static constexpr int authorized = 3;

    virtual ~SpeechRecognizers() = default;

    // Live-draft queue. Every locale id it can recognise, in any order.
    virtual std::vector<std::string> supportedLocales() const = 0;
    // Live-draft queue. `authorized`, or why not.
    virtual int authorizationStatus() const = 0;
    // Live-draft queue. A new recogniser for the locale, or null when none can be made.
    virtual std::shared_ptr<SpeechRecognizer> recognizer(const std::string& localeId) = 0;
};

} // namespace talverin
