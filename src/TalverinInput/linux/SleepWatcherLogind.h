#pragma once

#include "TalverinInput/NotificationCenter.h"
#include "TalverinInput/SleepWatching.h"
#include "TalverinInput/linux/GioHandles.h"

#include <memory>
#include <optional>
#include <string>

namespace talverin {

// Hears the session being taken away and posts it to the workspace centre:
// - logind's PrepareForSleep on the system bus: SystemNotification::willSleep, and didWake
//   when the machine is back. A delay inhibitor makes logind wait, up to its own limit, until
//   the observers have run; it is let go right after them and taken again on wake-up.
// - the login session's Active property going false (another user switched in):
//   sessionDidResignActive.
// - the login session's Lock signal, or the session bus's screen saver becoming active:
//   screenIsLocked.
// Where a bus is missing (a container, CI) it logs that once and leaves its part idle.
class SleepWatcherLogind final : public SleepWatching {
public:
    // Main thread, which must run GLib's default main context. `busAddress` empty means the
    // system bus; `sessionBusAddress` empty means the session bus, "none" means no screen saver
    // is watched.
    SleepWatcherLogind(std::shared_ptr<NotificationCenter> workspace, std::string busAddress = {},
                       std::string sessionBusAddress = {});
    ~SleepWatcherLogind() override;
    SleepWatcherLogind(const SleepWatcherLogind&) = delete;
    SleepWatcherLogind& operator=(const SleepWatcherLogind&) = delete;

    bool isWatching() const { return m_subscription != 0; }
    // Whether the login session of this process was found and its switches and locks are heard.
    bool watchesSession() const { return m_activeSubscription != 0; }
    // Whether a delay inhibitor is held now.
    bool holdsInhibitor() const { return m_inhibitor >= 0; }
    std::optional<std::string> unavailableReason() const override { return m_unavailable; }

    struct Subscriptions;

private:
    void prepareForSleep(bool sleeping);
    void takeInhibitor();
    void releaseInhibitor();
    void findSession();
    void watchSession(const std::string& path);
    void watchScreenSaver(const std::string& address);

    std::shared_ptr<NotificationCenter> m_workspace;
    GObjectPtr<GDBusConnection> m_connection;
    GObjectPtr<GDBusConnection> m_sessionBus;
    // Cancels the calls under way when the watcher goes.
    GObjectPtr<GCancellable> m_cancellable{g_cancellable_new()};
    unsigned m_subscription = 0;
    unsigned m_lockSubscription = 0;
    unsigned m_activeSubscription = 0;
    unsigned m_screenSaverSubscription = 0;
    int m_inhibitor = -1;
    bool m_inhibiting = false; // an Inhibit call is under way
    std::optional<std::string> m_unavailable;
};

} // namespace talverin
