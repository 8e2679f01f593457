#include "fakes/DictatingFake.h"

#include <gtest/gtest.h>

#include <string>

namespace talverin::test {

void DictatingFake::warmUp() {
    log.record("warmUp");
}

Future<DictateReply> DictatingFake::dictate(DictateRequest request) {
    log.record("dictate", std::string(toString(request.mode)));
    m_requests.push_back(std::move(request));
    if (auto answer = answers.take())
        return answer->future();
    if (!configured)
        return Future<DictateReply>::ready(DictateError::notConfigured());
    ADD_FAILURE() << "Dictating::dictate() was called with no answer scripted";
    return Future<DictateReply>::ready(DictateOtherError{"no answer scripted"});
}

} // namespace talverin::test
