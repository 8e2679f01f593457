#include "TalverinAudio/LevelWindow.h"

namespace talverin {

LevelWindow LevelWindow::startingAt(double now) {
    LevelWindow window;
    window.lastLoud = now;
    return window;
}

MicCheckReading LevelWindow::tick(double now, const Drained& drained, const Diagnose& diagnose) {
    if (drained.nonZero)
        evidence.heardNonZero = true;
    evidence.blocks += drained.blocks;
    if (drained.loud)
        lastLoud = now;

    if (now - lastLoud < MicCheck::silenceWindow) {
        reason.reset();
        nextDiagnosis.reset();
    } else if (!reason || !nextDiagnosis || *nextDiagnosis <= now) {
        reason = diagnose(evidence);
        evidence = {};
        nextDiagnosis = now + MicCheck::silenceWindow;
    }
    // A level that is not a number is passed on as it is; the clamp keeps it so.
    float level = drained.peak;
    if (level < 0)
        level = 0;
    else if (level > 1)
        level = 1;
    return MicCheckReading{level, reason};
}

MicSilenceReason LevelWindow::diagnoseFrom(const DeviceFacts& device, const Evidence& evidence) {
    if (!device.exists || !device.present)
        return MicSilenceReason::noInput;
    if (device.muted)
        return MicSilenceReason::muted;
    if (device.hoggedByOther)
        return MicSilenceReason::busy;
    if (evidence.heardNonZero && evidence.blocks > 0)
        return MicSilenceReason::unknown;
    return MicSilenceReason::noInput;
}

} // namespace talverin
