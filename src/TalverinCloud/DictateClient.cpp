#include "TalverinCloud/DictateClient.h"

#include "Runtime/Milliseconds.h"
#include "Runtime/Unicode.h"
#include "TalverinCloud/Deadline.h"
#include "TalverinCore/CoreLog.h"

#include <cmath>

namespace talverin {
namespace {

constexpr std::string_view dictatePath = "/functions/v1/dictate";

} // namespace

DictateClient::DictateClient(std::shared_ptr<Backend> backend, double budget, IsOnline isOnline)
    : m_backend(std::move(backend)), m_budget(budget), m_isOnline(std::move(isOnline)) {}

DictateClient::DictateClient(std::shared_ptr<Backend> backend, double budget,
                             std::shared_ptr<Connectivity> connectivity)
    : m_backend(std::move(backend)), m_budget(budget), m_connectivity(std::move(connectivity)) {
    const bool local = m_backend->url() && m_backend->url()->isLoopback();
    m_isOnline = [connectivity = m_connectivity, local] {
        return local || connectivity->isOnline();
    };
    if (m_backend->isConfigured())
        m_connectivity->start();
}

DictateClient::~DictateClient() {
    auto pending = std::move(m_pending);
    for (auto& [id, entry] : pending) {
        entry.cancel.cancel();
        entry.reply.resolve(DictateError::timeout());
    }
}

bool DictateClient::isConfigured() const {
    return m_backend->isConfigured();
}

double DictateClient::budget(const DictateRequest& request) const {
    return m_budget + (request.mode == DictationMode::edit ? editExtra : 0.0) +
           static_cast<double>(request.clip.size()) / 1'000'000.0 * perMegabyte;
}

Future<DictateReply> DictateClient::dictate(DictateRequest request) {
    if (!m_backend->isConfigured())
        return Future<DictateReply>::ready(DictateError::notConfigured());
    if (!m_backend->consentGiven()) {
        CoreLog::write("Cloud: dictate: not sent (no consent)");
        return Future<DictateReply>::ready(DictateError::notConfigured());
    }
    if (!m_isOnline()) {
        CoreLog::write("Cloud: dictate: not sent (no network path)");
        return Future<DictateReply>::ready(DictateError::offline());
    }
    const std::uint64_t id = m_nextId++;
    auto& pending = m_pending[id];
    auto reply = pending.reply.future();
    m_tasks.spawn(runDictate(std::move(request), id));
    return reply;
}

Task<void> DictateClient::runDictate(DictateRequest request, std::uint64_t id) {
    const double start = monotonicSeconds();
    const std::string mode(toString(request.mode));
    const std::size_t bytes = request.clip.size();
    const double seconds = budget(request);
    // Built once: a retry after a 401 sends the very same bytes, boundary included.
    const Multipart multipart = form(request);
    auto body = std::make_shared<const Bytes>(multipart.body());
    const std::string boundary = multipart.boundary();
    request.clip = {};

    const CancelSignal callerGone = m_pending[id].cancel;
    SendOutcome outcome = co_await Deadline::run<SendOutcome>(
        seconds, DictateError::timeout(),
        [this, body, boundary, seconds, callerGone](CancelSignal cancel) {
            // The client going away ends the race's transfer too.
            callerGone.onCancel([cancel] { cancel.cancel(); });
            Promise<SendOutcome> promise;
            m_tasks.spawn(runSend(body, boundary, seconds, cancel, promise));
            return promise.future();
        });

    const std::int64_t total = wholeMs(monotonicSeconds() - start);
    DictateReply reply;
    if (auto* sent = std::get_if<Sent>(&outcome)) {
        CoreLog::write("Cloud: dictate: " + mode + ", audio " + std::to_string(bytes) +
                       " bytes, 200, server " + std::to_string(sent->result.ms) + " ms, total " +
                       std::to_string(total) + " ms, tries " + std::to_string(sent->tries) +
                       ", text " + std::to_string(Unicode::graphemeCount(sent->result.text)) +
                       " chars");
        reply = sent->result;
    } else {
        const auto& error = std::get<DictateError>(outcome);
        CoreLog::write("Cloud: dictate: " + mode + ", audio " + std::to_string(bytes) +
                       " bytes, failed: " + describe(error) + " (" + std::to_string(total) +
                       " ms)");
        reply = error;
    }
    auto found = m_pending.find(id);
    if (found != m_pending.end()) {
        auto promise = found->second.reply;
        m_pending.erase(found);
        promise.resolve(std::move(reply));
    }
}

Task<void> DictateClient::runSend(std::shared_ptr<const Bytes> body, std::string boundary,
                                  double budget, CancelSignal cancel,
                                  Promise<SendOutcome> promise) {
    SendOutcome outcome = co_await send(std::move(body), std::move(boundary), budget, cancel);
    promise.resolve(std::move(outcome));
}

Task<DictateClient::SendOutcome> DictateClient::send(std::shared_ptr<const Bytes> body,
                                                     std::string boundary, double budget,
                                                     CancelSignal cancel) {
    int tries = 1;
    std::optional<std::string> rejected;
    bool retryAllowed = true;
    for (;;) {
        Backend::TokenReply token = co_await m_backend->token(rejected);
        // The race is over: the renewal goes on for others, this request stops here.
        if (cancel.isCancelled())
            co_return DictateError::timeout();
        if (auto* error = std::get_if<BackendError>(&token))
            co_return tokenFailure(*error);
        const std::string& accessToken = std::get<std::string>(token);
        const std::string address = m_backend->base() + std::string(dictatePath);
        if (!m_backend->isConfigured() || !BackendUrl::parse(address))
            co_return DictateError::notConfigured();

        HttpRequest request;
        request.method = "POST";
        request.url = address;
        request.timeout = budget + 1;
        request.headers = {{"apikey", m_backend->key()},
                           {"authorization", "Bearer " + accessToken},
                           {"x-client-info", Backend::clientInfo()},
                           {"content-type", "multipart/form-data; boundary=" + boundary},
                           {"accept", "application/json"}};
        request.body = *body;
        HttpReply reply = co_await m_backend->send(std::move(request), cancel);
        if (auto* failure = std::get_if<NetFailure>(&reply))
            co_return networkFailure(*failure);
        const auto& response = std::get<HttpResponse>(reply);
        if (auto line = stageDiagnostics(response.body, response.status))
            CoreLog::write("Cloud: " + *line);
        if (response.status == 200) {
            Answer answer = DictateClient::answer(response.body);
            if (auto* result = std::get_if<DictateResult>(&answer))
                co_return Sent{std::move(*result), tries};
            co_return std::get<DictateError>(answer);
        }
        if (response.status == 401 && retryAllowed) {
            // token(replacing:) renews only when the cached token is still the one refused.
            retryAllowed = false;
            rejected = accessToken;
            tries = 2;
            continue;
        }
        co_return failure(response.status, response.body);
    }
}

DictateError DictateClient::failure(int status, const Bytes& body) {
    const auto code = errorCode(body);
    if (code) {
        const std::string lower = Unicode::lower(*code);
        if (lower == "edit-failed" || lower == "editfailed" || lower == "edit_failed")
            return DictateError::editFailed();
    }
    if (status == 400 || status == 413 || status == 415 || status == 422)
        return DictateError::rejected(std::to_string(status) + (code ? " " + *code : ""));
    if (status == 402 || status == 429)
        return DictateError::limit();
    return DictateError::server(status);
}

DictateError DictateClient::tokenFailure(const BackendError& error) {
    switch (error.kind) {
    case BackendError::Kind::cancelled:
        return DictateError::timeout();
    case BackendError::Kind::notConfigured:
    case BackendError::Kind::consentRequired:
        return DictateError::notConfigured();
    case BackendError::Kind::offline:
        return DictateError::offline();
    case BackendError::Kind::timeout:
        return DictateError::timeout();
    case BackendError::Kind::busy:
        return DictateError::server(429);
    case BackendError::Kind::signupDisabled:
        return DictateError::server(422);
    case BackendError::Kind::service:
        break;
    }
    return DictateError::server(0);
}

DictateError DictateClient::networkFailure(const NetFailure& failure) {
    switch (failure.kind) {
    case NetKind::offline:
        return DictateError::offline();
    case NetKind::timeout:
    case NetKind::cancelled:
        return DictateError::timeout();
    case NetKind::other:
        break;
    }
    return DictateError::server(0);
}

std::string DictateClient::describe(const DictateError& error) {
    return dictateErrorText(error, NotConfiguredMeaning::notConfigured);
}

void DictateClient::warmUp() {
    if (!m_backend->isConfigured() || !m_backend->consentGiven() || !m_isOnline())
        return;
    {
        std::lock_guard lock(m_lock);
        if (m_warming)
            return;
        m_warming = true;
    }
    m_tasks.spawn(runWarmUp());
}

Task<void> DictateClient::runWarmUp() {
    const double start = monotonicSeconds();
    Backend::WarmReply reply = co_await m_backend->warm();
    const std::int64_t ms = wholeMs(monotonicSeconds() - start);
    std::string detail;
    if (auto* warmth = std::get_if<Backend::Warmth>(&reply)) {
        detail = std::string("token ") + (warmth->renewed ? "renewed" : "cached") +
                 ", connection " + (warmth->pinged ? "pinged" : "warm");
    } else {
        detail = "failed: " + std::get<BackendError>(reply).description();
    }
    CoreLog::write("Cloud: warm-up: " + detail + " (" + std::to_string(ms) + " ms)");
    std::lock_guard lock(m_lock);
    m_warming = false;
}

} // namespace talverin
