#pragma once

#include "TalverinCloud/SecretStore.h"

#include <map>
#include <mutex>
#include <string>

namespace talverin {

// Secrets held in memory, for tests and for a process that must not touch the keyring.
class MemorySecrets final : public SecretStore {
public:
    Read get(const std::string& account) override;
    Write set(const std::string& account, const std::string& secret) override;
    Write remove(const std::string& account) override;

private:
    std::mutex m_lock;
    std::map<std::string, std::string> m_values;
};

} // namespace talverin
