#pragma once

#include "TalverinInput/NotificationCenter.h"

#include <memory>
#include <string>

typedef struct _GDBusConnection GDBusConnection;

namespace talverin {

// Hears the accessibility bus switch on or off (PropertiesChanged of org.a11y.Status) and
// posts PermissionsMonitor::accessibilityNotification to its centre. Without a session bus it
// logs that once and stays idle; the permissions monitor still polls.
class AccessibilityStatusWatcher {
public:
    // Main thread, which must run GLib's default main context. `busAddress` empty means the
    // session bus.
    AccessibilityStatusWatcher(std::shared_ptr<NotificationCenter> center,
                               std::string busAddress = {});
    ~AccessibilityStatusWatcher();
    AccessibilityStatusWatcher(const AccessibilityStatusWatcher&) = delete;
    AccessibilityStatusWatcher& operator=(const AccessibilityStatusWatcher&) = delete;

    bool isWatching() const { return m_subscription != 0; }

private:
    std::shared_ptr<NotificationCenter> m_center;
    GDBusConnection* m_connection = nullptr;
    unsigned m_subscription = 0;
};

} // namespace talverin
