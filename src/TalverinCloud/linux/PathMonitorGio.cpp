#include "TalverinCloud/linux/PathMonitorGio.h"

#include <gio/gio.h>

#include <pthread.h>

namespace talverin {
namespace {

void onNetworkChanged(GNetworkMonitor*, gboolean available, gpointer data) {
    static_cast<PathMonitorGio*>(data)->report(available != FALSE);
}

} // namespace

PathMonitorGio::PathMonitorGio(std::string label) : m_label(std::move(label)) {}

PathMonitorGio::~PathMonitorGio() {
    cancel();
}

void PathMonitorGio::start(std::function<void(bool satisfied)> onUpdate) {
    std::lock_guard lock(m_lock);
    if (m_thread.joinable())
        return;
    m_onUpdate = std::move(onUpdate);
    m_stopping = false;
    m_context = g_main_context_new();
    m_thread = std::thread([this] { run(); });
}

void PathMonitorGio::run() {
    // Thread names are limited to 15 characters; the end of the label is the telling part.
    const std::string name = m_label.size() > 15 ? m_label.substr(m_label.size() - 15) : m_label;
    pthread_setname_np(pthread_self(), name.c_str());
    g_main_context_push_thread_default(m_context);
    GNetworkMonitor* monitor = g_network_monitor_get_default();
    // The monitor is the process's; the signal may arrive on whichever context made it
    // first, which is why report() is safe from any thread.
    const gulong handler =
        g_signal_connect(monitor, "network-changed", G_CALLBACK(onNetworkChanged), this);
    report(g_network_monitor_get_network_available(monitor) != FALSE);
    while (!m_stopping.load())
        g_main_context_iteration(m_context, TRUE);
    g_signal_handler_disconnect(monitor, handler);
    g_main_context_pop_thread_default(m_context);
}

void PathMonitorGio::report(bool available) {
    std::lock_guard lock(m_lock);
    if (m_onUpdate)
        m_onUpdate(available);
}

void PathMonitorGio::cancel() {
    std::thread thread;
    {
        std::lock_guard lock(m_lock);
        m_onUpdate = nullptr;
        if (!m_thread.joinable())
            return;
        thread = std::move(m_thread);
    }
    // The wakeup stays pending until the loop next waits, so a stop before the loop has
    // started is not lost. Nothing else crosses threads: no source is attached from here.
    m_stopping = true;
    g_main_context_wakeup(m_context);
    thread.join();
    g_main_context_unref(m_context);
    m_context = nullptr;
}

} // namespace talverin
