#pragma once

#include "TalverinAudio/AudioEngine.h"
#include "TalverinAudio/Unavailable.h"

#include <string>
#include <utility>

namespace talverin {

// The engine when there is no sound system: it selects no device and never starts, and says
// why in every error it answers.
class AudioEngineNull final : public AudioEngine, public Unavailable {
public:
    explicit AudioEngineNull(std::string reason) : Unavailable(std::move(reason)) {}

    Result<void, AudioEngineError> selectDevice(const InputDevice& device) override;
    std::optional<AudioFormat> inputFormat() override { return std::nullopt; }
    void installTap(std::uint32_t /*frames*/, AudioFormat /*format*/, Tap /*tap*/) override {}
    void removeTap() override {}
    void prepare() override {}
    Result<void, AudioEngineError> start() override;
    void pause() override {}
    void stop() override {}
    bool isRunning() const override { return false; }
    void setOnConfigurationChange(std::function<void()> /*onChange*/) override {}

private:
    AudioEngineError error() const;
};

} // namespace talverin
