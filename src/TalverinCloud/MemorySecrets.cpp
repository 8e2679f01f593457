#include "TalverinCloud/MemorySecrets.h"

namespace talverin {

SecretStore::Read MemorySecrets::get(const std::string& account) {
    std::lock_guard lock(m_lock);
    const auto found = m_values.find(account);
    if (found == m_values.end())
        return fail(SecretStoreError::absent);
    return found->second;
}

SecretStore::Write MemorySecrets::set(const std::string& account, const std::string& secret) {
    std::lock_guard lock(m_lock);
    m_values[account] = secret;
    return {};
}

SecretStore::Write MemorySecrets::remove(const std::string& account) {
    std::lock_guard lock(m_lock);
    m_values.erase(account);
    return {};
}

} // namespace talverin
