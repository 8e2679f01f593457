#pragma once

#include "TalverinCore/MicCheckReading.h"

#include <functional>
#include <optional>

namespace talverin {

// The running judgement of one microphone level check: no reason while a loud block came
// within the last MicCheck::silenceWindow, and after that long a diagnosis, renewed every
// window on the evidence gathered since the previous one. Owned by the control queue.
struct LevelWindow {
    // What the meter's blocks left since the last drain.
    struct Drained {
        float peak = 0;       // the highest block level, 0 to 1
        bool loud = false;    // some block's level was above the speech level
        bool nonZero = false; // some block held a sample that is not exactly 0
        int blocks = 0;
        bool operator==(const Drained&) const = default;
    };
    // Gathered since the last diagnosis.
    struct Evidence {
        bool heardNonZero = false;
        int blocks = 0;
        bool operator==(const Evidence&) const = default;
    };
    // What a diagnosis knows of the device.
    struct DeviceFacts {
        bool exists = false;  // a device is prepared, or a preparation would choose one
        bool present = false; // it is still among the inputs with the same id and UID
        bool muted = false;
        bool hoggedByOther = false;
    };
    using Diagnose = std::function<MicSilenceReason(const Evidence&)>;

    double lastLoud = 0;
    std::optional<double> nextDiagnosis;
    Evidence evidence;
    std::optional<MicSilenceReason> reason;

    // A window that starts quiet-free at `now`, the time the check or its engine started.
    static LevelWindow startingAt(double now);
    // Folds one drain in at `now` and answers the tick's reading; `diagnose` is asked only
    // when a diagnosis is due.
    MicCheckReading tick(double now, const Drained& drained, const Diagnose& diagnose);
    // Why the input is quiet, from the device's facts and the evidence.
    static MicSilenceReason diagnoseFrom(const DeviceFacts& device, const Evidence& evidence);
};

} // namespace talverin
