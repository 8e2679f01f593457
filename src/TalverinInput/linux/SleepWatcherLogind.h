#pragma once

#include "TalverinInput/NotificationCenter.h"
#include "TalverinInput/linux/GioHandles.h"

#include <memory>
#include <string>

namespace talverin {

// Hears logind announce sleep and wake-up (PrepareForSleep on the system bus) and posts
// SystemNotification::willSleep and didWake to the workspace centre. Where there is no system
// bus (a container, CI) it logs that once and stays idle.
class SleepWatcherLogind {
public:
    // Main thread, which must run GLib's default main context. `busAddress` empty means the
    // system bus.
    SleepWatcherLogind(std::shared_ptr<NotificationCenter> workspace, std::string busAddress = {});
    ~SleepWatcherLogind();
    SleepWatcherLogind(const SleepWatcherLogind&) = delete;
    SleepWatcherLogind& operator=(const SleepWatcherLogind&) = delete;

    bool isWatching() const { return m_subscription != 0; }

private:
    std::shared_ptr<NotificationCenter> m_workspace;
    GObjectPtr<GDBusConnection> m_connection;
    unsigned m_subscription = 0;
};

} // namespace talverin
