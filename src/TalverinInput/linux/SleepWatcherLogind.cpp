#include "TalverinInput/linux/SleepWatcherLogind.h"

#include "TalverinCore/CoreLog.h"
#include "TalverinInput/linux/BusConnection.h"

#include <string>

#include <gio/gunixfdlist.h>
#include <unistd.h>

namespace talverin {

namespace {

constexpr const char* logind = "org.freedesktop.login1";
constexpr const char* managerPath = "/org/freedesktop/login1";
constexpr const char* managerInterface = "org.freedesktop.login1.Manager";
constexpr const char* sessionInterface = "org.freedesktop.login1.Session";
// How long a call to logind may take; the watch never waits for it.
constexpr int callTimeoutMs = 5000;

// The C callbacks reach the watcher through the cancellable's owner: a call that comes back
// after the watcher is gone finds its cancellable cancelled and touches nothing.
bool cancelled(const GErrorPtr& error) {
    return error && g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED);
}

} // namespace

SleepWatcherLogind::SleepWatcherLogind(std::shared_ptr<NotificationCenter> workspace,
                                       std::string busAddress, std::string sessionBusAddress)
    : m_workspace(std::move(workspace)) {
    if (sessionBusAddress != "none")
        watchScreenSaver(sessionBusAddress);
    GErrorPtr error;
    m_connection = openBusConnection(G_BUS_TYPE_SYSTEM, busAddress, error);
    if (!m_connection) {
        m_unavailable = "no system bus (" + busErrorText(error) + ")";
        CoreLog::write("Sleep: no system bus, sleep and wake-up are not watched (" +
                       busErrorText(error) + ")");
        return;
    }
    m_subscription = g_dbus_connection_signal_subscribe(
        m_connection.get(), logind, managerInterface, "PrepareForSleep", managerPath, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const char*, const char*, const char*, const char*,
           GVariant* parameters, gpointer self) {
            if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)")))
                return;
            gboolean sleeping = FALSE;
            g_variant_get(parameters, "(b)", &sleeping);
            static_cast<SleepWatcherLogind*>(self)->prepareForSleep(sleeping);
        },
        this, nullptr);
    settleBusConnection(m_connection.get());
    takeInhibitor();
    findSession();
}

SleepWatcherLogind::~SleepWatcherLogind() {
    g_cancellable_cancel(m_cancellable.get());
    for (unsigned id : {m_subscription, m_lockSubscription, m_activeSubscription})
        if (id != 0)
            g_dbus_connection_signal_unsubscribe(m_connection.get(), id);
    if (m_screenSaverSubscription != 0)
        g_dbus_connection_signal_unsubscribe(m_sessionBus.get(), m_screenSaverSubscription);
    releaseInhibitor();
}

void SleepWatcherLogind::prepareForSleep(bool sleeping) {
    if (!sleeping) {
        m_workspace->post(SystemNotification::didWake);
        takeInhibitor();
        return;
    }
    // Observers run at once on this, the main thread: the dictation is dropped before the
    // inhibitor goes and logind lets the machine sleep.
    m_workspace->post(SystemNotification::willSleep);
    releaseInhibitor();
}

void SleepWatcherLogind::takeInhibitor() {
    if (m_inhibitor >= 0 || m_inhibiting)
        return;
    m_inhibiting = true;
    g_dbus_connection_call_with_unix_fd_list(
        m_connection.get(), logind, managerPath, managerInterface, "Inhibit",
        g_variant_new("(ssss)", "sleep", "Talverin", "A dictation is dropped before sleep",
                      "delay"),
        G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NONE, callTimeoutMs, nullptr,
        m_cancellable.get(),
        [](GObject* source, GAsyncResult* result, gpointer self) {
            GErrorPtr error;
            GUnixFDList* fds = nullptr;
            GVariantPtr reply(g_dbus_connection_call_with_unix_fd_list_finish(
                G_DBUS_CONNECTION(source), &fds, result, ErrorOut(error)));
            GObjectPtr<GUnixFDList> list(fds);
            if (cancelled(error))
                return;
            auto* watcher = static_cast<SleepWatcherLogind*>(self);
            watcher->m_inhibiting = false;
            if (!reply || !list)
                return;
            gint32 index = -1;
            g_variant_get(reply.get(), "(h)", &index);
            watcher->m_inhibitor = g_unix_fd_list_get(list.get(), index, nullptr);
        },
        this);
}

void SleepWatcherLogind::releaseInhibitor() {
    if (m_inhibitor < 0)
        return;
    close(m_inhibitor);
    m_inhibitor = -1;
}

void SleepWatcherLogind::findSession() {
    g_dbus_connection_call(
        m_connection.get(), logind, managerPath, managerInterface, "GetSessionByPID",
        g_variant_new("(u)", static_cast<guint32>(getpid())), G_VARIANT_TYPE("(o)"),
        G_DBUS_CALL_FLAGS_NONE, callTimeoutMs, m_cancellable.get(),
        [](GObject* source, GAsyncResult* result, gpointer self) {
            GErrorPtr error;
            GVariantPtr reply(
                g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, ErrorOut(error)));
            // A process outside any login session (a service, a test) has no switches or
            // locks of its own to hear.
            if (cancelled(error) || !reply)
                return;
            const char* path = nullptr;
            g_variant_get(reply.get(), "(&o)", &path);
            static_cast<SleepWatcherLogind*>(self)->watchSession(path);
        },
        this);
}

void SleepWatcherLogind::watchSession(const std::string& path) {
    m_lockSubscription = g_dbus_connection_signal_subscribe(
        m_connection.get(), logind, sessionInterface, "Lock", path.c_str(), nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant*,
           gpointer self) {
            static_cast<SleepWatcherLogind*>(self)->m_workspace->post(
                SystemNotification::screenIsLocked);
        },
        this, nullptr);
    m_activeSubscription = g_dbus_connection_signal_subscribe(
        m_connection.get(), logind, "org.freedesktop.DBus.Properties", "PropertiesChanged",
        path.c_str(), sessionInterface, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const char*, const char*, const char*, const char*,
           GVariant* parameters, gpointer self) {
            if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv}as)")))
                return;
            GVariantPtr changed(g_variant_get_child_value(parameters, 1));
            gboolean active = TRUE;
            if (g_variant_lookup(changed.get(), "Active", "b", &active) && !active)
                static_cast<SleepWatcherLogind*>(self)->m_workspace->post(
                    SystemNotification::sessionDidResignActive);
        },
        this, nullptr);
}

void SleepWatcherLogind::watchScreenSaver(const std::string& address) {
    GErrorPtr error;
    m_sessionBus = openBusConnection(G_BUS_TYPE_SESSION, address, error);
    if (!m_sessionBus) {
        CoreLog::write("Sleep: no session bus, screen locks are not watched (" +
                       busErrorText(error) + ")");
        return;
    }
    // The desktops name their screen saver differently; any of them becoming active locks.
    m_screenSaverSubscription = g_dbus_connection_signal_subscribe(
        m_sessionBus.get(), nullptr, nullptr, "ActiveChanged", nullptr, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const char*, const char*, const char* interface, const char*,
           GVariant* parameters, gpointer self) {
            if (!g_str_has_suffix(interface, ".ScreenSaver") ||
                !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)")))
                return;
            gboolean active = FALSE;
            g_variant_get(parameters, "(b)", &active);
            if (active)
                static_cast<SleepWatcherLogind*>(self)->m_workspace->post(
                    SystemNotification::screenIsLocked);
        },
        this, nullptr);
    settleBusConnection(m_sessionBus.get());
}

} // namespace talverin
