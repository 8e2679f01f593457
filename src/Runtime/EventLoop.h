#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>

namespace talverin {

using Job = std::function<void()>;
using WallTime = std::chrono::system_clock::time_point;

// One serial queue's executor: jobs run one at a time, first in first out.
class SerialQueueBackend {
public:
    virtual ~SerialQueueBackend() = default;
    // Any thread. Never runs the job inline.
    virtual void async(Job job) = 0;
    // Any thread. Runs the job once `seconds` have passed on the uptime clock.
    virtual void after(double seconds, Job job) = 0;
    // Any thread but this queue's own workers of other queues; runs inline when already on it.
    virtual void sync(Job job) = 0;
    // Any thread.
    virtual bool isCurrent() const = 0;
};

// The process's event loop: the main queue, the clocks and the factories of the other
// queues. The application installs the GLib one; tests install a VirtualWorld, so that
// minutes of behaviour run in microseconds and always in the same order.
class EventLoop {
public:
    virtual ~EventLoop() = default;
    // Any thread. Jobs and timers run on the main thread in (due time, post order).
    virtual void post(Job job) = 0;
    virtual void after(double seconds, Job job) = 0;
    // Any thread. Runs the job on the main thread once the wall clock has moved `seconds` on,
    // counting time asleep and jumps of the clock, in the same order as posts and timers. A
    // loop without a wall-clock timer of its own counts the seconds on the uptime clock.
    virtual void afterWallClock(double seconds, Job job) { after(seconds, std::move(job)); }
    // Any thread: true on the main thread, outside the jobs of other queues.
    virtual bool isMainThread() const = 0;
    // Seconds since boot, stopped in suspend (CLOCK_MONOTONIC).
    virtual double uptime() const = 0;
    // Seconds since boot, counting suspend (CLOCK_BOOTTIME).
    virtual double continuous() const = 0;
    virtual WallTime now() const = 0;
    virtual std::unique_ptr<SerialQueueBackend> makeSerialQueue(std::string label) = 0;
    // Any thread. Runs the job on a background worker.
    virtual void runOnWorker(Job job) = 0;
};

namespace Runtime {

// Installs the event loop every MainQueue, Clock, SerialQueue and WorkerPool call goes to,
// and returns the one installed before. The caller keeps ownership.
EventLoop* install(EventLoop* loop);
// The installed event loop, or null.
EventLoop* current();

} // namespace Runtime

} // namespace talverin
