#pragma once

#include "Runtime/MainQueue.h"
#include "TalverinCloud/SecretStore.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace talverin::test {

// Secrets held in memory by a store that counts its calls and notes any that ran on the main
// queue, where the keyring's blocking calls must never run.
class SecretStoreFake final : public SecretStore {
public:
    Read get(const std::string& account) override {
        std::lock_guard lock(m_lock);
        note("get");
        const auto found = m_values.find(account);
        if (found == m_values.end())
            return fail(SecretStoreError::absent);
        return found->second;
    }
    Write set(const std::string& account, const std::string& secret) override {
        std::lock_guard lock(m_lock);
        note("set");
        m_values[account] = secret;
        return {};
    }
    Write remove(const std::string& account) override {
        std::lock_guard lock(m_lock);
        note("remove");
        m_values.erase(account);
        return {};
    }

    int calls(const std::string& name) const {
        std::lock_guard lock(m_lock);
        return static_cast<int>(std::count(m_calls.begin(), m_calls.end(), name));
    }
    int callsOnMain() const {
        std::lock_guard lock(m_lock);
        return m_onMain;
    }
    // What is stored for the account, without counting a call.
    std::optional<std::string> value(const std::string& account) const {
        std::lock_guard lock(m_lock);
        const auto found = m_values.find(account);
        return found != m_values.end() ? std::optional(found->second) : std::nullopt;
    }
    void preset(const std::string& account, const std::string& secret) {
        std::lock_guard lock(m_lock);
        m_values[account] = secret;
    }

private:
    // Called with the lock held.
    void note(const char* name) {
        m_calls.push_back(name);
        if (MainQueue::isCurrent())
            ++m_onMain;
    }

    mutable std::mutex m_lock;
    std::map<std::string, std::string> m_values;
    std::vector<std::string> m_calls;
    int m_onMain = 0;
};

} // namespace talverin::test
