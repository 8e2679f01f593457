#pragma once

#include "TalverinInput/NotificationCenter.h"
#include "TalverinInput/SleepWatching.h"
#include "TalverinInput/linux/GioHandles.h"

#include <memory>
#include <optional>
#include <string>

namespace talverin {

// Hears logind announce sleep and wake-up (PrepareForSleep on the system bus) and posts
// SystemNotification::willSleep and didWake to the workspace centre. Where there is no system
// bus (a container, CI) it logs that once and stays idle.
class SleepWatcherLogind final : public SleepWatching {
public:
    // Main thread, which must run GLib's default main context. `busAddress` empty means the
    // system bus.
    SleepWatcherLogind(std::shared_ptr<NotificationCenter> workspace, std::string busAddress = {});
    ~SleepWatcherLogind() override;
    SleepWatcherLogind(const SleepWatcherLogind&) = delete;
    SleepWatcherLogind& operator=(const SleepWatcherLogind&) = delete;

    bool isWatching() const { return m_subscription != 0; }
    std::optional<std::string> unavailableReason() const override { return m_unavailable; }

private:
    std::shared_ptr<NotificationCenter> m_workspace;
    GObjectPtr<GDBusConnection> m_connection;
    unsigned m_subscription = 0;
    std::optional<std::string> m_unavailable;
};

} // namespace talverin
