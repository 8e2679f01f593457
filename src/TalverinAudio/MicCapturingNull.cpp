#include "TalverinAudio/MicCapturingNull.h"

#include "Runtime/MainQueue.h"

#include <utility>

namespace talverin {

std::optional<std::string> MicCapturingNull::deviceID() const {
    std::lock_guard lock(m_lock);
    return m_deviceID;
}

void MicCapturingNull::setDeviceID(std::optional<std::string> id) {
    std::lock_guard lock(m_lock);
    m_deviceID = std::move(id);
}

Result<void, MicError> MicCapturingNull::prewarm() {
    return fail(MicError::engine(reason()));
}

Result<void, MicError> MicCapturingNull::begin() {
    return fail(MicError::engine(reason()));
}

Future<CapturedClip> MicCapturingNull::end(int /*postRollMs*/) {
    Promise<CapturedClip> promise;
    promise.resolve(CapturedClip::empty());
    return promise.future();
}

void MicCapturingNull::beginLevelCheck(ReadingCallback onReading) {
    if (!onReading)
        return;
    MainQueue::post([onReading = std::move(onReading)] {
        onReading(MicCheckReading{0, MicSilenceReason::noInput});
    });
}

} // namespace talverin
