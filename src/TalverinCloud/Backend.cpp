#include "TalverinCloud/Backend.h"

#include "Runtime/Bundle.h"
#include "Runtime/MainQueue.h"
#include "Runtime/Unicode.h"
#include "TalverinCore/CoreLog.h"

namespace talverin {

double monotonicSeconds() {
    return Clock::continuous();
}

Backend::Backend(std::optional<std::string> url, std::optional<std::string> key,
                 std::shared_ptr<HttpTransport> transport, std::shared_ptr<SecretStore> secrets,
                 Consent consent, ClockFunction clock)
    : m_transport(std::move(transport)), m_secrets(std::move(secrets)), m_clock(std::move(clock)),
      m_consent(std::move(consent)), m_keychain(keychainService() + ".keychain") {
    std::string text = Unicode::trimWhitespaceAndNewlines(url.value_or(""));
    while (text.ends_with('/'))
        text.pop_back();
    auto parsed = BackendUrl::parse(text);
    if (parsed && (parsed->scheme == "https" || parsed->scheme == "http") &&
        !parsed->host.empty()) {
        // The bearer token and the user's words never travel in clear: plain http is for a
        // backend on this machine (a test server) only.
        if (parsed->scheme == "http" && !parsed->isLoopback()) {
            CoreLog::write("Cloud: backend: not configured: plain http to " + parsed->host +
                           " is refused; a backend off this machine needs https");
        } else {
            m_url = std::move(parsed);
            m_base = text;
        }
    }
    m_key = Unicode::trimWhitespaceAndNewlines(key.value_or(""));
    m_refreshAccount = refreshAccount(m_url);
}

Backend::~Backend() = default;

std::shared_ptr<Backend> Backend::fromBundle(const Bundle& bundle, Consent consent,
                                             std::shared_ptr<SecretStore> secrets,
                                             std::shared_ptr<HttpTransport> transport) {
    return std::make_shared<Backend>(bundle.string("TLSupabaseURL"), bundle.string("TLSupabaseKey"),
                                     std::move(transport), std::move(secrets), std::move(consent));
}

std::string Backend::keychainService() {
    return Bundle::main().identifier();
}

const std::string& Backend::version() {
    static const std::string value = [] {
        auto version = Bundle::main().shortVersion();
        return version && !version->empty() ? *version : std::string("dev");
    }();
    return value;
}

std::string Backend::clientInfo() {
    return "talverin-mac/" + version();
}

std::string Backend::userAgent() {
    return "Talverin-Mac/" + version();
}

std::string Backend::refreshAccount(const std::optional<BackendUrl>& url) {
    if (!url || url->scheme == "https" || url->host.empty())
        return "refreshToken";
    std::string account = "refreshToken@" + url->host;
    if (url->port)
        account += ":" + std::to_string(*url->port);
    return account;
}

bool Backend::consentGiven() const {
    Consent consent;
    {
        std::lock_guard lock(m_lock);
        consent = m_consent;
    }
    return consent && consent();
}

int Backend::renewals() const {
    std::lock_guard lock(m_lock);
    return m_renewals;
}

} // namespace talverin
