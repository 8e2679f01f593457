#include "Runtime/linux/SystemEventLoop.h"

#include "Runtime/ThreadQueues.h"

#include <glib-unix.h>
#include <glib.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <exception>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace talverin {

namespace {

double readClock(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Microseconds on CLOCK_MONOTONIC, the same clock as GLib's monotonic time.
std::int64_t monotonicMicros() { return g_get_monotonic_time(); }

std::int64_t realtimeNanos() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

struct MainSource;

} // namespace

// The main queue drains one schedule of (due µs, sequence) through one custom source at
// one priority, so posts and timers keep exactly the order of the virtual world. GLib's own
// idle and timeout sources would not: an idle runs below a timeout, so a post made before
// an after(0) would run after it. One item per dispatch keeps painting from starving.
struct SystemEventLoop::Impl {
    using Key = std::pair<std::int64_t, std::uint64_t>;

    mutable std::mutex mutex;
    std::map<Key, Job> schedule;
    std::uint64_t sequence = 0;
    std::thread::id mainThread = std::this_thread::get_id();
    GMainContext* context = nullptr;
    GSource* source = nullptr;
    ThreadWorkerPool workers{std::max(2u, std::thread::hardware_concurrency())};

    // Wall-clock timers wait on a timerfd of CLOCK_REALTIME, which the kernel fires at the
    // deadline also when the machine slept through it or the clock was set past it; when
    // they are due they join the schedule above, behind what is already due.
    std::map<Key, Job> wallTimers; // (deadline in ns of CLOCK_REALTIME, sequence)
    int wallFd = -1;
    guint wallWatch = 0;

    // Under `mutex`. Arms the timerfd for the earliest deadline, or disarms it. Waking on
    // a clock change as well lets a clock set backwards push the deadline out again.
    void armWallTimer() {
        itimerspec expiry{};
        if (!wallTimers.empty()) {
            const std::int64_t first = std::max<std::int64_t>(wallTimers.begin()->first.first, 1);
            expiry.it_value.tv_sec = first / 1'000'000'000;
            expiry.it_value.tv_nsec = first % 1'000'000'000;
        }
        timerfd_settime(wallFd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &expiry, nullptr);
    }

    void addWall(std::int64_t deadline, Job job) {
        {
            std::lock_guard lock(mutex);
            const bool first = wallTimers.empty() || Key{deadline, sequence} < wallTimers.begin()->first;
            wallTimers.emplace(Key{deadline, sequence++}, std::move(job));
            if (first)
                armWallTimer();
        }
    }

    // Main thread, when the timerfd is readable: moves the due timers to the schedule.
    void wallTimerFired() {
        std::uint64_t expirations = 0;
        // ECANCELED (the clock was set) and EAGAIN need nothing more than the check below.
        (void)::read(wallFd, &expirations, sizeof expirations);
        {
            std::lock_guard lock(mutex);
            const std::int64_t now = realtimeNanos();
            const std::int64_t due = monotonicMicros();
            while (!wallTimers.empty() && wallTimers.begin()->first.first <= now) {
                schedule.emplace(Key{due, sequence++}, std::move(wallTimers.begin()->second));
                wallTimers.erase(wallTimers.begin());
            }
            armWallTimer();
        }
    }

    void add(std::int64_t due, Job job) {
        {
            std::lock_guard lock(mutex);
            schedule.emplace(Key{due, sequence++}, std::move(job));
        }
        // Another thread's post would otherwise wait for the next unrelated event.
        g_main_context_wakeup(context);
    }

    // Milliseconds until the first item is due: 0 when one is, -1 when none is scheduled.
    int timeoutMillis() const {
        std::lock_guard lock(mutex);
        if (schedule.empty())
            return -1;
        std::int64_t wait = schedule.begin()->first.first - monotonicMicros();
        if (wait <= 0)
            return 0;
        // Rounded up: the check below is in microseconds, so a timer never runs early.
        return static_cast<int>(std::min<std::int64_t>((wait + 999) / 1000, INT32_MAX));
    }

    bool hasDue() const {
        std::lock_guard lock(mutex);
        return !schedule.empty() && schedule.begin()->first.first <= monotonicMicros();
    }

    void dispatchOne() {
        Job job;
        {
            std::lock_guard lock(mutex);
            if (schedule.empty() || schedule.begin()->first.first > monotonicMicros())
                return;
            job = std::move(schedule.begin()->second);
            schedule.erase(schedule.begin());
        }
        // Nothing may escape into GLib's C frames.
        try {
            job();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "MainQueue: a job failed: %s\n", e.what());
        } catch (...) {
            std::fputs("MainQueue: a job failed\n", stderr);
        }
    }
};

namespace {

struct MainSource {
    GSource base;
    SystemEventLoop::Impl* impl;
};

gboolean sourcePrepare(GSource* source, gint* timeout) {
    auto* impl = reinterpret_cast<MainSource*>(source)->impl;
    *timeout = impl->timeoutMillis();
    return *timeout == 0;
}

gboolean sourceCheck(GSource* source) {
    return reinterpret_cast<MainSource*>(source)->impl->hasDue();
}

gboolean sourceDispatch(GSource* source, GSourceFunc, gpointer) {
    reinterpret_cast<MainSource*>(source)->impl->dispatchOne();
    return G_SOURCE_CONTINUE;
}

GSourceFuncs gMainSourceFuncs = {sourcePrepare, sourceCheck, sourceDispatch, nullptr, nullptr,
                                 nullptr};

} // namespace

SystemEventLoop::SystemEventLoop() : m_impl(std::make_unique<Impl>()) {
    m_impl->context = g_main_context_default();
    g_main_context_ref(m_impl->context);
    m_impl->source = g_source_new(&gMainSourceFuncs, sizeof(MainSource));
    reinterpret_cast<MainSource*>(m_impl->source)->impl = m_impl.get();
    g_source_set_priority(m_impl->source, G_PRIORITY_DEFAULT);
    // Jobs may run nested main loops (a modal menu); the queue keeps running inside them.
    g_source_set_can_recurse(m_impl->source, TRUE);
    g_source_set_name(m_impl->source, "talverin-main-queue");
    g_source_attach(m_impl->source, m_impl->context);

    m_impl->wallFd = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_impl->wallFd >= 0) {
        m_impl->wallWatch = g_unix_fd_add(
            m_impl->wallFd, G_IO_IN,
            [](gint, GIOCondition, gpointer impl) -> gboolean {
                static_cast<Impl*>(impl)->wallTimerFired();
                return G_SOURCE_CONTINUE;
            },
            m_impl.get());
    } else {
        std::perror("MainQueue: no wall-clock timer, wall-clock deadlines follow uptime");
    }
}

SystemEventLoop::~SystemEventLoop() {
    if (m_impl->wallWatch != 0)
        g_source_remove(m_impl->wallWatch);
    if (m_impl->wallFd >= 0)
        ::close(m_impl->wallFd);
    g_source_destroy(m_impl->source);
    g_source_unref(m_impl->source);
    g_main_context_unref(m_impl->context);
}

void SystemEventLoop::post(Job job) { m_impl->add(monotonicMicros(), std::move(job)); }

void SystemEventLoop::after(double seconds, Job job) {
    m_impl->add(monotonicMicros() + delayMicroseconds(seconds), std::move(job));
}

void SystemEventLoop::afterWallClock(double seconds, Job job) {
    if (m_impl->wallFd < 0) {
        after(seconds, std::move(job));
        return;
    }
    m_impl->addWall(realtimeNanos() + delayMicroseconds(seconds) * 1000, std::move(job));
}

// GLib's "owner" of a context is only set during an iteration, so compare thread ids.
bool SystemEventLoop::isMainThread() const {
    return std::this_thread::get_id() == m_impl->mainThread;
}

double SystemEventLoop::uptime() const { return readClock(CLOCK_MONOTONIC); }
double SystemEventLoop::continuous() const { return readClock(CLOCK_BOOTTIME); }
WallTime SystemEventLoop::now() const { return std::chrono::system_clock::now(); }

std::unique_ptr<SerialQueueBackend> SystemEventLoop::makeSerialQueue(std::string label) {
    return std::make_unique<ThreadSerialQueue>(std::move(label));
}

void SystemEventLoop::runOnWorker(Job job) { m_impl->workers.async(std::move(job)); }

std::size_t SystemEventLoop::pending() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->schedule.size() + m_impl->wallTimers.size();
}

bool SystemEventLoop::runUntil(const std::function<bool()>& done, double timeoutSeconds) {
    const double deadline = uptime() + timeoutSeconds;
    bool timedOut = false;
    // A timer wakes the loop at the deadline even when nothing else happens.
    guint timer = g_timeout_add(
        static_cast<guint>(std::ceil(timeoutSeconds * 1000)),
        [](gpointer flag) -> gboolean {
            *static_cast<bool*>(flag) = true;
            return G_SOURCE_REMOVE;
        },
        &timedOut);
    while (!done() && !timedOut && uptime() < deadline)
        g_main_context_iteration(m_impl->context, TRUE);
    if (!timedOut)
        g_source_remove(timer);
    return done();
}

} // namespace talverin
