#include "TalverinInput/linux/MicrophoneAccessPulse.h"

#include "Runtime/MainQueue.h"

#include <chrono>
#include <cmath>
#include <mutex>
#include <optional>

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/mainloop.h>

namespace talverin {

using Wire::PermissionState;

struct MicrophoneAccessPulse::Shared {
    std::mutex mutex;
    std::optional<PermissionState> state;
    std::chrono::steady_clock::time_point checkedAt{};
    bool checking = false;

    void store(PermissionState fresh) {
        std::lock_guard lock(mutex);
        state = fresh;
        checkedAt = std::chrono::steady_clock::now();
        checking = false;
    }
};

MicrophoneAccessPulse::MicrophoneAccessPulse() : m_shared(std::make_shared<Shared>()) {}

MicrophoneAccessPulse::~MicrophoneAccessPulse() = default;

PermissionState MicrophoneAccessPulse::probe(double timeout) {
    pa_mainloop* loop = pa_mainloop_new();
    if (!loop)
        return PermissionState::restricted;
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "Talverin");
    PermissionState result = PermissionState::restricted;
    if (context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::microseconds(std::llround(timeout * 1e6));
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(context);
            if (state == PA_CONTEXT_READY) {
                result = PermissionState::granted;
                break;
            }
            if (!PA_CONTEXT_IS_GOOD(state))
                break;
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
                deadline - std::chrono::steady_clock::now());
            // A server that does not answer in time cannot be used either.
            if (left.count() <= 0 ||
                pa_mainloop_prepare(loop, static_cast<int>(left.count())) < 0 ||
                pa_mainloop_poll(loop) < 0 || pa_mainloop_dispatch(loop) < 0)
                break;
        }
    }
    if (context && result != PermissionState::granted && pa_context_errno(context) == PA_ERR_ACCESS)
        result = PermissionState::denied;
    if (context) {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    pa_mainloop_free(loop);
    return result;
}

PermissionState MicrophoneAccessPulse::check() {
    const PermissionState fresh = probe(connectTimeout);
    m_shared->store(fresh);
    return fresh;
}

PermissionState MicrophoneAccessPulse::state() {
    std::optional<PermissionState> known;
    bool stale = false;
    {
        std::lock_guard lock(m_shared->mutex);
        known = m_shared->state;
        stale = !m_shared->checking && std::chrono::steady_clock::now() - m_shared->checkedAt >
                                           std::chrono::duration<double>(recheckAfter);
        if (known && stale)
            m_shared->checking = true;
    }
    if (!known)
        return check();
    if (stale) {
        WorkerPool::async([shared = m_shared] { shared->store(probe(connectTimeout)); });
    }
    return *known;
}

} // namespace talverin
