#pragma once

#include "Talverin/App/LogJournal.h"

#include <mutex>
#include <string>
#include <vector>

namespace talverin::test {

// Keeps every line it is given, from any thread.
class LogJournalFake final : public LogJournal {
public:
    void write(const std::string& line) override {
        std::lock_guard lock(m_mutex);
        m_lines.push_back(line);
    }
    std::vector<std::string> lines() const {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

} // namespace talverin::test
