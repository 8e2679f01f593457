#pragma once

#include "TalverinCloud/HttpTransport.h"

#include <string>

namespace talverin {

// The transport when no HTTP library can be had: every request fails at once, as `other`
// with the text "unavailable (<reason>)", so the request path logs why and the dictation falls
// back as it does for any failed request.
class HttpTransportNull final : public HttpTransport {
public:
    explicit HttpTransportNull(std::string reason) : m_reason(std::move(reason)) {}

    // Why no real transport runs, for the launch log.
    const std::string& reason() const { return m_reason; }

    Future<HttpReply> send(HttpRequest, CancelSignal) override {
        return Future<HttpReply>::ready(
            NetFailure{NetKind::other, "unavailable (" + m_reason + ")", {}});
    }

private:
    std::string m_reason;
};

} // namespace talverin
