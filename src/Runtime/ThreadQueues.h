#pragma once

#include "Runtime/EventLoop.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace talverin {

// The delay of an after() in whole microseconds, never negative. A delay too long for the
// clocks to count (an infinite one included) waits about thirty years instead of wrapping
// round to a time in the past, where it would run at once; one that is not a number runs now.
std::int64_t delayMicroseconds(double seconds);

// A serial queue on a thread of its own. Timers wait on the steady clock, which is the
// uptime clock on Linux.
class ThreadSerialQueue final : public SerialQueueBackend {
public:
    explicit ThreadSerialQueue(std::string label);
    // Runs the jobs that are already due, drops timers that are not, and joins the thread.
    ~ThreadSerialQueue() override;

    void async(Job job) override;
    void after(double seconds, Job job) override;
    void sync(Job job) override;
    bool isCurrent() const override;

private:
    using Due = std::chrono::steady_clock::time_point;
    void schedule(Due due, Job job);
    void loop();

    std::string m_label;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::map<std::pair<Due, std::uint64_t>, Job> m_jobs;
    std::uint64_t m_sequence = 0;
    bool m_stopping = false;
    std::thread m_thread;
};

// A fixed set of background threads sharing one FIFO of jobs.
class ThreadWorkerPool {
public:
    explicit ThreadWorkerPool(unsigned threads);
    // Finishes the jobs already queued, then joins.
    ~ThreadWorkerPool();

    void async(Job job);

private:
    void loop();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

} // namespace talverin
