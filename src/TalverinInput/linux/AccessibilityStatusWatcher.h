#pragma once

#include "TalverinInput/AccessibilityStatusReading.h"
#include "TalverinInput/NotificationCenter.h"
#include "TalverinInput/linux/GioHandles.h"

#include <functional>
#include <memory>
#include <string>

namespace talverin {

// Keeps the accessibility bus's status (org.a11y.Status.IsEnabled) current. The status is read
// once when the watcher starts, waiting up to the bus timeout, then asynchronously at every
// change the bus announces (PropertiesChanged) and whenever refresh() asks; status() gives the
// last answer on any thread and never waits. A question that gets no answer (a frozen bus, a
// bus or launcher that is gone) keeps the last answer: a slow bus must not look like the user
// taking Accessibility back, which would remove the key tap in the middle of a hold. Only the
// bus saying "not enabled" takes it back.
//
// Each change of the status is posted as PermissionsMonitor::accessibilityNotification to the
// centre. Without a session bus the watcher logs that once and stays idle.
class AccessibilityStatusWatcher final : public AccessibilityStatusReading {
public:
    // How long one question to the accessibility bus may take.
    static constexpr int busTimeoutMillis = 1000;

    // Main thread, which must run GLib's default main context. Makes the first read and waits
    // up to the bus timeout for its answer, so that the launch finds the status known.
    // `center` may be null; `busAddress` empty means the session bus.
    AccessibilityStatusWatcher(std::shared_ptr<NotificationCenter> center,
                               std::string busAddress = {});
    ~AccessibilityStatusWatcher() override;
    AccessibilityStatusWatcher(const AccessibilityStatusWatcher&) = delete;
    AccessibilityStatusWatcher& operator=(const AccessibilityStatusWatcher&) = delete;

    bool isWatching() const { return m_subscription != 0; }

    // Any thread; never waits.
    BusStatus status() const override;
    // Main thread; never waits. Reads the status again, unless a read is already under way.
    void refresh() override;
    // Main thread. Runs `then` once the first read has ended, answered or not: the constructor
    // ends it, so at once.
    void whenFirstRead(std::function<void()> then) override;
    // Any thread but the main one: waits up to the bus timeout. Switches the accessibility bus
    // on; true when the bus took it.
    Enabling requestEnable() override;

    struct State;

private:
    std::shared_ptr<State> m_state;
    GObjectPtr<GDBusConnection> m_connection;
    // Cancels the reads under way when the watcher goes.
    GObjectPtr<GCancellable> m_cancellable;
    unsigned m_subscription = 0;
};

} // namespace talverin
