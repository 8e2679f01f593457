#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include <fcntl.h>
#include <gio/gio.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace talverin::test {

// A D-Bus daemon of the test's own, so that fake system services can own their names.
//
// The daemon is started directly rather than through GLib's test bus, whose watcher process
// (a fork of the test program) can outlive the test and hold the test runner's output pipe
// open, so that the runner waits for it until its timeout. Here the daemon's output goes to a
// pipe of ours and /dev/null, it dies with the test program, and it is stopped and reaped
// before the destructor returns.
class PrivateBus {
public:
    PrivateBus() {
        gchar* program = g_find_program_in_path("dbus-daemon");
        if (!program)
            return;
        // A bus that anyone may use and that activates no service: a name is owned only by
        // the fakes the test starts.
        char config[] = "/tmp/talverin-bus-XXXXXX";
        int configFd = mkstemp(config);
        const std::string_view text =
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
            "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">"
            "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
            "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
            "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>";
        const bool written = configFd >= 0 && write(configFd, text.data(), text.size()) ==
                                                  static_cast<ssize_t>(text.size());
        if (configFd >= 0)
            close(configFd);
        int fds[2];
        if (!written || pipe2(fds, O_CLOEXEC) != 0) {
            unlink(config);
            g_free(program);
            return;
        }
        const std::string configArgument = std::string("--config-file=") + config;
        const pid_t parent = getpid();
        m_pid = fork();
        if (m_pid == 0) {
            // Only async-signal-safe calls between fork and exec.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent)
                _exit(127);
            int null = open("/dev/null", O_RDWR);
            dup2(null, STDIN_FILENO);
            dup2(fds[1], STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            char nofork[] = "--nofork";
            char print[] = "--print-address=1";
            char* argv[] = {program, const_cast<char*>(configArgument.c_str()), nofork, print,
                            nullptr};
            execv(program, argv);
            _exit(127);
        }
        g_free(program);
        close(fds[1]);
        if (m_pid < 0) {
            close(fds[0]);
            unlink(config);
            return;
        }
        // The daemon prints its address once it listens.
        std::string line;
        char c = 0;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            line += c;
        close(fds[0]);
        unlink(config);
        m_address = line;
    }
    ~PrivateBus() {
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // Empty when no daemon could be started.
    const std::string& address() const { return m_address; }

private:
    pid_t m_pid = -1;
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
// synchronously; setting IsEnabled announces the change as the real launcher does. freeze()
// stalls it as a busy or stopped launcher would: questions get no answer until thaw().
class FakeAccessibilityBus {
public:
    explicit FakeAccessibilityBus(const std::string& address, bool enabled)
        : m_enabled(enabled), m_thread([this, address] { run(address); }) {
        std::unique_lock lock(m_mutex);
        m_ready.wait(lock, [this] { return m_started; });
    }
    ~FakeAccessibilityBus() {
        thaw();
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
    // Questions asked from now on are held until thaw().
    void freeze() {
        std::lock_guard lock(m_mutex);
        m_frozen = true;
    }
    void thaw() {
        {
            std::lock_guard lock(m_mutex);
            m_frozen = false;
        }
        m_ready.notify_all();
    }
    // How many questions for the status the service has taken, held ones included.
    int questions() const { return m_questions; }
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
                ++bus->m_questions;
                {
                    std::unique_lock lock(bus->m_mutex);
                    bus->m_ready.wait(lock, [bus] { return !bus->m_frozen; });
                }
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
    bool m_frozen = false;
    std::atomic<int> m_questions{0};
    GMainContext* m_context = nullptr;
    GMainLoop* m_loop = nullptr;
    GDBusConnection* m_connection = nullptr;
    std::thread m_thread;
};

} // namespace talverin::test
