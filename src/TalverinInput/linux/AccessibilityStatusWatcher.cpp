#include "TalverinInput/linux/AccessibilityStatusWatcher.h"

#include "TalverinCore/CoreLog.h"
#include "TalverinInput/PermissionsMonitor.h"
#include "TalverinInput/linux/BusConnection.h"

#include <atomic>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace talverin {

namespace {

constexpr const char* busName = "org.a11y.Bus";
constexpr const char* busPath = "/org/a11y/bus";
constexpr const char* statusInterface = "org.a11y.Status";
constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";

using BusStatus = AccessibilityStatusWatcher::BusStatus;

// IsEnabled as a value of the bus, when it is one.
std::optional<BusStatus> statusOf(GVariant* value) {
    if (!value || !g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN))
        return std::nullopt;
    return g_variant_get_boolean(value) ? BusStatus::enabled : BusStatus::notEnabled;
}

} // namespace

struct AccessibilityStatusWatcher::State {
    explicit State(std::shared_ptr<NotificationCenter> c) : center(std::move(c)) {}

    const std::shared_ptr<NotificationCenter> center;
    std::atomic<BusStatus> status{BusStatus::unknown};

    // Main thread only.
    bool reading = false;
    bool firstReadEnded = false;
    bool silenceLogged = false;
    std::vector<std::function<void()>> waiting;

    // Any thread.
    void store(BusStatus fresh) {
        if (status.exchange(fresh) != fresh)
            announce();
    }

    void announce() const {
        if (center)
            center->post(PermissionsMonitor::accessibilityNotification);
    }

    void endFirstRead() {
        if (firstReadEnded)
            return;
        firstReadEnded = true;
        for (auto& then : std::exchange(waiting, {}))
            then();
    }

    // Main thread: the answer to one read, or why none came.
    void answered(GVariant* reply, const GErrorPtr& error) {
        reading = false;
        if (reply) {
            GVariantPtr value(g_variant_get_child_value(reply, 0));
            GVariantPtr inner(g_variant_get_variant(value.get()));
            if (auto fresh = statusOf(inner.get()))
                store(*fresh);
            silenceLogged = false;
        } else if (!silenceLogged) {
            silenceLogged = true;
            CoreLog::write("Permissions: the accessibility bus did not answer, its last status "
                           "stands (" +
                           busErrorText(error) + ")");
        }
        endFirstRead();
    }
};

namespace {

// Holds the watcher's state for one read or subscription, which may outlive the watcher.
using StateHold = std::shared_ptr<AccessibilityStatusWatcher::State>;

void dropHold(gpointer hold) {
    delete static_cast<StateHold*>(hold);
}

// The arguments of the Get call that reads the status, for the first read and every refresh.
GVariant* isEnabledQuery() {
    return g_variant_new("(ss)", statusInterface, "IsEnabled");
}

void readFinished(GObject* source, GAsyncResult* result, gpointer data) {
    const std::unique_ptr<StateHold> hold(static_cast<StateHold*>(data));
    GErrorPtr error;
    GVariantPtr reply(
        g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, ErrorOut(error)));
    // A cancelled read belongs to a watcher that is gone.
    if (!reply && g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED))
        return;
    (*hold)->answered(reply.get(), error);
}

} // namespace

AccessibilityStatusWatcher::AccessibilityStatusWatcher(std::shared_ptr<NotificationCenter> center,
                                                       std::string busAddress)
    : m_state(std::make_shared<State>(std::move(center))), m_cancellable(g_cancellable_new()) {
    GErrorPtr error;
    m_connection = openBusConnection(G_BUS_TYPE_SESSION, busAddress, error);
    if (!m_connection) {
        CoreLog::write("Permissions: no session bus, the accessibility status is not watched (" +
                       busErrorText(error) + ")");
        m_state->endFirstRead();
        return;
    }
    // The sender is left open: the bus daemon may hand the status to a new owner.
    m_subscription = g_dbus_connection_signal_subscribe(
        m_connection.get(), nullptr, propertiesInterface, "PropertiesChanged", busPath,
        statusInterface, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const char*, const char*, const char*, const char*,
           GVariant* parameters, gpointer hold) {
            State& state = **static_cast<StateHold*>(hold);
            if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv}as)")))
                return;
            GVariantPtr changed(g_variant_get_child_value(parameters, 1));
            GVariantPtr value(
                g_variant_lookup_value(changed.get(), "IsEnabled", G_VARIANT_TYPE_BOOLEAN));
            if (auto fresh = statusOf(value.get()))
                state.status.store(*fresh);
            // Posted for any change of the status object: the monitor reads everything again.
            state.announce();
        },
        new StateHold(m_state), dropHold);
    settleBusConnection(m_connection.get());
    // The first read waits for its answer: the launch decides from the status, before the main
    // loop runs, whether the key tap starts and whether the onboarding opens.
    GErrorPtr readError;
    GVariantPtr reply(g_dbus_connection_call_sync(
        m_connection.get(), busName, busPath, propertiesInterface, "Get", isEnabledQuery(),
        G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, busTimeoutMillis, m_cancellable.get(),
        ErrorOut(readError)));
    m_state->answered(reply.get(), readError);
}

AccessibilityStatusWatcher::~AccessibilityStatusWatcher() {
    g_cancellable_cancel(m_cancellable.get());
    if (m_subscription != 0)
        g_dbus_connection_signal_unsubscribe(m_connection.get(), m_subscription);
}

AccessibilityStatusWatcher::BusStatus AccessibilityStatusWatcher::status() const {
    return m_state->status.load();
}

void AccessibilityStatusWatcher::refresh() {
    if (!m_connection || m_state->reading)
        return;
    m_state->reading = true;
    g_dbus_connection_call(m_connection.get(), busName, busPath, propertiesInterface, "Get",
                           isEnabledQuery(), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE,
                           busTimeoutMillis, m_cancellable.get(), readFinished,
                           new StateHold(m_state));
}

void AccessibilityStatusWatcher::whenFirstRead(std::function<void()> then) {
    if (m_state->firstReadEnded)
        then();
    else
        m_state->waiting.push_back(std::move(then));
}

AccessibilityStatusReading::Enabling AccessibilityStatusWatcher::requestEnable() {
    if (!m_connection)
        return fail(AccessibilityEnableError::unavailable, "no session bus");
    GErrorPtr error;
    GVariantPtr reply(g_dbus_connection_call_sync(
        m_connection.get(), busName, busPath, propertiesInterface, "Set",
        g_variant_new("(ssv)", statusInterface, "IsEnabled", g_variant_new_boolean(TRUE)), nullptr,
        G_DBUS_CALL_FLAGS_NONE, busTimeoutMillis, nullptr, ErrorOut(error)));
    if (!reply)
        return fail(AccessibilityEnableError::refused, busErrorText(error));
    m_state->store(BusStatus::enabled);
    return {};
}

} // namespace talverin
