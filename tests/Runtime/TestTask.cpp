#include "Runtime/Task.h"

#include "Runtime/Future.h"
#include "Runtime/VirtualWorld.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace talverin {
namespace {

Task<int> waitFor(Future<int> future, std::vector<std::string>* trace) {
    trace->push_back("before");
    int value = co_await future;
    trace->push_back("after " + std::to_string(value));
    co_return value * 2;
}

TEST(Future, AwaitingAResolvedFutureStillResumesThroughTheMainQueue) {
    VirtualWorld world;
    std::vector<std::string> trace;
    auto task = waitFor(Future<int>::ready(21), &trace);
    bool finished = false;
    task.start([&] { finished = true; });
    EXPECT_EQ(trace, (std::vector<std::string>{"before"}));
    EXPECT_TRUE(world.step());
    EXPECT_EQ(trace, (std::vector<std::string>{"before", "after 21"}));
    EXPECT_TRUE(task.done());
    EXPECT_EQ(task.result(), 42);
    EXPECT_FALSE(finished) << "the owner hears of the end through the queue";
    world.runReady();
    EXPECT_TRUE(finished);
}

TEST(Future, ResolvesOnceAndResumesEveryAwaiterInOrder) {
    VirtualWorld world;
    Promise<int> promise;
    std::vector<std::string> trace;
    auto first = waitFor(promise.future(), &trace);
    auto second = waitFor(promise.future(), &trace);
    std::vector<int> seen;
    promise.future().then([&](const int& v) { seen.push_back(v); });
    first.start();
    second.start();
    world.runUntilIdle();
    EXPECT_EQ(trace, (std::vector<std::string>{"before", "before"}));

    EXPECT_TRUE(promise.resolve(1));
    EXPECT_FALSE(promise.resolve(2));
    EXPECT_EQ(trace.size(), 2u) << "resolving never resumes inline";
    world.runUntilIdle();
    EXPECT_EQ(trace, (std::vector<std::string>{"before", "before", "after 1", "after 1"}));
    EXPECT_EQ(seen, std::vector<int>{1});
    EXPECT_EQ(promise.future().peek(), 1);
}

TEST(Future, DestroyingASuspendedFrameMakesALaterResolutionResumeNothing) {
    VirtualWorld world;
    Promise<int> promise;
    std::vector<std::string> trace;
    {
        auto task = waitFor(promise.future(), &trace);
        task.start();
    }
    promise.resolve(7);
    world.runUntilIdle();
    EXPECT_EQ(trace, (std::vector<std::string>{"before"}));
}

TEST(Future, DestroyingAFrameAfterItsResumptionWasPostedResumesNothing) {
    VirtualWorld world;
    Promise<int> promise;
    std::vector<std::string> trace;
    auto task = waitFor(promise.future(), &trace);
    task.start();
    promise.resolve(7);
    ASSERT_EQ(world.pending(), 1u);
    task.reset();
    world.runUntilIdle();
    EXPECT_EQ(trace, (std::vector<std::string>{"before"}));
}

Task<int> immediate(int i) { co_return i; }

Task<long> sumOfImmediateTasks(int count) {
    long sum = 0;
    for (int i = 0; i < count; ++i)
        sum += co_await immediate(i);
    co_return sum;
}

TEST(Task, AHundredThousandTasksThatFinishAtOnceDoNotGrowTheStack) {
    VirtualWorld world;
    auto task = sumOfImmediateTasks(100'000);
    task.start();
    ASSERT_TRUE(task.done());
    EXPECT_EQ(task.result(), 100'000L * 99'999 / 2);
}

Task<int> failing() {
    co_await delay(0.5);
    throw std::runtime_error("boom");
}

Task<std::string> catching() {
    try {
        co_await failing();
    } catch (const std::exception& e) {
        co_return std::string("caught ") + e.what();
    }
    co_return "not reached";
}

TEST(Task, AnErrorIsStoredForTheOwnerAndRethrownIntoAnAwaitingFrame) {
    VirtualWorld world;
    auto alone = failing();
    auto nested = catching();
    alone.start();
    nested.start();
    world.runUntil(1000.4);
    EXPECT_FALSE(alone.done());
    world.runUntilIdle();
    ASSERT_TRUE(alone.done());
    EXPECT_TRUE(alone.error());
    ASSERT_TRUE(nested.done());
    EXPECT_FALSE(nested.error());
    EXPECT_EQ(nested.result(), "caught boom");
}

Task<void> outer(Future<int> future, std::vector<std::string>* trace) {
    int doubled = co_await waitFor(future, trace);
    trace->push_back("outer " + std::to_string(doubled));
}

TEST(Task, DestroyingTheOwnerDestroysTheWholeSuspendedChain) {
    VirtualWorld world;
    Promise<int> promise;
    std::vector<std::string> trace;
    auto task = outer(promise.future(), &trace);
    task.start();
    world.runUntilIdle();
    task.reset();
    promise.resolve(3);
    world.runUntilIdle();
    EXPECT_EQ(trace, (std::vector<std::string>{"before"}));

    Promise<int> second;
    auto whole = outer(second.future(), &trace);
    whole.start();
    second.resolve(4);
    world.runUntilIdle();
    EXPECT_EQ(trace.back(), "outer 8");
}

} // namespace
} // namespace talverin
