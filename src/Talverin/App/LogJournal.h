#pragma once

#include <string>

namespace talverin {

// The system's journal, which keeps the log's lines beside those of every other program, so
// that they survive a log folder the user removes and show in the usual journal tools.
class LogJournal {
public:
    virtual ~LogJournal() = default;
    // Any thread, possibly several at once. A line that cannot be delivered (no journal running,
    // a full socket) is dropped: the log never waits for the journal or reports its failures.
    virtual void write(const std::string& line) = 0;
};

// No journal runs (a session without systemd, the test run): lines go only to the log file.
class LogJournalNull final : public LogJournal {
public:
    explicit LogJournalNull(std::string reason) : m_reason(std::move(reason)) {}
    const std::string& reason() const { return m_reason; }
    void write(const std::string&) override {}

private:
    std::string m_reason;
};

} // namespace talverin
