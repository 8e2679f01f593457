#include "TalverinAudio/linux/AudioEngineNull.h"

#include <utility>

namespace talverin {

AudioEngineError AudioEngineNull::error() const {
    return AudioEngineError{"unavailable", 0, AudioEngineError::Kind::unavailable, reason()};
}

Result<void, AudioEngineError> AudioEngineNull::selectDevice(const InputDevice& /*device*/) {
    return fail(error());
}

Result<void, AudioEngineError> AudioEngineNull::start() {
    return fail(error());
}

} // namespace talverin
