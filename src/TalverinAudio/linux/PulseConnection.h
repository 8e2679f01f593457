#pragma once

#include "TalverinAudio/CA.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

struct pa_context;
struct pa_operation;
struct pa_stream;
struct pa_threaded_mainloop;

namespace talverin {

// Owners of libpulse objects, released with the mainloop lock held. An operation's owner only
// drops our reference (cancel first where its callback must not run); a stream's owner
// detaches our callbacks, disconnects it and drops it; a context's owner does the same for
// the context. The mainloop's owner frees it, and must come last: its thread is stopped
// before, and every object above has been released.
struct PulseOperationRelease {
    void operator()(pa_operation* operation) const;
};
struct PulseStreamRelease {
    void operator()(pa_stream* stream) const;
};
struct PulseContextRelease {
    void operator()(pa_context* context) const;
};
struct PulseMainloopRelease {
    void operator()(pa_threaded_mainloop* mainloop) const;
};
using PulseOperation = std::unique_ptr<pa_operation, PulseOperationRelease>;
using PulseStream = std::unique_ptr<pa_stream, PulseStreamRelease>;
using PulseContext = std::unique_ptr<pa_context, PulseContextRelease>;
using PulseMainloop = std::unique_ptr<pa_threaded_mainloop, PulseMainloopRelease>;

// The process's one connection to the sound server (PulseAudio, or PipeWire's server for the
// same protocol), on libpulse's threaded mainloop. The microphone, the device list, the output
// ducker and the sounds share it. When the server goes away the connection tries again every
// few seconds, and says so to its observers when it is back.
//
// Threads: the mainloop's thread runs every libpulse callback, with the mainloop lock held.
// Callbacks only copy and post; they never wait for a queue of ours. Other threads take the
// lock (Lock) to touch libpulse objects, and wait for answers without holding it, each wait
// bounded (perform, waitUntil).
class PulseConnection {
public:
    // The longest any caller waits for one answer of the server.
    static constexpr double waitLimit = 2.0;
    // How long after losing the server the next connection attempt starts.
    static constexpr double retryInterval = 2.0;

    // What observers are told, on the mainloop's thread with the lock held.
    struct Event {
        enum class Kind {
            sourceAdded,
            sourceRemoved,
            sourceChanged, // any change of a source, its volume and suspension included
            defaultSourceChanged,
            connected, // ready for requests, for the first time or again
            disconnected,
        };
        Kind kind;
        std::uint32_t index = 0; // the source's index, for the source events
    };
    using Observer = std::function<void(const Event&)>;
    using ObserverID = std::uint64_t;

    // Holds the mainloop lock while it lives. Recursive: the lock may already be held, as it
    // is inside every callback.
    class Lock {
    public:
        explicit Lock(const PulseConnection& connection);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* m_mainloop;
    };

    // One answer that a waiting thread expects from an operation's callback.
    class Call {
    public:
        explicit Call(PulseConnection& connection) : m_connection(connection) {}
        // From the operation's callback: the answer is complete, with 0 or an error code.
        void finish(int status = 0);
        // For the callback of a list or info query: finishes the call at the end of the list
        // (with 0) or on an error (with the context's error code) and answers true; otherwise
        // `info` is one entry to read.
        bool finishesAt(pa_context* context, int eol, const void* info);
        bool isDone() const { return m_done; }
        int status() const { return m_status; }
        PulseConnection& connection() { return m_connection; }

    private:
        friend class PulseConnection;
        PulseConnection& m_connection;
        bool m_done = false; // under the mainloop lock
        int m_status = 0;
    };

    // The process's connection, made and started on first use.
    static std::shared_ptr<PulseConnection> shared();

    PulseConnection();
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // Any thread. Observers are called on the mainloop's thread and must only copy and post.
    ObserverID addObserver(Observer observer);
    // Any thread but the mainloop's. No call of the observer starts after it returns.
    void removeObserver(ObserverID id);

    // What the connection knows of the server now, without asking it.
    struct ServerStatus {
        bool ready = false; // connected and ready for requests
        int error = 0; // while not ready: the libpulse error code that ended the last attempt, or 0
        bool unanswered = false; // ready, but the server did not answer a request in time
    };
    // Any thread; takes the lock for a moment and never waits for the server.
    ServerStatus status() const;

    // With the lock held: the context while it is ready for requests, else null.
    pa_context* readyContext() const;
    // With the lock held: the latest error of the connection, a libpulse error code.
    int lastError() const;

    // Any thread but the mainloop's, without the lock. Waits until the connection is ready,
    // at most until the deadline; answers whether it is. A connection that is down answers
    // false at once; one that is being made is waited for.
    using Deadline = std::chrono::steady_clock::time_point;
    bool waitReady(Deadline deadline);
    static Deadline deadlineIn(double seconds);

    // Any thread but the mainloop's, without the lock. Issues one operation with `start`,
    // under the lock and on the ready context, then waits until its callback finishes `call`,
    // the context stops being ready, or `limit` seconds pass. Answers 0 or a libpulse error
    // code (PA_ERR_TIMEOUT when the server did not answer in time). Afterwards no callback of
    // the operation runs, so `call` and what it points to may go.
    int perform(Call& call, const std::function<pa_operation*(pa_context*)>& start,
                double limit = waitLimit);

    // Any thread but the mainloop's, without the lock. Re-checks `ready` under the lock every
    // time the mainloop signals, until it answers true or the deadline passes; answers the
    // last check. While the server is stalled it only checks once.
    bool waitUntil(const std::function<bool()>& ready, Deadline deadline);

    // The calling thread's own bound: every wait it makes ends by `deadline` at the latest
    // (none: each wait's own limit). Setting it forgets whether a wait ran out.
    static void setThreadDeadline(std::optional<Deadline> deadline);
    // Whether a wait of the calling thread ran out, or was skipped for a stalled server, since
    // its deadline was last set.
    static bool threadRanOut();

    // Any thread. The server did not answer in time: until it answers a probe, every wait
    // fails at once instead of waiting again, so that a stopped server costs one wait, not
    // one per call.
    void noteStall();
    // The mainloop's thread (or with the lock held): wakes the waiting threads.
    void signal();

    pa_threaded_mainloop* mainloop() const { return m_mainloop.get(); }

    // What kind of failure a libpulse error code is.
    static CoreAudioError::Kind kindOf(int status);
    // A failed call named `what` with a libpulse error code, in the server's own words.
    static CoreAudioError audioError(std::string what, int status);

private:
    enum class State { connecting, ready, down };

    // The libpulse callbacks, which call the members below with the lock held.
    struct Callbacks;
    friend struct Callbacks;

    void connect();
    void scheduleRetry();
    void retry();
    void onState(pa_context* context);
    void onDefaultSource(const char* name, bool announce);
    void notify(const Event& event);
    // With the lock held: forgets a stall and its probe (the context changed or answered).
    void clearStall();

    // Declared first, so that it is freed after everything that lives on it.
    PulseMainloop m_mainloop;
    // Under the mainloop lock.
    PulseContext m_context;
    State m_state = State::down;
    int m_error = 0;
    void* m_retry = nullptr; // the pending retry's pa_time_event
    std::string m_defaultSource;
    std::map<ObserverID, Observer> m_observers;
    ObserverID m_nextObserver = 1;
    bool m_stalled = false;
    PulseOperation m_probe; // asks the stalled server for any answer

    // Wakes the threads that wait for an answer. Taken by the mainloop's thread only for the
    // moment of a signal, never while anyone waits on it for long.
    std::mutex m_waitMutex;
    std::condition_variable m_wake;
    std::uint64_t m_signals = 0;
};

} // namespace talverin
