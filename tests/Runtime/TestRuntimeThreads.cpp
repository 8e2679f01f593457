// labels: tsan
#include "Runtime/Future.h"
#include "Runtime/MainQueue.h"
#include "Runtime/SerialQueue.h"
#include "Runtime/Task.h"
#include "Runtime/ThreadQueues.h"
#include "Runtime/VirtualWorld.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <limits>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace talverin {
namespace {

Task<void> recordResumingThread(Future<int> future, std::thread::id* where, bool* onMain,
                                int* value) {
    *value = co_await future;
    *where = std::this_thread::get_id();
    *onMain = MainQueue::isCurrent();
}

TEST(FutureThreads, AFutureResolvedOnAnotherThreadResumesOnTheMainQueue) {
    VirtualWorld world;
    Promise<int> promise;
    std::thread::id where;
    bool onMain = false;
    int value = 0;
    auto task = recordResumingThread(promise.future(), &where, &onMain, &value);
    task.start();
    std::thread([promise] { promise.resolve(5); }).join();
    EXPECT_EQ(value, 0);
    world.runUntilIdle();
    EXPECT_EQ(value, 5);
    EXPECT_EQ(where, std::this_thread::get_id());
    EXPECT_TRUE(onMain);
}

TEST(FutureThreads, AFrameDestroyedWhileSuspendedThenResolvedFromAnotherThread) {
    VirtualWorld world;
    for (int round = 0; round < 200; ++round) {
        Promise<int> promise;
        std::thread::id where;
        bool onMain = false;
        int value = 0;
        auto task = recordResumingThread(promise.future(), &where, &onMain, &value);
        task.start();
        std::thread resolver([promise] { promise.resolve(1); });
        task.reset();
        resolver.join();
        world.runUntilIdle();
        EXPECT_EQ(value, 0);
    }
}

Task<void> waitAndCount(Future<int> future, int* resumed) {
    co_await future;
    ++*resumed;
}

// Thousands of random posts, resolutions (on the main thread and on a resolver thread) and
// destructions of suspended frames; the sanitizers judge.
TEST(FutureThreads, RandomPostsResolutionsAndDestructions) {
    for (unsigned seed : {1u, 2u, 3u, 4u}) {
        VirtualWorld world;
        std::mt19937 random(seed);
        std::vector<Promise<int>> promises(64);
        std::vector<Task<void>> tasks;
        int resumed = 0;
        int finishedBeforeDestruction = 0;
        std::atomic<bool> stop{false};
        std::vector<Promise<int>> forResolver(promises);
        std::thread resolver([&stop, forResolver, seed] {
            std::mt19937 r(seed * 7);
            while (!stop.load()) {
                forResolver[r() % forResolver.size()].resolve(2);
                std::this_thread::yield();
            }
        });
        for (int action = 0; action < 5000; ++action) {
            switch (random() % 5) {
            case 0:
                tasks.push_back(waitAndCount(promises[random() % promises.size()].future(),
                                             &resumed));
                tasks.back().start();
                break;
            case 1:
                if (!tasks.empty()) {
                    auto victim = tasks.begin() + static_cast<long>(random() % tasks.size());
                    finishedBeforeDestruction += victim->done() ? 1 : 0;
                    tasks.erase(victim);
                }
                break;
            case 2:
                promises[random() % promises.size()].resolve(1);
                break;
            case 3:
                MainQueue::post([&resumed] { resumed += 0; });
                break;
            default:
                world.step();
                break;
            }
        }
        stop = true;
        resolver.join();
        for (auto& promise : promises)
            promise.resolve(3);
        world.runUntilIdle();
        for (auto& task : tasks)
            EXPECT_TRUE(task.done());
        // Every frame that ran to its end was resumed exactly once; none that was destroyed
        // while suspended ever ran again.
        EXPECT_EQ(resumed, finishedBeforeDestruction + static_cast<int>(tasks.size()))
            << "seed " << seed;
    }
}

TEST(ThreadSerialQueue, RunsInOrderSyncsAndTimers) {
    ThreadSerialQueue queue("test.thread-queue");
    std::vector<int> trace;
    std::mutex mutex;
    auto add = [&](int v) {
        std::lock_guard lock(mutex);
        trace.push_back(v);
    };
    // Timers run in due order whatever the load; a far timer never runs before a sync.
    queue.after(0.06, [&] { add(4); });
    queue.after(0.03, [&] { add(3); });
    queue.after(60, [&] { add(99); });
    for (int i = 0; i < 2; ++i)
        queue.async([&, i] { add(i); });
    // sync waits for the jobs before it, and a sync from inside the queue runs inline.
    queue.sync([&] {
        EXPECT_TRUE(queue.isCurrent());
        queue.sync([&] { add(2); });
    });
    EXPECT_FALSE(queue.isCurrent());
    std::promise<void> fired;
    queue.after(0.09, [&] { fired.set_value(); });
    fired.get_future().wait();
    std::lock_guard lock(mutex);
    ASSERT_EQ(trace.size(), 5u);
    EXPECT_EQ(std::vector<int>(trace.begin(), trace.begin() + 2), (std::vector<int>{0, 1}));
    // Only the sync may fall between the timers when the machine is slow.
    std::vector<int> timers;
    for (int v : trace)
        if (v >= 3)
            timers.push_back(v);
    EXPECT_EQ(timers, (std::vector<int>{3, 4}));
}

// Delays beyond what the clock can count once overflowed into the past and ran at once.
TEST(ThreadSerialQueue, ATimerTooFarAwayToCountNeverRunsEarly) {
    ThreadSerialQueue queue("test.far-timers");
    std::atomic<int> ran{0};
    for (double seconds : {std::numeric_limits<double>::infinity(), 1e300, 1e13})
        queue.after(seconds, [&] { ran.fetch_add(1); });
    queue.sync([] {});
    EXPECT_EQ(ran.load(), 0);
}

TEST(ThreadWorkerPool, RunsEveryJobAndFinishesThemBeforeItGoesAway) {
    std::atomic<int> count{0};
    {
        ThreadWorkerPool pool(3);
        for (int i = 0; i < 1000; ++i)
            pool.async([&] { count.fetch_add(1); });
    }
    EXPECT_EQ(count.load(), 1000);
}

} // namespace
} // namespace talverin
