#pragma once

#include "Runtime/Future.h"
#include "Runtime/Liveness.h"
#include "TalverinCore/PermissionWatching.h"
#include "TalverinCore/WirePermissions.h"
#include "TalverinInput/NotificationCenter.h"
#include "TalverinInput/PermissionReading.h"
#include "TalverinInput/Permissions.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace talverin {

// Keeps a fresh copy of the three permission states on the main thread, logs every change and
// tells one callback. The user grants permissions outside the program, so the monitor polls:
// fast while Accessibility is missing or just after the user was sent to grant something,
// slowly otherwise, and at once when the accessibility bus's status or the sound server's answer
// changes, when one of the application's windows takes the focus and when the machine wakes up.
// The system backends post their notices to `accessibilityCenter`.
class PermissionsMonitor final : public PermissionWatching {
public:
    static constexpr double fastPoll = 0.5;
    static constexpr double slowPoll = 2.0;
    static constexpr double boostWindow = 120;
    // Posted when the accessibility bus's status (org.a11y.Status) changed.
    static constexpr std::string_view accessibilityNotification = "org.a11y.Status";
    // Posted when a background check found the microphone's state changed (the sound server
    // came or went).
    static constexpr std::string_view microphoneNotification = "soundServer";
    // After that notice the states are read again at these delays: the change settles late.
    static constexpr std::array<double, 2> notificationDelays{0.25, 1.0};

    struct Change {
        Wire::PermissionKind kind;
        Wire::PermissionState from;
        Wire::PermissionState to;
        bool operator==(const Change&) const = default;
    };

    // Main thread. Reads the states once; observes nothing until start(). `clock` answers the
    // uptime in seconds; `openSettings` opens a settings address.
    PermissionsMonitor(std::shared_ptr<PermissionReading> reader, double fastPoll, double slowPoll,
                       std::shared_ptr<NotificationCenter> accessibilityCenter,
                       std::shared_ptr<NotificationCenter> appCenter,
                       std::shared_ptr<NotificationCenter> workspaceCenter,
                       std::function<double()> clock, SettingsOpener openSettings);
    ~PermissionsMonitor() override;
    PermissionsMonitor(const PermissionsMonitor&) = delete;
    PermissionsMonitor& operator=(const PermissionsMonitor&) = delete;

    // Main thread: the published states. onChange hears the new and the old states after each
    // change.
    Wire::Permissions current() const override { return m_current; }

    bool isWatching() const { return m_isWatching; }
    // Main thread.
    void start() override;
    void stop();
    // Main thread. Reads the states now and answers them.
    Wire::Permissions refresh() override;
    // Main thread. Asks for the permission and answers the reader's own answer, on the main
    // queue, after reading all states again.
    Future<Wire::PermissionState> request(Wire::PermissionKind kind) override;
    // Main thread. Opens the permission's settings.
    void openPane(Wire::PermissionKind kind) override;

    // The slow period only while Accessibility is granted and no boost runs.
    static double pollInterval(const Wire::Permissions& permissions, bool boosted, double fast,
                               double slow);
    // The kinds whose state differs, in the order microphone, accessibility, speech.
    static std::vector<Change> changes(const Wire::Permissions& from, const Wire::Permissions& to);

private:
    // What start() registered and the poll timer, all undone by stop().
    struct ObserverBag {
        std::vector<std::pair<NotificationCenter::Token, std::shared_ptr<NotificationCenter>>>
            observers;
        // The poll timer is the firing chain of this generation; 0 when there is none.
        std::uint64_t timer = 0;
    };

    void accessibilityListChanged();
    void schedulePoll();
    void scheduleTick(std::uint64_t generation, double due);
    void observe(const std::shared_ptr<NotificationCenter>& center, std::string_view name,
                 void (PermissionsMonitor::*action)());
    void refreshFromNotice() { refresh(); }

    Wire::Permissions m_current;
    bool m_isWatching = false;
    std::shared_ptr<PermissionReading> m_reader;
    double m_fast;
    double m_slow;
    std::shared_ptr<NotificationCenter> m_accessibilityCenter;
    std::shared_ptr<NotificationCenter> m_appCenter;
    std::shared_ptr<NotificationCenter> m_workspaceCenter;
    std::function<double()> m_clock;
    SettingsOpener m_openSettings;
    ObserverBag m_bag;
    std::uint64_t m_timerGenerations = 0;
    double m_boostUntil = 0;
    double m_pollInterval = 0;
    // Lets delayed work find out that the monitor is gone.
    Liveness m_alive;
};

} // namespace talverin
