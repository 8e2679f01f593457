#include "TalverinAudio/linux/OutputVolumeNull.h"

#include <utility>

namespace talverin {

Result<void, CoreAudioError> OutputVolumeNull::setVolume(float /*volume*/, DeviceId /*device*/) {
    return fail(CoreAudioError{"set volume", 0, CoreAudioError::Kind::unavailable, reason()});
}

} // namespace talverin
