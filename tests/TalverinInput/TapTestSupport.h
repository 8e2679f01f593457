#pragma once

#include "TalverinCore/CoreLog.h"
#include "TalverinInput/KeySource.h"
#include "support/LogLines.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace talverin::test {

// Calls `step` until `done` holds or `seconds` of real time pass.
inline bool pumpUntil(const std::function<bool()>& done, const std::function<void()>& step,
                      double seconds = 5) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<int>(seconds * 1000));
    for (;;) {
        step();
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// A key source that hands every call to another one; tests override what they observe.
class ForwardingKeySource : public KeySource {
public:
    explicit ForwardingKeySource(std::unique_ptr<KeySource> source) : m_source(std::move(source)) {}
    Result<void, KeySourceError> open() override { return m_source->open(); }
    void close() override { m_source->close(); }
    void wait(double timeout) override { m_source->wait(timeout); }
    void wake() override { m_source->wake(); }
    void drain(const std::function<void(const TapEvent&)>& deliver) override {
        m_source->drain(deliver);
    }
    bool isKeyDown(std::int64_t keyCode) override { return m_source->isKeyDown(keyCode); }
    void enable() override { m_source->enable(); }

protected:
    std::unique_ptr<KeySource> m_source;
};

} // namespace talverin::test
