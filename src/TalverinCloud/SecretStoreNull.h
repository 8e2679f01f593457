#pragma once

#include "TalverinCloud/SecretStore.h"

#include <string>

namespace talverin {

// The secret store when the desktop has no keyring: nothing is read or kept, and every call
// says so as `unavailable` with the reason. It logs nothing itself: the launch log names the
// missing keyring once, instead of a line at every renewal.
class SecretStoreNull final : public SecretStore {
public:
    explicit SecretStoreNull(std::string reason) : m_reason(std::move(reason)) {}

    const std::string& reason() const { return m_reason; }

    Read get(const std::string&) override { return fail(SecretStoreError::unavailable, m_reason); }
    Write set(const std::string&, const std::string&) override {
        return fail(SecretStoreError::unavailable, m_reason);
    }
    Write remove(const std::string&) override {
        return fail(SecretStoreError::unavailable, m_reason);
    }

private:
    std::string m_reason;
};

} // namespace talverin
