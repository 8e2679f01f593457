#pragma once

#include "Runtime/Liveness.h"
#include "Runtime/MainQueue.h"

#include <algorithm>
#include <functional>

namespace talverin {

// Runs `block` on the main queue `seconds` from now unless `owner` has ended by then. A delay
// that has already run out still goes through the queue, never inline: the caller finishes its
// own step first.
inline void runAfter(const Liveness& owner, double seconds, std::function<void()> block) {
    MainQueue::after(std::max(0.0, seconds), [alive = owner.token(), block = std::move(block)] {
        if (alive)
            block();
    });
}

} // namespace talverin
