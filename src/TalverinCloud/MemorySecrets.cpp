#include "TalverinCloud/MemorySecrets.h"

namespace talverin {

std::optional<std::string> MemorySecrets::get(const std::string& account) {
    std::lock_guard lock(m_lock);
    const auto found = m_values.find(account);
    if (found == m_values.end())
        return std::nullopt;
    return found->second;
}

void MemorySecrets::set(const std::string& account, const std::string& secret) {
    std::lock_guard lock(m_lock);
    m_values[account] = secret;
}

void MemorySecrets::remove(const std::string& account) {
    std::lock_guard lock(m_lock);
    m_values.erase(account);
}

} // namespace talverin
