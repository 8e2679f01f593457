#pragma once

#include "TalverinCloud/SecretStore.h"

#include <optional>
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

    // A locked item answers nothing, as a missing one does, but is logged as a failed read.
    std::optional<std::string> get(const std::string& account) override;
    void set(const std::string& account, const std::string& secret) override;
    void remove(const std::string& account) override;

    const std::string& service() const { return m_service; }

private:
    std::string m_service;
    double m_timeout;
};

} // namespace talverin
