#include "Runtime/MainQueue.h"

#include <cstdio>
#include <cstdlib>

namespace talverin {

namespace {

EventLoop& loop() {
    EventLoop* installed = Runtime::current();
    if (!installed) {
        // Every entry point installs an event loop before anything is scheduled; reaching
        // this is a programming error that would otherwise lose work silently.
        std::fputs("Runtime: no event loop is installed\n", stderr);
        std::abort();
    }
    return *installed;
}

} // namespace

void MainQueue::post(Job job) { loop().post(std::move(job)); }
void MainQueue::after(double seconds, Job job) { loop().after(seconds, std::move(job)); }
void MainQueue::afterWallClock(double seconds, Job job) {
    loop().afterWallClock(seconds, std::move(job));
}
bool MainQueue::isCurrent() {
    EventLoop* installed = Runtime::current();
    return installed && installed->isMainThread();
}

double Clock::uptime() { return loop().uptime(); }
double Clock::continuous() { return loop().continuous(); }
WallTime Clock::now() { return loop().now(); }

void WorkerPool::async(Job job) { loop().runOnWorker(std::move(job)); }

} // namespace talverin
