#pragma once

namespace talverin {

// Lowers the other applications' audio while a dictation listens.
class Ducking {
public:
    virtual ~Ducking() = default;

    // Main thread. Lowers other audio; returns at once.
    virtual void duck() = 0;
    // Main thread. Gives the lowered audio back with a fade; nothing when nothing is lowered.
    virtual void restore() = 0;
    // Main thread, at termination. Gives the lowered audio back before returning.
    virtual void restoreImmediately() = 0;
};

} // namespace talverin
