#pragma once

namespace talverin {

// The constants of the live draft, read by the session and by the engine provider alike.
struct DraftTuning {
    // Longest wait, in seconds, for final results after finish().
    double finishCap = 0.6;
    // Segment audio, in seconds, after which a quiet block starts a new segment.
    double softRotate = 50;
    // Segment audio, in seconds, at which a new segment starts regardless.
    double hardRotate = 55;
    // Block RMS below which a block counts as quiet.
    float quietRMS = 0.01f;
    // Longest wait, in seconds, for a rotated-out segment's final result.
    double staleSegmentCap = 3;
    // A segment that ends by itself with less audio than this (seconds) and no words failed
    // quickly.
    double quickFailureAudio = 1;
    // Quick failures in a row that switch live words off for the dictation.
    int maxQuickFailures = 3;
    // Most contextual strings handed to the recogniser.
    int contextualLimit = 100;
    // Lifetime, in seconds, of the cached locale choice.
    double choiceTTL = 120;

    static DraftTuning standard() { return DraftTuning{}; }
};

} // namespace talverin
