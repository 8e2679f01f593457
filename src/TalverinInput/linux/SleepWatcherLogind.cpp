#include "TalverinInput/linux/SleepWatcherLogind.h"

#include "TalverinCore/CoreLog.h"
#include "TalverinInput/linux/BusConnection.h"

#include <string>

namespace talverin {

SleepWatcherLogind::SleepWatcherLogind(std::shared_ptr<NotificationCenter> workspace,
                                       std::string busAddress)
    : m_workspace(std::move(workspace)) {
    GErrorPtr error;
    m_connection = openBusConnection(G_BUS_TYPE_SYSTEM, busAddress, error);
    if (!m_connection) {
        m_unavailable = "no system bus (" + busErrorText(error) + ")";
        CoreLog::write("Sleep: no system bus, sleep and wake-up are not watched (" +
                       busErrorText(error) + ")");
        return;
    }
    m_subscription = g_dbus_connection_signal_subscribe(
        m_connection.get(), "org.freedesktop.login1", "org.freedesktop.login1.Manager",
        "PrepareForSleep", "/org/freedesktop/login1", nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const char*, const char*, const char*, const char*,
           GVariant* parameters, gpointer self) {
            if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)")))
                return;
            gboolean sleeping = FALSE;
            g_variant_get(parameters, "(b)", &sleeping);
            static_cast<SleepWatcherLogind*>(self)->m_workspace->post(
                sleeping ? SystemNotification::willSleep : SystemNotification::didWake);
        },
        this, nullptr);
    settleBusConnection(m_connection.get());
}

SleepWatcherLogind::~SleepWatcherLogind() {
    if (m_subscription != 0)
        g_dbus_connection_signal_unsubscribe(m_connection.get(), m_subscription);
}

} // namespace talverin
