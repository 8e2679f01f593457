#pragma once

#include "TalverinAudio/AudioBlock.h"

#include <mutex>

namespace talverin {

// Measures every tap block for the microphone level check before the capture engine sees it.
// Shared between the engine's thread, which measures, and the control queue, which switches
// it on and off.
//
// FIXME: the level check is not built yet; until it is, the meter is never switched on and
// ignores every block.
class LevelMeter {
public:
    // The engine's thread.
    void tap(const AudioBlock& block);

private:
    std::mutex m_lock;
    bool m_active = false;
};

} // namespace talverin
