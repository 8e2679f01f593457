#include "TalverinInput/linux/AccessibilityStatusWatcher.h"

#include "TalverinCore/CoreLog.h"
#include "TalverinInput/PermissionsMonitor.h"
#include "TalverinInput/linux/BusConnection.h"

#include <string>

namespace talverin {

AccessibilityStatusWatcher::AccessibilityStatusWatcher(std::shared_ptr<NotificationCenter> center,
                                                       std::string busAddress)
    : m_center(std::move(center)) {
    GError* error = nullptr;
    m_connection = openBusConnection(G_BUS_TYPE_SESSION, busAddress, &error);
    if (!m_connection) {
        CoreLog::write(std::string("Permissions: no session bus, the accessibility status is "
                                   "not watched (") +
                       (error ? error->message : "unknown") + ")");
        if (error)
            g_error_free(error);
        return;
    }
    // The sender is left open: the bus daemon may hand the status to a new owner.
    m_subscription = g_dbus_connection_signal_subscribe(
        m_connection, nullptr, "org.freedesktop.DBus.Properties", "PropertiesChanged",
        "/org/a11y/bus", "org.a11y.Status", G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant*,
           gpointer self) {
            static_cast<AccessibilityStatusWatcher*>(self)->m_center->post(
                PermissionsMonitor::accessibilityNotification);
        },
        this, nullptr);
    settleBusConnection(m_connection);
}

AccessibilityStatusWatcher::~AccessibilityStatusWatcher() {
    if (m_subscription != 0)
        g_dbus_connection_signal_unsubscribe(m_connection, m_subscription);
    if (m_connection)
        g_object_unref(m_connection);
}

} // namespace talverin
