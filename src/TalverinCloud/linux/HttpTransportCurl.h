#pragma once

#include "TalverinCloud/HttpTransport.h"

#include <memory>
#include <string>

namespace talverin {

// HTTP through libcurl: one multi handle on one network thread, so every request of the
// process shares one connection cache (the warm-up's connection carries the dictate request)
// and a cancelled transfer is dropped at once, its connection closed. The thread starts with
// the first request and ends with the transport; transfers still running then answer
// `cancelled`.
class HttpTransportCurl final : public HttpTransport {
public:
    // Every request carries `userAgent`.
    explicit HttpTransportCurl(std::string userAgent);
    ~HttpTransportCurl() override;
    HttpTransportCurl(const HttpTransportCurl&) = delete;
    HttpTransportCurl& operator=(const HttpTransportCurl&) = delete;

    Future<HttpReply> send(HttpRequest request, CancelSignal cancel) override;

    // libcurl's result codes as the backend client sees them: 5, 6, 7, 52, 55, 56 and 65 (a
    // body that went out on a connection that then died) are offline, 28 a timeout, 42
    // (aborted) cancelled, the rest "curl <code>".
    static NetFailure classify(int curlCode);

    struct Engine;

private:
    std::shared_ptr<Engine> m_engine;
};

} // namespace talverin
