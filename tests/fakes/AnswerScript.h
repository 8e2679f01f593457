#pragma once

#include "Runtime/Future.h"
#include "Runtime/MainQueue.h"

#include <deque>
#include <mutex>
#include <optional>
#include <utility>

namespace talverin::test {

// The answers a fake gives to the coming calls of one asynchronous member, in order. Each is
// either a value with a latency, counted from the call, or left to the test, which resolves
// the promise it was handed whenever it likes.
template <typename T> class AnswerScript {
public:
    // The next unscripted call is answered with `value` once `latency` seconds have passed.
    void push(T value, double latency = 0) {
        std::lock_guard lock(m_mutex);
        m_entries.push_back({std::move(value), latency, Promise<T>()});
    }

    // The next unscripted call is answered when the test resolves the promise returned.
    Promise<T> pushByHand() {
        std::lock_guard lock(m_mutex);
        Promise<T> promise;
        m_entries.push_back({std::nullopt, 0, promise});
        return promise;
    }

    bool empty() const {
        std::lock_guard lock(m_mutex);
        return m_entries.empty();
    }

    // For the fake: the promise of the next answer, with its resolution already scheduled when
    // it is a scripted value; none when nothing is scripted.
    std::optional<Promise<T>> take() {
        Entry entry;
        {
            std::lock_guard lock(m_mutex);
            if (m_entries.empty())
                return std::nullopt;
            entry = std::move(m_entries.front());
            m_entries.pop_front();
        }
        if (entry.value) {
            if (entry.latency <= 0) {
                entry.promise.resolve(std::move(*entry.value));
            } else {
                MainQueue::after(entry.latency,
                                 [promise = entry.promise, value = std::move(*entry.value)] {
                                     promise.resolve(value);
                                 });
            }
        }
        return entry.promise;
    }

private:
    struct Entry {
        std::optional<T> value;
        double latency = 0;
        Promise<T> promise;
    };

    mutable std::mutex m_mutex;
    std::deque<Entry> m_entries;
};

} // namespace talverin::test
