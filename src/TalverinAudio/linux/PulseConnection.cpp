#include "TalverinAudio/linux/PulseConnection.h"

#include <pulse/pulseaudio.h>

#include <utility>
#include <vector>

namespace talverin {

void PulseOperationRelease::operator()(pa_operation* operation) const {
    pa_operation_unref(operation);
}

void PulseStreamRelease::operator()(pa_stream* stream) const {
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_moved_callback(stream, nullptr, nullptr);
    auto state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY || state == PA_STREAM_CREATING)
        pa_stream_disconnect(stream);
    pa_stream_unref(stream);
}

void PulseContextRelease::operator()(pa_context* context) const {
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_set_subscribe_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
}

void PulseMainloopRelease::operator()(pa_threaded_mainloop* mainloop) const {
    pa_threaded_mainloop_free(mainloop);
}

namespace {

// The bound and the outcome of the calling thread's waits (see setThreadDeadline).
thread_local std::optional<PulseConnection::Deadline> t_deadline;
thread_local bool t_ranOut = false;

PulseConnection::Deadline bounded(PulseConnection::Deadline deadline) {
    return t_deadline && *t_deadline < deadline ? *t_deadline : deadline;
}

} // namespace

struct PulseConnection::Callbacks {
    static void state(pa_context* context, void* self) {
        static_cast<PulseConnection*>(self)->onState(context);
    }

    static void subscribe(pa_context* context, pa_subscription_event_type_t type,
                          std::uint32_t index, void* userdata) {
        auto* self = static_cast<PulseConnection*>(userdata);
        if (context != self->m_context.get())
            return;
        auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        if (facility == PA_SUBSCRIPTION_EVENT_SOURCE) {
            Event::Kind event = kind == PA_SUBSCRIPTION_EVENT_NEW      ? Event::Kind::sourceAdded
                                : kind == PA_SUBSCRIPTION_EVENT_REMOVE ? Event::Kind::sourceRemoved
                                                                       : Event::Kind::sourceChanged;
            self->notify({event, index});
        } else if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
            // The server event covers the default sink, the default source and more: only
            // a different default source is passed on.
            PulseOperation(pa_context_get_server_info(context, serverChanged, self));
        }
    }

    static void serverFirst(pa_context* context, const pa_server_info* info, void* self) {
        serverInfo(context, info, self, false);
    }

    static void serverChanged(pa_context* context, const pa_server_info* info, void* self) {
        serverInfo(context, info, self, true);
    }

    static void serverInfo(pa_context* context, const pa_server_info* info, void* userdata,
                           bool announce) {
        auto* self = static_cast<PulseConnection*>(userdata);
        if (context != self->m_context.get() || !info)
            return;
        self->onDefaultSource(info->default_source_name, announce);
    }

    static void probeAnswered(pa_context* context, const pa_server_info* /*info*/, void* userdata) {
        auto* self = static_cast<PulseConnection*>(userdata);
        if (context == self->m_context.get())
            self->clearStall();
        self->signal();
    }

    static void retry(pa_mainloop_api* /*api*/, pa_time_event* /*event*/,
                      const struct timeval* /*tv*/, void* self) {
        static_cast<PulseConnection*>(self)->retry();
    }
};

PulseConnection::Lock::Lock(const PulseConnection& connection)
    : m_mainloop(connection.m_mainloop.get()) {
    pa_threaded_mainloop_lock(m_mainloop);
}

PulseConnection::Lock::~Lock() {
    pa_threaded_mainloop_unlock(m_mainloop);
}

bool PulseConnection::Call::finishesAt(pa_context* context, int eol, const void* info) {
    if (eol < 0) {
        finish(pa_context_errno(context));
        return true;
    }
    if (eol > 0 || !info) {
        finish();
        return true;
    }
    return false;
}

void PulseConnection::Call::finish(int status) {
    m_done = true;
    m_status = status;
    m_connection.signal();
}

std::shared_ptr<PulseConnection> PulseConnection::shared() {
    static std::mutex mutex;
    static std::shared_ptr<PulseConnection> connection;
    std::lock_guard lock(mutex);
    if (!connection)
        connection = std::make_shared<PulseConnection>();
    return connection;
}

PulseConnection::PulseConnection() : m_mainloop(pa_threaded_mainloop_new()) {
    pa_threaded_mainloop_set_name(m_mainloop.get(), "pulse");
    pa_threaded_mainloop_start(m_mainloop.get());
    Lock lock(*this);
    connect();
}

PulseConnection::~PulseConnection() {
    // Once the thread has stopped no callback runs, and nothing needs the lock.
    pa_threaded_mainloop_stop(m_mainloop.get());
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_mainloop.get());
    if (m_retry)
        api->time_free(static_cast<pa_time_event*>(m_retry));
    clearStall();
    // The context is released, then the mainloop freed, as the members go.
}

void PulseConnection::connect() {
    m_context.reset(pa_context_new(pa_threaded_mainloop_get_api(m_mainloop.get()), "Talverin"));
    if (!m_context) {
        m_state = State::down;
        m_error = PA_ERR_INTERNAL;
        scheduleRetry();
        return;
    }
    pa_context_set_state_callback(m_context.get(), Callbacks::state, this);
    pa_context_set_subscribe_callback(m_context.get(), Callbacks::subscribe, this);
    m_state = State::connecting;
    // Never spawn a server of our own: the desktop runs one, or there is none.
    if (pa_context_connect(m_context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        m_error = pa_context_errno(m_context.get());
        m_state = State::down;
        signal();
        scheduleRetry();
    }
}

void PulseConnection::scheduleRetry() {
    if (m_retry)
        return;
    struct timeval when;
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(retryInterval * PA_USEC_PER_SEC));
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_mainloop.get());
    m_retry = api->time_new(api, &when, Callbacks::retry, this);
}

void PulseConnection::retry() {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_mainloop.get());
    api->time_free(static_cast<pa_time_event*>(m_retry));
    m_retry = nullptr;
    clearStall();
    m_context.reset();
    connect();
}

void PulseConnection::onState(pa_context* context) {
    if (context != m_context.get())
        return;
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY: {
        m_state = State::ready;
        m_error = 0;
        clearStall();
        auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SOURCE |
                                                        PA_SUBSCRIPTION_MASK_SERVER);
        // Only the answers matter: our references to the operations go at once.
        PulseOperation(pa_context_subscribe(context, mask, nullptr, nullptr));
        PulseOperation(pa_context_get_server_info(context, Callbacks::serverFirst, this));
        signal();
        notify({Event::Kind::connected});
        break;
    }
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED: {
        bool wasReady = m_state == State::ready;
        m_state = State::down;
        clearStall();
        m_error = pa_context_errno(context);
        if (m_error == 0)
            m_error = PA_ERR_CONNECTIONTERMINATED;
        signal();
        if (wasReady)
            notify({Event::Kind::disconnected});
        scheduleRetry();
        break;
    }
    default:
        break;
    }
}

void PulseConnection::onDefaultSource(const char* name, bool announce) {
    std::string source = name ? name : "";
    if (source == m_defaultSource)
        return;
    m_defaultSource = std::move(source);
    if (announce)
        notify({Event::Kind::defaultSourceChanged});
}

void PulseConnection::notify(const Event& event) {
    std::vector<ObserverID> ids;
    for (const auto& [id, observer] : m_observers)
        ids.push_back(id);
    for (ObserverID id : ids) {
        // An observer may remove another while the list is walked.
        auto it = m_observers.find(id);
        if (it != m_observers.end())
            it->second(event);
    }
}

PulseConnection::ObserverID PulseConnection::addObserver(Observer observer) {
    Lock lock(*this);
    ObserverID id = m_nextObserver++;
    m_observers.emplace(id, std::move(observer));
    return id;
}

void PulseConnection::removeObserver(ObserverID id) {
    Lock lock(*this);
    m_observers.erase(id);
}

PulseConnection::ServerStatus PulseConnection::status() const {
    Lock lock(*this);
    ServerStatus status;
    status.ready = m_state == State::ready;
    status.error = status.ready ? 0 : m_error;
    status.unanswered = status.ready && m_stalled;
    return status;
}

pa_context* PulseConnection::readyContext() const {
    return m_state == State::ready ? m_context.get() : nullptr;
}

int PulseConnection::lastError() const {
    return m_error;
}

PulseConnection::Deadline PulseConnection::deadlineIn(double seconds) {
    return std::chrono::steady_clock::now() +
           std::chrono::duration_cast<std::chrono::steady_clock::duration>(
               std::chrono::duration<double>(seconds));
}

bool PulseConnection::waitReady(Deadline deadline) {
    waitUntil([this] { return m_state != State::connecting; }, deadline);
    Lock lock(*this);
    return m_state == State::ready;
}

int PulseConnection::perform(Call& call, const std::function<pa_operation*(pa_context*)>& start,
                             double limit) {
    const Deadline deadline = bounded(deadlineIn(limit));
    pa_context* context = nullptr;
    PulseOperation op;
    {
        if (!waitReady(deadline)) {
            Lock lock(*this);
            return m_error ? m_error : PA_ERR_CONNECTIONREFUSED;
        }
        Lock lock(*this);
        context = readyContext();
        if (!context)
            return m_error ? m_error : PA_ERR_CONNECTIONTERMINATED;
        if (m_stalled) {
            t_ranOut = true;
            return PA_ERR_TIMEOUT;
        }
        op.reset(start(context));
        if (!op)
            return pa_context_errno(context);
    }
    // The operation holds its context, so a replaced context is never mistaken for this one.
    waitUntil([&] { return call.m_done || m_context.get() != context || m_state != State::ready; },
              deadline);
    Lock lock(*this);
    int status = call.m_status;
    if (!call.m_done) {
        pa_operation_cancel(op.get());
        bool lost = m_context.get() != context || m_state != State::ready;
        status = lost ? PA_ERR_CONNECTIONTERMINATED : PA_ERR_TIMEOUT;
        if (!lost)
            noteStall();
    }
    // Released here, while the lock is held.
    op.reset();
    return status;
}

void PulseConnection::setThreadDeadline(std::optional<Deadline> deadline) {
    t_deadline = deadline;
    t_ranOut = false;
}

bool PulseConnection::threadRanOut() {
    return t_ranOut;
}

void PulseConnection::noteStall() {
    Lock lock(*this);
    t_ranOut = true;
    if (m_stalled || !readyContext())
        return;
    m_stalled = true;
    // Any answer at all ends the stall; a server that was only stopped answers as soon as
    // it runs again.
    m_probe.reset(pa_context_get_server_info(m_context.get(), Callbacks::probeAnswered, this));
    if (!m_probe)
        m_stalled = false;
}

void PulseConnection::clearStall() {
    m_stalled = false;
    if (m_probe) {
        pa_operation_cancel(m_probe.get());
        m_probe.reset();
    }
}

bool PulseConnection::waitUntil(const std::function<bool()>& ready, Deadline deadline) {
    deadline = bounded(deadline);
    for (;;) {
        std::uint64_t seen;
        {
            std::lock_guard wait(m_waitMutex);
            seen = m_signals;
        }
        {
            Lock lock(*this);
            if (ready())
                return true;
            if (m_stalled) {
                t_ranOut = true;
                return false;
            }
        }
        std::unique_lock wait(m_waitMutex);
        if (!m_wake.wait_until(wait, deadline, [&] { return m_signals != seen; })) {
            wait.unlock();
            Lock lock(*this);
            if (ready())
                return true;
            t_ranOut = true;
            return false;
        }
    }
}

CoreAudioError::Kind PulseConnection::kindOf(int status) {
    using Kind = CoreAudioError::Kind;
    switch (status) {
    case PA_ERR_NOENTITY:
        return Kind::noDevice;
    case PA_ERR_TIMEOUT:
        return Kind::timedOut;
    case PA_ERR_CONNECTIONREFUSED:
    case PA_ERR_CONNECTIONTERMINATED:
    case PA_ERR_INVALIDSERVER:
        return Kind::unavailable;
    default:
        return Kind::failed;
    }
}

CoreAudioError PulseConnection::audioError(std::string what, int status) {
    return CoreAudioError{std::move(what), status, kindOf(status), pa_strerror(status)};
}

void PulseConnection::signal() {
    {
        std::lock_guard wait(m_waitMutex);
        ++m_signals;
    }
    m_wake.notify_all();
}

} // namespace talverin
