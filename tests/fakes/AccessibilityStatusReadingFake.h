#pragma once

#include "TalverinInput/AccessibilityStatusReading.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>

namespace talverin::test {

// The accessibility status as the test sets it. The first read has always ended. Switching it
// on succeeds and turns the status to enabled, unless the test has scripted a failure.
class AccessibilityStatusReadingFake final : public AccessibilityStatusReading {
public:
    explicit AccessibilityStatusReadingFake(BusStatus status) : m_status(status) {}

    void setStatus(BusStatus status) { m_status = status; }
    // The failure every coming requestEnable() answers; none: it succeeds.
    void failEnableWith(std::optional<Failure<AccessibilityEnableError>> failure) {
        std::lock_guard lock(m_mutex);
        m_failure = std::move(failure);
    }
    int refreshes() const { return m_refreshes; }
    int enableRequests() const { return m_enableRequests; }

    BusStatus status() const override { return m_status; }
    void refresh() override { ++m_refreshes; }
    void whenFirstRead(std::function<void()> then) override { then(); }
    Enabling requestEnable() override {
        ++m_enableRequests;
        std::lock_guard lock(m_mutex);
        if (m_failure)
            return *m_failure;
        m_status = BusStatus::enabled;
        return {};
    }

private:
    std::atomic<BusStatus> m_status;
    std::atomic<int> m_refreshes{0};
    std::atomic<int> m_enableRequests{0};
    std::mutex m_mutex;
    std::optional<Failure<AccessibilityEnableError>> m_failure;
};

} // namespace talverin::test
