#pragma once

#include "Runtime/SerialQueue.h"
#include "TalverinAudio/AudioEngine.h"
#include "TalverinAudio/AudioSystem.h"
#include "TalverinAudio/CaptureCore.h"
#include "TalverinAudio/DevicePolicy.h"
#include "TalverinAudio/InputDevice.h"
#include "TalverinAudio/MicLevelCheck.h"
#include "TalverinCore/MicCapturing.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace talverin {

// The one microphone. It keeps a recording engine prepared on the chosen input device between
// dictations, so that a key press only resumes it, opens and closes captures on the capture
// engine, and rebuilds the engine when the devices, the default input or the engine's own
// configuration change. Every log line begins with "mic: " and names the preparation's reason.
// The settings pages' level check (MicLevelCheck) runs on the same engine, between captures.
//
// Create and destroy it on the main thread.
class DictationMic final : public MicCapturing, private MicLevelCheck::Host {
public:
    using Authorized = std::function<bool()>;

    // Frames per tap block.
    static constexpr std::uint32_t tapFrames = 1024;
    // Delays that coalesce bursts of changes into one rebuild.
    static constexpr double devicesDelay = 0.25;
    static constexpr double configurationDelay = 0.3;
    // This many configuration changes within the window stop the automatic rebuilds.
    static constexpr std::size_t configurationLimit = 4;
    static constexpr double configurationWindow = 10;
    // How long one job of the control queue, begin() above all, may wait for the sound server
    // in all; and the text of the engine error a begin fails with after that.
    static constexpr double waitBudget = 0.5;
    static constexpr const char* noAnswerText = "no answer from the sound server";

    // `authorized` answers, on any thread, whether the microphone may be used.
    DictationMic(std::shared_ptr<AudioSystem> system, Authorized authorized);
    ~DictationMic() override;
    DictationMic(const DictationMic&) = delete;
    DictationMic& operator=(const DictationMic&) = delete;

    std::optional<std::string> deviceID() const override;
    void setDeviceID(std::optional<std::string> id) override;
    void setOnBuffer(BufferCallback onBuffer) override;
    std::optional<std::string> deviceName() const override;
    Result<void, MicError> prewarm() override;
    Result<void, MicError> begin() override;
    Future<CapturedClip> end(int postRollMs) override;
    void beginLevelCheck(ReadingCallback onReading) override;
    void endLevelCheck() override;

    // Main thread, once. Called on the main queue whenever the device list or the default
    // input changes.
    void setOnDevicesChange(std::function<void()> onChange);
    std::function<void()> onDevicesChange() const;
    // Any thread. The device the current engine is prepared on.
    std::optional<InputDevice> activeDevice() const;

    // An engine error as log lines and MicError::engine show it: domain, a space, the code.
    static std::string describe(const AudioEngineError& error);

private:
    struct Prepared {
        InputDevice device;
        InputShape shape;
    };

    // Everything below runs on the control queue.
    std::optional<DevicePolicy::Choice> chooseDevice();
    // Whether a preparation keeps an engine already prepared on the chosen device.
    enum class Preparation { reuse, rebuild };
    Result<void, MicError> prepare(const std::string& reason, Preparation preparation);
    Result<void, MicError> startCapture(double t0);
    void captureEnded();
    void tearDown();
    // Whether the current engine is fresh and prepared on this device.
    bool isPreparedOn(const InputDevice& device) const;
    // Starts the running job's budget for waits on the sound server.
    void boundWaits();
    // Whether the running begin's budget ran out on a wait for the sound server.
    bool outOfTime();
    // Logs that the server did not answer and answers the begin's error.
    Result<void, MicError> noAnswer(const std::string& reason);
    void startListening();
    void devicesChanged();
    void configurationChanged(std::uint64_t engineSerial);
    void scheduleRebuild(std::string reason, double delay);
    void rebuildIfNeeded(const std::string& reason);
    // `job` as the control queue runs it: with a fresh budget for waits on the sound server,
    // and not at all once the service is closing.
    std::function<void()> guarded(std::function<void()> job);
    // Posts `job` to the control queue, guarded.
    void post(std::function<void()> job) override;

    // What the level check asks of the microphone, on the control queue; after() guards its
    // job as post() does.
    void after(double delay, std::function<void()> job) override;
    Result<void, MicError> runEngine() override;
    bool hasEngine() const override;
    bool engineRuns() const override;
    void pauseIdleEngine() override;
    bool isCapturing() const override;
    std::optional<InputDevice> checkedDevice() override;

    // Guards the three fields below it, each only for one read or write.
    mutable std::mutex m_lock;
    std::optional<std::string> m_storedDeviceID;
    std::function<void()> m_storedOnDevicesChange;
    std::optional<InputDevice> m_storedActiveDevice;

    const std::shared_ptr<AudioSystem> m_system;
    const Authorized m_authorized;
    std::shared_ptr<CaptureCore> m_core;
    MicLevelCheck m_levelCheck{*this, m_system};

    // Owned by the control queue.
    std::unique_ptr<AudioEngine> m_engine;
    std::uint64_t m_engineSerial = 0; // tells a late notice of an old engine from the current
    std::optional<Prepared> m_prepared;
    bool m_stale = false;
    bool m_beginning = false; // a begin() runs, with its budget
    bool m_recheck = false;
    bool m_wanted = false;
    bool m_listening = false;
    std::vector<AudioSystem::ListenerID> m_listeners;
    std::uint64_t m_rebuildToken = 0;
    std::vector<double> m_configRebuilds;
    bool m_closed = false;

    // The control queue runs every engine operation and every rebuild. prewarm() and begin()
    // wait for it synchronously, begin() on the main thread, so every wait on the sound server
    // made from this queue is bounded: it ends when the server answers, when the connection or
    // the recording stream stops being ready, or when the job's waits together have taken
    // waitBudget, and then takes the error path; once the server has not answered, later
    // waits fail at once until it does. Nothing on the audio queue or on the sound server's
    // thread ever waits for it.
    //
    // The queues are the last members, so they are destroyed first: a job still queued runs
    // while every other member exists, and finds the service closed.
    SerialQueue m_control{"mic.control"};
    // The audio queue runs the capture engine. Destroyed before the control queue, since its
    // jobs may post to it.
    SerialQueue m_audio{"mic.audio"};
};

} // namespace talverin
