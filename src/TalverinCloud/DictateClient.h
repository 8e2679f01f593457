#pragma once

#include "Runtime/Future.h"
#include "Runtime/Task.h"
#include "Runtime/Uuid.h"
#include "TalverinCloud/Backend.h"
#include "TalverinCloud/Connectivity.h"
#include "TalverinCloud/Multipart.h"
#include "TalverinCloud/OwnedTasks.h"
#include "TalverinCore/Dictating.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

namespace talverin {

// Cloud dictation through the backend's dictate function: checks configuration, consent and
// reachability, races one request (tried again once after a 401) against a time budget that
// grows with the clip, turns every failure into a DictateError, and logs one line per request.
class DictateClient final : public Dictating {
public:
    using IsOnline = std::function<bool()>;
    using Bytes = std::vector<std::uint8_t>;

    static constexpr double defaultBudget = 7.5;
    static constexpr double editExtra = 3.6;
    // Seconds per 1,000,000 bytes of clip.
    static constexpr double perMegabyte = 2.0;
    // Characters (grapheme clusters) of context around the caret that the server gets.
    static constexpr std::size_t beforeCharacters = 1200;
    static constexpr std::size_t afterCharacters = 400;

    // The JSON meta part of a request.
    struct Meta {
        std::vector<std::string> languages;
        std::string mode;
        std::string appName;
        std::string before;
        std::string after;
        std::string selection;
        std::vector<std::string> words;
        std::string client;
        bool operator==(const Meta&) const = default;
    };

    using Answer = std::variant<DictateResult, DictateError>;

    // Reachability from a callback, callable from any thread (tests).
    DictateClient(std::shared_ptr<Backend> backend, double budget, IsOnline isOnline);
    // Reachability from the process's monitor, started here when the backend is configured.
    // A backend on this machine counts as reachable whatever the monitor says: a machine
    // without a default route reports no network, yet its loopback works.
    DictateClient(std::shared_ptr<Backend> backend, double budget,
                  std::shared_ptr<Connectivity> connectivity);
    // A dictation still in flight answers `timeout`, and its transfer is dropped.
    ~DictateClient() override;

    bool isConfigured() const override;
    void warmUp() override;
    Future<DictateReply> dictate(DictateRequest request) override;

    // The time budget of one request in seconds; the HTTP timeout is one second more.
    double budget(const DictateRequest& request) const;

    // The request body and the reading of answers. Pure; any thread.
    static Meta meta(const DictateRequest& request);
    // The meta part's bytes: sorted keys, slashes as they are; "{}" when it cannot be written.
    static Bytes metaJson(const Meta& meta);
    static Multipart form(const DictateRequest& request, Multipart::UuidSource uuids = newUuid);
    static Answer answer(const Bytes& body);
    static std::vector<std::string> flagNames(const nlohmann::json* value);
    static std::optional<std::int64_t> number(const nlohmann::json* value);
    static std::optional<std::string> stageDiagnostics(const Bytes& body, int status);
    static std::optional<std::string> errorCode(const Bytes& body);
    // The failure of a non-200, non-retried answer.
    static DictateError failure(int status, const Bytes& body);
    // The words of a failure in the log line.
    static std::string describe(const DictateError& error);
    // The first `count` or last `count` characters (grapheme clusters) of a text.
    static std::string prefixCharacters(const std::string& text, std::size_t count);
    static std::string suffixCharacters(const std::string& text, std::size_t count);

private:
    struct Sent {
        DictateResult result;
        int tries = 1;
    };
    // A cancelled operation has already become `timeout` here, as the race would make it.
    using SendOutcome = std::variant<Sent, DictateError>;

    struct Pending {
        Promise<DictateReply> reply;
        CancelSignal cancel;
    };

    Task<void> runDictate(DictateRequest request, std::uint64_t id);
    Task<void> runSend(std::shared_ptr<const Bytes> body, std::string boundary, double budget,
                       CancelSignal cancel, Promise<SendOutcome> promise);
    Task<SendOutcome> send(std::shared_ptr<const Bytes> body, std::string boundary, double budget,
                           CancelSignal cancel);
    Task<void> runWarmUp();

    static DictateError tokenFailure(const BackendError& error);
    static DictateError networkFailure(const NetFailure& failure);

    std::shared_ptr<Backend> m_backend;
    double m_budget;
    IsOnline m_isOnline;
    std::shared_ptr<Connectivity> m_connectivity;

    std::mutex m_lock;
    bool m_warming = false; // guarded by m_lock

    std::map<std::uint64_t, Pending> m_pending;
    std::uint64_t m_nextId = 1;
    // Last: its flows use every member above, so they are destroyed first.
    OwnedTasks m_tasks;
};

} // namespace talverin
