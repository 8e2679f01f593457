#include "TalverinCloud/DictationNetworkMetrics.h"

#include "Runtime/Milliseconds.h"

namespace talverin {

bool DictationNetworkMetrics::reports(std::string_view method, std::string_view path) {
    return method == "POST" && path == "/functions/v1/dictate";
}

std::string DictationNetworkMetrics::duration(std::optional<double> a, std::optional<double> b) {
    if (!a || !b || *b < *a)
        return "n/a";
    return std::to_string(wholeMs(*b - *a)) + " ms";
}

std::string DictationNetworkMetrics::line(int transaction, const HttpMetrics& metrics) {
    const bool known =
        metrics.protocol == "h3" || metrics.protocol == "h2" || metrics.protocol == "http/1.1";
    const std::string protocol = known ? metrics.protocol : "unknown";
    const std::string tcp = protocol == "h3"
                                ? "n/a"
                                : duration(metrics.connectStart, metrics.secureConnectionStart
                                                                     ? metrics.secureConnectionStart
                                                                     : metrics.connectEnd);
    return "dictate transport: transaction " + std::to_string(transaction) + ", protocol " +
           protocol + ", reused " + (metrics.reused ? "yes" : "no") + ", connect " +
           duration(metrics.connectStart, metrics.connectEnd) + ", TCP " + tcp + ", TLS " +
           duration(metrics.secureConnectionStart, metrics.secureConnectionEnd) + ", upload " +
           duration(metrics.requestStart, metrics.requestEnd) + ", wait for response " +
           duration(metrics.requestEnd, metrics.responseStart);
}

} // namespace talverin
