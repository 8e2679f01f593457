#pragma once

#include "TalverinInput/linux/FakeBus.h"
#include "support/LinuxTestSupport.h"

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <gio/gio.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace talverin::test {

// A desktop session of the test's own for the accessibility tests: a D-Bus session bus with the
// accessibility bus launcher on it, started for the test's X server. The launcher starts the
// accessibility bus, whose registry is activated there on demand; stopping the launcher stops
// the accessibility bus, and the registry leaves with its bus.
//
// The process's environment is pointed at this session (DISPLAY, the session bus), because
// libatspi finds the accessibility bus through them once per process; each test runs in a
// process of its own.
class AccessibleDesktop {
public:
    explicit AccessibleDesktop(const std::string& display) : m_display(display) {
        if (m_bus.address().empty())
            return;
        gchar* launcher = g_find_program_in_path("at-spi-bus-launcher");
        const std::string program = launcher ? launcher : "/usr/libexec/at-spi-bus-launcher";
        g_free(launcher);
        if (::access(program.c_str(), X_OK) != 0)
            return;
        ::setenv("DISPLAY", display.c_str(), 1);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", m_bus.address().c_str(), 1);
        // The launcher keeps IsEnabled in the desktop's settings: in memory here, so that no
        // test sees what another one switched on.
        ::setenv("GSETTINGS_BACKEND", "memory", 1);
        ::unsetenv("AT_SPI_BUS_ADDRESS");
        ::unsetenv("NO_AT_BRIDGE");
        const pid_t parent = ::getpid();
        m_launcher = ::fork();
        if (m_launcher == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(127);
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        m_session = g_dbus_connection_new_for_address_sync(
            m_bus.address().c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
    }
    ~AccessibleDesktop() {
        if (m_registrations)
            g_dbus_connection_signal_unsubscribe(m_accessibility, m_registrations);
        if (m_listeners)
            g_dbus_connection_signal_unsubscribe(m_accessibility, m_listeners);
        if (m_context)
            g_main_context_unref(m_context);
        if (m_accessibility)
            g_object_unref(m_accessibility);
        if (m_session)
            g_object_unref(m_session);
        if (m_launcher > 0) {
            ::kill(m_launcher, SIGTERM);
            ::waitpid(m_launcher, nullptr, 0);
        }
    }
    AccessibleDesktop(const AccessibleDesktop&) = delete;
    AccessibleDesktop& operator=(const AccessibleDesktop&) = delete;

    const std::string& busAddress() const { return m_bus.address(); }

    // Waits until the launcher owns its name on the session bus; false when it did not within
    // `seconds`. The name's owner changing is the signal: nothing is asked again and again.
    bool waitForLauncher(double seconds = 30) {
        if (!m_session)
            return false;
        struct Seen {
            bool owned = false;
        } seen;
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        const guint watch = g_bus_watch_name_on_connection(
            m_session, "org.a11y.Bus", G_BUS_NAME_WATCHER_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, gpointer data) {
                static_cast<Seen*>(data)->owned = true;
            },
            nullptr, &seen, nullptr);
        const double deadline = monotonicNow() + seconds;
        while (!seen.owned && monotonicNow() < deadline)
            iterate(context);
        g_bus_unwatch_name(watch);
        while (g_main_context_iteration(context, FALSE)) {
        }
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
        return seen.owned;
    }

    // Switches the accessibility bus on, as the desktop's accessibility setting does, for
    // programs that wait for it; true once the launcher has taken the change.
    bool enableAccessibility(int timeoutMs = 30000) {
        if (!m_session)
            return false;
        GVariant* done = g_dbus_connection_call_sync(
            m_session, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
            g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(TRUE)),
            nullptr, G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr, nullptr);
        if (!done)
            return false;
        g_variant_unref(done);
        return true;
    }

    // Connects to the accessibility bus and has its registry started; true once the registry
    // owns its name there. The bus answers the activation only when the registry is up.
    bool startRegistry(int timeoutMs = 30000) {
        if (!m_session)
            return false;
        GVariant* address = g_dbus_connection_call_sync(
            m_session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr,
            G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr, nullptr);
        if (!address)
            return false;
        const gchar* text = nullptr;
        g_variant_get(address, "(&s)", &text);
        m_accessibilityAddress = text ? text : "";
        g_variant_unref(address);
        if (m_accessibilityAddress.empty())
            return false;
        m_accessibility = g_dbus_connection_new_for_address_sync(
            m_accessibilityAddress.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        if (!m_accessibility)
            return false;
        GVariant* started = g_dbus_connection_call_sync(
            m_accessibility, "org.freedesktop.DBus", "/org/freedesktop/DBus",
            "org.freedesktop.DBus", "StartServiceByName",
            g_variant_new("(su)", "org.a11y.atspi.Registry", 0u), G_VARIANT_TYPE("(u)"),
            G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr, nullptr);
        if (!started)
            return false;
        g_variant_unref(started);
        return true;
    }

    // From now on, notes the applications that register with the registry and the clients
    // that register event listeners.
    void watchRegistrations() {
        if (!m_accessibility || m_registrations)
            return;
        m_context = g_main_context_new();
        g_main_context_push_thread_default(m_context);
        m_registrations = g_dbus_connection_signal_subscribe(
            m_accessibility, nullptr, "org.a11y.atspi.Event.Object", "ChildrenChanged",
            "/org/a11y/atspi/accessible/root", nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
               GVariant* parameters, gpointer self) {
                const gchar* kind = nullptr;
                g_variant_get_child(parameters, 0, "&s", &kind);
                GVariant* child = nullptr;
                g_variant_get_child(parameters, 3, "v", &child);
                if (g_strcmp0(kind, "add") == 0 && child &&
                    g_variant_is_of_type(child, G_VARIANT_TYPE("(so)"))) {
                    const gchar* bus = nullptr;
                    g_variant_get_child(child, 0, "&s", &bus);
                    static_cast<AccessibleDesktop*>(self)->m_registered.push_back(bus);
                }
                if (child)
                    g_variant_unref(child);
            },
            this, nullptr);
        // A client that listens for events registers with the registry, which tells every
        // application; the backend under test does so as it starts.
        m_listeners = g_dbus_connection_signal_subscribe(
            m_accessibility, nullptr, "org.a11y.atspi.Registry", "EventListenerRegistered", nullptr,
            nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
               gpointer self) { ++static_cast<AccessibleDesktop*>(self)->m_listened; },
            this, nullptr);
        g_main_context_pop_thread_default(m_context);
        // The subscriptions' match rules reach the bus on their own; once the bus has answered
        // a later question, it has taken them, and no signal sent from now on is missed.
        GVariant* id = g_dbus_connection_call_sync(m_accessibility, "org.freedesktop.DBus",
                                                   "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                                   "GetId", nullptr, G_VARIANT_TYPE("(s)"),
                                                   G_DBUS_CALL_FLAGS_NONE, 30000, nullptr, nullptr);
        if (id)
            g_variant_unref(id);
    }
    // Waits until `count` applications have registered since watchRegistrations().
    // Waits for the next application to register with the registry; its bus name, or nothing
    // when none did within `seconds`.
    std::optional<std::string> waitForRegistration(double seconds = 30) {
        const std::size_t seen = m_registeredTaken;
        if (!waitUntil([&] { return m_registered.size() > seen; }, seconds))
            return std::nullopt;
        return m_registered[m_registeredTaken++];
    }
    // Waits until `count` event listeners have registered since watchRegistrations().
    bool waitForListeners(int count, double seconds = 30) {
        return waitUntil([&] { return m_listened >= count; }, seconds);
    }

private:
    // Dispatches the subscriptions' signals until `done` holds.
    template <typename Done> bool waitUntil(Done done, double seconds) {
        if (!m_context)
            return false;
        const double deadline = monotonicNow() + seconds;
        while (!done() && monotonicNow() < deadline)
            iterate(m_context);
        return done();
    }

    // Dispatches what `context` has, waiting for it at most a second: the awaited signal wakes
    // it at once, the second only lets the caller look at its deadline.
    static void iterate(GMainContext* context) {
        GSource* tick = g_timeout_source_new(1000);
        g_source_set_callback(
            tick, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
        g_source_attach(tick, context);
        g_main_context_iteration(context, TRUE);
        g_source_destroy(tick);
        g_source_unref(tick);
    }

    std::string m_display;
    PrivateBus m_bus;
    pid_t m_launcher = -1;
    GDBusConnection* m_session = nullptr;
    GDBusConnection* m_accessibility = nullptr;
    std::string m_accessibilityAddress;
    GMainContext* m_context = nullptr;
    guint m_registrations = 0;
    guint m_listeners = 0;
    int m_listened = 0;
    // The bus names of the applications that registered, in order, and how many of them a
    // wait has handed out.
    std::vector<std::string> m_registered;
    std::size_t m_registeredTaken = 0;
};

} // namespace talverin::test
