// Feeds arbitrary bytes to every reader of the dictate function's answers: the answer of a
// successful request, the stage summary and the error code. None may crash, and what they
// give back must keep their promises: a code is a short lower-case word, a result's text is
// what the body said, a stage line has its fixed shape.
#include "TalverinCloud/DictateClient.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using talverin::DictateClient;
    const DictateClient::Bytes body(data, data + size);

    const auto answer = DictateClient::answer(body);
    if (const auto* error = std::get_if<talverin::DictateError>(&answer)) {
        using Kind = talverin::DictateError::Kind;
        if (error->kind() != Kind::editFailed &&
            !(error->kind() == Kind::server && error->status() == 200))
            std::abort();
    } else {
        const auto& result = std::get<talverin::DictateResult>(answer);
        if (result.ms <= -1'000'000'000 || result.ms >= 1'000'000'000)
            std::abort();
    }

    for (int status : {200, 504, 400}) {
        const auto line = DictateClient::stageDiagnostics(body, status);
        if (line &&
            (status == 400 || !std::string_view(*line).starts_with("dictate stages: Whisper ")))
            std::abort();
    }

    if (const auto code = DictateClient::errorCode(body)) {
        if (code->empty() || code->size() > 40)
            std::abort();
        for (char c : *code)
            if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-'))
                std::abort();
    }
    for (int status : {400, 401, 413, 422, 429, 500})
        (void)DictateClient::failure(status, body);
    return 0;
}
