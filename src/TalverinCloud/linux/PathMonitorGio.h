#pragma once

#include "TalverinCloud/PathMonitor.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

typedef struct _GMainContext GMainContext;

namespace talverin {

// Network reachability from GIO's GNetworkMonitor, on a thread of its own (named after
// `label`) with its own main context. "Available" means the monitor sees a route to the
// internet; reports are the monitor's "network-changed" signal, and one at start.
class PathMonitorGio final : public PathMonitor {
public:
    explicit PathMonitorGio(std::string label);
    ~PathMonitorGio() override;
    PathMonitorGio(const PathMonitorGio&) = delete;
    PathMonitorGio& operator=(const PathMonitorGio&) = delete;

    void start(std::function<void(bool satisfied)> onUpdate) override;
    void cancel() override;

    // For the signal handler.
    void report(bool available);

private:
    void run();

    std::string m_label;
    std::mutex m_lock;
    // Guarded by m_lock; cleared by cancel(), after which nothing is reported.
    std::function<void(bool)> m_onUpdate;
    GMainContext* m_context = nullptr;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

} // namespace talverin
