#pragma once

#include <optional>
#include <string>

namespace talverin {

// Where the refresh token of the anonymous account is kept across launches. Failures are
// logged by the store and otherwise ignored: a failed read answers nothing. The calls may
// block for seconds, so they never run on the main queue.
class SecretStore {
public:
    virtual ~SecretStore() = default;

    // Any thread but the main one. The secret of `account`, or nothing.
    virtual std::optional<std::string> get(const std::string& account) = 0;
    // Any thread but the main one. Stores or replaces the secret of `account`.
    virtual void set(const std::string& account, const std::string& secret) = 0;
    // Any thread but the main one. Removes the secret of `account`, if there is one.
    virtual void remove(const std::string& account) = 0;
};

} // namespace talverin
