#include "Runtime/VirtualWorld.h"

#include "Runtime/MainQueue.h"
#include "Runtime/SerialQueue.h"
#include "support/OrderingScript.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talverin {
namespace {

TEST(VirtualWorld, RunsPostsAndTimersInDueThenPostOrder) {
    VirtualWorld world;
    std::vector<std::string> trace;
    test::scheduleOrderingScript(trace);
    world.runUntilIdle();
    EXPECT_EQ(trace, test::expectedOrder());
    EXPECT_DOUBLE_EQ(world.uptime(), 1000.5);
}

TEST(VirtualWorld, StepsOneDispatchAtATimeAndMovesTimeOnlyWhenAsked) {
    VirtualWorld world;
    std::vector<std::string> trace;
    MainQueue::post([&] {
        trace.push_back("a");
        MainQueue::post([&] { trace.push_back("c"); });
    });
    MainQueue::post([&] { trace.push_back("b"); });
    MainQueue::after(1, [&] { trace.push_back("late"); });

    EXPECT_TRUE(world.step());
    EXPECT_EQ(trace, (std::vector<std::string>{"a"}));
    world.runReady();
    EXPECT_EQ(trace, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_FALSE(world.step());
    EXPECT_EQ(world.nextDue(), 1001.0);

    world.runUntil(1000.999);
    EXPECT_EQ(trace.size(), 3u);
    world.advance(0.001);
    EXPECT_EQ(trace.back(), "late");
    EXPECT_EQ(world.pending(), 0u);
}

TEST(VirtualWorld, ClocksAndSuspend) {
    VirtualWorld world(50);
    WallTime wallBefore = world.now();
    world.advance(2);
    world.suspendSystem(60);
    EXPECT_DOUBLE_EQ(world.uptime(), 52);
    EXPECT_DOUBLE_EQ(world.continuous(), 112);
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(world.now() - wallBefore).count(),
              62);
}

TEST(VirtualWorld, WallClockTimersCountTimeAsleepAndFollowTheClockWhenItIsSet) {
    VirtualWorld world;
    const WallTime start = world.now();
    std::vector<std::string> trace;
    MainQueue::afterWallClock(3600, [&] { trace.push_back("wall hour"); });
    MainQueue::after(3600, [&] { trace.push_back("uptime hour"); });
    MainQueue::afterWallClock(100, [&] { trace.push_back("wall 100 s"); });

    world.advance(50);
    world.suspendSystem(3000); // 3050 s of the hour have passed on the wall clock
    world.runReady();
    EXPECT_EQ(trace, std::vector<std::string>{"wall 100 s"});

    world.advance(549.9);
    EXPECT_EQ(trace.size(), 1u);
    world.advance(0.1);
    EXPECT_EQ(trace, (std::vector<std::string>{"wall 100 s", "wall hour"}));
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(world.now() - start).count(), 3600);

    // A clock set back pushes a wall-clock timer out; one set forward past it makes it due.
    MainQueue::afterWallClock(60, [&] { trace.push_back("set back"); });
    world.setWallClock(world.now() - std::chrono::seconds(30));
    world.advance(89.9);
    EXPECT_EQ(trace.size(), 2u);
    world.advance(0.1);
    EXPECT_EQ(trace.back(), "set back");

    MainQueue::afterWallClock(600, [&] { trace.push_back("jumped"); });
    MainQueue::post([&] { trace.push_back("posted"); });
    world.setWallClock(world.now() + std::chrono::hours(2));
    world.runReady();
    EXPECT_EQ(trace.back(), "posted");
    EXPECT_EQ(trace[trace.size() - 2], "jumped");

    world.runUntilIdle();
    EXPECT_EQ(trace.back(), "uptime hour");
}

TEST(VirtualWorld, ASelfReschedulingJobFailsRunUntilIdle) {
    VirtualWorld world;
    std::function<void()> again = [&] { MainQueue::after(0.001, again); };
    MainQueue::post(again);
    EXPECT_THROW(world.runUntilIdle(1000), std::runtime_error);
}

TEST(VirtualWorld, InstallsItselfAndRestoresThePreviousLoop) {
    EXPECT_EQ(Runtime::current(), nullptr);
    {
        VirtualWorld outer;
        {
            VirtualWorld inner;
            EXPECT_EQ(Runtime::current(), &inner);
        }
        EXPECT_EQ(Runtime::current(), &outer);
    }
    EXPECT_EQ(Runtime::current(), nullptr);
}

TEST(VirtualSerialQueue, SyncWaitsForEarlierJobsAndRunsInlineWhenAlreadyOnTheQueue) {
    VirtualWorld world;
    SerialQueue queue("test.queue");
    std::vector<std::string> trace;
    queue.async([&] { trace.push_back("first"); });
    queue.after(5, [&] { trace.push_back("timer"); });
    queue.sync([&] {
        EXPECT_TRUE(queue.isCurrent());
        EXPECT_FALSE(MainQueue::isCurrent());
        // Re-entrant: a sync on the queue it is already on must not wait for itself.
        queue.sync([&] { trace.push_back("nested"); });
        trace.push_back("sync");
    });
    // The timer is not due yet, so the sync did not wait for it.
    EXPECT_EQ(trace, (std::vector<std::string>{"first", "nested", "sync"}));
    EXPECT_TRUE(MainQueue::isCurrent());
    EXPECT_EQ(queue.syncValue([] { return 42; }), 42);
    world.runUntilIdle();
    EXPECT_EQ(trace.back(), "timer");
}

TEST(VirtualSerialQueue, QueuesAndWorkersShareTheWorldsOrder) {
    VirtualWorld world;
    SerialQueue audio("audio");
    std::vector<std::string> trace;
    audio.async([&] {
        trace.push_back("audio");
        MainQueue::post([&] { trace.push_back("main-from-audio"); });
    });
    WorkerPool::async([&] {
        EXPECT_FALSE(MainQueue::isCurrent());
        trace.push_back("worker");
    });
    MainQueue::post([&] { trace.push_back("main"); });
    world.runUntilIdle();
    EXPECT_EQ(trace, (std::vector<std::string>{"audio", "worker", "main", "main-from-audio"}));
}

TEST(VirtualSerialQueue, AQueueThatGoesAwayRunsWhatIsDueAndDropsItsTimers) {
    VirtualWorld world;
    std::vector<std::string> trace;
    {
        SerialQueue queue("short-lived");
        queue.async([&] { trace.push_back("due"); });
        queue.after(1, [&] { trace.push_back("timer"); });
    }
    world.runUntilIdle();
    EXPECT_EQ(trace, (std::vector<std::string>{"due"}));
}

} // namespace
} // namespace talverin
