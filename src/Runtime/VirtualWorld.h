#pragma once

#include "Runtime/EventLoop.h"

#include <cstddef>
#include <memory>
#include <optional>

namespace talverin {

// The event loop of tests: one schedule of (due time, sequence) for the main queue, every
// serial queue and the worker pool, all run on the test's thread, one dispatch at a time,
// on a virtual clock that moves only when the test says so. Jobs posted from real threads
// (a future resolved on a std::thread) enter the same schedule.
//
// Constructing a world installs it; destroying it restores the loop installed before.
class VirtualWorld final : public EventLoop {
public:
    explicit VirtualWorld(double startUptime = 1000.0);
    ~VirtualWorld() override;
    VirtualWorld(const VirtualWorld&) = delete;
    VirtualWorld& operator=(const VirtualWorld&) = delete;

    void post(Job job) override;
    void after(double seconds, Job job) override;
    void afterWallClock(double seconds, Job job) override;
    bool isMainThread() const override;
    double uptime() const override;
    double continuous() const override;
    WallTime now() const override;
    std::unique_ptr<SerialQueueBackend> makeSerialQueue(std::string label) override;
    void runOnWorker(Job job) override;

    // Runs the earliest job that is due now; false when none is. Time does not move.
    bool step();
    // Runs the earliest job, moving time forward to it; false when nothing is scheduled.
    bool stepNext();
    // Runs every job that is due now, including those they post for now.
    void runReady();
    // Runs every job due up to `uptime`, in order, then sets the time to it.
    void runUntil(double uptime);
    void advance(double seconds);
    // Runs until nothing is scheduled, moving time forward. A job that reschedules itself
    // forever fails the run after `limit` dispatches.
    void runUntilIdle(std::size_t limit = 1'000'000);

    std::size_t pending() const;
    std::optional<double> nextDue() const;
    std::size_t dispatched() const;

    // The machine sleeps: the continuous and wall clocks move on, uptime does not. Wall-clock
    // timers whose time has come are due at once.
    void suspendSystem(double seconds);
    // The wall clock is set (by the user, by time synchronisation); wall-clock timers follow.
    void setWallClock(WallTime wall);

    struct Core;

private:
    std::shared_ptr<Core> m_core;
    EventLoop* m_previous = nullptr;
};

} // namespace talverin
