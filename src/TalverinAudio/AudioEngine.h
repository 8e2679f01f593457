#pragma once

#include "Runtime/Result.h"
#include "TalverinAudio/AudioBlock.h"
#include "TalverinAudio/AudioFormat.h"
#include "TalverinAudio/InputDevice.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace talverin {

// Why an engine call failed, as the sound system reports it: a domain and a code (which log
// lines quote), what kind of failure that is, and the system's own words when it has some.
struct AudioEngineError {
    enum class Kind {
        failed,      // the system refused, for a reason of its own
        noDevice,    // the device is gone
        timedOut,    // the system did not answer in time
        unavailable, // there is no sound system to ask
    };

    std::string domain;
    std::int64_t code = 0;
    Kind kind = Kind::failed;
    std::string message = {};

    bool operator==(const AudioEngineError&) const = default;
};

// The seam of one recording engine on one input device: the microphone service builds one per
// preparation, keeps it paused between captures and throws it away when the device or its
// format changes. Every call waits at most about 2 s for the sound system; a backend whose
// server has gone keeps answering with harmless values and reports the loss once through
// the configuration-change callback.
class AudioEngine {
public:
    // Called on the engine's own thread with one block and the uptime of its first sample,
    // none when the sound system cannot tell.
    using Tap = std::function<void(AudioBlock block, std::optional<double> time)>;

    virtual ~AudioEngine() = default;

    // Control queue. Points the engine at the device; the error's code is the sound system's
    // status.
    virtual Result<void, AudioEngineError> selectDevice(const InputDevice& device) = 0;
    // Control queue. The selected device's own format; none without a usable one.
    virtual std::optional<AudioFormat> inputFormat() = 0;
    // Control queue. Blocks of about `frames` frames in `format` go to `tap`.
    virtual void installTap(std::uint32_t frames, AudioFormat format, Tap tap) = 0;
    // Control queue. No block reaches the old tap after it returns.
    virtual void removeTap() = 0;
    // Control queue. Makes the engine ready to start; after a configuration change, binds it
    // to its device afresh. Nothing is recorded yet.
    virtual void prepare() = 0;
    // Control queue. Starts or resumes recording; also succeeds when already running.
    virtual Result<void, AudioEngineError> start() = 0;
    // Control queue. Stops delivering blocks and keeps what a start needs.
    virtual void pause() = 0;
    // Control queue. Releases the recording; nothing is delivered afterwards.
    virtual void stop() = 0;
    // Any thread.
    virtual bool isRunning() const = 0;
    // Any thread. `onChange` runs on the engine's own thread when the device's format changed,
    // the device went away, or the recording was moved or failed; no call comes after the
    // setter returns with another callback.
    virtual void setOnConfigurationChange(std::function<void()> onChange) = 0;
};

} // namespace talverin
