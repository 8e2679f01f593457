#pragma once

#include "TalverinSpeech/DraftAudio.h"

namespace talverin {

// One recognition request: the audio of one segment of a dictation. Every call returns at
// once; the recognition itself runs elsewhere. Destroying a channel cancels it.
class DraftChannel {
public:
    virtual ~DraftChannel() = default;
    // Live-draft queue. One block in the engine's format, appended to the request.
    virtual void append(const DraftPcmBuffer& buffer) = 0;
    // Live-draft queue. No more audio comes; the final result follows.
    virtual void endAudio() = 0;
    // Live-draft queue. Stops the recognition; no result is reported after it returns.
    virtual void cancel() = 0;
};

} // namespace talverin
