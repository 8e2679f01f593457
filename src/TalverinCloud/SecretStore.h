#pragma once

#include "Runtime/Result.h"
#include "TalverinCore/EnumTable.h"

#include <string>

namespace talverin {

// Why a secret store call did not give what was asked.
enum class SecretStoreError {
    absent,      // nothing is stored for the account
    locked,      // an item is there, but its collection is locked
    timedOut,    // the keyring did not answer in time
    failed,      // the keyring answered with an error; the message is its own text
    unavailable, // there is no keyring to ask; the message says why
};

template <> struct EnumTable<SecretStoreError> {
    static constexpr auto entries = std::to_array<EnumEntry<SecretStoreError>>({
        {SecretStoreError::absent, "absent"},
        {SecretStoreError::locked, "locked"},
        {SecretStoreError::timedOut, "timed out"},
        {SecretStoreError::failed, "failed"},
        {SecretStoreError::unavailable, "unavailable"},
    });
};

// Where the refresh token of the anonymous account is kept across launches. A store logs its
// own failures; its caller learns from the result whether nothing was stored or the store
// could not be read. The calls may block for seconds, so they never run on the main queue.
class SecretStore {
public:
    using Read = Result<std::string, SecretStoreError>;
    using Write = Result<void, SecretStoreError>;

    virtual ~SecretStore() = default;

    // Any thread but the main one. The secret of `account`; `absent` when none is stored.
    virtual Read get(const std::string& account) = 0;
    // Any thread but the main one. Stores or replaces the secret of `account`.
    virtual Write set(const std::string& account, const std::string& secret) = 0;
    // Any thread but the main one. Removes the secret of `account`; nothing to remove is no
    // failure.
    virtual Write remove(const std::string& account) = 0;
};

} // namespace talverin
