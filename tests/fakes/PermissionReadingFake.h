#pragma once

#include "Runtime/Future.h"
#include "TalverinInput/PermissionReading.h"
#include "fakes/CallLog.h"

#include <optional>
#include <utility>
#include <vector>

namespace talverin::test {

// Permissions the test sets. A request answers `requestAnswer` when one is set, else the state
// at the time of the request; with `holdRequests` the answer waits until answerRequests().
class PermissionReadingFake final : public PermissionReading {
public:
    CallLog log;
    Wire::Permissions states;
    std::optional<Wire::PermissionState> requestAnswer;
    bool holdRequests = false;

    Wire::PermissionState state(Wire::PermissionKind kind) override;
    Future<Wire::PermissionState> request(Wire::PermissionKind kind) override;

    // Resolves every held request, as the system's answer arriving.
    void answerRequests();

private:
    std::vector<std::pair<Promise<Wire::PermissionState>, Wire::PermissionState>> m_held;
};

} // namespace talverin::test
