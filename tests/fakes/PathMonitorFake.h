#pragma once

#include "TalverinCloud/PathMonitor.h"

#include <functional>
#include <memory>
#include <utility>

namespace talverin::test {

// A path monitor the test reports through.
class PathMonitorFake final : public PathMonitor {
public:
    struct Shared {
        bool started = false;
        bool cancelled = false;
        std::function<void(bool)> onUpdate;
    };

    explicit PathMonitorFake(std::shared_ptr<Shared> shared) : m_shared(std::move(shared)) {}
    void start(std::function<void(bool)> onUpdate) override {
        m_shared->started = true;
        m_shared->onUpdate = std::move(onUpdate);
    }
    void cancel() override {
        m_shared->cancelled = true;
        m_shared->onUpdate = nullptr;
    }

private:
    std::shared_ptr<Shared> m_shared;
};

} // namespace talverin::test
