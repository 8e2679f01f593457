#pragma once

#include "Runtime/Future.h"
#include "TalverinCloud/CancelSignal.h"
#include "TalverinCore/EnumTable.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace talverin {

// One HTTP request as the backend client builds it.
struct HttpRequest {
    std::string method = "GET";
    std::string url;
    // In the order they are sent.
    std::vector<std::pair<std::string, std::string>> headers;
    std::vector<std::uint8_t> body;
    // Seconds for the whole transfer.
    double timeout = 60;

    bool operator==(const HttpRequest&) const = default;
};

// How the one transaction of a transfer went on the wire. Times are seconds from the start
// of the transfer; an absent time was not measured (a reused connection has no connect).
struct HttpMetrics {
    // "h3", "h2", "http/1.1", or another text the log reports as unknown.
    std::string protocol;
    bool reused = false;
    std::optional<double> connectStart;
    std::optional<double> connectEnd;
    std::optional<double> secureConnectionStart;
    std::optional<double> secureConnectionEnd;
    std::optional<double> requestStart;
    std::optional<double> requestEnd;
    std::optional<double> responseStart;

    bool operator==(const HttpMetrics&) const = default;
};

struct HttpResponse {
    int status = 0;
    std::vector<std::uint8_t> body;
    // Absent when the transport measured nothing.
    std::optional<HttpMetrics> metrics;
};

// The classification of a transfer that produced no HTTP answer.
enum class NetKind {
    offline,   // no route, host not found, connection refused or lost
    timeout,   // the transfer's own timeout ran out
    cancelled, // the caller cancelled it
    other,     // anything else; the failure's text says what
};

template <> struct EnumTable<NetKind> {
    static constexpr auto entries = std::to_array<EnumEntry<NetKind>>({
        {NetKind::offline, "offline"},
        {NetKind::timeout, "timeout"},
        {NetKind::cancelled, "cancelled"},
        {NetKind::other, "other"},
    });
};

struct NetFailure {
    NetKind kind = NetKind::other;
    // For `other`: what failed, such as "curl 35".
    std::string text;
    std::optional<HttpMetrics> metrics;

    // The failure in a log line: the kind's word, or the text of `other`.
    std::string word() const { return kind == NetKind::other ? text : std::string(toString(kind)); }
};

using HttpReply = std::variant<HttpResponse, NetFailure>;

// Sends HTTP requests. One transport is shared by every request of the process, so that a
// connection opened by the warm-up carries the dictate request.
class HttpTransport {
public:
    virtual ~HttpTransport() = default;

    // Any thread. Starts the transfer; the reply resolves exactly once, from any thread. When
    // `cancel` is raised the transfer is dropped at once (its connection closed) and the reply
    // is a `cancelled` failure, unless the answer was already complete.
    virtual Future<HttpReply> send(HttpRequest request, CancelSignal cancel) = 0;
};

} // namespace talverin
