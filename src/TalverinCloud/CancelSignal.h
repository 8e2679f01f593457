#pragma once

#include "Runtime/EventLoop.h"

#include <memory>
#include <mutex>
#include <vector>

namespace talverin {

// A one-way signal that asks running work to stop: the dictate client raises it when the
// time budget runs out, and the HTTP transport drops the transfer it guards. Copies share one
// signal. Every member may be called from any thread.
class CancelSignal {
public:
    CancelSignal() : m_state(std::make_shared<State>()) {}

    // Raises the signal and runs the handlers, once, on the calling thread.
    void cancel() const {
        std::vector<Job> handlers;
        {
            std::lock_guard lock(m_state->mutex);
            if (m_state->cancelled)
                return;
            m_state->cancelled = true;
            handlers.swap(m_state->handlers);
        }
        for (auto& handler : handlers)
            handler();
    }

    bool isCancelled() const {
        std::lock_guard lock(m_state->mutex);
        return m_state->cancelled;
    }

    // Runs `handler` when the signal is raised; at once, on this thread, when it already is.
    void onCancel(Job handler) const {
        {
            std::lock_guard lock(m_state->mutex);
            if (!m_state->cancelled) {
                m_state->handlers.push_back(std::move(handler));
                return;
            }
        }
        handler();
    }

private:
    struct State {
        std::mutex mutex;
        bool cancelled = false;
        std::vector<Job> handlers;
    };
    std::shared_ptr<State> m_state;
};

} // namespace talverin
