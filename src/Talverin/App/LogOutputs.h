#pragma once

#include "Runtime/EventLoop.h"
#include "Talverin/App/LogFile.h"
#include "Talverin/App/LogJournal.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace talverin {

// Where the lines of the application's log go outside the standard-error mode: the journal and
// the log file. Before the launch opens the log, a line goes to standard error and is kept: the
// file may not be touched yet (a second instance must not rotate the log of the one that runs),
// but the lines of the first moments of a launch (a settings file set aside, a backend that
// could not start) matter most. Opening writes the kept lines first, in order and stamped with
// the time they were logged; every later line goes straight to the journal and the file.
class LogOutputs {
public:
    explicit LogOutputs(std::filesystem::path folder);

    // Lines kept before the open beyond this many are counted, not kept: a launch that never
    // opens its log must not grow without end.
    static constexpr std::size_t maxKeptLines = 1000;

    // Any thread. One line that the core log has already made one line.
    void write(const std::string& line, WallTime at);
    // Any thread. Where lines go from now on besides the file; none at first.
    void setJournal(std::shared_ptr<LogJournal> journal);
    // Any thread; the calls after the first change nothing.
    void open();
    // Any thread but the file's own. Returns once the lines written before are in the file.
    void flush();

private:
    struct Kept {
        WallTime at;
        std::string line;
    };

    void deliver(const std::shared_ptr<LogJournal>& journal, const std::string& line, WallTime at);

    std::mutex m_mutex;
    bool m_open = false;
    std::vector<Kept> m_kept;
    std::size_t m_notKept = 0;
    std::shared_ptr<LogJournal> m_journal;
    LogFile m_file;
};

} // namespace talverin
