#include "TalverinInput/linux/AccessibilityTrust.h"

#include "TalverinInput/linux/BusConnection.h"
#include "TalverinInput/linux/XErrorTrap.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

namespace talverin {

namespace {

constexpr const char* busName = "org.a11y.Bus";
constexpr const char* busPath = "/org/a11y/bus";
constexpr const char* statusInterface = "org.a11y.Status";

} // namespace

AccessibilityTrust::AccessibilityTrust(std::string display, std::string busAddress)
    : m_display(std::move(display)), m_busAddress(std::move(busAddress)) {
    // The check may run on the tap thread as well as on the main thread.
    XErrorTrap::initThreads();
}

AccessibilityTrust::~AccessibilityTrust() {
    if (m_connection)
        g_object_unref(m_connection);
}

bool AccessibilityTrust::isGranted() {
    return hasXInput() && isBusEnabled();
}

bool AccessibilityTrust::hasXInput() {
    if (m_hasXInput)
        return true;
    Display* display = XOpenDisplay(m_display.empty() ? nullptr : m_display.c_str());
    if (!display)
        return false;
    XErrorTrap::adopt(display, nullptr, nullptr);
    int opcode = 0;
    int event = 0;
    int error = 0;
    int major = 2;
    int minor = 2;
    const bool offered = XQueryExtension(display, "XInputExtension", &opcode, &event, &error) &&
                         XIQueryVersion(display, &major, &minor) == Success &&
                         (major > 2 || (major == 2 && minor >= 1));
    XCloseDisplay(display);
    XErrorTrap::release(display);
    if (offered)
        m_hasXInput = true;
    return offered;
}

GDBusConnection* AccessibilityTrust::connection() {
    std::lock_guard lock(m_mutex);
    // A bus that went away is opened again at the next question.
    if (m_connection && g_dbus_connection_is_closed(m_connection)) {
        g_object_unref(m_connection);
        m_connection = nullptr;
    }
    if (!m_connection) {
        GError* error = nullptr;
        m_connection = openBusConnection(G_BUS_TYPE_SESSION, m_busAddress, &error);
        if (error)
            g_error_free(error);
    }
    return m_connection ? G_DBUS_CONNECTION(g_object_ref(m_connection)) : nullptr;
}

bool AccessibilityTrust::isBusEnabled() {
    GDBusConnection* bus = connection();
    if (!bus)
        return false;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, busName, busPath, "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", statusInterface, "IsEnabled"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NONE, busTimeoutMillis, nullptr, &error);
    g_object_unref(bus);
    if (!reply) {
        g_error_free(error);
        return false;
    }
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    const bool enabled =
        g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value);
    g_variant_unref(value);
    g_variant_unref(reply);
    return enabled;
}

bool AccessibilityTrust::requestEnable() {
    GDBusConnection* bus = connection();
    if (!bus)
        return false;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, busName, busPath, "org.freedesktop.DBus.Properties", "Set",
        g_variant_new("(ssv)", statusInterface, "IsEnabled", g_variant_new_boolean(TRUE)), nullptr,
        G_DBUS_CALL_FLAGS_NONE, busTimeoutMillis, nullptr, &error);
    g_object_unref(bus);
    if (!reply) {
        g_error_free(error);
        return false;
    }
    g_variant_unref(reply);
    return true;
}

} // namespace talverin
