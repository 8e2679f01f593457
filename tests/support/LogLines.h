#pragma once

#include "TalverinCore/CoreLog.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talverin::test {

// Collects the core log's lines, from any thread, while it lives.
class LogLines {
public:
    LogLines() {
        CoreLog::setSink([this](const std::string& line) {
            std::lock_guard lock(m_mutex);
            m_lines.push_back(line);
        });
    }
    ~LogLines() { CoreLog::setSink({}); }
    LogLines(const LogLines&) = delete;
    LogLines& operator=(const LogLines&) = delete;

    std::vector<std::string> lines() const {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    // The lines so far, which are then forgotten.
    std::vector<std::string> take() {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_lines, {});
    }
    // The lines that begin with `prefix`, in order.
    std::vector<std::string> starting(std::string_view prefix) const {
        std::vector<std::string> found;
        for (const auto& line : lines())
            if (line.starts_with(prefix))
                found.push_back(line);
        return found;
    }
    // The lines that hold `part` anywhere, in order.
    std::vector<std::string> containing(std::string_view part) const {
        std::vector<std::string> found;
        for (const auto& line : lines())
            if (line.find(part) != std::string::npos)
                found.push_back(line);
        return found;
    }
    int count(std::string_view line) const {
        auto all = lines();
        return static_cast<int>(std::count(all.begin(), all.end(), line));
    }
    bool contains(std::string_view line) const { return count(line) > 0; }
    void clear() {
        std::lock_guard lock(m_mutex);
        m_lines.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

} // namespace talverin::test
