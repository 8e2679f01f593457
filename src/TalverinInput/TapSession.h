#pragma once

#include "Runtime/Result.h"
#include "TalverinCore/HoldKey.h"
#include "TalverinCore/KeyCaptureResult.h"
#include "TalverinInput/HoldKeySpec.h"
#include "TalverinInput/HoldMachine.h"
#include "TalverinInput/KeyCapture.h"
#include "TalverinInput/KeySource.h"
#include "TalverinInput/LockedFlag.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <semaphore>
#include <string>
#include <variant>
#include <vector>

namespace talverin {

// One life of the global key tap: a thread of its own that listens to every key and button of
// the user's session through a KeySource, feeds the hold machine (or, while a new hold key is
// captured, a KeyCapture), probes the key state while the hold key is down, checks every
// trust period that the process may still listen, and sends small messages to the key tap.
//
// The session never touches an event: it only listens. Its machine, spec, capture, timers and
// counters live on the tap thread; the main thread reaches them only through perform(). A
// session is never restarted: the key tap makes a new one with the next id.
class TapSession : public std::enable_shared_from_this<TapSession> {
public:
    // The hold key's down state as the machine sees it changed.
    struct HoldKeyMessage {
        bool down;
        double at;
        bool operator==(const HoldKeyMessage&) const = default;
    };
    // What the machine answered to one input; never empty.
    struct OutputsMessage {
        std::vector<HoldMachine::Output> outputs;
        bool operator==(const OutputsMessage&) const = default;
    };
    // Escape went down outside hands-free while someone watches for it.
    struct EscapeWatchedMessage {
        double t;
        bool operator==(const EscapeWatchedMessage&) const = default;
    };
    // Trust was lost and the session is ending; holds cancel(trustLost) when a hold or
    // hands-free dictation was running.
    struct TrustLostMessage {
        std::vector<HoldMachine::Output> outputs;
        bool operator==(const TrustLostMessage&) const = default;
    };
    struct CaptureMessage {
        KeyCaptureResult result;
        bool operator==(const CaptureMessage&) const = default;
    };
    using Message = std::variant<HoldKeyMessage, OutputsMessage, EscapeWatchedMessage,
                                 TrustLostMessage, CaptureMessage>;

    // How long begin() waits for the tap thread.
    static constexpr double startTimeout = 2.0;

    // `send` is called on the tap thread, in the order the messages arise.
    TapSession(std::uint64_t id, HoldKeySpec spec, double trustPoll,
               std::function<bool()> isTrusted, std::shared_ptr<LockedFlag> escapeWatch,
               std::unique_ptr<KeySource> source, std::function<void(Message)> send);
    ~TapSession();
    TapSession(const TapSession&) = delete;
    TapSession& operator=(const TapSession&) = delete;

    std::uint64_t id() const { return m_id; }

    enum class StartError {
        noThread,      // no thread could be started
        noAnswer,      // the thread did not answer within startTimeout
        sourceRefused, // the key source could not listen; the message says why
    };
    // Main thread, once. Starts the tap thread and waits up to startTimeout for it; succeeds
    // when the source is listening. The session must be owned by a shared_ptr.
    Result<void, StartError> begin();
    // Any thread, any number of times: asks the tap thread to finish.
    void cancel();

    // Main thread. Each runs on the tap thread through perform().
    void setHoldKey(HoldKey key);
    void setHandsFree(bool on);
    enum class Capturing { off, on };
    void setCapturing(Capturing capturing);
    // `at` is the uptime taken when the sleep notice arrived.
    void systemWillSleep(double at);

    // Any thread. Runs `body` on the tap thread, unless the session was cancelled, has not
    // reached its loop yet or has finished: then the work is dropped.
    void perform(std::function<void(TapSession&)> body);

    // Any thread. Waits until the tap thread has ended (true at once when it never started).
    bool waitUntilEnded(double seconds) const;

    // Reads one event for the hold machine; none for the program's own events and for events
    // the machine does not take. `now` is the current uptime.
    static std::optional<HoldMachine::Input> input(const TapEvent& event, const HoldKeySpec& spec,
                                                   double now);
    // Reads one event for hold-key capture; none for the program's own events.
    static std::optional<KeyCapture::Event> captureEvent(const TapEvent& event);

private:
    // A repeating timer of the tap loop, on the runtime's uptime clock. It fires once `next`
    // has passed; the loop may wake up to `tolerance` late so that both timers share one
    // wake-up.
    struct LoopTimer {
        double interval = 0;
        double tolerance = 0;
        std::optional<double> next; // none: parked
    };

    void threadBody();
    // Opens the source and arms the timers; false when the source refused.
    bool install();
    void uninstall();
    void runOnce();
    void runBlocks();
    void fireTimers();
    void handle(const TapEvent& event);
    void feed(const HoldMachine::Input& input);
    void updateProbe();
    void reenable(TapEvent::Type type);
    void loseTrust();
    void diagnose(const HoldMachine::Input& input, const std::optional<HoldMachine::Output>& output,
                  const HoldMachine& before);
    void probeFired();
    void trustFired();
    void finish();
    void send(Message message) { m_send(std::move(message)); }

    const std::uint64_t m_id;
    const std::function<void(Message)> m_send;
    const double m_trustPoll;
    const std::function<bool()> m_isTrusted;
    const std::shared_ptr<LockedFlag> m_escapeWatch;
    const std::unique_ptr<KeySource> m_source;

    // Tap thread only.
    HoldMachine m_machine;
    HoldKeySpec m_spec;
    std::optional<KeyCapture> m_capture;
    bool m_timersExist = false;
    LoopTimer m_probeTimer;
    LoopTimer m_trustTimer;
    bool m_probeArmed = false;
    int m_reenables = 0;
    int m_recoveredReleases = 0;
    bool m_loggedBlindProbe = false;
    bool m_finished = false;

    // Guards the loop's presence, the cancel request, the install answer and the queued work.
    mutable std::mutex m_lock;
    bool m_loopReady = false;
    bool m_cancelRequested = false;
    bool m_installed = false;
    // Why the source refused to listen.
    std::string m_refusal;
    std::deque<std::function<void()>> m_blocks;

    std::binary_semaphore m_answered{0};

    mutable std::mutex m_endLock;
    mutable std::condition_variable m_endSignal;
    bool m_threadRunning = false;
};

} // namespace talverin
