#pragma once

#include "TalverinAudio/AudioSystem.h"
#include "TalverinAudio/linux/PulseConnection.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace talverin {

// The sound system on PulseAudio: the input devices are the server's sources without the
// monitors of its sinks (uid = the source's name, name = its description), the default input
// is the server's default source, and engines record with AudioEnginePulse. Every request
// waits at most PulseConnection::waitLimit; without a server the lists are empty and every
// read fails with the connection's error.
class AudioSystemPulse final : public AudioSystem {
public:
    explicit AudioSystemPulse(std::shared_ptr<PulseConnection> connection);
    ~AudioSystemPulse() override;

    Result<std::vector<InputDevice>, CoreAudioError> inputDevices() override;
    Result<std::optional<std::uint32_t>, CoreAudioError> defaultInputID() override;
    InputShape inputShape(std::uint32_t id) override;
    Result<ListenerID, CoreAudioError> addListener(Property property,
                                                   std::function<void()> onChange) override;
    void removeListener(ListenerID id) override;
    bool isInputMuted(std::uint32_t id) override;
    bool isHeldByOtherProcess(std::uint32_t id) override;
    std::unique_ptr<AudioEngine> makeEngine() override;
    void limitWaits(std::optional<double> deadline) override;
    bool waitRanOut() override;

    // The transport of a source from its "device.bus" and "device.form_factor" properties
    // (either may be missing).
    static InputDevice::Transport transportFor(const char* bus, const char* formFactor);

private:
    std::shared_ptr<PulseConnection> m_connection;
    std::mutex m_mutex;
    std::map<ListenerID, PulseConnection::ObserverID> m_listeners;
    ListenerID m_nextListener = 1;
};

} // namespace talverin
