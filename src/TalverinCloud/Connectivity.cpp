#include "TalverinCloud/Connectivity.h"

#include "TalverinCore/CoreLog.h"

namespace talverin {

Connectivity::Connectivity(std::unique_ptr<PathMonitor> monitor) : m_monitor(std::move(monitor)) {}

Connectivity::~Connectivity() {
    // After cancel() no report arrives, so the handler's `this` cannot outlive the object.
    if (m_monitor)
        m_monitor->cancel();
}

void Connectivity::start() {
    {
        std::lock_guard lock(m_lock);
        if (m_started)
            return;
        m_started = true;
    }
    if (m_monitor)
        m_monitor->start([this](bool satisfied) { update(satisfied); });
}

bool Connectivity::isOnline() const {
    std::lock_guard lock(m_lock);
    return m_satisfied;
}

void Connectivity::update(bool satisfied) {
    bool changed;
    {
        std::lock_guard lock(m_lock);
        changed = m_satisfied != satisfied;
        m_satisfied = satisfied;
    }
    if (changed)
        CoreLog::write(std::string("Cloud: network: ") +
                       (satisfied ? "path available" : "no path"));
}

} // namespace talverin
