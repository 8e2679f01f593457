#pragma once

#include "TalverinAudio/AudioEngine.h"
#include "TalverinAudio/AudioSystem.h"
#include "fakes/CallLog.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace talverin::test {

// A sound system driven by the test: it lists the devices the test sets, answers each
// engine operation from a script, and lets the test deliver blocks, change the configuration
// and announce device changes. Engines it made are recorded with what was done to them, also
// after the microphone has thrown them away. Calls are logged in `log` ("makeEngine",
// "select <uid>", "prepare", "start", "pause", "stop", "inputDevices" ...).
class AudioSystemFake final : public AudioSystem {
public:
    // One engine the fake made, as the test sees it.
    struct Engine {
        std::optional<InputDevice> device;
        std::optional<AudioFormat> tapFormat;
        std::uint32_t tapFrames = 0;
        AudioEngine::Tap tap;
        std::function<void()> onConfigurationChange;
        bool running = false;
        bool stopped = false;
        int prepares = 0;
        int starts = 0;
        int pauses = 0;
    };

    CallLog log;

    AudioSystemFake();
    ~AudioSystemFake() override;

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

    // The system's state; a change is announced only by announce().
    void setDevices(std::vector<InputDevice> devices);
    void setDefaultInput(std::optional<std::uint32_t> id);
    // A device's shape, which is also the input format its engines report.
    void setShape(std::uint32_t id, InputShape shape);
    void setListError(std::optional<CoreAudioError> error);
    // The device facts the level check reads ("muted <id>" and "held <id>" in the log).
    void setMuted(std::uint32_t id, bool muted);
    void setHeldByOther(std::uint32_t id, bool held);

    // Scripts: the coming selectDevice() statuses, start() failures (none: success) and
    // listener installations; nothing scripted means success.
    void scriptSelect(std::int32_t status);
    void scriptStart(std::optional<AudioEngineError> failure);
    void scriptListener(Property property, std::int32_t status);
    void setMakeEngineFails(bool fails);
    // Runs inside every engine's pause(), after the engine has stopped delivering: a pause
    // that takes a while, as a server's answer does.
    void setOnPause(std::function<void()> onPause);
    // A server that stopped answering: from now on every wait runs out, the lists and the
    // default fail and engines do not start.
    void setStalled(bool stalled);
    // The latest bound limitWaits() set.
    std::optional<double> waitDeadline() const;

    // Calls the listeners of the property, as the sound system's thread would.
    void announce(Property property);
    std::size_t listenerCount() const;

    std::size_t enginesMade() const;
    // The engine made n-th (from 0), or the latest one.
    Engine engine(std::size_t index) const;
    Engine latestEngine() const;
    // Hands a block to the latest engine's tap when it is running; answers whether it did.
    bool deliver(AudioBlock block, std::optional<double> time);
    // Calls the latest engine's configuration-change callback, if it has one.
    void changeConfiguration();
    // The same on the n-th engine, live or not.
    void changeConfiguration(std::size_t index);

private:
    class FakeEngine;
    friend class FakeEngine;

    mutable std::mutex m_mutex;
    // Held while a callback (tap, listener, configuration change) runs and while one is
    // replaced or removed: as with a real backend, no call comes after the removal returns.
    std::recursive_mutex m_callbacks;
    std::vector<InputDevice> m_devices;
    std::optional<std::uint32_t> m_default;
    std::map<std::uint32_t, InputShape> m_shapes;
    std::optional<CoreAudioError> m_listError;
    std::set<std::uint32_t> m_muted;
    std::set<std::uint32_t> m_held;
    std::deque<std::int32_t> m_selects;
    std::deque<std::optional<AudioEngineError>> m_starts;
    std::map<Property, std::int32_t> m_listenerFailures;
    bool m_makeEngineFails = false;
    std::function<void()> m_onPause;
    bool m_stalled = false;
    std::optional<double> m_waitDeadline;
    std::map<ListenerID, std::pair<Property, std::function<void()>>> m_listeners;
    ListenerID m_nextListener = 1;
    std::vector<std::shared_ptr<Engine>> m_engines;
};

} // namespace talverin::test
