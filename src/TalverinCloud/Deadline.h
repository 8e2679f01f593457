#pragma once

#include "Runtime/Future.h"
#include "Runtime/MainQueue.h"
#include "TalverinCloud/CancelSignal.h"

#include <algorithm>
#include <functional>

namespace talverin {

// Races an operation against a time limit: the first to finish wins and later finishers are
// ignored. However it ends, the operation's cancel signal is raised afterwards, so a transfer
// that lost the race is dropped at once instead of running on unseen.
class Deadline {
public:
    Deadline() = delete;

    // Main thread. Starts `operation` with the race's cancel signal and answers its value, or
    // `expired` once `seconds` (at least 0) have passed on the main queue's clock.
    template <typename T>
    static Future<T> run(double seconds, T expired,
                         const std::function<Future<T>(CancelSignal)>& operation) {
        Promise<T> gate;
        CancelSignal cancel;
        operation(cancel).then([gate, cancel](const T& value) {
            gate.resolve(value);
            cancel.cancel();
        });
        // Never cancelled: once the race is decided it resolves nothing.
        MainQueue::after(std::max(seconds, 0.0), [gate, cancel, expired = std::move(expired)] {
            gate.resolve(expired);
            cancel.cancel();
        });
        return gate.future();
    }
};

} // namespace talverin
