#pragma once

#include "Runtime/MainQueue.h"
#include "TalverinCloud/HttpTransport.h"

#include <nlohmann/json.hpp>

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace talverin::test {

// One answer of the fake backend: an HTTP status and body, or a transport failure, after a
// delay on the virtual clock (the backend's latency unless given; negative: never).
struct FakeAnswer {
    int status = 200;
    std::string body;
    std::optional<NetKind> failure;
    std::optional<double> delay;

    static FakeAnswer http(int status, std::string body = {}) {
        return {status, std::move(body), std::nullopt, std::nullopt};
    }
    static FakeAnswer fail(NetKind kind) { return {0, {}, kind, std::nullopt}; }
    // Never answers, unless cancelled.
    static FakeAnswer never() { return {0, {}, std::nullopt, -1.0}; }
    FakeAnswer after(double seconds) const {
        FakeAnswer copy = *this;
        copy.delay = seconds;
        return copy;
    }
};

struct SentRequest {
    HttpRequest request;
    double at = 0; // uptime when it was sent
    std::shared_ptr<bool> cancelled = std::make_shared<bool>(false);

    std::optional<std::string> header(const std::string& name) const {
        for (const auto& [key, value] : request.headers)
            if (key == name)
                return value;
        return std::nullopt;
    }
    nlohmann::json json() const {
        return nlohmann::json::parse(request.body.begin(), request.body.end(), nullptr, false);
    }
};

// The hosted backend, played in memory. Sign-up hands out "access-N" and "refresh-N";
// a refresh rotates a known refresh token and refuses others with 400; the health ping and
// the dictate function answer 200. Scripted answers (per "METHOD /path", query left out) take
// precedence, in order. Answers arrive `latency` seconds after the request.
class HttpTransportFake final : public HttpTransport {
public:
    double latency = 0.012;
    double expiresIn = 3600;
    std::string dictateAnswer = R"({"text":"hello","raw":"hello","ms":640,"lang":"en"})";

    Future<HttpReply> send(HttpRequest request, CancelSignal cancel) override {
        Promise<HttpReply> promise;
        SentRequest sent{request, Clock::uptime()};
        const std::string key = keyOf(request);
        m_sent.push_back(sent);
        FakeAnswer answer = next(key, request);
        auto cancelled = sent.cancelled;
        cancel.onCancel([promise, cancelled] {
            if (promise.resolve(NetFailure{NetKind::cancelled, {}, {}}))
                *cancelled = true;
        });
        const double delay = answer.delay.value_or(latency);
        if (delay < 0)
            return promise.future();
        MainQueue::after(delay, [promise, answer] {
            if (answer.failure)
                promise.resolve(NetFailure{
                    *answer.failure, *answer.failure == NetKind::other ? "curl 35" : "", {}});
            else
                promise.resolve(
                    HttpResponse{answer.status, {answer.body.begin(), answer.body.end()}, {}});
        });
        return promise.future();
    }

    void script(const std::string& key, FakeAnswer answer) {
        m_scripts[key].push_back(std::move(answer));
    }
    // Makes `token` a refresh token the fake accepts.
    void knowRefreshToken(const std::string& token) { m_refresh.insert(token); }

    const std::vector<SentRequest>& sent() const { return m_sent; }
    std::vector<SentRequest> sent(const std::string& key) const {
        std::vector<SentRequest> found;
        for (const auto& s : m_sent)
            if (keyOf(s.request) == key)
                found.push_back(s);
        return found;
    }
    int count(const std::string& key) const { return static_cast<int>(sent(key).size()); }

    // "METHOD /path": the URL's path without its query.
    static std::string keyOf(const HttpRequest& request) {
        const std::string_view url = request.url;
        const auto scheme = url.find("://");
        if (scheme == std::string_view::npos)
            return request.method + " ?";
        const auto start = url.find('/', scheme + 3);
        if (start == std::string_view::npos)
            return request.method + " ";
        return request.method + " " +
               std::string(url.substr(start, url.find_first_of("?#", start) - start));
    }

private:
    FakeAnswer next(const std::string& key, const HttpRequest& request) {
        auto& queue = m_scripts[key];
        if (!queue.empty()) {
            FakeAnswer answer = queue.front();
            queue.pop_front();
            return answer;
        }
        if (key == "POST /auth/v1/signup")
            return FakeAnswer::http(200, session());
        if (key == "POST /auth/v1/token") {
            const auto body =
                nlohmann::json::parse(request.body.begin(), request.body.end(), nullptr, false);
            const auto token = body.is_object() && body.contains("refresh_token")
                                   ? body["refresh_token"].get<std::string>()
                                   : std::string();
            if (!m_refresh.erase(token))
                return FakeAnswer::http(400, R"({"code":"refresh_token_not_found"})");
            return FakeAnswer::http(200, session());
        }
        if (key == "GET /auth/v1/health")
            return FakeAnswer::http(200, "{}");
        if (key == "POST /functions/v1/dictate")
            return FakeAnswer::http(200, dictateAnswer);
        return FakeAnswer::http(404, "{}");
    }

    std::string session() {
        ++m_serial;
        const std::string refresh = "refresh-" + std::to_string(m_serial);
        m_refresh.insert(refresh);
        nlohmann::json json = {{"access_token", "access-" + std::to_string(m_serial)},
                               {"refresh_token", refresh},
                               {"expires_in", expiresIn}};
        return json.dump();
    }

    std::map<std::string, std::deque<FakeAnswer>> m_scripts;
    std::vector<SentRequest> m_sent;
    std::set<std::string> m_refresh;
    int m_serial = 0;
};

} // namespace talverin::test
