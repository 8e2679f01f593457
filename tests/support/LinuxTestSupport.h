#pragma once

#include "Runtime/EventLoop.h"
#include "Runtime/ThreadQueues.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <glib.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

// Declared as Xlib declares them: this header must not bring in Xlib's macros ahead of gtest.
struct _XDisplay;
extern "C" {
_XDisplay* XOpenDisplay(const char* name);
int XCloseDisplay(_XDisplay* display);
}

namespace talverin::test {

inline double monotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// An event loop on real time for tests of backends: the main queue runs on the test's thread
// whenever the test pumps it, together with GLib's default context, so that D-Bus signals
// subscribed there arrive too.
class RealTimeLoop final : public EventLoop {
public:
    RealTimeLoop() : m_main(std::this_thread::get_id()), m_workers(2) {
        m_previous = Runtime::install(this);
    }
    ~RealTimeLoop() override { Runtime::install(m_previous); }
    RealTimeLoop(const RealTimeLoop&) = delete;
    RealTimeLoop& operator=(const RealTimeLoop&) = delete;

    void post(Job job) override { after(0, std::move(job)); }
    void after(double seconds, Job job) override {
        std::lock_guard lock(m_mutex);
        m_jobs.emplace(std::make_pair(uptime() + std::max(seconds, 0.0), m_sequence++),
                       std::move(job));
    }
    bool isMainThread() const override { return std::this_thread::get_id() == m_main; }
    double uptime() const override { return monotonicNow(); }
    double continuous() const override {
        timespec now{};
        clock_gettime(CLOCK_BOOTTIME, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
    }
    WallTime now() const override { return std::chrono::system_clock::now(); }
    std::unique_ptr<SerialQueueBackend> makeSerialQueue(std::string label) override {
        return std::make_unique<ThreadSerialQueue>(std::move(label));
    }
    void runOnWorker(Job job) override { m_workers.async(std::move(job)); }

    // Runs what is due until `done` holds or `seconds` pass; answers `done()`.
    bool runUntil(const std::function<bool()>& done, double seconds = 5) {
        const double deadline = uptime() + seconds;
        while (!done() && uptime() < deadline) {
            runDue();
            while (g_main_context_iteration(nullptr, FALSE)) {
            }
            if (done())
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return done();
    }
    // Pumps for a while, whatever happens.
    void runFor(double seconds) {
        runUntil([] { return false; }, seconds);
    }

private:
    void runDue() {
        for (;;) {
            Job job;
            {
                std::lock_guard lock(m_mutex);
                if (m_jobs.empty() || m_jobs.begin()->first.first > uptime())
                    return;
                job = std::move(m_jobs.begin()->second);
                m_jobs.erase(m_jobs.begin());
            }
            job();
        }
    }

    std::thread::id m_main;
    std::mutex m_mutex;
    std::map<std::pair<double, std::uint64_t>, Job> m_jobs;
    std::uint64_t m_sequence = 0;
    ThreadWorkerPool m_workers;
    EventLoop* m_previous = nullptr;
};

// An Xvfb of the test's own, so that the keys it presses disturb no other test and stopping
// it loses nothing that others use. The server picks a free display number itself. It ends
// when its last client leaves; this object holds one connection for as long as it lives, so
// that a test that crashes leaves no server behind.
class PrivateXServer {
public:
    // `screen` is Xvfb's size and depth, "WIDTHxHEIGHTxDEPTH".
    explicit PrivateXServer(const char* screen = "640x480x24") {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const char* argv[] = {"Xvfb",       "-displayfd", "3", "-nolisten",  "tcp",
                              "-terminate", "-screen",    "0", screen,       nullptr};
        if (posix_spawnp(&m_pid, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        // The display number is written once the server accepts connections; a server that
        // dies closes the pipe. The bound only ends a server that hangs, so it is generous: a
        // loaded machine can take many seconds to start one.
        std::string number;
        pollfd readable{fds[0], POLLIN, 0};
        constexpr int startLimitMs = 90'000;
        while (m_pid > 0 && ::poll(&readable, 1, startLimitMs) > 0) {
            char c = 0;
            if (::read(fds[0], &c, 1) != 1 || c == '\n')
                break;
            number.push_back(c);
        }
        ::close(fds[0]);
        if (!number.empty())
            m_display = ":" + number;
        if (!m_display.empty())
            m_keeper = XOpenDisplay(m_display.c_str());
    }
    ~PrivateXServer() { stop(); }
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;

    // Empty when the server did not come up (no Xvfb installed).
    const std::string& display() const { return m_display; }

    void stop() {
        if (m_keeper)
            XCloseDisplay(m_keeper);
        m_keeper = nullptr;
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    std::string m_display;
    _XDisplay* m_keeper = nullptr;
};

} // namespace talverin::test
