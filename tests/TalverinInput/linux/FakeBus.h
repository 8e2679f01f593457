#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include <gio/gio.h>

namespace talverin::test {

// A D-Bus daemon of the test's own, so that fake system services can own their names.
class PrivateBus {
public:
    PrivateBus() : m_bus(g_test_dbus_new(G_TEST_DBUS_NONE)) {
        g_test_dbus_up(m_bus);
        const char* address = g_test_dbus_get_bus_address(m_bus);
        if (address)
            m_address = address;
    }
    ~PrivateBus() {
        g_test_dbus_down(m_bus);
        g_object_unref(m_bus);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // Empty when no daemon could be started.
    const std::string& address() const { return m_address; }

private:
    GTestDBus* m_bus;
    std::string m_address;
};

// A client of a private bus that owns a well-known name.
inline GDBusConnection* connectAndOwn(const std::string& address, const char* name) {
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (!connection)
        return nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", name, 0u), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
    if (reply)
        g_variant_unref(reply);
    return connection;
}

// logind on a private bus, as far as sleep goes.
class FakeLogind {
public:
    explicit FakeLogind(const std::string& address)
        : m_connection(connectAndOwn(address, "org.freedesktop.login1")) {}
    ~FakeLogind() {
        if (m_connection)
            g_object_unref(m_connection);
    }
    FakeLogind(const FakeLogind&) = delete;
    FakeLogind& operator=(const FakeLogind&) = delete;

    void prepareForSleep(bool sleeping) {
        g_dbus_connection_emit_signal(m_connection, nullptr, "/org/freedesktop/login1",
                                      "org.freedesktop.login1.Manager", "PrepareForSleep",
                                      g_variant_new("(b)", sleeping), nullptr);
        g_dbus_connection_flush_sync(m_connection, nullptr, nullptr);
    }

private:
    GDBusConnection* m_connection;
};

// The accessibility bus launcher's status object (org.a11y.Status on /org/a11y/bus) on a
// private bus. It answers on a thread of its own, so that the code under test may ask it
// synchronously; setting IsEnabled announces the change as the real launcher does.
class FakeAccessibilityBus {
public:
    explicit FakeAccessibilityBus(const std::string& address, bool enabled)
        : m_enabled(enabled), m_thread([this, address] { run(address); }) {
        std::unique_lock lock(m_mutex);
        m_ready.wait(lock, [this] { return m_started; });
    }
    ~FakeAccessibilityBus() {
        g_main_context_invoke(
            m_context,
            [](gpointer loop) -> gboolean {
                g_main_loop_quit(static_cast<GMainLoop*>(loop));
                return G_SOURCE_REMOVE;
            },
            m_loop);
        m_thread.join();
    }
    FakeAccessibilityBus(const FakeAccessibilityBus&) = delete;
    FakeAccessibilityBus& operator=(const FakeAccessibilityBus&) = delete;

    bool enabled() const { return m_enabled; }
    // Switches the status as the desktop's settings would, announcing it.
    void setEnabled(bool enabled) {
        struct Change {
            FakeAccessibilityBus* bus;
            bool enabled;
        };
        auto* change = new Change{this, enabled};
        g_main_context_invoke(
            m_context,
            [](gpointer data) -> gboolean {
                auto* c = static_cast<Change*>(data);
                c->bus->store(c->enabled);
                delete c;
                return G_SOURCE_REMOVE;
            },
            change);
    }

private:
    void run(const std::string& address) {
        m_context = g_main_context_new();
        g_main_context_push_thread_default(m_context);
        m_loop = g_main_loop_new(m_context, FALSE);
        m_connection = connectAndOwn(address, "org.a11y.Bus");
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(
            "<node><interface name='org.a11y.Status'>"
            "<property name='IsEnabled' type='b' access='readwrite'/>"
            "<property name='ScreenReaderEnabled' type='b' access='readwrite'/>"
            "</interface></node>",
            nullptr);
        static const GDBusInterfaceVTable vtable = {
            nullptr,
            [](GDBusConnection*, const char*, const char*, const char*, const char* property,
               GError**, gpointer self) -> GVariant* {
                auto* bus = static_cast<FakeAccessibilityBus*>(self);
                return g_variant_new_boolean(g_str_equal(property, "IsEnabled") &&
                                             bus->m_enabled.load());
            },
            [](GDBusConnection*, const char*, const char*, const char*, const char* property,
               GVariant* value, GError**, gpointer self) -> gboolean {
                if (g_str_equal(property, "IsEnabled"))
                    static_cast<FakeAccessibilityBus*>(self)->store(g_variant_get_boolean(value));
                return TRUE;
            },
            {}};
        const guint registration =
            m_connection ? g_dbus_connection_register_object(m_connection, "/org/a11y/bus",
                                                             node->interfaces[0], &vtable, this,
                                                             nullptr, nullptr)
                         : 0;
        {
            std::lock_guard lock(m_mutex);
            m_started = true;
        }
        m_ready.notify_all();
        g_main_loop_run(m_loop);
        if (registration)
            g_dbus_connection_unregister_object(m_connection, registration);
        g_dbus_node_info_unref(node);
        if (m_connection)
            g_object_unref(m_connection);
        g_main_loop_unref(m_loop);
        g_main_context_pop_thread_default(m_context);
        g_main_context_unref(m_context);
    }

    void store(bool enabled) {
        m_enabled = enabled;
        GVariantBuilder changed;
        g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&changed, "{sv}", "IsEnabled", g_variant_new_boolean(enabled));
        g_dbus_connection_emit_signal(
            m_connection, nullptr, "/org/a11y/bus", "org.freedesktop.DBus.Properties",
            "PropertiesChanged", g_variant_new("(sa{sv}as)", "org.a11y.Status", &changed, nullptr),
            nullptr);
    }

    std::atomic<bool> m_enabled;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    bool m_started = false;
    GMainContext* m_context = nullptr;
    GMainLoop* m_loop = nullptr;
    GDBusConnection* m_connection = nullptr;
    std::thread m_thread;
};

} // namespace talverin::test
