#include "TalverinCore/CoreLog.h"

#include <cerrno>
#include <csignal>
#include <memory>
#include <mutex>
#include <utility>

#include <unistd.h>

namespace talverin {
namespace {

struct State {
    std::mutex lock;
    // Shared so that a writer copies the sink with one reference count, not a whole closure.
    std::shared_ptr<const CoreLog::Sink> sink;
};

// Never destroyed: other threads may still log while the process runs its exit handlers.
State& state() {
    static State* const instance = [] {
        // Once standard error is a pipe whose reader has gone, SIGPIPE would end the process
        // on the next line; a failed log line must never do that.
        std::signal(SIGPIPE, SIG_IGN);
        return new State;
    }();
    return *instance;
}

std::shared_ptr<const CoreLog::Sink> currentSink() {
    State& s = state();
    std::lock_guard guard(s.lock);
    return s.sink;
}

void writeToStandardError(const std::string& line) {
    std::string text;
    text.reserve(line.size() + 1);
    text.append(line).push_back('\n');
    // Logging must not disturb an errno that the caller is about to report.
    const int savedErrno = errno;
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, data, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            // There is nowhere left to report the failure, so the line is dropped.
            break;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    errno = savedErrno;
}

} // namespace

CoreLog::Sink CoreLog::sink() {
    auto current = currentSink();
    return current ? *current : Sink();
}

void CoreLog::setSink(Sink sink) {
    auto next = sink ? std::make_shared<const Sink>(std::move(sink)) : nullptr;
    State& s = state();
    {
        std::lock_guard guard(s.lock);
        s.sink.swap(next);
    }
    // The previous sink is released here, outside the lock, in case its closure logs on the way.
}

void CoreLog::write(const std::string& line) {
    if (auto current = currentSink())
        (*current)(line);
    else
        writeToStandardError(line);
}

} // namespace talverin
