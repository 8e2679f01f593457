// The main queue's own cost per job and per future resumption: the budget for the work
// between key release and the text handed to the inserter is 20 ms in all.
#include "Runtime/Future.h"
#include "Runtime/MainQueue.h"
#include "Runtime/Task.h"
#include "Runtime/VirtualWorld.h"
#include "Runtime/linux/SystemEventLoop.h"

#include <benchmark/benchmark.h>

namespace talverin {
namespace {

void BM_GlibPostAndDispatch(benchmark::State& state) {
    SystemEventLoop loop;
    Runtime::install(&loop);
    for (auto _ : state) {
        int ran = 0;
        for (int i = 0; i < 1000; ++i)
            MainQueue::post([&ran] { ++ran; });
        loop.runUntil([&] { return ran == 1000; }, 10);
    }
    state.SetItemsProcessed(state.iterations() * 1000);
    Runtime::install(nullptr);
}
BENCHMARK(BM_GlibPostAndDispatch);

Task<int> awaitOne(Future<int> future) { co_return co_await future; }

void BM_FutureResolveAndResume(benchmark::State& state) {
    VirtualWorld world;
    for (auto _ : state) {
        Promise<int> promise;
        auto task = awaitOne(promise.future());
        task.start();
        promise.resolve(1);
        world.runReady();
        benchmark::DoNotOptimize(task.result());
    }
}
BENCHMARK(BM_FutureResolveAndResume);

} // namespace
} // namespace talverin
