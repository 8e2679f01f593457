#pragma once

// Fakes of the cloud module's seams for tests on the virtual world: an HTTP transport that
// plays the hosted backend with scripted answers, a secret store that counts its calls, a
// path monitor driven by the test, and a captured core log.

#include "Runtime/MainQueue.h"
#include "TalverinCloud/Backend.h"
#include "TalverinCloud/BackendUrl.h"
#include "TalverinCloud/HttpTransport.h"
#include "TalverinCloud/MemorySecrets.h"
#include "TalverinCloud/PathMonitor.h"
#include "TalverinCore/CoreLog.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace talverin::test {

inline std::vector<std::uint8_t> bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

inline std::string text(const std::vector<std::uint8_t>& data) {
    return {data.begin(), data.end()};
}

// Every core log line while it lives.
class CloudLog {
public:
    CloudLog() : m_previous(CoreLog::sink()) {
        CoreLog::setSink([this](const std::string& line) {
            std::lock_guard lock(m_lock);
            m_lines.push_back(line);
        });
    }
    ~CloudLog() { CoreLog::setSink(m_previous); }
    CloudLog(const CloudLog&) = delete;
    CloudLog& operator=(const CloudLog&) = delete;

    std::vector<std::string> lines() const {
        std::lock_guard lock(m_lock);
        return m_lines;
    }
    // The lines that begin with `prefix`.
    std::vector<std::string> starting(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const auto& line : lines())
            if (line.rfind(prefix, 0) == 0)
                found.push_back(line);
        return found;
    }
    void clear() {
        std::lock_guard lock(m_lock);
        m_lines.clear();
    }

private:
    CoreLog::Sink m_previous;
    mutable std::mutex m_lock;
    std::vector<std::string> m_lines;
};

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
class FakeBackend final : public HttpTransport {
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
                promise.resolve(HttpResponse{answer.status, bytes(answer.body), {}});
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

    static std::string keyOf(const HttpRequest& request) {
        auto url = BackendUrl::parse(request.url);
        return request.method + " " + (url ? url->path : "?");
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

// A read secret as a test compares it: the secret, or nothing when the store has none.
inline std::optional<std::string> shown(const SecretStore::Read& read) {
    if (!read && read.error() != SecretStoreError::absent)
        ADD_FAILURE() << "the secret store failed: " << toString(read.error()) << " "
                      << read.message();
    return read ? std::optional(*read) : std::nullopt;
}

// A memory store that counts its calls and notes any that ran on the main queue.
class CountingSecrets final : public SecretStore {
public:
    Read get(const std::string& account) override {
        note("get");
        return m_values.get(account);
    }
    Write set(const std::string& account, const std::string& secret) override {
        note("set");
        return m_values.set(account, secret);
    }
    Write remove(const std::string& account) override {
        note("remove");
        return m_values.remove(account);
    }

    int calls(const std::string& name) const {
        std::lock_guard lock(m_lock);
        return static_cast<int>(std::count(m_calls.begin(), m_calls.end(), name));
    }
    int callsOnMain() const {
        std::lock_guard lock(m_lock);
        return m_onMain;
    }
    std::optional<std::string> value(const std::string& account) {
        return shown(m_values.get(account));
    }
    void preset(const std::string& account, const std::string& secret) {
        (void)m_values.set(account, secret);
    }

private:
    void note(const char* name) {
        std::lock_guard lock(m_lock);
        m_calls.push_back(name);
        if (MainQueue::isCurrent())
            ++m_onMain;
    }

    MemorySecrets m_values;
    mutable std::mutex m_lock;
    std::vector<std::string> m_calls;
    int m_onMain = 0;
};

// A path monitor the test reports through.
class FakePathMonitor final : public PathMonitor {
public:
    struct Shared {
        bool started = false;
        bool cancelled = false;
        std::function<void(bool)> onUpdate;
    };

    explicit FakePathMonitor(std::shared_ptr<Shared> shared) : m_shared(std::move(shared)) {}
    void start(std::function<void(bool)> onUpdate) override {
        m_shared->started = true;
        m_shared->onUpdate = std::move(onUpdate);
    }
    void cancel() override {
        m_shared->cancelled = true;
        m_shared->onUpdate = nullptr;
    }

private:
    std::shared_ptr<Shared> m_shared;
};

} // namespace talverin::test
