#pragma once

#include "Runtime/Liveness.h"
#include "TalverinCore/KeyTapping.h"
#include "TalverinInput/KeySource.h"
#include "TalverinInput/LockedFlag.h"
#include "TalverinInput/NotificationCenter.h"
#include "TalverinInput/TapSession.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace talverin {

// The main-thread face of hold-key input. It owns at most one running tap session, passes the
// hold key, hands-free mode and key capture to it, relays the session's messages to the
// callbacks, and tells the session when the machine is about to sleep.
class KeyTap final : public KeyTapping {
public:
    // The period of each session's trust check.
    static constexpr double trustPoll = 2.0;

    // What the key tap needs of the system.
    struct System {
        // Any thread: whether the process may listen to the keyboard (Accessibility granted).
        // It must answer at once from what is known: the tap thread asks it between events,
        // and a wait there would stall every key.
        std::function<bool()> isTrusted;
        // Main thread: a fresh key source for each session.
        std::function<std::unique_ptr<KeySource>()> makeSource;
        // Main thread: whether the keyboard reports this key at all.
        std::function<bool(HoldKey)> canSee;
        // Posts SystemNotification::willSleep.
        std::shared_ptr<NotificationCenter> workspace;
    };

    // No session, no observer, nothing logged.
    KeyTap(HoldKey holdKey, System system);
    // Cancels the session, waits for its thread to end and removes the sleep observer.
    ~KeyTap() override;
    KeyTap(const KeyTap&) = delete;
    KeyTap& operator=(const KeyTap&) = delete;

    HoldKey holdKey() const override { return m_holdKey; }
    void setHoldKey(HoldKey key) override;
    bool isCapturing() const override { return m_isCapturing; }
    bool beginCapture() override;
    void endCapture() override;
    bool watchesEscape() const override { return m_escapeWatch->get(); }
    void setWatchesEscape(bool watches) override { m_escapeWatch->set(watches); }
    bool isRunning() const override { return m_isRunning; }
    void setHandsFree(bool on) override;
    bool start() override;
    void stop() override;

    bool isHandsFree() const { return m_isHandsFree; }

    // Main thread: one message of the session numbered `id`.
    void receive(const TapSession::Message& message, std::uint64_t id);

private:
    void tearDown();
    // Whether delivery stops once a callback has stopped or replaced the session.
    enum class Delivery { whileSessionStays, whole };
    void deliver(const std::vector<HoldMachine::Output>& outputs, Delivery delivery);
    void receiveCapture(const KeyCaptureResult& result);
    // Says once per choice of key that the keyboard cannot report it; true when it cannot.
    bool refuseInvisibleKey();

    HoldKey m_holdKey;
    System m_system;
    bool m_isCapturing = false;
    bool m_isRunning = false;
    bool m_isHandsFree = false;
    std::shared_ptr<LockedFlag> m_escapeWatch = std::make_shared<LockedFlag>(false);
    std::shared_ptr<TapSession> m_session;
    std::uint64_t m_sessionCount = 0;
    std::optional<NotificationCenter::Token> m_sleepObserver;
    // The invisible key that was last reported, so the shell's restart check repeats nothing.
    std::optional<HoldKey> m_reportedInvisible;
    // Lets late posts from the tap thread find out that the key tap is gone.
    Liveness m_alive;
};

} // namespace talverin
