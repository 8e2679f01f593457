#pragma once

#include "Runtime/Liveness.h"
#include "Runtime/MainQueue.h"

#include <algorithm>
#include <functional>
#include <utility>

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

// A callback for a service that may call it after `owner` has gone: it then does nothing.
// Called on the main thread, like the owner.
template <typename F> auto whileAlive(const Liveness& owner, F callback) {
    return [alive = owner.token(), callback = std::move(callback)](auto&&... args) {
        if (alive)
            callback(std::forward<decltype(args)>(args)...);
    };
}

} // namespace talverin
