#include "fakes/CallLog.h"

#include "Runtime/MainQueue.h"

#include <algorithm>

namespace talverin::test {

void CallLog::record(std::string name, std::string args) {
    double now = Clock::uptime();
    std::lock_guard lock(m_mutex);
    m_calls.push_back({std::move(name), std::move(args), now});
}

std::vector<FakeCall> CallLog::calls() const {
    std::lock_guard lock(m_mutex);
    return m_calls;
}

std::vector<std::string> CallLog::names() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> names;
    for (const auto& call : m_calls)
        names.push_back(call.name);
    return names;
}

std::size_t CallLog::count(std::string_view name) const {
    std::lock_guard lock(m_mutex);
    return static_cast<std::size_t>(std::count_if(
        m_calls.begin(), m_calls.end(), [&](const FakeCall& call) { return call.name == name; }));
}

std::optional<FakeCall> CallLog::last(std::string_view name) const {
    std::lock_guard lock(m_mutex);
    for (auto it = m_calls.rbegin(); it != m_calls.rend(); ++it)
        if (it->name == name)
            return *it;
    return std::nullopt;
}

std::vector<double> CallLog::times(std::string_view name) const {
    std::lock_guard lock(m_mutex);
    std::vector<double> times;
    for (const auto& call : m_calls)
        if (call.name == name)
            times.push_back(call.time);
    return times;
}

void CallLog::clear() {
    std::lock_guard lock(m_mutex);
    m_calls.clear();
}

} // namespace talverin::test
