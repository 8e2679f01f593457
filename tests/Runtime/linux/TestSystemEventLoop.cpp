// labels: tsan
#include "Runtime/linux/SystemEventLoop.h"

#include "Runtime/Future.h"
#include "Runtime/MainQueue.h"
#include "Runtime/SerialQueue.h"
#include "Runtime/Task.h"
#include "support/OrderingScript.h"

#include <gtest/gtest.h>

#include <glib.h>

#include <limits>
#include <stdexcept>
#include <string>
#include <thread>

namespace talverin {
namespace {

class SystemEventLoopTest : public ::testing::Test {
protected:
    SystemEventLoopTest() { Runtime::install(&loop); }
    ~SystemEventLoopTest() override { Runtime::install(nullptr); }
    SystemEventLoop loop;
};

TEST_F(SystemEventLoopTest, RunsPostsAndTimersInTheSameOrderAsTheVirtualWorld) {
    std::vector<std::string> trace;
    test::scheduleOrderingScript(trace);
    // GLib's own idle source runs below timeouts; ours must not reorder around it.
    g_idle_add(
        [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr);
    ASSERT_TRUE(loop.runUntil([&] { return trace.size() == test::expectedOrder().size(); }, 5));
    EXPECT_EQ(trace, test::expectedOrder());
}

TEST_F(SystemEventLoopTest, TimersNeverRunEarly) {
    double start = loop.uptime();
    double ranAt = 0;
    MainQueue::after(0.0505, [&] { ranAt = loop.uptime(); });
    ASSERT_TRUE(loop.runUntil([&] { return ranAt > 0; }, 5));
    EXPECT_GE(ranAt - start, 0.0505);
}

TEST_F(SystemEventLoopTest, ATimerTooFarAwayToCountNeverRunsEarly) {
    int ran = 0;
    for (double seconds : {std::numeric_limits<double>::infinity(), 1e300, 1e13})
        MainQueue::after(seconds, [&] { ++ran; });
    bool posted = false;
    MainQueue::after(0.01, [&] { posted = true; });
    ASSERT_TRUE(loop.runUntil([&] { return posted; }, 5));
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(loop.pending(), 3u);
}

TEST_F(SystemEventLoopTest, WallClockTimersRunOnTheMainThreadInDeadlineOrder) {
    std::vector<std::string> trace;
    bool onMain = true;
    const auto start = loop.now();
    auto record = [&](std::string name) {
        return [&trace, &onMain, name] {
            onMain = onMain && MainQueue::isCurrent();
            trace.push_back(name);
        };
    };
    // A delay counts from the call, so the calls come in the order of their deadlines
    // whatever time passes between them; each one after the first comes due before the
    // hour and must re-arm the clock's timer. The thread has scheduled its timer (joined)
    // before the loop runs.
    MainQueue::afterWallClock(3600, record("an hour"));
    MainQueue::afterWallClock(-1, record("overdue"));
    MainQueue::afterWallClock(0.04, record("sooner"));
    std::thread other([&] { MainQueue::afterWallClock(0.06, record("from a thread")); });
    other.join();
    MainQueue::afterWallClock(0.08, record("later"));
    ASSERT_TRUE(loop.runUntil([&] { return trace.size() == 4; }, 30));
    EXPECT_EQ(trace, (std::vector<std::string>{"overdue", "sooner", "from a thread", "later"}));
    EXPECT_TRUE(onMain);
    EXPECT_GE(loop.now() - start, std::chrono::milliseconds(80));
    EXPECT_EQ(loop.pending(), 1u);
}

Task<void> resumeAndRecord(Future<int> future, std::thread::id* where, int* value) {
    *value = co_await future;
    *where = std::this_thread::get_id();
}

TEST_F(SystemEventLoopTest, AFutureResolvedOnAnotherThreadResumesOnTheMainThread) {
    Promise<int> promise;
    std::thread::id where;
    int value = 0;
    auto task = resumeAndRecord(promise.future(), &where, &value);
    task.start();
    std::thread resolver([promise] { promise.resolve(9); });
    ASSERT_TRUE(loop.runUntil([&] { return value == 9; }, 5));
    resolver.join();
    EXPECT_EQ(where, std::this_thread::get_id());
    EXPECT_TRUE(MainQueue::isCurrent());
}

TEST_F(SystemEventLoopTest, SerialQueuesAndWorkersPostBackToTheMainThread) {
    SerialQueue queue("test.glib");
    std::atomic<int> offMain{0};
    int backOnMain = 0;
    for (int i = 0; i < 50; ++i) {
        queue.async([&] {
            if (!MainQueue::isCurrent())
                ++offMain;
            MainQueue::post([&] { backOnMain += MainQueue::isCurrent() ? 1 : 0; });
        });
        WorkerPool::async([&] {
            if (!MainQueue::isCurrent())
                ++offMain;
            MainQueue::post([&] { backOnMain += MainQueue::isCurrent() ? 1 : 0; });
        });
    }
    ASSERT_TRUE(loop.runUntil([&] { return backOnMain == 100; }, 5));
    EXPECT_EQ(offMain.load(), 100);
}

TEST_F(SystemEventLoopTest, SyncValueHandsAJobsExceptionToItsCallerInsteadOfAnEmptyValue) {
    SerialQueue queue("test.glib-throwing");
    EXPECT_THROW(queue.syncValue([]() -> std::string { throw std::runtime_error("job failure"); }),
                 std::runtime_error);
    // From inside the queue the job runs inline, and the same holds.
    queue.sync([&] {
        EXPECT_THROW(queue.syncValue([]() -> std::string { throw std::runtime_error("inline"); }),
                     std::runtime_error);
    });
    EXPECT_EQ(queue.syncValue([] { return std::string("still serving"); }), "still serving");
}

TEST_F(SystemEventLoopTest, AJobThatThrowsDoesNotStopTheQueue) {
    bool later = false;
    MainQueue::post([] { throw std::runtime_error("job failure"); });
    MainQueue::post([&] { later = true; });
    EXPECT_TRUE(loop.runUntil([&] { return later; }, 5));
}

} // namespace
} // namespace talverin
