#pragma once

#include "Runtime/EventLoop.h"

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

namespace talverin {

// A serial queue owned by one subsystem (the microphone's control queue, the history's save
// queue ...). Its executor comes from the installed event loop: a thread of its own in the
// application, a lane of the virtual world in tests.
class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return m_label; }

    void async(Job job) { m_backend->async(std::move(job)); }
    void after(double seconds, Job job) { m_backend->after(seconds, std::move(job)); }
    // Waits for the jobs queued before it; runs inline when already on this queue.
    void sync(Job job) { m_backend->sync(std::move(job)); }
    bool isCurrent() const { return m_backend->isCurrent(); }

    // sync() that hands back the job's value. A job that throws leaves no value to hand back,
    // so its exception is caught on the queue and rethrown here, to the caller that asked.
    template <typename F> auto syncValue(F&& f) -> std::invoke_result_t<F> {
        using T = std::invoke_result_t<F>;
        if constexpr (std::is_void_v<T>) {
            sync(std::forward<F>(f));
        } else {
            std::exception_ptr error;
            std::optional<T> out;
            sync([&] {
                try {
                    out.emplace(f());
                } catch (...) {
                    error = std::current_exception();
                }
            });
            if (error)
                std::rethrow_exception(error);
            return std::move(*out);
        }
    }

private:
    std::string m_label;
    std::unique_ptr<SerialQueueBackend> m_backend;
};

} // namespace talverin
