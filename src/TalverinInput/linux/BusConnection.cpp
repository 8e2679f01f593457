#include "TalverinInput/linux/BusConnection.h"

namespace talverin {

GDBusConnection* openBusConnection(GBusType type, const std::string& address, GError** error) {
    if (address.empty())
        return g_bus_get_sync(type, nullptr, error);
    return g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, error);
}

void settleBusConnection(GDBusConnection* connection) {
    GVariant* reply = g_dbus_connection_call_sync(
        connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "GetId", nullptr, G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
    if (reply)
        g_variant_unref(reply);
}

} // namespace talverin
