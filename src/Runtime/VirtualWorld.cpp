#include "Runtime/VirtualWorld.h"

#include "Runtime/ThreadQueues.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdint>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace talverin {

namespace {

// A lane is one serial context of the world: the main queue, a serial queue, the workers.
struct Lane {
    std::string label;
};

struct Item {
    Job job;
    const Lane* lane;
    // A wall-clock timer: its place in the schedule follows this time when the clock jumps.
    std::optional<WallTime> wallDue = std::nullopt;
};

using Key = std::pair<double, std::uint64_t>;

} // namespace

struct VirtualWorld::Core {
    mutable std::mutex mutex;
    std::map<Key, Item> schedule;
    std::uint64_t sequence = 0;
    std::atomic<double> uptime;
    std::atomic<double> suspended{0};
    WallTime wallAtStart;
    double startUptime;
    std::thread::id owner = std::this_thread::get_id();
    const Lane* current = nullptr;
    Lane mainLane{"main"};
    Lane workerLane{"worker"};
    std::size_t dispatched = 0;

    explicit Core(double start)
        : uptime(start), wallAtStart(WallTime(std::chrono::seconds(1'780'000'000))),
          startUptime(start) {
        current = &mainLane;
    }

    void add(double due, const Lane* lane, Job job, std::optional<WallTime> wallDue = {}) {
        std::lock_guard lock(mutex);
        schedule.emplace(Key{due, sequence++}, Item{std::move(job), lane, wallDue});
    }

    WallTime wallNow() const {
        double elapsed = uptime.load() + suspended.load() - startUptime;
        return wallAtStart + std::chrono::duration_cast<WallTime::duration>(
                                 std::chrono::duration<double>(elapsed));
    }

    // The uptime at which the wall clock reaches `wall`, as the clocks stand now: never in the
    // past, so that a deadline that has passed is simply due.
    double uptimeAtWall(WallTime wall) const {
        const double ahead = std::chrono::duration<double>(wall - wallNow()).count();
        return uptime.load() + std::max(ahead, 0.0);
    }

    // After a jump of the wall clock, each wall-clock timer moves to its new place, keeping
    // its sequence so that timers due together still run in the order they were made.
    void replaceWallTimers() {
        std::lock_guard lock(mutex);
        std::vector<std::pair<std::uint64_t, Item>> moved;
        for (auto it = schedule.begin(); it != schedule.end();) {
            if (it->second.wallDue) {
                moved.emplace_back(it->first.second, std::move(it->second));
                it = schedule.erase(it);
            } else {
                ++it;
            }
        }
        for (auto& [seq, item] : moved) {
            const double due = uptimeAtWall(*item.wallDue);
            schedule.emplace(Key{due, seq}, std::move(item));
        }
    }

    // Runs one item with its lane as the current context. The item is out of the schedule
    // before it runs, so a job that throws leaves the world consistent.
    void run(Item item) {
        assert(std::this_thread::get_id() == owner);
        const Lane* saved = current;
        current = item.lane;
        struct Restore {
            Core* core;
            const Lane* saved;
            ~Restore() { core->current = saved; }
        } restore{this, saved};
        ++dispatched;
        item.job();
    }

    std::optional<Item> takeFirst(double notAfter) {
        std::lock_guard lock(mutex);
        auto first = schedule.begin();
        if (first == schedule.end() || first->first.first > notAfter)
            return std::nullopt;
        if (first->first.first > uptime.load())
            uptime.store(first->first.first);
        Item item = std::move(first->second);
        schedule.erase(first);
        return item;
    }

    // Runs the due items of one lane, in order; a sync on a queue waits for its earlier jobs.
    void drainLane(const Lane* lane) {
        for (;;) {
            std::optional<Item> next;
            {
                std::lock_guard lock(mutex);
                for (auto it = schedule.begin(); it != schedule.end(); ++it) {
                    if (it->first.first > uptime.load())
                        break;
                    if (it->second.lane == lane) {
                        next = std::move(it->second);
                        schedule.erase(it);
                        break;
                    }
                }
            }
            if (!next)
                return;
            run(std::move(*next));
        }
    }

    // The dropped jobs are destroyed outside the lock: what they hold may post as it goes.
    void dropLane(const Lane* lane) {
        std::vector<Item> dropped;
        {
            std::lock_guard lock(mutex);
            for (auto it = schedule.begin(); it != schedule.end();) {
                if (it->second.lane == lane) {
                    dropped.push_back(std::move(it->second));
                    it = schedule.erase(it);
                } else {
                    ++it;
                }
            }
        }
    }
};

namespace {

class VirtualSerialQueue final : public SerialQueueBackend {
public:
    VirtualSerialQueue(std::shared_ptr<VirtualWorld::Core> core, std::string label)
        : m_core(std::move(core)), m_lane{std::move(label)} {}

    // Like the threaded queue, a queue that goes away still runs what is already due.
    ~VirtualSerialQueue() override {
        if (std::this_thread::get_id() == m_core->owner)
            m_core->drainLane(&m_lane);
        m_core->dropLane(&m_lane);
    }

    void async(Job job) override { m_core->add(m_core->uptime.load(), &m_lane, std::move(job)); }
    void after(double seconds, Job job) override {
        m_core->add(m_core->uptime.load() + std::max(seconds, 0.0), &m_lane, std::move(job));
    }
    void sync(Job job) override {
        if (isCurrent()) {
            job();
            return;
        }
        if (std::this_thread::get_id() != m_core->owner)
            throw std::logic_error("VirtualWorld: sync from a thread outside the world");
        m_core->drainLane(&m_lane);
        m_core->run(Item{std::move(job), &m_lane});
    }
    bool isCurrent() const override {
        return std::this_thread::get_id() == m_core->owner && m_core->current == &m_lane;
    }

private:
    std::shared_ptr<VirtualWorld::Core> m_core;
    Lane m_lane;
};

} // namespace

VirtualWorld::VirtualWorld(double startUptime)
    : m_core(std::make_shared<Core>(startUptime)), m_previous(Runtime::install(this)) {}

VirtualWorld::~VirtualWorld() {
    Runtime::install(m_previous);
    std::map<Key, Item> dropped;
    std::lock_guard lock(m_core->mutex);
    dropped.swap(m_core->schedule);
}

void VirtualWorld::post(Job job) {
    m_core->add(m_core->uptime.load(), &m_core->mainLane, std::move(job));
}

void VirtualWorld::after(double seconds, Job job) {
    m_core->add(m_core->uptime.load() + std::max(seconds, 0.0), &m_core->mainLane,
                std::move(job));
}

void VirtualWorld::afterWallClock(double seconds, Job job) {
    const auto delay = std::chrono::microseconds(delayMicroseconds(seconds));
    const WallTime due = m_core->wallNow() + delay;
    m_core->add(m_core->uptimeAtWall(due), &m_core->mainLane, std::move(job), due);
}

bool VirtualWorld::isMainThread() const {
    return std::this_thread::get_id() == m_core->owner && m_core->current == &m_core->mainLane;
}

double VirtualWorld::uptime() const { return m_core->uptime.load(); }

double VirtualWorld::continuous() const {
    return m_core->uptime.load() + m_core->suspended.load();
}

WallTime VirtualWorld::now() const { return m_core->wallNow(); }

std::unique_ptr<SerialQueueBackend> VirtualWorld::makeSerialQueue(std::string label) {
    return std::make_unique<VirtualSerialQueue>(m_core, std::move(label));
}

void VirtualWorld::runOnWorker(Job job) {
    m_core->add(m_core->uptime.load(), &m_core->workerLane, std::move(job));
}

bool VirtualWorld::step() {
    auto item = m_core->takeFirst(m_core->uptime.load());
    if (!item)
        return false;
    m_core->run(std::move(*item));
    return true;
}

bool VirtualWorld::stepNext() {
    auto item = m_core->takeFirst(std::numeric_limits<double>::infinity());
    if (!item)
        return false;
    m_core->run(std::move(*item));
    return true;
}

void VirtualWorld::runReady() {
    while (step()) {
    }
}

void VirtualWorld::runUntil(double target) {
    while (auto item = m_core->takeFirst(target))
        m_core->run(std::move(*item));
    if (target > m_core->uptime.load())
        m_core->uptime.store(target);
}

void VirtualWorld::advance(double seconds) { runUntil(m_core->uptime.load() + seconds); }

void VirtualWorld::runUntilIdle(std::size_t limit) {
    for (std::size_t i = 0; i < limit; ++i)
        if (!stepNext())
            return;
    throw std::runtime_error("VirtualWorld: still busy after the dispatch limit");
}

std::size_t VirtualWorld::pending() const {
    std::lock_guard lock(m_core->mutex);
    return m_core->schedule.size();
}

std::optional<double> VirtualWorld::nextDue() const {
    std::lock_guard lock(m_core->mutex);
    if (m_core->schedule.empty())
        return std::nullopt;
    return m_core->schedule.begin()->first.first;
}

std::size_t VirtualWorld::dispatched() const { return m_core->dispatched; }

void VirtualWorld::suspendSystem(double seconds) {
    m_core->suspended.store(m_core->suspended.load() + seconds);
    m_core->replaceWallTimers();
}

void VirtualWorld::setWallClock(WallTime wall) {
    m_core->wallAtStart = wall - std::chrono::duration_cast<WallTime::duration>(
                                     std::chrono::duration<double>(continuous() -
                                                                   m_core->startUptime));
    m_core->replaceWallTimers();
}

} // namespace talverin
