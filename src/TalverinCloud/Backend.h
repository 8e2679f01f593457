#pragma once

#include "Runtime/Future.h"
#include "Runtime/SerialQueue.h"
#include "Runtime/Task.h"
#include "TalverinCloud/BackendError.h"
#include "TalverinCloud/BackendUrl.h"
#include "TalverinCloud/HttpTransport.h"
#include "TalverinCloud/OwnedTasks.h"
#include "TalverinCloud/SecretStore.h"

#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include <nlohmann/json.hpp>

namespace talverin {

class Bundle;

// The cloud module's clock: seconds that keep counting while the machine sleeps, so that a
// token's lifetime and the age of the last answer include the sleep.
double monotonicSeconds();

// The client of the hosted backend: its configuration, the anonymous account with its token
// renewal, the one request path every call goes through, and the warm-up ahead of a
// dictation. One instance per process. The asynchronous members run their flows on the main
// queue; the secret store is only ever called on a queue of its own.
class Backend {
public:
    using Consent = std::function<bool()>;
    using ClockFunction = std::function<double()>;

    // The outcome of a warm-up.
    struct Warmth {
        bool renewed = false; // this warm-up started a token renewal
        bool pinged = false;  // a health ping was sent
        bool operator==(const Warmth&) const = default;
    };

    using TokenReply = std::variant<std::string, BackendError>;
    using WarmReply = std::variant<Warmth, BackendError>;

    static constexpr double authTimeout = 10;
    static constexpr double warmPingAfter = 30;
    static constexpr double expiryMargin = 300;
    static constexpr double healthTimeout = 5;
    static constexpr std::string_view signupPath = "/auth/v1/signup";
    static constexpr std::string_view refreshPath = "/auth/v1/token?grant_type=refresh_token";
    static constexpr std::string_view healthPath = "/auth/v1/health";

    // Trims the address and the key; an address that does not parse, is not http or https,
    // has no host, or is plain http to a host other than this machine leaves the backend
    // not configured (the last with one log line), as does an empty key.
    Backend(std::optional<std::string> url, std::optional<std::string> key,
            std::shared_ptr<HttpTransport> transport, std::shared_ptr<SecretStore> secrets,
            Consent consent, ClockFunction clock = monotonicSeconds);
    ~Backend();
    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;

    // Configured from the bundle's "TLSupabaseURL" and "TLSupabaseKey"; the secret store and
    // the transport are the platform's (see CloudLinux.h).
    static std::shared_ptr<Backend> fromBundle(const Bundle& bundle, Consent consent,
                                               std::shared_ptr<SecretStore> secrets,
                                               std::shared_ptr<HttpTransport> transport);

    // The service name of the refresh token's secret: the application's identifier.
    static std::string keychainService();
    // The bundle's short version, or "dev"; worked out once.
    static const std::string& version();
    // "talverin-mac/" + version.
    static std::string clientInfo();
    // "Talverin-Mac/" + version.
    static std::string userAgent();
    // The secret's account name: "refreshToken", or for a plain-http backend
    // "refreshToken@host[:port]" so that a test backend never touches the real account.
    static std::string refreshAccount(const std::optional<BackendUrl>& url);

    // Any thread.
    bool isConfigured() const { return m_url.has_value() && !m_key.empty(); }
    const std::optional<BackendUrl>& url() const { return m_url; }
    const std::string& key() const { return m_key; }
    // The address without trailing "/", or empty.
    const std::string& base() const { return m_base; }
    const std::string& account() const { return m_refreshAccount; }
    // Any thread. The consent callback is copied under the lock and called outside it.
    bool consentGiven() const;

    // Main thread. An access token: the cached one while it is fresh and is not the rejected
    // one, otherwise the result of the one renewal in flight (started when there is none).
    // A caller that stops waiting never cancels a renewal others wait for.
    Future<TokenReply> token(std::optional<std::string> replacing = std::nullopt);
    // Main thread. Renews the token if needed and, when no answer came for 30 s, pings the
    // health endpoint so that the dictate request finds a warm connection.
    Future<WarmReply> warm();
    // Main thread. The one request path: sends, logs the outcome with its time, and notes the
    // time of every HTTP answer.
    Future<HttpReply> send(HttpRequest request, CancelSignal cancel = {});

    // Any thread. Renewals started in this run.
    int renewals() const;

    // The anonymous account's tokens from a sign-up or refresh answer.
    struct Session {
        std::string accessToken;
        std::string refreshToken;
        double expiresIn = 3600;
    };
    // The refresh token was refused: a new account follows.
    struct Rejected {};
    using AuthOutcome = std::variant<Session, Rejected, BackendError>;

    // Pure; any thread. The session in the body of a 200 answer to a sign-up or refresh: both
    // tokens non-empty, the access token one a header can carry; otherwise the service error
    // "auth: no session in the answer".
    static AuthOutcome readSession(const std::vector<std::uint8_t>& body);

private:
    enum class AuthCall { signup, refresh };

    Task<void> runRenewal(Promise<TokenReply> promise);
    Task<TokenReply> renew();
    Task<std::optional<std::string>> storedRefreshToken();
    Task<AuthOutcome> auth(std::string path, nlohmann::json body, AuthCall call);
    Task<std::string> keep(Session session);
    Task<HttpReply> perform(HttpRequest request, CancelSignal cancel);
    Task<void> runWarm(Promise<WarmReply> promise);
    Task<void> runSend(HttpRequest request, CancelSignal cancel, Promise<HttpReply> promise);

    static BackendError authFailure(const NetFailure& failure);

    // Runs a call of the secret store on its queue; the future resolves with its value.
    template <typename F> auto onKeychain(F call) -> Future<decltype(call())>;

    std::optional<BackendUrl> m_url;
    std::string m_key;
    std::string m_base;
    std::shared_ptr<HttpTransport> m_transport;
    std::string m_refreshAccount;
    std::shared_ptr<SecretStore> m_secrets;
    ClockFunction m_clock;

    mutable std::mutex m_lock;
    // Guarded by m_lock.
    Consent m_consent;
    std::optional<std::string> m_accessToken;
    double m_renewAfter = -std::numeric_limits<double>::infinity();
    std::optional<std::string> m_refreshToken;
    bool m_refreshLoaded = false;
    std::optional<Future<TokenReply>> m_renewal;
    int m_renewals = 0;
    double m_lastAnswer = -std::numeric_limits<double>::infinity();

    SerialQueue m_keychain;
    // Last: its flows use every member above, so they are destroyed first.
    OwnedTasks m_tasks;
};

} // namespace talverin
