#include "TalverinInsert/linux/AtspiBus.h"

#include <cstring>

namespace talverin {

namespace {

// How long finding and opening the bus may take; it runs once, off the main thread.
constexpr int connectTimeoutMs = 2000;

bool isDBusError(const GError* error, const char* name) {
    GCharPtr remote(g_dbus_error_get_remote_error(error));
    return remote && std::strcmp(remote.get(), name) == 0;
}

AtspiBus::Failure failureOf(const GError* error) {
    using Failure = AtspiBus::Failure;
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
        g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CLOSED) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMED_OUT) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_DISCONNECTED) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER))
        return Failure::noAnswer;
    if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_OBJECT))
        return Failure::gone;
    if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_INTERFACE) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NOT_SUPPORTED) ||
        isDBusError(error, "org.freedesktop.DBus.Error.UnknownMethod"))
        return Failure::unsupported;
    return Failure::other;
}

std::optional<std::string> busAddress() {
    // Set by a session that runs its accessibility bus at a fixed address.
    if (const char* fixed = g_getenv("AT_SPI_BUS_ADDRESS"); fixed && *fixed)
        return std::string(fixed);
    GErrorPtr error;
    GObjectPtr<GDBusConnection> session(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, ErrorOut(error)));
    if (!session)
        return std::nullopt;
    GVariantPtr reply(g_dbus_connection_call_sync(
        session.get(), "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr,
        G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, connectTimeoutMs, nullptr, nullptr));
    if (!reply)
        return std::nullopt;
    const gchar* address = nullptr;
    g_variant_get(reply.get(), "(&s)", &address);
    return std::string(address);
}

} // namespace

AtspiObject atspiObjectOf(GVariant* reference) {
    const gchar* bus = nullptr;
    const gchar* path = nullptr;
    g_variant_get(reference, "(&s&o)", &bus, &path);
    // A null reference names no application at all.
    if (!bus || !*bus || std::strcmp(path, "/org/a11y/atspi/null") == 0)
        return {};
    return {bus, path};
}

std::shared_ptr<AtspiBus> AtspiBus::connect() {
    const auto address = busAddress();
    if (!address)
        return nullptr;
    GErrorPtr error;
    GObjectPtr<GDBusConnection> connection(g_dbus_connection_new_for_address_sync(
        address->c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, ErrorOut(error)));
    if (!connection)
        return nullptr;
    // A bus that goes away must not take the process with it.
    g_dbus_connection_set_exit_on_close(connection.get(), FALSE);
    return std::shared_ptr<AtspiBus>(new AtspiBus(std::move(connection)));
}

AtspiBus::AtspiBus(GObjectPtr<GDBusConnection> connection) : m_connection(std::move(connection)) {}

AtspiBus::~AtspiBus() {
    g_dbus_connection_close_sync(m_connection.get(), nullptr, nullptr);
}

AtspiBus::Reply AtspiBus::call(const AtspiObject& object, const char* interface,
                               const char* method, GVariant* parameters, const char* replyType,
                               int timeoutMs) {
    if (object.empty()) {
        if (parameters)
            g_variant_unref(g_variant_ref_sink(parameters));
        return {Failure::gone, nullptr};
    }
    GErrorPtr error;
    GVariantPtr value(g_dbus_connection_call_sync(
        m_connection.get(), object.bus.c_str(), object.path.c_str(), interface, method, parameters,
        replyType ? G_VARIANT_TYPE(replyType) : nullptr, G_DBUS_CALL_FLAGS_NONE,
        timeoutMs, nullptr, ErrorOut(error)));
    if (!value)
        return {error ? failureOf(error.get()) : Failure::other, nullptr};
    return {Failure::none, std::move(value)};
}

std::vector<AtspiBus::Reply> AtspiBus::callAll(std::vector<Request> requests, int timeoutMs) {
    struct Batch {
        std::vector<Reply> replies;
        std::size_t left = 0;
    };
    struct Pending {
        Batch* batch;
        std::size_t index;
    };
    Batch batch;
    batch.replies.resize(requests.size());
    // The answers come back on a context of this call's own, so that nothing else runs here
    // while it waits.
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    for (std::size_t i = 0; i < requests.size(); ++i) {
        Request& request = requests[i];
        if (request.object.empty()) {
            if (request.parameters)
                g_variant_unref(g_variant_ref_sink(request.parameters));
            batch.replies[i] = {Failure::gone, nullptr};
            continue;
        }
        ++batch.left;
        g_dbus_connection_call(
            m_connection.get(), request.object.bus.c_str(), request.object.path.c_str(),
            request.interface, request.method, request.parameters,
            request.replyType ? G_VARIANT_TYPE(request.replyType) : nullptr,
            G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
                GErrorPtr error;
                GVariantPtr value(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result,
                                                                ErrorOut(error)));
                Reply& reply = pending->batch->replies[pending->index];
                reply = value ? Reply{Failure::none, std::move(value)}
                              : Reply{error ? failureOf(error.get()) : Failure::other, nullptr};
                --pending->batch->left;
            },
            new Pending{&batch, i});
    }
    // Every call ends by its own timeout at the latest.
    while (batch.left > 0)
        g_main_context_iteration(context, TRUE);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    return std::move(batch.replies);
}

std::int32_t AtspiBus::processOf(const std::string& bus, int timeoutMs) {
    {
        std::lock_guard lock(m_mutex);
        if (const auto found = m_processes.find(bus); found != m_processes.end())
            return found->second;
    }
    const Reply reply = call({"org.freedesktop.DBus", "/org/freedesktop/DBus"},
                             "org.freedesktop.DBus", "GetConnectionUnixProcessID",
                             g_variant_new("(s)", bus.c_str()), "(u)", timeoutMs);
    if (!reply.ok())
        return 0;
    guint32 pid = 0;
    g_variant_get(reply.value.get(), "(u)", &pid);
    std::lock_guard lock(m_mutex);
    // Names of applications that left are dropped now and then; a name is never reused.
    if (m_processes.size() > 512)
        m_processes.clear();
    m_processes[bus] = static_cast<std::int32_t>(pid);
    return static_cast<std::int32_t>(pid);
}

std::vector<AtspiObject> AtspiBus::applications(int timeoutMs) {
    const Reply reply = call({registryName, rootPath}, "org.a11y.atspi.Accessible", "GetChildren",
                             nullptr, "(a(so))", timeoutMs);
    std::vector<AtspiObject> apps;
    if (!reply.ok())
        return apps;
    GVariantPtr list(g_variant_get_child_value(reply.value.get(), 0));
    const gsize count = g_variant_n_children(list.get());
    for (gsize i = 0; i < count; ++i) {
        GVariantPtr child(g_variant_get_child_value(list.get(), i));
        if (auto app = atspiObjectOf(child.get()); !app.empty())
            apps.push_back(std::move(app));
    }
    return apps;
}

} // namespace talverin
