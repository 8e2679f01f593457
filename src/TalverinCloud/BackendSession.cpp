// The anonymous account of Backend: token renewal, the authentication calls, the one request
// path and the warm-up.
#include "TalverinCloud/Backend.h"

#include "Runtime/Milliseconds.h"
#include "TalverinCloud/DictationNetworkMetrics.h"
#include "TalverinCore/CoreLog.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace talverin {
namespace {

std::string elapsedLine(const char* format, double seconds) {
    char text[96];
    std::snprintf(text, sizeof text, format, seconds * 1000.0);
    return text;
}

// The path of a request's URL for the log, without its query; "?" when there is no URL.
std::string logPath(const std::string& url) {
    const auto parsed = BackendUrl::parse(url);
    return parsed ? parsed->path : std::string("?");
}

std::vector<std::uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

// The access token travels as "authorization: Bearer <token>". Only visible ASCII can stand
// there: a line break would end the header (the transport refuses such a request, so a
// cached token like that would stop every dictation until the next renewal), and a space,
// a control character or a byte past ASCII is not part of a bearer token.
bool fitsInAHeader(const std::string& token) {
    return std::all_of(token.begin(), token.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte < 0x7f;
    });
}

} // namespace

template <typename F> auto Backend::onKeychain(F call) -> Future<decltype(call())> {
    Promise<decltype(call())> promise;
    m_keychain.async([promise, call = std::move(call)]() mutable { promise.resolve(call()); });
    return promise.future();
}

Future<Backend::TokenReply> Backend::token(std::optional<std::string> replacing) {
    if (!isConfigured())
        return Future<TokenReply>::ready(BackendError::notConfigured());
    // Consent is asked on every call, before a cached token is looked at.
    if (!consentGiven())
        return Future<TokenReply>::ready(BackendError::consentRequired());
    const double now = m_clock();
    Promise<TokenReply> promise;
    {
        std::lock_guard lock(m_lock);
        if (m_renewal)
            return *m_renewal;
        if (m_accessToken && (!replacing || *m_accessToken != *replacing) && now < m_renewAfter)
            return Future<TokenReply>::ready(*m_accessToken);
        m_renewal = promise.future();
        ++m_renewals;
    }
    // The renewal belongs to the backend, not to the asker, so an asker that gives up (its
    // dictation timed out) leaves it running for the others.
    m_tasks.spawn(runRenewal(promise));
    return promise.future();
}

Task<void> Backend::runRenewal(Promise<TokenReply> promise) {
    TokenReply reply = co_await renew();
    {
        std::lock_guard lock(m_lock);
        m_renewal.reset();
    }
    promise.resolve(std::move(reply));
}

Task<Backend::TokenReply> Backend::renew() {
    const double start = m_clock();
    const std::optional<std::string> refresh = co_await storedRefreshToken();
    if (refresh) {
        nlohmann::json body = {{"refresh_token", *refresh}};
        AuthOutcome outcome = co_await auth(std::string(refreshPath), body, AuthCall::refresh);
        if (auto* session = std::get_if<Session>(&outcome)) {
            CoreLog::write("Cloud: " + elapsedLine("auth: refreshed (%.0f ms)", m_clock() - start));
            co_return co_await keep(std::move(*session));
        }
        if (auto* error = std::get_if<BackendError>(&outcome))
            co_return *error;
        CoreLog::write("Cloud: auth: the refresh token was refused; a new anonymous account");
        co_await onKeychain([secrets = m_secrets, account = m_refreshAccount] {
            (void)secrets->remove(account); // a failure is the store's to log
            return Done{};
        });
        std::lock_guard lock(m_lock);
        m_refreshToken.reset();
        m_refreshLoaded = true;
    }
    nlohmann::json body = {{"data", nlohmann::json::object()}};
    AuthOutcome outcome = co_await auth(std::string(signupPath), body, AuthCall::signup);
    if (auto* error = std::get_if<BackendError>(&outcome))
        co_return *error;
    CoreLog::write("Cloud: " +
                   elapsedLine("auth: a new anonymous account (%.0f ms)", m_clock() - start));
    co_return co_await keep(std::get<Session>(std::move(outcome)));
}

Task<std::optional<std::string>> Backend::storedRefreshToken() {
    {
        std::lock_guard lock(m_lock);
        if (m_refreshLoaded)
            co_return m_refreshToken;
    }
    // A keychain that could not be read has logged why; like an empty one, it leaves this run
    // without a refresh token, so a new anonymous account follows.
    std::optional<std::string> value =
        co_await onKeychain([secrets = m_secrets, account = m_refreshAccount] {
            auto stored = secrets->get(account);
            return stored ? std::optional(std::move(*stored)) : std::nullopt;
        });
    {
        std::lock_guard lock(m_lock);
        if (!m_refreshLoaded) {
            m_refreshLoaded = true;
            m_refreshToken = value;
        }
    }
    co_return value;
}

Task<std::string> Backend::keep(Session session) {
    co_await onKeychain(
        [secrets = m_secrets, account = m_refreshAccount, secret = session.refreshToken] {
            (void)secrets->set(account, secret); // a failure is the store's to log
            return Done{};
        });
    const double now = m_clock();
    std::lock_guard lock(m_lock);
    m_refreshToken = session.refreshToken;
    m_refreshLoaded = true;
    m_accessToken = session.accessToken;
    m_renewAfter = now + session.expiresIn - std::min(session.expiresIn * 0.5, expiryMargin);
    co_return session.accessToken;
}

Task<Backend::AuthOutcome> Backend::auth(std::string path, nlohmann::json body, AuthCall call) {
    const std::string address = m_base + path;
    if (!BackendUrl::parse(address))
        co_return BackendError::notConfigured();
    HttpRequest request;
    request.method = "POST";
    request.url = address;
    request.timeout = authTimeout;
    request.headers = {{"content-type", "application/json"},
                       {"accept", "application/json"},
                       {"apikey", m_key},
                       {"x-client-info", clientInfo()}};
    try {
        request.body = bytesOf(body.dump());
    } catch (const nlohmann::json::exception&) {
        // A token that is not valid UTF-8 cannot be written as JSON: the request goes out
        // without a body, and the service refuses it.
    }
    HttpReply reply = co_await perform(std::move(request), CancelSignal());
    if (auto* failure = std::get_if<NetFailure>(&reply))
        co_return authFailure(*failure);
    const auto& response = std::get<HttpResponse>(reply);
    const int status = response.status;
    const bool signup = call == AuthCall::signup;
    if (status == 200)
        co_return readSession(response.body);
    if (status == 429)
        co_return BackendError::busy();
    if (!signup && (status == 400 || status == 401 || status == 403))
        co_return Rejected{};
    if (signup && status == 422)
        co_return BackendError::signupDisabled();
    co_return BackendError::service("auth " + std::to_string(status));
}

Backend::AuthOutcome Backend::readSession(const std::vector<std::uint8_t>& body) {
    const auto json = nlohmann::json::parse(body.begin(), body.end(), nullptr, false);
    const auto nonEmptyString = [&](const char* key) -> std::optional<std::string> {
        const auto found = json.find(key);
        if (found == json.end() || !found->is_string() ||
            found->get_ref<const std::string&>().empty())
            return std::nullopt;
        return found->get<std::string>();
    };
    if (!json.is_object())
        return BackendError::service("auth: no session in the answer");
    auto access = nonEmptyString("access_token");
    auto refresh = nonEmptyString("refresh_token");
    if (!access || !refresh || !fitsInAHeader(*access))
        return BackendError::service("auth: no session in the answer");
    double expiresIn = 3600;
    const auto found = json.find("expires_in");
    if (found != json.end() && found->is_number()) {
        const double value = found->get<double>();
        if (std::isfinite(value) && value > 0)
            expiresIn = value;
    }
    return Session{std::move(*access), std::move(*refresh), expiresIn};
}

BackendError Backend::authFailure(const NetFailure& failure) {
    switch (failure.kind) {
    case NetKind::offline:
        return BackendError::offline();
    case NetKind::timeout:
        return BackendError::timeout();
    case NetKind::cancelled:
        return BackendError::cancelled();
    case NetKind::other:
        break;
    }
    return BackendError::service(failure.text);
}

Future<HttpReply> Backend::send(HttpRequest request, CancelSignal cancel) {
    Promise<HttpReply> promise;
    m_tasks.spawn(runSend(std::move(request), std::move(cancel), promise));
    return promise.future();
}

Task<void> Backend::runSend(HttpRequest request, CancelSignal cancel, Promise<HttpReply> promise) {
    HttpReply reply = co_await perform(std::move(request), std::move(cancel));
    promise.resolve(std::move(reply));
}

Task<HttpReply> Backend::perform(HttpRequest request, CancelSignal cancel) {
    const double start = m_clock();
    const std::string method = request.method.empty() ? "GET" : request.method;
    const std::string path = logPath(request.url);
    HttpReply reply = co_await m_transport->send(std::move(request), std::move(cancel));
    const std::int64_t ms = wholeMs(m_clock() - start);

    const auto* metrics = std::holds_alternative<HttpResponse>(reply)
                              ? &std::get<HttpResponse>(reply).metrics
                              : &std::get<NetFailure>(reply).metrics;
    if (*metrics && DictationNetworkMetrics::reports(method, path))
        CoreLog::write("Cloud: " + DictationNetworkMetrics::line(1, **metrics));

    if (auto* response = std::get_if<HttpResponse>(&reply)) {
        const double now = m_clock();
        {
            std::lock_guard lock(m_lock);
            m_lastAnswer = now;
        }
        CoreLog::write("Cloud: net: " + method + " " + path + " " +
                       std::to_string(response->status) + " (" + std::to_string(ms) + " ms)");
    } else {
        CoreLog::write("Cloud: net: " + method + " " + path + " " +
                       std::get<NetFailure>(reply).word() + " (" + std::to_string(ms) + " ms)");
    }
    co_return reply;
}

Future<Backend::WarmReply> Backend::warm() {
    Promise<WarmReply> promise;
    m_tasks.spawn(runWarm(promise));
    return promise.future();
}

Task<void> Backend::runWarm(Promise<WarmReply> promise) {
    const int before = renewals();
    TokenReply token = co_await this->token();
    if (auto* error = std::get_if<BackendError>(&token)) {
        promise.resolve(*error);
        co_return;
    }
    Warmth warmth;
    warmth.renewed = renewals() != before;
    const double now = m_clock();
    double lastAnswer;
    {
        std::lock_guard lock(m_lock);
        lastAnswer = m_lastAnswer;
    }
    const std::string address = m_base + std::string(healthPath);
    if (now - lastAnswer > warmPingAfter && BackendUrl::parse(address)) {
        HttpRequest ping;
        ping.method = "GET";
        ping.url = address;
        ping.timeout = healthTimeout;
        ping.headers = {{"apikey", m_key}, {"x-client-info", clientInfo()}};
        // Only that the connection is up matters; a failed ping has been logged by the
        // request path and is otherwise ignored.
        co_await perform(std::move(ping), CancelSignal());
        warmth.pinged = true;
    }
    promise.resolve(warmth);
}

} // namespace talverin
