#pragma once

#include "TalverinCloud/PathMonitor.h"

#include <string>

namespace talverin {

// The path monitor when the system offers no network monitor. It never reports, so the
// machine keeps counting as online and a request finds out for itself: a guess of "offline"
// would keep every dictation on the device with no way to recover.
class PathMonitorNull final : public PathMonitor {
public:
    explicit PathMonitorNull(std::string reason) : m_reason(std::move(reason)) {}

    const std::string& reason() const { return m_reason; }

    void start(std::function<void(bool)>) override {}
    void cancel() override {}

private:
    std::string m_reason;
};

} // namespace talverin
