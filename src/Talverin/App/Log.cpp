#include "Talverin/App/Log.h"

#include "Runtime/Paths.h"
#include "Runtime/StandardError.h"
#include "Talverin/App/LogOutputs.h"
#include "TalverinCore/CoreLog.h"

#include <chrono>
#include <mutex>
#include <utility>

// Any program that runs GoogleTest has this function; the application does not. The weak
// reference stays null when nothing defines it, so it tells a test program from the product
// without any setting of its own.
extern "C" void* talverinTestInstance() __asm__("_ZN7testing8UnitTest11GetInstanceEv")
    __attribute__((weak));

namespace talverin {

std::atomic<bool> tlLogToStderr{talverinTestInstance != nullptr};

namespace {

struct Process {
    std::mutex lock;
    std::shared_ptr<LogJournal> journal;
    LogOutputs* outputs = nullptr;
};

// Never destroyed: other threads may still log while the process runs its exit handlers.
Process& process() {
    static Process* const instance = new Process;
    return *instance;
}

// Made at the first line outside the standard-error mode, so that this mode never touches the
// log folder (and a test's folder is the one it names).
LogOutputs& outputs() {
    Process& p = process();
    std::lock_guard guard(p.lock);
    if (!p.outputs) {
        p.outputs = new LogOutputs(Paths::appStateDir());
        p.outputs->setJournal(p.journal);
    }
    return *p.outputs;
}

// A line that the core log has already made one line.
void writeLine(const std::string& line) {
    if (tlLogToStderr.load()) {
        StandardError::write(line + "\n");
        return;
    }
    outputs().write(line, std::chrono::system_clock::now());
}

// Depth of tlLog on this thread: a call made while one is already running is the core log
// handing a line back to its sink, which is this function.
thread_local int depth = 0;

} // namespace

void tlLog(const std::string& message) {
    if (depth > 0) {
        writeLine(message);
        return;
    }
    ++depth;
    // The core log escapes the message and hands it to its sink: this function (the line is
    // then written above), a test's collector, or standard error before the launch set one.
    try {
        CoreLog::write(message);
    } catch (...) {
        // A failing sink must not break the caller's flow; the line is lost.
    }
    --depth;
}

void tlLogSetJournal(std::shared_ptr<LogJournal> journal) {
    Process& p = process();
    std::lock_guard guard(p.lock);
    p.journal = journal;
    if (p.outputs)
        p.outputs->setJournal(std::move(journal));
}

void tlLogOpen() {
    if (!tlLogToStderr.load())
        outputs().open();
}

void tlLogFlush() {
    if (!tlLogToStderr.load())
        outputs().flush();
}

} // namespace talverin
