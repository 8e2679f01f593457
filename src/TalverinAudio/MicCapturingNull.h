#pragma once

#include "TalverinAudio/Unavailable.h"
#include "TalverinCore/MicCapturing.h"

#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace talverin {

// The microphone when there is no sound system: it keeps the user's choice of device, fails
// every preparation and begin with an engine error that names the reason, gives empty clips,
// and the level check hears no input.
class MicCapturingNull final : public MicCapturing, public Unavailable {
public:
    explicit MicCapturingNull(std::string reason) : Unavailable(std::move(reason)) {}

    std::optional<std::string> deviceID() const override;
    void setDeviceID(std::optional<std::string> id) override;
    void setOnBuffer(BufferCallback /*onBuffer*/) override {}
    std::optional<std::string> deviceName() const override { return std::nullopt; }
    Result<void, MicError> prewarm() override;
    Result<void, MicError> begin() override;
    Future<CapturedClip> end(int postRollMs) override;
    // The one reading says why nothing is heard; it comes on the main queue.
    void beginLevelCheck(ReadingCallback onReading) override;
    void endLevelCheck() override {}

private:
    mutable std::mutex m_lock;
    std::optional<std::string> m_deviceID;
};

} // namespace talverin
