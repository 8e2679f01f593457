#include "TalverinInput/linux/MicrophoneAccessPulse.h"

#include "Runtime/MainQueue.h"
#include "TalverinInput/PermissionsMonitor.h"

#include <chrono>
#include <cmath>
#include <mutex>
#include <optional>

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/mainloop.h>

namespace talverin {

using Wire::PermissionState;

namespace {

struct MainloopFree {
    void operator()(pa_mainloop* loop) const { pa_mainloop_free(loop); }
};
// Disconnects before letting go, so that no callback of the context outlives the probe.
struct ContextRelease {
    void operator()(pa_context* context) const {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
};
using MainloopPtr = std::unique_ptr<pa_mainloop, MainloopFree>;
using ContextPtr = std::unique_ptr<pa_context, ContextRelease>;

// What a connection that did not become ready says about the permission. Only the server
// refusing us is a refusal; anything else (no server, no answer in time, a broken pipe) leaves
// the question open.
PermissionState stateOfFailure(int error) {
    return error == PA_ERR_ACCESS ? PermissionState::denied : PermissionState::notDetermined;
}

} // namespace

struct MicrophoneAccessPulse::Shared {
    explicit Shared(std::shared_ptr<NotificationCenter> c) : center(std::move(c)) {}

    const std::shared_ptr<NotificationCenter> center;
    std::mutex mutex;
    std::optional<PermissionState> state;
    // Uptime of the last answer.
    double checkedAt = 0;
    bool checking = false;

    void store(PermissionState fresh) {
        bool changed = false;
        {
            std::lock_guard lock(mutex);
            changed = state && *state != fresh;
            state = fresh;
            checkedAt = Clock::uptime();
            checking = false;
        }
        if (changed && center)
            center->post(PermissionsMonitor::microphoneNotification);
    }
};

MicrophoneAccessPulse::MicrophoneAccessPulse(std::shared_ptr<NotificationCenter> center)
    : m_shared(std::make_shared<Shared>(std::move(center))) {}

MicrophoneAccessPulse::~MicrophoneAccessPulse() = default;

PermissionState MicrophoneAccessPulse::probe(double timeout) {
    MainloopPtr loop(pa_mainloop_new());
    if (!loop)
        return PermissionState::notDetermined;
    ContextPtr context(pa_context_new(pa_mainloop_get_api(loop.get()), "Talverin"));
    if (!context)
        return PermissionState::notDetermined;
    if (pa_context_connect(context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return stateOfFailure(pa_context_errno(context.get()));
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::microseconds(std::llround(timeout * 1e6));
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(context.get());
        if (state == PA_CONTEXT_READY)
            return PermissionState::granted;
        if (!PA_CONTEXT_IS_GOOD(state))
            break;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return PermissionState::notDetermined;
        if (pa_mainloop_prepare(loop.get(), static_cast<int>(left.count())) < 0 ||
            pa_mainloop_poll(loop.get()) < 0 || pa_mainloop_dispatch(loop.get()) < 0)
            break;
    }
    return stateOfFailure(pa_context_errno(context.get()));
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
        const double period =
            known == PermissionState::notDetermined ? recheckUnanswered : recheckAfter;
        stale = !m_shared->checking && Clock::uptime() - m_shared->checkedAt > period;
        if (known && stale)
            m_shared->checking = true;
    }
    if (!known)
        return check();
    if (stale)
        WorkerPool::async([shared = m_shared] { shared->store(probe(connectTimeout)); });
    return *known;
}

} // namespace talverin
