#pragma once

#include "TalverinAudio/AudioBlock.h"
#include "TalverinAudio/LevelWindow.h"

#include <mutex>

namespace talverin {

// Measures every tap block for the microphone level check before the capture engine sees it.
// Shared between the engine's thread, which measures and adds, and the control queue, which
// switches it on and off and drains what the blocks left. The lock is held only to read the
// switch and to add one block's result; measuring happens outside it.
class LevelMeter final {
public:
    using Drained = LevelWindow::Drained;

    // A block whose level is above this counts as loud: the level of an RMS of 0.004.
    static constexpr float speechLevel = 0.15647116f;

    struct Measure {
        float rms = 0;
        bool nonZero = false;
    };

    // One pass over the block: the RMS of the frames' channel averages and whether any
    // sample is not exactly 0. A block without frames measures silent; one that cannot be
    // read as audio at all measures as level 0 with something heard, so that a device that
    // only delivers such blocks is never taken for a silent one.
    static Measure measure(const AudioBlock& block);

    // The engine's thread. Measures and adds the block while the meter is active.
    void tap(const AudioBlock& block);
    // Any thread. Adds one block's result while the meter is active.
    void add(float level, bool nonZero);

    // The control queue. Switches the meter on with nothing pending; does nothing when it is
    // already on, so a running check keeps what its blocks left.
    void activate();
    // Switches the meter off and forgets what was pending.
    void deactivate();
    // Takes what the blocks left since the last drain.
    Drained drain();
    bool isActive() const;

private:
    mutable std::mutex m_lock;
    bool m_active = false;
    Drained m_pending;
};

} // namespace talverin
