#pragma once

#include "Runtime/MainQueue.h"

#include <coroutine>
#include <exception>
#include <functional>
#include <optional>
#include <utility>

namespace talverin {

// A lazy, owned coroutine for a multi-step flow on the main queue.
//
// Rules that keep these safe (each guards against a measured miscompilation or a
// use-after-free):
// - Take coroutine parameters by value; coroutine lambdas capture nothing.
// - A frame is started with start() or by co_await from another task, and is owned by its
//   Task: destroying the Task destroys a suspended frame, and the futures it waited on
//   forget it. Never destroy a Task from inside its own running frame; post the restart.
// - An exception that leaves the body is stored, never rethrown by the promise; the owner
//   reads it with error(). Awaiting a task that failed rethrows into the awaiting frame.
template <typename T = void> class Task;

namespace detail {

struct TaskPromiseBase {
    std::coroutine_handle<> continuation;
    std::exception_ptr error;
    std::function<void()> onFinished;

    std::suspend_always initial_suspend() noexcept { return {}; }

    struct FinalAwaiter {
        bool await_ready() const noexcept { return false; }
        template <typename P>
        std::coroutine_handle<> await_suspend(std::coroutine_handle<P> handle) noexcept {
            auto& promise = handle.promise();
            // The owner hears of the end through the main queue, never from inside the
            // frame, so it may destroy the task in its callback.
            if (promise.onFinished)
                MainQueue::post(std::move(promise.onFinished));
            if (promise.continuation)
                return promise.continuation;
            return std::noop_coroutine();
        }
        void await_resume() const noexcept {}
    };
    FinalAwaiter final_suspend() noexcept { return {}; }

    void unhandled_exception() noexcept { error = std::current_exception(); }
};

template <typename T> struct TaskPromise : TaskPromiseBase {
    std::optional<T> value;
    Task<T> get_return_object() noexcept;
    template <typename U> void return_value(U&& v) { value.emplace(std::forward<U>(v)); }
};

template <> struct TaskPromise<void> : TaskPromiseBase {
    Task<void> get_return_object() noexcept;
    void return_void() noexcept {}
};

} // namespace detail

template <typename T> class [[nodiscard]] Task {
public:
    using promise_type = detail::TaskPromise<T>;
    using Handle = std::coroutine_handle<promise_type>;

    Task() = default;
    explicit Task(Handle handle) : m_handle(handle) {}
    Task(Task&& other) noexcept : m_handle(std::exchange(other.m_handle, {})) {}
    Task& operator=(Task&& other) noexcept {
        if (this != &other) {
            reset();
            m_handle = std::exchange(other.m_handle, {});
        }
        return *this;
    }
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    ~Task() { reset(); }

    bool valid() const { return static_cast<bool>(m_handle); }
    bool done() const { return m_handle && m_handle.done(); }

    // Runs the body up to its first suspension. `onFinished`, when given, is posted to the
    // main queue when the body has ended, normally or with an error.
    void start(std::function<void()> onFinished = {}) {
        m_handle.promise().onFinished = std::move(onFinished);
        m_handle.resume();
    }

    std::exception_ptr error() const { return m_handle ? m_handle.promise().error : nullptr; }

    // The value of a finished task that did not fail.
    template <typename U = T>
        requires(!std::is_void_v<U>)
    const U& result() const {
        return *m_handle.promise().value;
    }

    struct Awaiter {
        Handle handle;
        bool await_ready() const noexcept { return false; }
        std::coroutine_handle<> await_suspend(std::coroutine_handle<> awaiting) noexcept {
            handle.promise().continuation = awaiting;
            return handle;
        }
        T await_resume() {
            if (handle.promise().error)
                std::rethrow_exception(handle.promise().error);
            if constexpr (!std::is_void_v<T>)
                return std::move(*handle.promise().value);
        }
    };

    // The awaiting frame continues right after this task ends (symmetric transfer, so a
    // long chain of tasks that finish at once does not grow the stack).
    Awaiter operator co_await() && { return Awaiter{m_handle}; }

    void reset() {
        if (m_handle)
            std::exchange(m_handle, {}).destroy();
    }

private:
    Handle m_handle;
};

namespace detail {

template <typename T> Task<T> TaskPromise<T>::get_return_object() noexcept {
    return Task<T>(std::coroutine_handle<TaskPromise<T>>::from_promise(*this));
}

inline Task<void> TaskPromise<void>::get_return_object() noexcept {
    return Task<void>(std::coroutine_handle<TaskPromise<void>>::from_promise(*this));
}

} // namespace detail

} // namespace talverin
