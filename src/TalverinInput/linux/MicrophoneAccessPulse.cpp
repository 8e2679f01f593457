#include "TalverinInput/linux/MicrophoneAccessPulse.h"

#include "TalverinCore/CoreLog.h"

#include <chrono>
#include <cmath>
#include <string>

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

MicrophoneAccessPulse::MicrophoneAccessPulse(LinkReader link) : m_link(std::move(link)) {}

std::optional<PermissionState> MicrophoneAccessPulse::stateOf(const Link& link) {
    if (link.ready)
        return link.unanswered ? std::nullopt : std::optional(PermissionState::granted);
    if (link.error == PA_ERR_ACCESS)
        return PermissionState::denied;
    return std::nullopt;
}

PermissionState MicrophoneAccessPulse::state() {
    bool first = false;
    {
        std::lock_guard lock(m_mutex);
        first = !m_last;
    }
    return answer(m_link(first ? firstAnswerTimeout : 0));
}

PermissionState MicrophoneAccessPulse::check() {
    return answer(m_link(connectTimeout));
}

PermissionState MicrophoneAccessPulse::answer(const Link& link) {
    const std::optional<PermissionState> fresh = stateOf(link);
    std::string line;
    PermissionState answered = PermissionState::notDetermined;
    {
        std::lock_guard lock(m_mutex);
        if (fresh) {
            if (m_silenceLogged)
                line = "mic: the sound server answers again";
            m_silenceLogged = false;
            m_last = fresh;
        } else if (!m_silenceLogged) {
            m_silenceLogged = true;
            const std::string silence =
                link.ready        ? std::string("does not answer")
                : link.error != 0 ? "is gone (" + std::string(pa_strerror(link.error)) + ")"
                                  : std::string("is still being connected to");
            line = "mic: the sound server " + silence + ": the microphone " +
                   (m_last ? "stays " + std::string(toString(*m_last))
                           : std::string("is not determined"));
        }
        answered = m_last.value_or(PermissionState::notDetermined);
    }
    if (!line.empty())
        CoreLog::write(line);
    return answered;
}

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

} // namespace talverin
