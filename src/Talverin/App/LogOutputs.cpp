#include "Talverin/App/LogOutputs.h"

#include "Runtime/StandardError.h"

namespace talverin {

LogOutputs::LogOutputs(std::filesystem::path folder) : m_file(std::move(folder)) {}

void LogOutputs::write(const std::string& line, WallTime at) {
    std::shared_ptr<LogJournal> journal;
    bool open = false;
    {
        std::lock_guard lock(m_mutex);
        open = m_open;
        if (open)
            journal = m_journal;
        else if (m_kept.size() < maxKeptLines)
            m_kept.push_back(Kept{at, line});
        else
            ++m_notKept;
    }
    // Written outside the lock: the open handed every kept line on while holding it, so a line
    // that finds the log open follows them all.
    if (open)
        deliver(journal, line, at);
    else
        StandardError::write(line + "\n");
}

void LogOutputs::setJournal(std::shared_ptr<LogJournal> journal) {
    std::lock_guard lock(m_mutex);
    m_journal = std::move(journal);
}

void LogOutputs::open() {
    std::lock_guard lock(m_mutex);
    if (m_open)
        return;
    m_open = true;
    for (const Kept& kept : m_kept)
        deliver(m_journal, kept.line, kept.at);
    if (m_notKept > 0 && !m_kept.empty()) {
        const std::string line = "Log: " + std::to_string(m_notKept) +
                                 " lines before the log opened are only on standard error";
        deliver(m_journal, line, m_kept.back().at);
    }
    m_kept.clear();
    m_kept.shrink_to_fit();
    m_notKept = 0;
}

void LogOutputs::flush() {
    m_file.flush();
}

void LogOutputs::deliver(const std::shared_ptr<LogJournal>& journal, const std::string& line,
                         WallTime at) {
    if (journal)
        journal->write(line);
    m_file.write(line, at);
}

} // namespace talverin
