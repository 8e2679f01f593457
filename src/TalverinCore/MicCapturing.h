#pragma once

#include "Runtime/Future.h"
#include "Runtime/Result.h"
#include "TalverinCore/CapturedClip.h"
#include "TalverinCore/MicBuffer.h"
#include "TalverinCore/MicCheckReading.h"
#include "TalverinCore/MicError.h"

#include <functional>
#include <optional>
#include <string>

namespace talverin {

// The dictation microphone.
class MicCapturing {
public:
    using BufferCallback = std::function<void(const MicBuffer&)>;
    using ReadingCallback = std::function<void(const MicCheckReading&)>;

    virtual ~MicCapturing() = default;

    // Main thread. The chosen input device's identifier, none for the automatic choice; a new
    // choice takes effect at the next preparation.
    virtual std::optional<std::string> deviceID() const = 0;
    virtual void setDeviceID(std::optional<std::string> id) = 0;
    // Main thread, once, before the first begin(). The callback is invoked for every captured
    // block on the microphone's audio queue, never on the main thread. It is a setter rather
    // than a public member because the audio queue reads it while the main thread may write
    // it: the microphone guards it.
    virtual void setOnBuffer(BufferCallback onBuffer) = 0;
    // Main thread. The name of the input device in use; none when there is none.
    virtual std::optional<std::string> deviceName() const = 0;
    // A background queue, since it blocks its caller while the engine is prepared. Prepares
    // the engine so that the first dictation starts quickly; fails with an error when it
    // cannot.
    virtual Result<void, MicError> prewarm() = 0;
    // Main thread; blocks until a capture is open. Fails with an error when it cannot open one.
    virtual Result<void, MicError> begin() = 0;
    // Main thread. Ends the capture after `postRollMs` of further audio and answers with the
    // clip, CapturedClip::empty() when nothing was captured; it never fails. Callers never run
    // two ends at once: a new one waits until the previous one has answered.
    virtual Future<CapturedClip> end(int postRollMs) = 0;
    // Main thread. Starts the level check: one reading every MicCheck::interval, delivered on
    // the microphone's control queue, never on the main thread.
    virtual void beginLevelCheck(ReadingCallback onReading) = 0;
    // Main thread. Stops the level check: once the control queue has taken the stop up, no
    // further reading arrives (one it is delivering at that moment still may).
    virtual void endLevelCheck() = 0;
};

} // namespace talverin
