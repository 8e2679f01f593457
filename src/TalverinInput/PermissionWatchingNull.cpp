#include "TalverinInput/PermissionWatchingNull.h"

namespace talverin {

Wire::Permissions PermissionWatchingNull::restricted() {
    using Wire::PermissionState;
    return Wire::Permissions{PermissionState::restricted, PermissionState::restricted,
                             PermissionState::restricted};
}

Future<Wire::PermissionState> PermissionWatchingNull::request(Wire::PermissionKind kind) {
    Promise<Wire::PermissionState> answer;
    answer.resolve(restricted()[kind]);
    return answer.future();
}

} // namespace talverin
