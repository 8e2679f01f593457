#pragma once

#include "TalverinCloud/PathMonitor.h"

#include <memory>
#include <mutex>

namespace talverin {

// Reachability for the dictate client: offline means exactly that the last report of the
// path monitor had no path. Until the first report the machine counts as online.
class Connectivity {
public:
    explicit Connectivity(std::unique_ptr<PathMonitor> monitor);
    // Cancels the monitor.
    ~Connectivity();
    Connectivity(const Connectivity&) = delete;
    Connectivity& operator=(const Connectivity&) = delete;

    // Any thread. Starts the monitor the first time; later calls do nothing.
    void start();
    // Any thread.
    bool isOnline() const;

private:
    void update(bool satisfied);

    std::unique_ptr<PathMonitor> m_monitor;
    mutable std::mutex m_lock;
    bool m_satisfied = true;
    bool m_started = false;
};

} // namespace talverin
