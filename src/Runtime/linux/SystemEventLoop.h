#pragma once

#include "Runtime/EventLoop.h"

#include <cstddef>
#include <functional>
#include <memory>

namespace talverin {

// The application's event loop: the main queue is one custom source on GLib's default main
// context; serial queues and workers are threads of their own; the clocks are the kernel's.
class SystemEventLoop final : public EventLoop {
public:
    // Must be constructed on the main thread, which then runs GLib's main loop.
    SystemEventLoop();
    ~SystemEventLoop() override;

    void post(Job job) override;
    void after(double seconds, Job job) override;
    void afterWallClock(double seconds, Job job) override;
    bool isMainThread() const override;
    double uptime() const override;
    double continuous() const override;
    WallTime now() const override;
    std::unique_ptr<SerialQueueBackend> makeSerialQueue(std::string label) override;
    void runOnWorker(Job job) override;

    // Jobs waiting on the main queue, timers included.
    std::size_t pending() const;
    // Iterates GLib's default main context until `done` answers true or `timeoutSeconds`
    // pass; answers whether `done` did. For tests and the command-line modes.
    bool runUntil(const std::function<bool()>& done, double timeoutSeconds);

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

} // namespace talverin
