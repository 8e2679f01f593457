#include "TalverinInput/linux/BusConnection.h"

namespace talverin {

GObjectPtr<GDBusConnection> openBusConnection(GBusType type, const std::string& address,
                                              GErrorPtr& error) {
    if (address.empty())
        return GObjectPtr<GDBusConnection>(g_bus_get_sync(type, nullptr, ErrorOut(error)));
    return GObjectPtr<GDBusConnection>(g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, ErrorOut(error)));
}

void settleBusConnection(GDBusConnection* connection) {
    GVariantPtr reply(g_dbus_connection_call_sync(
        connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "GetId", nullptr, G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr));
}

std::string busErrorText(const GErrorPtr& error) {
    return error ? error->message : "unknown";
}

} // namespace talverin
