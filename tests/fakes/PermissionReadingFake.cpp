#include "fakes/PermissionReadingFake.h"

#include <string>

namespace talverin::test {

Wire::PermissionState PermissionReadingFake::state(Wire::PermissionKind kind) {
    log.record("state", std::string(toString(kind)));
    return states[kind];
}

Future<Wire::PermissionState> PermissionReadingFake::request(Wire::PermissionKind kind) {
    log.record("request", std::string(toString(kind)));
    const Wire::PermissionState answer = requestAnswer.value_or(states[kind]);
    Promise<Wire::PermissionState> promise;
    if (holdRequests)
        m_held.emplace_back(promise, answer);
    else
        promise.resolve(answer);
    return promise.future();
}

void PermissionReadingFake::answerRequests() {
    auto held = std::move(m_held);
    m_held.clear();
    for (auto& [promise, answer] : held)
        promise.resolve(answer);
}

} // namespace talverin::test
