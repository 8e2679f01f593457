#include "TalverinAudio/LevelMeter.h"

namespace talverin {

void LevelMeter::tap(const AudioBlock& /*block*/) {
    std::lock_guard lock(m_lock);
    if (!m_active)
        return;
}

} // namespace talverin
