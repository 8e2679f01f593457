#pragma once

#include "Runtime/EventLoop.h"

namespace talverin {

// The main queue: everything that decides runs here, one job at a time.
namespace MainQueue {

// Any thread. Runs the job on the main thread after the jobs already due.
void post(Job job);
// Any thread. Runs the job on the main thread once `seconds` have passed on the uptime clock.
void after(double seconds, Job job);
// Any thread. Runs the job on the main thread once `seconds` have passed on the wall clock,
// time asleep included: for deadlines the user thinks of in hours, not in running time.
void afterWallClock(double seconds, Job job);
// Any thread.
bool isCurrent();

} // namespace MainQueue

// The clocks, all in seconds except the wall clock.
namespace Clock {

double uptime();
double continuous();
WallTime now();

} // namespace Clock

// Background work that needs no order of its own: context reads, encoder finishes, saves.
namespace WorkerPool {

void async(Job job);

} // namespace WorkerPool

} // namespace talverin
