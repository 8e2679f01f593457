#pragma once

#include "Runtime/EventLoop.h"
#include "Runtime/ThreadQueues.h"
#include "TalverinAudio/AudioBlock.h"
#include "TalverinCore/CoreLog.h"
#include "support/LogLines.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <ctime>
#include <memory>
#include <mutex>
#include <numbers>
#include <string>
#include <string_view>
#include <vector>

namespace talverin::test {

// A block of `frames` frames in which every channel carries the same tone: amplitude 0 gives
// digital silence.
inline AudioBlock toneBlock(double rate, int channels, std::size_t frames, float amplitude,
                            double hz = 440, std::size_t offset = 0) {
    std::vector<float> samples;
    samples.reserve(frames * static_cast<std::size_t>(channels));
    for (std::size_t f = 0; f < frames; ++f) {
        auto v = amplitude * static_cast<float>(std::sin(2 * std::numbers::pi * hz *
                                                         static_cast<double>(offset + f) / rate));
        for (int c = 0; c < channels; ++c)
            samples.push_back(v);
    }
    return AudioBlock({rate, channels}, std::move(samples));
}

// A real-time event loop for tests against the sound server: the main queue and every serial
// queue are threads of their own, the clocks are the kernel's. Installs itself while it lives.
class ThreadEventLoop final : public EventLoop {
public:
    ThreadEventLoop() : m_previous(Runtime::install(this)) {}
    ~ThreadEventLoop() override { Runtime::install(m_previous); }

    void post(Job job) override { m_main.async(std::move(job)); }
    void after(double seconds, Job job) override { m_main.after(seconds, std::move(job)); }
    bool isMainThread() const override { return m_main.isCurrent(); }
    double uptime() const override { return clock(CLOCK_MONOTONIC); }
    double continuous() const override { return clock(CLOCK_BOOTTIME); }
    WallTime now() const override { return std::chrono::system_clock::now(); }
    std::unique_ptr<SerialQueueBackend> makeSerialQueue(std::string label) override {
        return std::make_unique<ThreadSerialQueue>(std::move(label));
    }
    void runOnWorker(Job job) override { m_workers.async(std::move(job)); }

private:
    static double clock(clockid_t id) {
        timespec ts{};
        clock_gettime(id, &ts);
        return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
    }

    EventLoop* m_previous;
    ThreadSerialQueue m_main{"main"};
    ThreadWorkerPool m_workers{2};
};

} // namespace talverin::test
