#include "TalverinInsert/linux/AtspiFocusTracker.h"

#include "Runtime/ThreadName.h"

namespace talverin {

namespace {

constexpr const char* focusEvent = "object:state-changed:focused";
// Registering our interest is what makes applications send the event at all.
constexpr int registerTimeoutMs = 2000;

} // namespace

AtspiFocusTracker::AtspiFocusTracker(std::shared_ptr<AtspiBus> bus)
    : m_bus(std::move(bus)), m_context(g_main_context_new()) {
    m_thread = std::thread([this] { loop(); });
}

AtspiFocusTracker::~AtspiFocusTracker() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    g_main_context_wakeup(m_context);
    m_thread.join();
    g_main_context_unref(m_context);
}

AtspiObject AtspiFocusTracker::lastFocused() const {
    std::lock_guard lock(m_mutex);
    return m_focused;
}

void AtspiFocusTracker::noteFocus(AtspiObject object, bool focused) {
    std::lock_guard lock(m_mutex);
    if (focused)
        m_focused = std::move(object);
    else if (m_focused == object)
        m_focused = {};
}

void AtspiFocusTracker::loop() {
    nameCurrentThread("talverin-a11y");
    g_main_context_push_thread_default(m_context);
    GDBusConnection* connection = m_bus->connection();
    // The event's arguments: the detail ("focused"), whether the state was set, a number, a
    // value and the application's properties; the sender and path name the element.
    const guint subscription = g_dbus_connection_signal_subscribe(
        connection, nullptr, "org.a11y.atspi.Event.Object", "StateChanged", nullptr, "focused",
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar* sender, const gchar* path, const gchar*, const gchar*,
           GVariant* parameters, gpointer self) {
            if (!sender || !path || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(siiva{sv})")))
                return;
            gint32 set = 0;
            g_variant_get_child(parameters, 1, "i", &set);
            static_cast<AtspiFocusTracker*>(self)->noteFocus({sender, path}, set == 1);
        },
        this, nullptr);
    m_bus->call({AtspiBus::registryName, "/org/a11y/atspi/registry"}, "org.a11y.atspi.Registry",
                "RegisterEvent", g_variant_new("(s@ass)", focusEvent, g_variant_new_strv(nullptr, 0), ""),
                nullptr, registerTimeoutMs);
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                break;
        }
        g_main_context_iteration(m_context, TRUE);
    }
    g_dbus_connection_signal_unsubscribe(connection, subscription);
    // A callback already queued for the subscription is dropped with the context's sources.
    while (g_main_context_iteration(m_context, FALSE)) {
    }
    g_main_context_pop_thread_default(m_context);
}

} // namespace talverin
