#pragma once

#include "support/LinuxTestSupport.h"

#include <optional>
#include <string>
#include <vector>

#include <gio/gio.h>

namespace talverin::test {

// A connection of the test's own to a private bus.
inline GDBusConnection* connectTo(const std::string& address) {
    return g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
}

// Calls a method the way a panel does, without blocking the main context that serves the
// item: the call is made asynchronously and the loop runs until its answer. Null on an error.
inline GVariant* callOnLoop(RealTimeLoop& loop, GDBusConnection* connection,
                            const std::string& name, const char* path, const char* interface,
                            const char* method, GVariant* parameters) {
    struct Answer {
        bool done = false;
        GVariant* reply = nullptr;
    } answer;
    g_dbus_connection_call(
        connection, name.c_str(), path, interface, method, parameters, nullptr,
        G_DBUS_CALL_FLAGS_NONE, 30000, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* a = static_cast<Answer*>(data);
            a->reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
            a->done = true;
        },
        &answer);
    loop.runUntil([&] { return answer.done; }, 60);
    return answer.reply;
}

// The panel's side: org.kde.StatusNotifierWatcher on a private bus, served on the main
// context, remembering every item that registers.
class FakeStatusWatcher {
public:
    explicit FakeStatusWatcher(const std::string& address) : m_connection(connectTo(address)) {
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(
            "<node><interface name='org.kde.StatusNotifierWatcher'>"
            "<method name='RegisterStatusNotifierItem'><arg type='s' direction='in'/></method>"
            "</interface></node>",
            nullptr);
        static const GDBusInterfaceVTable vtable = {
            [](GDBusConnection*, const char*, const char*, const char*, const char*,
               GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self) {
                const char* service = nullptr;
                g_variant_get(parameters, "(&s)", &service);
                static_cast<FakeStatusWatcher*>(self)->items.emplace_back(service);
                g_dbus_method_invocation_return_value(invocation, nullptr);
            },
            nullptr, nullptr, {}};
        m_registration = g_dbus_connection_register_object(
            m_connection, "/StatusNotifierWatcher", node->interfaces[0], &vtable, this, nullptr,
            nullptr);
        g_dbus_node_info_unref(node);
        m_owner = g_bus_own_name_on_connection(m_connection, "org.kde.StatusNotifierWatcher",
                                               G_BUS_NAME_OWNER_FLAGS_NONE, nullptr, nullptr,
                                               nullptr, nullptr);
    }
    ~FakeStatusWatcher() {
        g_bus_unown_name(m_owner);
        g_dbus_connection_unregister_object(m_connection, m_registration);
        g_object_unref(m_connection);
    }
    FakeStatusWatcher(const FakeStatusWatcher&) = delete;
    FakeStatusWatcher& operator=(const FakeStatusWatcher&) = delete;

    std::vector<std::string> items;

private:
    GDBusConnection* m_connection;
    guint m_registration = 0;
    guint m_owner = 0;
};

} // namespace talverin::test
