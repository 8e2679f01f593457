#pragma once

#include "TalverinCloud/SecretStore.h"

#include <string>

namespace talverin {

// Secrets in the desktop's Secret Service (gnome-keyring, KWallet) through libsecret: one
// item per account with the attributes "service" and "account", labelled "Talverin session",
// in the default collection. Each call runs on a main context of its own on the calling
// thread and gives up after `timeout` seconds, so a keyring that hangs (or waits for an
// unlock prompt nobody sees) costs a dictation at most that long.
class SecretStoreLibsecret final : public SecretStore {
public:
    static constexpr double defaultTimeout = 5;

    explicit SecretStoreLibsecret(std::string service, double timeout = defaultTimeout);

    // A locked item is `locked`, not `absent`, and is logged as a failed read.
    Read get(const std::string& account) override;
    Write set(const std::string& account, const std::string& secret) override;
    Write remove(const std::string& account) override;

    const std::string& service() const { return m_service; }

private:
    std::string m_service;
    double m_timeout;
};

} // namespace talverin
