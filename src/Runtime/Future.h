#pragma once

#include "Runtime/MainQueue.h"

#include <coroutine>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

namespace talverin {

// The value of a future that only says "done".
using Done = std::monostate;

namespace detail {

template <typename T> struct FutureState {
    struct Waiter {
        std::uint64_t id;
        std::coroutine_handle<> handle;
    };

    std::mutex mutex;
    std::optional<T> value;
    std::vector<Waiter> waiters;
    std::vector<std::function<void(const T&)>> callbacks;
    std::uint64_t nextWaiter = 1;

    // Runs on the main queue. The waiter is looked up again here, under the lock: its frame
    // may have been destroyed (and the waiter removed) since the resumption was posted.
    static void resume(const std::shared_ptr<FutureState>& state, std::uint64_t id) {
        std::coroutine_handle<> handle;
        {
            std::lock_guard lock(state->mutex);
            for (auto it = state->waiters.begin(); it != state->waiters.end(); ++it) {
                if (it->id == id) {
                    handle = it->handle;
                    state->waiters.erase(it);
                    break;
                }
            }
        }
        if (handle)
            handle.resume();
    }

    static void postResume(const std::shared_ptr<FutureState>& state, std::uint64_t id) {
        MainQueue::post([state, id] { resume(state, id); });
    }
};

} // namespace detail

template <typename T> class Future;

// The writing end of a future. It resolves once, from any thread; later resolutions are
// ignored and answer false.
template <typename T> class Promise {
public:
    Promise() : m_state(std::make_shared<detail::FutureState<T>>()) {}

    Future<T> future() const { return Future<T>(m_state); }

    bool resolve(T value) const {
        std::lock_guard lock(m_state->mutex);
        if (m_state->value)
            return false;
        m_state->value.emplace(std::move(value));
        // Awaiters and callbacks always continue on the main queue, never on the resolving
        // thread, so a flow never runs on the audio thread or inside a lock of its caller.
        for (const auto& waiter : m_state->waiters)
            detail::FutureState<T>::postResume(m_state, waiter.id);
        for (auto& callback : m_state->callbacks)
            MainQueue::post([state = m_state, callback = std::move(callback)] {
                callback(*state->value);
            });
        m_state->callbacks.clear();
        return true;
    }

    bool isResolved() const {
        std::lock_guard lock(m_state->mutex);
        return m_state->value.has_value();
    }

private:
    std::shared_ptr<detail::FutureState<T>> m_state;
};

// The reading end: co_await it in a Task on the main queue, or attach a callback with then().
// Awaiting a future that is already resolved still resumes through the main queue.
template <typename T> class Future {
public:
    // A future that never resolves.
    Future() : m_state(std::make_shared<detail::FutureState<T>>()) {}

    static Future ready(T value) {
        Promise<T> promise;
        promise.resolve(std::move(value));
        return promise.future();
    }

    bool isReady() const {
        std::lock_guard lock(m_state->mutex);
        return m_state->value.has_value();
    }

    std::optional<T> peek() const {
        std::lock_guard lock(m_state->mutex);
        return m_state->value;
    }

    // Calls `callback` on the main queue once the value is there.
    void then(std::function<void(const T&)> callback) const {
        std::lock_guard lock(m_state->mutex);
        if (m_state->value) {
            MainQueue::post([state = m_state, callback = std::move(callback)] {
                callback(*state->value);
            });
        } else {
            m_state->callbacks.push_back(std::move(callback));
        }
    }

    class Awaiter {
    public:
        explicit Awaiter(std::shared_ptr<detail::FutureState<T>> state)
            : m_state(std::move(state)) {}
        Awaiter(const Awaiter&) = delete;
        Awaiter& operator=(const Awaiter&) = delete;

        // A frame destroyed while it waits takes its waiter out, so that a later
        // resolution resumes nothing.
        ~Awaiter() {
            if (m_id == 0)
                return;
            std::lock_guard lock(m_state->mutex);
            std::erase_if(m_state->waiters, [this](const auto& w) { return w.id == m_id; });
        }

        bool await_ready() const noexcept { return false; }

        void await_suspend(std::coroutine_handle<> handle) {
            std::lock_guard lock(m_state->mutex);
            m_id = m_state->nextWaiter++;
            m_state->waiters.push_back({m_id, handle});
            if (m_state->value)
                detail::FutureState<T>::postResume(m_state, m_id);
        }

        T await_resume() {
            std::lock_guard lock(m_state->mutex);
            m_id = 0;
            return *m_state->value;
        }

    private:
        std::shared_ptr<detail::FutureState<T>> m_state;
        std::uint64_t m_id = 0;
    };

    Awaiter operator co_await() const { return Awaiter(m_state); }

private:
    friend class Promise<T>;
    explicit Future(std::shared_ptr<detail::FutureState<T>> state) : m_state(std::move(state)) {}

    std::shared_ptr<detail::FutureState<T>> m_state;
};

// A future that resolves on the main queue once `seconds` have passed.
inline Future<Done> delay(double seconds) {
    Promise<Done> promise;
    MainQueue::after(seconds, [promise] { promise.resolve(Done{}); });
    return promise.future();
}

} // namespace talverin
