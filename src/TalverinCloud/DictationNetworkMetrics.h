#pragma once

#include "TalverinCloud/HttpTransport.h"

#include <optional>
#include <string>
#include <string_view>

namespace talverin {

// The transport timings of dictate requests, for the log: where the time before the server's
// answer went (connecting, TLS, sending the clip, waiting).
class DictationNetworkMetrics {
public:
    DictationNetworkMetrics() = delete;

    // Only the dictate requests are reported.
    static bool reports(std::string_view method, std::string_view path);
    // "dictate transport: transaction 1, protocol h2, reused no, connect 48 ms, ..." without the
    // component prefix.
    static std::string line(int transaction, const HttpMetrics& metrics);
    // The whole milliseconds from a to b, or "n/a" when one is missing or b is earlier.
    static std::string duration(std::optional<double> a, std::optional<double> b);
};

} // namespace talverin
