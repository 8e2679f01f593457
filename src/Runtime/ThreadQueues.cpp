#include "Runtime/ThreadQueues.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <future>

namespace talverin {

namespace {

thread_local const SerialQueueBackend* tCurrentQueue = nullptr;

// Nothing may escape a job: a throwing job would end the queue's thread and the process.
void runGuarded(const std::string& label, Job& job) {
    try {
        job();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: a job failed: %s\n", label.c_str(), e.what());
    } catch (...) {
        std::fprintf(stderr, "%s: a job failed\n", label.c_str());
    }
}

} // namespace

std::int64_t delayMicroseconds(double seconds) {
    // Far enough for any timer, and near enough that the steady clock's nanoseconds added to
    // the current time still fit in 64 bits.
    constexpr double longest = 1e15;
    if (!(seconds > 0))
        return 0;
    return std::llround(std::min(seconds * 1e6, longest));
}

ThreadSerialQueue::ThreadSerialQueue(std::string label)
    : m_label(std::move(label)), m_thread([this] { loop(); }) {}

ThreadSerialQueue::~ThreadSerialQueue() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void ThreadSerialQueue::schedule(Due due, Job job) {
    {
        std::lock_guard lock(m_mutex);
        m_jobs.emplace(std::make_pair(due, m_sequence++), std::move(job));
    }
    m_wake.notify_all();
}

void ThreadSerialQueue::async(Job job) { schedule(std::chrono::steady_clock::now(), std::move(job)); }

void ThreadSerialQueue::after(double seconds, Job job) {
    auto delay = std::chrono::microseconds(delayMicroseconds(seconds));
    schedule(std::chrono::steady_clock::now() + delay, std::move(job));
}

void ThreadSerialQueue::sync(Job job) {
    if (isCurrent()) {
        runGuarded(m_label, job);
        return;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    async([&] {
        runGuarded(m_label, job);
        done.set_value();
    });
    finished.wait();
}

bool ThreadSerialQueue::isCurrent() const { return tCurrentQueue == this; }

void ThreadSerialQueue::loop() {
    tCurrentQueue = this;
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_jobs.empty()) {
            if (m_stopping)
                return;
            m_wake.wait(lock);
            continue;
        }
        auto first = m_jobs.begin();
        auto now = std::chrono::steady_clock::now();
        if (first->first.first > now) {
            if (m_stopping)
                return;
            m_wake.wait_until(lock, first->first.first);
            continue;
        }
        Job job = std::move(first->second);
        m_jobs.erase(first);
        lock.unlock();
        runGuarded(m_label, job);
        job = nullptr;
        lock.lock();
    }
}

ThreadWorkerPool::ThreadWorkerPool(unsigned threads) {
    for (unsigned i = 0; i < std::max(threads, 1u); ++i)
        m_threads.emplace_back([this] { loop(); });
}

ThreadWorkerPool::~ThreadWorkerPool() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (auto& thread : m_threads)
        thread.join();
}

void ThreadWorkerPool::async(Job job) {
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void ThreadWorkerPool::loop() {
    static const std::string label = "WorkerPool";
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        if (m_jobs.empty())
            return;
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        runGuarded(label, job);
        job = nullptr;
        lock.lock();
    }
}

} // namespace talverin
