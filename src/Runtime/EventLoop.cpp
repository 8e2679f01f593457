#include "Runtime/EventLoop.h"

#include <atomic>

namespace talverin::Runtime {

namespace {
std::atomic<EventLoop*> gLoop{nullptr};
}

EventLoop* install(EventLoop* loop) { return gLoop.exchange(loop, std::memory_order_acq_rel); }

EventLoop* current() { return gLoop.load(std::memory_order_acquire); }

} // namespace talverin::Runtime
