// Feeds arbitrary bytes to the reader of the backend's sign-up and refresh answers. It may not
// crash, and what it answers must keep its promise: either a session whose tokens are
// non-empty, whose access token can stand in a header, and whose lifetime is a positive finite
// number of seconds, or the one error that says there was no session.
#include "TalverinCloud/Backend.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using talverin::Backend;
    const std::vector<std::uint8_t> body(data, data + size);

    const auto outcome = Backend::readSession(body);
    if (const auto* session = std::get_if<Backend::Session>(&outcome)) {
        if (session->accessToken.empty() || session->refreshToken.empty())
            std::abort();
        for (char c : session->accessToken)
            if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7f)
                std::abort();
        if (!std::isfinite(session->expiresIn) || session->expiresIn <= 0)
            std::abort();
    } else if (std::get<talverin::BackendError>(outcome) !=
               talverin::BackendError::service("auth: no session in the answer")) {
        std::abort();
    }
    return 0;
}
