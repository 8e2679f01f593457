#pragma once

#include "Runtime/Result.h"
#include "TalverinAudio/AudioSystem.h"
#include "TalverinAudio/InputDevice.h"
#include "TalverinAudio/LevelMeter.h"
#include "TalverinAudio/LevelWindow.h"
#include "TalverinCore/MicCapturing.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace talverin {

// The settings pages' microphone level check: a reading every MicCheck::interval from the
// dictation engine, outside any capture, with the reason when the input stays quiet. Dictation
// comes first: a begin ends the check's delivery, and a check asked for during a capture waits
// for the capture to end. Apart from begin(), end() and interrupt(), it runs on its
// microphone's control queue, as everything it asks of the microphone.
class MicLevelCheck final {
public:
    using ReadingCallback = MicCapturing::ReadingCallback;

    // What the check needs of the microphone that owns it. Called on the control queue, apart
    // from post(), which any thread may call.
    class Host {
    public:
        virtual ~Host() = default;
        // Runs the job on the control queue, at once or after `delay` seconds, unless the
        // microphone has closed by then.
        virtual void post(std::function<void()> job) = 0;
        virtual void after(double delay, std::function<void()> job) = 0;
        // Prepares the dictation engine, keeping one already prepared on the chosen device,
        // and starts it unless it runs.
        virtual Result<void, MicError> runEngine() = 0;
        virtual bool hasEngine() const = 0;
        virtual bool engineRuns() const = 0;
        // Pauses the engine, unless it does not run or a capture uses it.
        virtual void pauseIdleEngine() = 0;
        virtual bool isCapturing() const = 0;
        // The prepared device, or the one a preparation would choose.
        virtual std::optional<InputDevice> checkedDevice() = 0;
    };

    MicLevelCheck(Host& host, std::shared_ptr<AudioSystem> system);
    MicLevelCheck(const MicLevelCheck&) = delete;
    MicLevelCheck& operator=(const MicLevelCheck&) = delete;

    // Any thread. Starts a check, or takes over the one that runs with its window and count.
    void begin(ReadingCallback onReading);
    // Any thread. Ends the check unless a later begin() renews it; the engine is paused.
    void end();
    // Any thread. Stops the delivery of readings at once, as a dictation's begin does; the
    // check itself goes at its next tick or when the capture starts.
    void interrupt();

    // What the engine's tap feeds; it measures only while a check runs.
    const std::shared_ptr<LevelMeter>& meter() const { return m_meter; }

    // The hooks that the engine's life calls, on the control queue; each does nothing while no
    // check exists. The engine could not be prepared, or went.
    void engineLost(const MicError& error);
    // An engine was prepared or renewed: a check that does not hear it starts it.
    void followEngine();
    // A capture ended. Answers whether a check asked for meanwhile took the engine over, which
    // then must keep running.
    bool takeOverAfterCapture();
    // Drops the check, its timer and its meter, leaving the engine as it is.
    void drop();

private:
    enum class State {
        off,     // no check
        waiting, // asked for during a capture, it starts at the capture's end
        running, // the engine should run with the meter on; readings come from the window
        failing, // the engine cannot run: readings carry the failure, and a retry is due
    };
    // Whether dropping the check pauses the engine it kept running.
    enum class End { keepEngine, pauseEngine };

    struct Check {
        std::int64_t id = 0; // the generation it was begun with
        ReadingCallback onReading;
        LevelWindow window;
        MicSilenceReason failure = MicSilenceReason::unknown; // while failing
        double nextRetry = 0; // when a failing engine start is tried again
        int readings = 0;
        std::optional<MicSilenceReason> loggedReason; // named by the last quiet line
    };

    std::int64_t generation() const { return m_generation.load(); }
    void start(std::int64_t id, ReadingCallback onReading);
    void startTimer();
    void scheduleTick(std::uint64_t timer, double due);
    void tick();
    void startEngine();
    // Enters the failing state, writing `line` unless the check already failed for `reason`.
    void fail(MicSilenceReason reason, double retryFrom, const std::string& line);
    void clear(End end);
    MicSilenceReason diagnose(const LevelWindow::Evidence& evidence);
    // The silence reason of an engine that cannot run.
    MicSilenceReason startFailure(const MicError& error);

    Host& m_host;
    const std::shared_ptr<AudioSystem> m_system;
    const std::shared_ptr<LevelMeter> m_meter = std::make_shared<LevelMeter>();
    // Counts up at every begin, end and interrupt: a check delivers only while it carries the
    // latest. The only member that other threads touch.
    std::atomic<std::int64_t> m_generation = 0;

    // Owned by the control queue.
    State m_state = State::off;
    Check m_check;
    // The running timer's serial; a tick of an earlier timer finds it changed.
    std::uint64_t m_timerSerial = 0;
};

} // namespace talverin
